// The client program and a bot on two hosts: two network namespaces made by
// the test, joined by a veth pair. The client, the sandbox and the tunnel
// live in the first, the bot in the second. Each player's own address is a
// real path to the other, so the direct path must win over the tunnel.
// Needs root; skips clearly otherwise.
#include "botprocess.h"
#include "clientprocess.h"
#include "netnspair.h"
#include "sandbox.h"
#include "tunnel.h"

#include <QJsonArray>
#include <QtTest>

class TestClientNetns : public QObject
{
    Q_OBJECT

private slots:
    void directPathChosenBetweenHosts();
};

void TestClientNetns::directPathChosenBetweenHosts()
{
    NetnsPair pair;
    QString why;
    if (!pair.make(&why))
        QSKIP(qPrintable(why));
    // This thread stays in the first namespace: what it starts and the
    // sockets it opens to look at the sandbox live there.
    QVERIFY(NetnsPair::enter(pair.a()));
    struct Home
    {
        ~Home() { NetnsPair::leave(); }
    } home;

    TestEnv env;
    TunnelProcess tunnel;
    QVERIFY2(tunnel.start(NetnsPair::addressA()), qPrintable(tunnel.errorText()));
    Sandbox sandbox;
    QVERIFY2(sandbox.start({QStringLiteral("--bind"), NetnsPair::addressA(), QStringLiteral("--addresses"), QStringLiteral("all"),
                            QStringLiteral("--tunnel"), QStringLiteral("%1:%2").arg(NetnsPair::addressA()).arg(tunnel.relayPort()),
                            QStringLiteral("--checkback"), QStringLiteral("1")}),
             qPrintable(sandbox.errorText()));
    env.setEndpoints(sandbox.endpoints());

    const QString clientDir = env.filePath(QStringLiteral("game"));
    const QString botDir = env.filePath(QStringLiteral("bot-game"));
    QVERIFY(!Sandbox::makeGameFolder(clientDir, {QStringLiteral("--game-maps"), QStringLiteral("all")}).isEmpty());
    QVERIFY(!Sandbox::makeGameFolder(botDir, {QStringLiteral("--game-maps"), QStringLiteral("all"), QStringLiteral("--link-launchers")}).isEmpty());
    ClientProcess::writeSettings(env.settingsFile());

    BotProcess bot;
    bot.setEnvironment(env.clientEnvironment());
    bool botStarted = false;
    QVERIFY(NetnsPair::runIn(pair.b(), [&]() {
        botStarted = bot.start({QStringLiteral("--token"), QStringLiteral("token-bob"), QStringLiteral("--game-dir"), botDir});
    }));
    QVERIFY(botStarted);
    ClientProcess client(clientDir);
    QVERIFY(client.start(env.clientEnvironment()));

    QVERIFY2(client.waitForExit(120000) == 0, qPrintable(client.tail()));
    QVERIFY2(bot.waitForLine(QStringLiteral("BOT done"), 20000), qPrintable(bot.transcript()));

    const QJsonObject seen = sandbox.inspect();
    const QJsonObject requests = seen.value(QStringLiteral("matches")).toArray().first().toObject().value(QStringLiteral("requests")).toObject();
    QCOMPARE(requests.value(QStringLiteral("Alice")).toObject().value(QStringLiteral("lan_ip")).toString(), NetnsPair::addressA());
    QCOMPARE(requests.value(QStringLiteral("Bob")).toObject().value(QStringLiteral("lan_ip")).toString(), NetnsPair::addressB());
    const QStringList road{"Ready", "Reached", "GameSpawned", "GameFinished"};
    QCOMPARE(Sandbox::statuses(seen, QStringLiteral("Alice")), road);

    // "Reached" names each player's chosen path: the other's own address.
    QHash<QString, QString> chosen;
    for (const QJsonValue &v : seen.value(QStringLiteral("updates")).toArray()) {
        const QJsonObject u = v.toObject();
        if (u.value(QStringLiteral("status")).toString() != QLatin1String("Reached"))
            continue;
        const QJsonArray peers = u.value(QStringLiteral("request")).toObject().value(QStringLiteral("peers")).toArray();
        QCOMPARE(peers.size(), 1);
        const QJsonObject peer = peers.first().toObject();
        QVERIFY(peer.value(QStringLiteral("port")).toInt() != tunnel.relayPort());
        chosen.insert(u.value(QStringLiteral("username")).toString(), peer.value(QStringLiteral("address")).toString());
    }
    QCOMPARE(chosen.value(QStringLiteral("Alice")), NetnsPair::addressB());
    QCOMPARE(chosen.value(QStringLiteral("Bob")), NetnsPair::addressA());
    QCOMPARE(seen.value(QStringLiteral("results")).toArray().size(), 2);
}

QTEST_GUILESS_MAIN(TestClientNetns)
#include "tst_clientnetns.moc"
