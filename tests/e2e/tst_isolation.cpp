// Runs on one machine leave each other alone: a client in a process
// namespace of its own does not pause its queue for a watched game running
// outside it, and what a test started ends with the test, even a killed one.
#include "clientprocess.h"
#include "processnamespace.h"
#include "sandbox.h"
#include "tunnel.h"

#include "watch/processwatcher.h"

#include <QtNetwork>
#include <QtTest>

#include <csignal>

namespace {

// Running, and no zombie: a zombie's executable cannot be read.
bool running(const QString &exe)
{
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        if (QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)) == exe)
            return true;
    }
    return false;
}

bool portFree(quint16 port)
{
    QUdpSocket socket;
    return socket.bind(QHostAddress::LocalHost, port, QAbstractSocket::DontShareAddress);
}

} // namespace

class TestIsolation : public QObject
{
    Q_OBJECT

private slots:
    void watchedGameOutsideDoesNotPauseTheQueue();
    void childrenEndWithAKilledTest_data();
    void childrenEndWithAKilledTest();
};

void TestIsolation::watchedGameOutsideDoesNotPauseTheQueue()
{
    QString why;
    if (!ProcessNamespace::available(&why))
        QSKIP(qPrintable(why));
    TestEnv env;
    Sandbox sandbox;
    TunnelProcess tunnel;
    const QString error = sandbox.startWithTunnel(tunnel, env);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QString game = env.filePath(QStringLiteral("game"));
    QVERIFY(!Sandbox::makeGameFolder(game, {QStringLiteral("--game-maps"), QStringLiteral("all")}).isEmpty());
    // Named for this run, so that no other client on this machine pauses.
    const QString name = QStringLiteral("zi%1-quillon.exe").arg(QCoreApplication::applicationPid());
    ClientProcess::writeSettings(env.settingsFile());
    QSettings(env.settingsFile(), QSettings::IniFormat).setValue(QStringLiteral("WatchedProcesses"), QStringList{name});

    ClientProcess client(game);
    client.setLauncher(ProcessNamespace::launcher());
    QVERIFY(client.start(env.clientEnvironment()));
    const auto queued = [&sandbox] { return sandbox.inspect().value(QStringLiteral("queue")).toArray().size(); };
    QTRY_COMPARE_WITH_TIMEOUT(queued(), 1, 60000);

    // Started from elsewhere: a watcher out here takes it for another game.
    ProcessWatcher outside;
    outside.setWatchedProcs({name});
    QSignalSpy paused(&outside, &ProcessWatcher::triggered);
    outside.setInterval(100);
    outside.start();
    const QString program = env.filePath(name);
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), program));
    qint64 pid = 0;
    QVERIFY(QProcess::startDetached(program, {QStringLiteral("60")}, QString(), &pid));
    QTRY_COMPARE_WITH_TIMEOUT(paused.count(), 1, 5000);
    // Three of the client's polls.
    QTest::qWait(1500);
    ::kill(pid_t(pid), SIGKILL);
    QCOMPARE(queued(), 1);
    QVERIFY2(!client.log().contains(QLatin1String("Process watcher triggered")), qPrintable(client.tail()));
}

void TestIsolation::childrenEndWithAKilledTest_data()
{
    QTest::addColumn<bool>("own");
    QTest::newRow("its children") << false;
    QTest::newRow("its own namespace") << true;
}

// A shell stands for the test: a tool as its child, a program it left in the
// background as an orphan, and SIGKILL, as CTest's time-out sends.
void TestIsolation::childrenEndWithAKilledTest()
{
    QFETCH(bool, own);
    QString why;
    if (own && !ProcessNamespace::available(&why))
        QSKIP(qPrintable(why));
    TestEnv env;
    const QString orphan = env.filePath(QStringLiteral("orphan"));
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), orphan));
    QProcess test;
    QProcessEnvironment e = env.clientEnvironment();
    e.insert(QStringLiteral("ZANTRY_DIE_WITH_PARENT"), QStringLiteral("1"));
    test.setProcessEnvironment(e);
    const QStringList shell{QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("\"$0\" & (\"$1\" 60 &); wait"),
                            TestEnv::toolPath(QStringLiteral("tunnel")), orphan};
    const QStringList command = (own ? ProcessNamespace::launcher() : QStringList()) + shell;
    test.start(command.first(), command.mid(1));
    QVERIFY(QTest::qWaitFor([&] { return test.canReadLine() || test.state() == QProcess::NotRunning; }, 20000));
    const QList<QByteArray> listen = test.readLine().split(' ');
    QVERIFY2(listen.size() == 4 && listen.at(1) == "relay", qPrintable(test.readAllStandardError()));
    const quint16 port = quint16(listen.at(3).trimmed().toUInt());
    QVERIFY(!portFree(port));
    QTRY_VERIFY_WITH_TIMEOUT(running(orphan), 5000);

    ::kill(pid_t(test.processId()), SIGKILL);
    QVERIFY(test.waitForFinished(5000));
    QTRY_VERIFY_WITH_TIMEOUT(portFree(port), 5000);
    // Only a namespace takes an orphan along; elsewhere the test's folder does.
    if (own)
        QTRY_VERIFY_WITH_TIMEOUT(!running(orphan), 5000);
}

QTEST_GUILESS_MAIN(TestIsolation)
#include "tst_isolation.moc"
