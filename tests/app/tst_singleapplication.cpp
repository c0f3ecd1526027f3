// Single-instance behaviour with real processes: a helper program holds a
// SingleApplication and reports its signals on stdout.
#include "app/singleapplication_p.h"
#include "testenv.h"

#include <QLocalSocket>
#include <QProcess>
#include <QtTest>

#include <csignal>

namespace {
QString helperPath()
{
    return TestEnv::buildDir() + QStringLiteral("/tests/singleinstance_helper");
}

struct Helper
{
    QProcess process;
    QString out;
    explicit Helper(const QProcessEnvironment &env) { process.setProcessEnvironment(env); }
    ~Helper()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(3000))
                process.kill();
            process.waitForFinished(3000);
        }
    }
    void start() { process.start(helperPath(), {}); }
    void pump()
    {
        process.waitForReadyRead(20);
        out += QString::fromUtf8(process.readAllStandardOutput());
    }
    bool waitFor(const QString &text, int ms = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (!out.contains(text) && t.elapsed() < ms && process.state() != QProcess::NotRunning)
            pump();
        pump();
        return out.contains(text);
    }
    QString serverName()
    {
        waitFor(QStringLiteral("PRIMARY "));
        return out.section(QStringLiteral("PRIMARY "), 1).section(QLatin1Char('\n'), 0, 0).trimmed();
    }
};
} // namespace

class TestSingleApplication : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_env.reset(new TestEnv); }
    void cleanup() { m_env.reset(); }

    void secondStartExitsZeroAndRaisesFirst()
    {
        Helper first(m_env->clientEnvironment());
        first.start();
        QVERIFY(first.waitFor(QStringLiteral("PRIMARY")));

        Helper second(m_env->clientEnvironment());
        second.start();
        QVERIFY(second.process.waitForFinished(10000));
        QCOMPARE(second.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process.exitCode(), 0);
        QVERIFY(!QString::fromUtf8(second.process.readAllStandardOutput()).contains(QLatin1String("PRIMARY")));
        QVERIFY(first.waitFor(QStringLiteral("STARTED")));
    }

    void badConnectionsAreClosedWithoutSignal_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("wrong name") << 0;
        QTest::newRow("unknown type") << 1;
        QTest::newRow("wrong checksum") << 2;
        QTest::newRow("reconnect accepted, no signal") << 3;
    }

    void badConnectionsAreClosedWithoutSignal()
    {
        QFETCH(int, kind);
        Helper first(m_env->clientEnvironment());
        first.start();
        const QString name = first.serverName();
        QVERIFY(!name.isEmpty());

        QByteArray message;
        switch (kind) {
        case 0:
            message = SingleApplicationPrivate::connectionMessage(QString(name).replace(0, 1, name[0] == 'A' ? "B" : "A"), 'N', 0);
            break;
        case 1:
            message = SingleApplicationPrivate::connectionMessage(name, 'X', 0);
            break;
        case 2:
            message = SingleApplicationPrivate::connectionMessage(name, 'N', 0);
            message[message.size() - 1] = message[message.size() - 1] == '0' ? '1' : '0';
            break;
        case 3:
            message = SingleApplicationPrivate::connectionMessage(name, 'R', 7) + "hello";
            break;
        }
        QLocalSocket socket;
        socket.connectToServer(name);
        QVERIFY(socket.waitForConnected(3000));
        socket.write(message);
        QVERIFY(socket.waitForBytesWritten(3000));
        if (kind == 3) {
            QVERIFY(first.waitFor(QStringLiteral("MESSAGE 7 hello")));
            QVERIFY(!first.out.contains(QLatin1String("STARTED")));
        } else {
            // The primary closes the connection; no signal reaches the program.
            socket.waitForDisconnected(3000);
            QCOMPARE(socket.state(), QLocalSocket::UnconnectedState);
            first.pump();
            QVERIFY(!first.out.contains(QLatin1String("STARTED")));
        }
    }

    void killedPrimaryDoesNotBlockNextStart()
    {
        {
            Helper first(m_env->clientEnvironment());
            first.start();
            QVERIFY(first.waitFor(QStringLiteral("PRIMARY")));
            ::kill(pid_t(first.process.processId()), SIGKILL);
            QVERIFY(first.process.waitForFinished(5000));
        }
        Helper next(m_env->clientEnvironment());
        next.start();
        QVERIFY2(next.waitFor(QStringLiteral("PRIMARY")), "a start after a killed primary must become primary");
        QCOMPARE(next.process.state(), QProcess::Running);

        // And it is a real primary: a further start hands over to it.
        Helper third(m_env->clientEnvironment());
        third.start();
        QVERIFY(third.process.waitForFinished(10000));
        QCOMPARE(third.process.exitCode(), 0);
        QVERIFY(next.waitFor(QStringLiteral("STARTED")));
    }

private:
    QScopedPointer<TestEnv> m_env;
};

QTEST_GUILESS_MAIN(TestSingleApplication)
#include "tst_singleapplication.moc"
