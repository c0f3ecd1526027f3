// A real crash of a program with the capture installed leaves a crash
// record and a log copy under one stem, and the process still dies of the
// original signal.
#include "testenv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>

namespace {

QString helperPath()
{
    return TestEnv::buildDir() + QStringLiteral("/tests/crash_helper");
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestCrashCapture : public QObject
{
    Q_OBJECT
private slots:
    void crashLeavesRecordAndLogCopy_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("signalText");
        QTest::newRow("fault") << "segv" << int(SIGSEGV) << "signal: 11 (SIGSEGV)";
        QTest::newRow("raise") << "raise" << int(SIGSEGV) << "signal: 11 (SIGSEGV)";
        QTest::newRow("abort") << "abort" << int(SIGABRT) << "signal: 6 (SIGABRT)";
    }

    void crashLeavesRecordAndLogCopy()
    {
        QFETCH(QString, mode);
        QFETCH(int, signal);
        QFETCH(QString, signalText);
        TestEnv env;
        const QByteArray secret = QByteArray::number(QDateTime::currentMSecsSinceEpoch());
        QProcessEnvironment penv = env.clientEnvironment();
        penv.insert(QStringLiteral("CRASH_SECRET"), QString::fromLatin1(secret));

        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QProcess helper;
        helper.setProcessEnvironment(penv);
        helper.start(helperPath(), {mode});
        QVERIFY(helper.waitForStarted());
        const qint64 pid = helper.processId();
        QVERIFY(helper.waitForFinished(20000));
        const QDateTime after = QDateTime::currentDateTime().addSecs(1);
        QCOMPARE(helper.exitStatus(), QProcess::CrashExit);
        QCOMPARE(helper.exitCode(), signal);

        QDir dir(QStringLiteral("Zantry"));
        const QStringList dumps = dir.entryList({QStringLiteral("*.dmp")}, QDir::Files);
        QCOMPARE(dumps.size(), 1);
        const QRegularExpression shape(QStringLiteral("^([0-9a-f]+)-(\\d{8})-(\\d{6})-(\\d+)\\.dmp$"));
        const auto m = shape.match(dumps.first());
        QVERIFY2(m.hasMatch(), qPrintable(dumps.first()));
        const QDateTime stamp = QDateTime::fromString(m.captured(2) + m.captured(3), QStringLiteral("yyyyMMddhhmmss"));
        QVERIFY2(stamp >= before.addMSecs(-before.time().msec()) && stamp <= after, qPrintable(stamp.toString()));
        QCOMPARE(m.captured(4).toLongLong(), pid); // the main thread's id is the process id

        const QString stem = dumps.first().chopped(4);
        const QByteArray record = readAll(dir.filePath(dumps.first()));
        QVERIFY(record.contains("version: 1.62\n"));
        QVERIFY(record.contains(signalText.toLatin1() + '\n'));
        QVERIFY(record.contains("instruction address: 0x" + m.captured(1).toLatin1() + '\n'));
        if (mode == QLatin1String("segv"))
            QVERIFY(record.contains("fault address: 0x10\n"));
        const QByteArray trace = record.mid(record.indexOf("backtrace:\n") + 11);
        QVERIFY2(trace.count('\n') >= 3, trace.constData());
        // No memory contents: the secret the program held is not in it.
        QVERIFY(!record.contains(secret));
        QVERIFY(record.size() < 64 * 1024);

        const QByteArray logCopy = readAll(dir.filePath(stem + QStringLiteral(".log")));
        QVERIFY(logCopy.contains("helper about to crash"));
        QCOMPARE(logCopy, readAll(dir.filePath(QStringLiteral("zantry-log.txt"))));
        QCOMPARE(dir.entryList(QDir::Files).size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestCrashCapture)
#include "tst_crashcapture.moc"
