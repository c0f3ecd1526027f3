// The client program itself (build/zantry, offscreen) against a bot through
// the sandbox and the tunnel. Its demo switch presses the main button and
// answers the ready check and warnings; everything else is the real session,
// from the stored token to the uploaded result.
#include "botprocess.h"
#include "clientprocess.h"
#include "processnamespace.h"
#include "sandbox.h"
#include "tunnel.h"

#include "util/filedigest.h"

#include <QtWidgets>
#include <QtTest>

#include <csignal>
#include <memory>

class TestClientMatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void storedTokenToUploadedResult();
    void tunnelStoppedDuringFloodIsToldAndRequeued();
    void crashingGameIsReportedAndWindowReturnsToReady();
    void killedInGameStartsAgainAndUploadsTheCrashAndTheResult();
    void commandLine();

private:
    bool startBot();
    QString clientDir() const { return m_env->filePath(QStringLiteral("game")); }
    QStringList aliceStatuses() const { return Sandbox::statuses(m_sandbox->inspect(), QStringLiteral("Alice")); }
    int count(const char *kind) const { return m_sandbox->inspect().value(QLatin1String(kind)).toArray().size(); }

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<Sandbox> m_sandbox;
    std::unique_ptr<TunnelProcess> m_tunnel;
    std::unique_ptr<BotProcess> m_bot;
    std::unique_ptr<ClientProcess> m_client;
};

const int kMatchMs = 120000;

void TestClientMatch::init()
{
    m_env.reset(new TestEnv);
    m_sandbox.reset(new Sandbox);
    m_tunnel.reset(new TunnelProcess);
    const QString error = m_sandbox->startWithTunnel(*m_tunnel, *m_env, {QStringLiteral("--checkback"), QStringLiteral("1")});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!Sandbox::makeGameFolder(clientDir(), {QStringLiteral("--game-maps"), QStringLiteral("all")}).isEmpty());
    ClientProcess::writeSettings(m_env->settingsFile());
    m_client.reset(new ClientProcess(clientDir()));
}

void TestClientMatch::cleanup()
{
    m_client.reset();
    m_bot.reset();
    m_tunnel.reset();
    m_sandbox.reset();
    m_env.reset();
}

bool TestClientMatch::startBot()
{
    m_bot.reset(new BotProcess);
    return m_bot->startOpponent(m_env->clientEnvironment(), m_env->filePath(QStringLiteral("bot-game")));
}

void TestClientMatch::storedTokenToUploadedResult()
{
    QVERIFY(startBot());
    const QString shots = m_env->filePath(QStringLiteral("shots"));
    QVERIFY(m_client->start(m_env->clientEnvironment(), {QStringLiteral("--demo-autoplay"), QStringLiteral("--demo-screenshots"), shots}));
    QVERIFY2(m_bot->waitWhilePlaying([this] { return !m_client->isRunning(); }, kMatchMs),
             qPrintable(m_bot->whereabouts() + QLatin1Char('\n') + m_client->tail()));
    QVERIFY2(m_client->waitForExit(0) == 0, qPrintable(m_client->tail()));
    QVERIFY2(m_bot->waitForLine(QStringLiteral("BOT done"), 20000), qPrintable(m_bot->transcript()));
    QVERIFY2(m_client->startWarnings().isEmpty(), qPrintable(m_client->startWarnings().join(QLatin1Char('\n'))));
    // The demo's pictures: each named after the flags its stage added (two
    // quick ones share a picture), in order; the last one back at ready.
    const QStringList pictures = QDir(shots).entryList({QStringLiteral("*.png")}, QDir::Files, QDir::Name);
    const QStringList stages{"ready-check", "matchup-found", "network-ready", "game-spawned"};
    int at = 0;
    for (const QString &name : pictures) {
        if (at < stages.size() && name.contains(stages.at(at)))
            ++at;
    }
    QVERIFY2(at == stages.size(), qPrintable(pictures.join(QLatin1Char(' '))));
    QVERIFY2(pictures.last().contains(QStringLiteral("-without-")), qPrintable(pictures.last()));
    QVERIFY(!QImage(QDir(shots).filePath(pictures.last())).isNull());

    const QJsonObject seen = m_sandbox->inspect();
    const QJsonObject match = seen.value(QStringLiteral("matches")).toArray().first().toObject();
    const QJsonObject request = match.value(QStringLiteral("requests")).toObject().value(QStringLiteral("Alice")).toObject();
    // The request's members are the service client test's; here the hash
    // of the launcher actually found.
    QCOMPARE(request.value(QStringLiteral("exe_hash")).toString(), FileDigest::sha1Hex(clientDir() + QStringLiteral("/morvel.exe")));

    const QStringList road{"Ready", "Reached", "GameSpawned", "GameFinished"};
    QCOMPARE(Sandbox::statuses(seen, QStringLiteral("Alice")), road);
    QCOMPARE(Sandbox::statuses(seen, QStringLiteral("Bob")), road);
    // On one host every direct candidate is a player's own address: "Reached"
    // must name the tunnel.
    for (const QJsonValue &v : seen.value(QStringLiteral("updates")).toArray()) {
        const QJsonObject u = v.toObject();
        if (u.value(QStringLiteral("status")).toString() != QLatin1String("Reached"))
            continue;
        const QJsonArray peers = u.value(QStringLiteral("request")).toObject().value(QStringLiteral("peers")).toArray();
        QCOMPARE(peers.size(), 1);
        QCOMPARE(peers.first().toObject().value(QStringLiteral("port")).toInt(), int(m_tunnel->relayPort()));
    }
    bool uploaded = false;
    for (const QJsonValue &v : seen.value(QStringLiteral("results")).toArray()) {
        const QJsonObject r = v.toObject();
        if (r.value(QStringLiteral("playerId")).toInt() != 101)
            continue;
        uploaded = true;
        QCOMPARE(r.value(QStringLiteral("gameId")).toInt(), match.value(QStringLiteral("gameID")).toInt());
        const int sent = r.value(QStringLiteral("pingSent")).toInt();
        QVERIFY(sent >= 1 && r.value(QStringLiteral("pingReceived")).toInt() <= sent);
        QVERIFY(r.value(QStringLiteral("parts")).toArray().first().toObject().value(QStringLiteral("size")).toInt() > 0);
    }
    QVERIFY(uploaded);
}

void TestClientMatch::tunnelStoppedDuringFloodIsToldAndRequeued()
{
    QVERIFY(startBot());
    QVERIFY(m_client->start(m_env->clientEnvironment()));
    // On one host the tunnel is the only path; it goes once flooding began
    // ("Ready" is sent as the flood starts).
    QVERIFY2(m_bot->waitWhilePlaying([&] { return aliceStatuses().contains(QStringLiteral("Ready")); }, kMatchMs),
             qPrintable(m_bot->whereabouts() + QLatin1Char('\n') + m_client->tail()));
    m_tunnel->stop();
    QTRY_COMPARE_WITH_TIMEOUT(aliceStatuses(), (QStringList{"Ready", "NotReached"}), 60000);
    // The warning says who and what was tried.
    QVERIFY2(m_client->waitForLog(QStringLiteral("Bob and this client did not reach each other. Tried: tunnel Sandbox"), 10000),
             qPrintable(m_client->tail()));
    // The warning answered, the client queues again on its own.
    QTRY_VERIFY_WITH_TIMEOUT(count("requests") > 0 && m_sandbox->inspect().value(QStringLiteral("queue")).toArray().size() == 1, 20000);
    QCOMPARE(m_bot->waitForExit(30000), 1);
    m_client->sendSignal(SIGTERM);
    QCOMPARE(m_client->waitForExit(15000), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_sandbox->inspect().value(QStringLiteral("queue")).toArray().size(), 0, 5000);
}

void TestClientMatch::crashingGameIsReportedAndWindowReturnsToReady()
{
    QFile ini(clientDir() + QStringLiteral("/fakegame.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[FakeGame]\nMode=crash\n");
    ini.close();
    QVERIFY(startBot());
    QVERIFY(m_client->start(m_env->clientEnvironment()));
    QVERIFY2(m_bot->waitWhilePlaying([this] { return !m_client->isRunning(); }, kMatchMs),
             qPrintable(m_bot->whereabouts() + QLatin1Char('\n') + m_client->tail()));
    QVERIFY2(m_client->waitForExit(0) == 0, qPrintable(m_client->tail()));
    QVERIFY2(aliceStatuses().contains(QStringLiteral("GameCrashed")), qPrintable(aliceStatuses().join(QLatin1Char(','))));
    // Back at ready after the game: the demo switch quits only there.
    QTRY_VERIFY_WITH_TIMEOUT(count("crashReports") > 0, 10000);
}

void TestClientMatch::killedInGameStartsAgainAndUploadsTheCrashAndTheResult()
{
    QVERIFY(startBot());
    QVERIFY(m_client->start(m_env->clientEnvironment()));
    QVERIFY2(m_bot->waitWhilePlaying([&]() { return aliceStatuses().contains(QStringLiteral("GameSpawned")); }, kMatchMs),
             qPrintable(m_bot->whereabouts()));
    // A fault while the game runs: the crash capture leaves its record.
    m_client->sendSignal(SIGSEGV);
    QVERIFY(m_client->waitForExit(10000) != 0);
    const int before = count("crashReports");

    m_client.reset(new ClientProcess(clientDir()));
    QVERIFY(m_client->start(m_env->clientEnvironment(), {}));
    QVERIFY2(m_client->waitForLog(ClientProcess::readyLine(), 30000), "the second start never reached ready (stale single-instance lock?)");
    QTRY_VERIFY_WITH_TIMEOUT(count("crashReports") > before, 15000);
    // The game outlived its client and wrote its result: the next run sends it.
    const auto aliceResults = [this]() {
        const QJsonArray results = m_sandbox->inspect().value(QStringLiteral("results")).toArray();
        return std::count_if(results.begin(), results.end(),
                             [](const QJsonValue &r) { return r.toObject().value(QStringLiteral("playerId")).toInt() == 101; });
    };
    QTRY_COMPARE_WITH_TIMEOUT(aliceResults(), 1, 30000);
}

// --version and --help answer and end; an unknown switch is refused. Started
// elsewhere, the client works in the game folder it was given once.
void TestClientMatch::commandLine()
{
    const auto run = [this](const QString &option, QByteArray *out) {
        QProcess zantry;
        zantry.setProcessEnvironment(m_env->clientEnvironment());
        zantry.start(TestEnv::zantryPath(), {option});
        const bool ended = zantry.waitForFinished(10000);
        *out = zantry.readAllStandardOutput() + zantry.readAllStandardError();
        return ended && zantry.exitStatus() == QProcess::NormalExit ? zantry.exitCode() : -1;
    };
    QByteArray out;
    QCOMPARE(run(QStringLiteral("--version"), &out), 0);
    QVERIFY2(out.contains("1.62"), out.constData());
    QCOMPARE(run(QStringLiteral("--help"), &out), 0);
    QVERIFY2(out.contains("--version"), out.constData());
    QCOMPARE(run(QStringLiteral("--no-such-switch"), &out), 1);
    QVERIFY2(out.contains("no-such-switch"), out.constData());

    const QString start = QDir::currentPath();
    const QString log = clientDir() + QStringLiteral("/Zantry/zantry-log.txt");
    for (const QStringList &args : {QStringList{QStringLiteral("--game-dir"), clientDir()}, QStringList()}) {
        QFile::remove(log);
        QProcess zantry;
        zantry.setProcessEnvironment(m_env->clientEnvironment());
        zantry.start(TestEnv::zantryPath(), args);
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(log); }, 10000));
        zantry.terminate();
        QVERIFY(zantry.waitForFinished(10000));
    }
    QCOMPARE(QDir(start).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

ZANTRY_TEST_MAIN_IN_OWN_NAMESPACE(TestClientMatch, QCoreApplication)
#include "tst_clientmatch.moc"
