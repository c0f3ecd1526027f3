// The real program killed by a fault signal leaves its crash pair.
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Whether the process has its own handler for the signal (SigCgt in /proc).
bool catches(qint64 pid, int signal)
{
    const QByteArray status = readAll(QStringLiteral("/proc/%1/status").arg(pid));
    const int at = status.indexOf("SigCgt:");
    if (at < 0)
        return false;
    const quint64 mask = status.mid(at + 7, status.indexOf('\n', at) - at - 7).trimmed().toULongLong(nullptr, 16);
    return mask & (quint64(1) << (signal - 1));
}

} // namespace

class TestCrashRestart : public QObject
{
    Q_OBJECT
private slots:
    void faultSignalLeavesCrashPair()
    {
        TestEnv env;
        QProcess zantry;
        zantry.setProcessEnvironment(env.clientEnvironment());
        zantry.start(TestEnv::zantryPath(), {});
        QVERIFY(zantry.waitForStarted());
        // SIGILL: sanitizers catch SIGSEGV themselves, but never SIGILL.
        QTRY_VERIFY_WITH_TIMEOUT(catches(zantry.processId(), SIGILL), 10000);
        ::kill(pid_t(zantry.processId()), SIGSEGV);
        QVERIFY(zantry.waitForFinished(10000));
        QCOMPARE(zantry.exitStatus(), QProcess::CrashExit);
        QCOMPARE(zantry.exitCode(), int(SIGSEGV));

        const QStringList dumps = QDir(QStringLiteral("Zantry")).entryList({QStringLiteral("*.dmp")});
        QCOMPARE(dumps.size(), 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^[0-9a-f]+-\\d{8}-\\d{6}-\\d+\\.dmp$")).match(dumps.first()).hasMatch(),
                 qPrintable(dumps.first()));
        const QByteArray record = readAll(QStringLiteral("Zantry/") + dumps.first());
        QVERIFY(record.contains("signal: 11 (SIGSEGV)"));
        const QByteArray logCopy = readAll(QStringLiteral("Zantry/") + dumps.first().chopped(4) + QStringLiteral(".log"));
        QVERIFY(logCopy.contains("Log file Initialized"));
    }
};

QTEST_GUILESS_MAIN(TestCrashRestart)
#include "tst_crashrestart.moc"
