// The real program killed by a fault signal leaves its crash pair; started
// again, it sends the pair to the log collector and archives it.
#include "sandbox.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
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
    void faultSignalLeavesCrashPairSentAtNextStart()
    {
        TestEnv env;
        Sandbox sandbox;
        QVERIFY2(sandbox.start(), qPrintable(sandbox.errorText()));
        env.setEndpoints(sandbox.endpoints());
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

        // The record's shape is the crash capture test's; here: the real
        // program leaves one, with its log, and sends both on the next start.
        const QStringList dumps = QDir(QStringLiteral("Zantry")).entryList({QStringLiteral("*.dmp")});
        QCOMPARE(dumps.size(), 1);
        const QByteArray record = readAll(QStringLiteral("Zantry/") + dumps.first());
        QVERIFY(record.contains("signal: 11 (SIGSEGV)"));
        QVERIFY(readAll(QStringLiteral("Zantry/") + dumps.first().chopped(4) + QStringLiteral(".log")).contains("Log file Initialized"));

        QProcess again;
        again.setProcessEnvironment(env.clientEnvironment());
        again.start(TestEnv::zantryPath(), {});
        QVERIFY(again.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!sandbox.inspect().value(QStringLiteral("crashReports")).toArray().isEmpty(), 15000);
        const QJsonArray reports = sandbox.inspect().value(QStringLiteral("crashReports")).toArray();
        QCOMPARE(reports.size(), 1);
        const QJsonObject report = reports.first().toObject();
        const QJsonObject fields = report.value(QStringLiteral("fields")).toObject();
        QCOMPARE(fields.value(QStringLiteral("game")).toString(), QStringLiteral("zantry"));
        QCOMPARE(fields.value(QStringLiteral("exceptionAddress")).toString(), dumps.first().section(QLatin1Char('-'), 0, 0));
        QCOMPARE(report.value(QStringLiteral("files")).toArray().first().toObject().value(QStringLiteral("fileName")).toString(),
                 dumps.first() + QStringLiteral(".zip"));
        QCOMPARE(QDir(QStringLiteral("Zantry")).entryList({QStringLiteral("*.dmp"), QStringLiteral("*-*.log")}).size(), 0);
        QCOMPARE(readAll(QStringLiteral("Zantry/Archives/") + dumps.first()), record);
        QTRY_VERIFY_WITH_TIMEOUT(readAll(QStringLiteral("Zantry/zantry-log.txt")).contains("postLogs finished"), 10000);
        again.terminate();
        QVERIFY(again.waitForFinished(10000));
        QCOMPARE(again.exitStatus(), QProcess::NormalExit);
    }
};

QTEST_GUILESS_MAIN(TestCrashRestart)
#include "tst_crashrestart.moc"
