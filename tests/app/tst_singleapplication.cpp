// Single-instance behaviour with real processes: a helper program holds a
// SingleApplication and reports its signals on stdout.
#include "testenv.h"

#include <QtTest>

#include <algorithm>
#include <csignal>
#include <memory>
#include <vector>

namespace {
struct Helper
{
    QProcess process;
    QString out;
    explicit Helper(const QProcessEnvironment &env)
    {
        process.setProcessEnvironment(env);
        process.start(TestEnv::buildDir() + QStringLiteral("/tests/singleinstance_helper"), QStringList());
    }
    ~Helper()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
    }
    bool waitFor(const QString &text, int ms = 10000)
    {
        QDeadlineTimer deadline(ms);
        do {
            process.waitForReadyRead(20);
            out += QString::fromUtf8(process.readAllStandardOutput());
        } while (!out.contains(text) && !deadline.hasExpired() && process.state() != QProcess::NotRunning);
        return out.contains(text);
    }
    bool exitsZero() { return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0; }
};
} // namespace

class TestSingleApplication : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;

private slots:
    void init() { m_env.reset(new TestEnv); }
    void cleanup() { m_env.reset(); }

    // A second start exits 0 and raises the first; a killed primary leaves
    // nothing that blocks the next start from becoming a real primary.
    void secondStartHandsOverAndKilledPrimaryDoesNotBlock()
    {
        {
            Helper first(m_env->clientEnvironment());
            QVERIFY(first.waitFor(QStringLiteral("PRIMARY")));
            Helper second(m_env->clientEnvironment());
            QVERIFY(second.exitsZero());
            QVERIFY(!QString::fromUtf8(second.process.readAllStandardOutput()).contains(QLatin1String("PRIMARY")));
            QVERIFY(first.waitFor(QStringLiteral("STARTED")));
            ::kill(pid_t(first.process.processId()), SIGKILL);
        }
        QProcessEnvironment quitting = m_env->clientEnvironment();
        quitting.insert(QStringLiteral("HELPER_QUIT_ON_START"), QStringLiteral("1"));
        Helper next(quitting);
        QVERIFY2(next.waitFor(QStringLiteral("PRIMARY")), "a start after a killed primary must become primary");
        Helper third(m_env->clientEnvironment());
        QVERIFY(third.exitsZero());
        QVERIFY(next.waitFor(QStringLiteral("STARTED")) && next.exitsZero());
    }

    // Twenty starts at the same moment: one primary, and every other start
    // reaches it and leaves.
    void simultaneousStartsMakeOnePrimary()
    {
        std::vector<std::unique_ptr<Helper>> starts;
        for (int i = 0; i < 20; ++i)
            starts.emplace_back(new Helper(m_env->clientEnvironment()));
        const auto running = [&] {
            return std::count_if(starts.begin(), starts.end(), [](const auto &h) { return h->process.state() != QProcess::NotRunning; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(running() <= 1, 20000);
        Helper *primary = nullptr;
        int primaries = 0;
        for (const auto &h : starts) {
            if (h->waitFor(QStringLiteral("PRIMARY"), 100)) {
                primary = h.get();
                ++primaries;
            }
        }
        QCOMPARE(primaries, 1);
        const auto raised = [primary] {
            primary->waitFor(QStringLiteral("never printed"), 20);
            return primary->out.count(QLatin1String("STARTED"));
        };
        QTRY_COMPARE_WITH_TIMEOUT(raised(), 19, 10000);
    }
};

QTEST_GUILESS_MAIN(TestSingleApplication)
#include "tst_singleapplication.moc"
