// A whole match in which the client's game is a Windows program: the
// stand-in game built with MinGW-w64 (build/tools/fakegame.exe) as the
// game folder's launcher, started by the client through Debian's Wine in a
// throwaway prefix, against a bot through the sandbox and its tunnel. Skips,
// saying why, only where Wine or the Windows build is missing or Wine cannot
// start at all.
#include "botprocess.h"
#include "clientprocess.h"
#include "processnamespace.h"
#include "sandbox.h"
#include "tunnel.h"

#include <QJsonArray>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

class TestWineMatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void gameThroughWinePlaysAndReports();
    void crashingWindowsGameIsReported();

private:
    void play(const QStringList &expectedRoad);
    QString clientDir() const { return m_env->filePath(QStringLiteral("game")); }

    QTemporaryDir m_prefix;
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<TunnelProcess> m_tunnel;
    std::unique_ptr<Sandbox> m_sandbox;
    std::unique_ptr<BotProcess> m_bot;
};

namespace {
const int kMatchMs = 240000;

// Quiet, and no offer to install Mono or Gecko into the fresh prefix.
QProcessEnvironment wineQuiet(QProcessEnvironment env)
{
    env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    env.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml="));
    return env;
}
} // namespace

void TestWineMatch::initTestCase()
{
    const QString wine = QStandardPaths::findExecutable(QStringLiteral("wine"));
    if (wine.isEmpty())
        QSKIP("no wine on PATH: install wine (scripts/deps) to run the Windows game");
    if (!QFile::exists(TestEnv::toolPath(QStringLiteral("fakegame.exe"))))
        QSKIP("no build/tools/fakegame.exe: install g++-mingw-w64-x86-64 (scripts/deps) and build again");
    // The prefix is made once (Wine's first start takes seconds to a minute);
    // a program that cannot even print its help means Wine cannot run here.
    QProcess first;
    QProcessEnvironment env = wineQuiet(QProcessEnvironment::systemEnvironment());
    env.insert(QStringLiteral("WINEPREFIX"), m_prefix.path());
    first.setProcessEnvironment(env);
    first.start(wine, {TestEnv::toolPath(QStringLiteral("fakegame.exe")), QStringLiteral("--help")});
    if (!first.waitForFinished(180000) || first.exitCode() != 0)
        QSKIP(qPrintable(QStringLiteral("Wine cannot start a Windows program here: %1")
                             .arg(QString::fromLocal8Bit(first.readAllStandardError().right(500)))));
}

void TestWineMatch::init()
{
    m_env.reset(new TestEnv);
    m_tunnel.reset(new TunnelProcess);
    m_sandbox.reset(new Sandbox);
    const QString error = m_sandbox->startWithTunnel(*m_tunnel, *m_env);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!Sandbox::makeGameFolder(clientDir(), {QStringLiteral("--game-maps"), QStringLiteral("all"), QStringLiteral("--fakegame"),
                                                   TestEnv::toolPath(QStringLiteral("fakegame.exe"))})
                 .isEmpty());
    ClientProcess::writeSettings(m_env->settingsFile());
    QSettings settings(m_env->settingsFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("winePrefix"), m_prefix.path());
    // The launchers' names on watch, as a player has them: the client's own
    // game under Wine must not pause its match. Only in a namespace of the
    // suite's own, where no other run's game is to be seen.
    if (ProcessNamespace::entered())
        settings.remove(QStringLiteral("WatchedProcesses"));

    m_bot.reset(new BotProcess);
    QVERIFY(m_bot->startOpponent(m_env->clientEnvironment(), m_env->filePath(QStringLiteral("bot-game"))));
}

void TestWineMatch::cleanup()
{
    m_bot.reset();
    m_sandbox.reset();
    m_tunnel.reset();
    m_env.reset();
}

void TestWineMatch::play(const QStringList &expectedRoad)
{
    ClientProcess client(clientDir());
    QVERIFY(client.start(wineQuiet(m_env->clientEnvironment())));
    QVERIFY2(m_bot->waitWhilePlaying([&] { return !client.isRunning(); }, kMatchMs),
             qPrintable(m_bot->whereabouts() + QLatin1Char('\n') + client.tail()));
    QVERIFY2(client.waitForExit(0) == 0, qPrintable(client.tail()));
    QVERIFY2(client.log().contains(QStringLiteral("Through ") + QStandardPaths::findExecutable(QStringLiteral("wine"))),
             qPrintable(client.tail()));
    QVERIFY2(!client.log().contains(QLatin1String("Process watcher triggered")), qPrintable(client.tail()));
    QCOMPARE(Sandbox::statuses(m_sandbox->inspect(), QStringLiteral("Alice")), expectedRoad);
}

void TestWineMatch::gameThroughWinePlaysAndReports()
{
    play({"Ready", "Reached", "GameSpawned", "GameFinished"});
    // The Windows game talked to the router and left its result, which went up.
    QVERIFY(Sandbox::uploadedReceived(m_sandbox->inspect(), 101) > 0);
}

void TestWineMatch::crashingWindowsGameIsReported()
{
    QFile ini(clientDir() + QStringLiteral("/fakegame.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[FakeGame]\nMode=crash\n");
    ini.close();
    play({"Ready", "Reached", "GameSpawned", "GameCrashed"});
    // Its exception file reached the log collector.
    QTRY_VERIFY_WITH_TIMEOUT(!m_sandbox->inspect().value(QStringLiteral("crashReports")).toArray().isEmpty(), 10000);
}

ZANTRY_TEST_MAIN_IN_OWN_NAMESPACE(TestWineMatch, QCoreApplication)
#include "tst_winematch.moc"
