#include "botprocess.h"
#include "sandbox.h"
#include "tunnel.h"

#include "app/filedigest.h"
#include "spawn/spawninfo.h"

#include <QJsonArray>
#include <QtTest>

// Whole matches of bots through the sandbox and the tunnel: each bot runs
// the client's own service client, router road and result upload, so what
// reaches the sandbox here is what the client sends.
class TestBotMatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fourPlayersEachRoutesThree();
    void refusedLoginAndNoLadderAccount();

private:
    struct Player
    {
        QString name;  // on the yr ladder
        QString email;
        QString token; // empty: log in with the password
    };
    bool startServices(const QStringList &sandboxArgs = QStringList());
    BotProcess *startBot(const Player &player, const QStringList &extraArgs = QStringList());
    QString gameDir(const QString &name) const { return m_env->filePath(QStringLiteral("game-") + name); }
    static QJsonObject lastUpdate(const QJsonArray &updates, const QString &user, const QString &status);
    // The fake game's result file of the upload, read as its INI text.
    QSettings *resultOf(const QJsonObject &result);
    void checkMatch(const QList<Player> &players);

    TestEnv *m_env = nullptr;
    Sandbox *m_sandbox = nullptr;
    TunnelProcess *m_tunnel = nullptr;
    QList<BotProcess *> m_bots;
    QList<QSettings *> m_results;
};

const int kMatchMs = 90000;

void TestBotMatch::init()
{
    m_env = new TestEnv;
    m_sandbox = new Sandbox;
    m_tunnel = new TunnelProcess;
}

void TestBotMatch::cleanup()
{
    qDeleteAll(m_bots);
    m_bots.clear();
    qDeleteAll(m_results);
    m_results.clear();
    delete m_tunnel;
    delete m_sandbox;
    delete m_env;
}

bool TestBotMatch::startServices(const QStringList &sandboxArgs)
{
    if (!m_tunnel->start()) {
        qWarning() << m_tunnel->errorText();
        return false;
    }
    const QString tunnel = QStringLiteral("%1:%2").arg(m_tunnel->address()).arg(m_tunnel->relayPort());
    if (!m_sandbox->start(QStringList{QStringLiteral("--tunnel"), tunnel, QStringLiteral("--checkback"), QStringLiteral("1")}
                          + sandboxArgs)) {
        qWarning() << m_sandbox->errorText();
        return false;
    }
    m_env->setEndpoints(m_sandbox->endpoints());
    return true;
}

BotProcess *TestBotMatch::startBot(const Player &player, const QStringList &extraArgs)
{
    const QString dir = gameDir(player.name);
    if (Sandbox::makeGameFolder(dir, {QStringLiteral("--game-maps"), QStringLiteral("all")}).isEmpty())
        return nullptr;
    auto *bot = new BotProcess;
    m_bots.append(bot);
    bot->setEnvironment(m_env->clientEnvironment());
    QStringList args{QStringLiteral("--game-dir"), dir, QStringLiteral("--ladder"), QStringLiteral("yr")};
    if (player.token.isEmpty())
        args << QStringLiteral("--account") << player.email << QStringLiteral("--password")
             << player.email.section(QLatin1Char('@'), 0, 0) + QStringLiteral("-pass");
    else
        args << QStringLiteral("--token") << player.token;
    return bot->start(args + extraArgs) ? bot : nullptr;
}

QJsonObject TestBotMatch::lastUpdate(const QJsonArray &updates, const QString &user, const QString &status)
{
    QJsonObject found;
    for (const QJsonValue &v : updates) {
        const QJsonObject u = v.toObject();
        if (u.value(QStringLiteral("username")).toString() == user && u.value(QStringLiteral("status")).toString() == status)
            found = u;
    }
    return found;
}

QSettings *TestBotMatch::resultOf(const QJsonObject &result)
{
    const QJsonObject part = result.value(QStringLiteral("parts")).toArray().first().toObject();
    const QString path = m_env->filePath(QStringLiteral("stats-%1.ini").arg(m_results.size()));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(QByteArray::fromBase64(part.value(QStringLiteral("base64")).toString().toLatin1()));
    file.close();
    m_results.append(new QSettings(path, QSettings::IniFormat));
    return m_results.last();
}

void TestBotMatch::checkMatch(const QList<Player> &players)
{
    const QJsonObject seen = m_sandbox->inspect();
    const QJsonArray matches = seen.value(QStringLiteral("matches")).toArray();
    QCOMPARE(matches.size(), 1);
    const QJsonObject match = matches.first().toObject();
    QCOMPARE(match.value(QStringLiteral("players")).toArray().size(), players.size());
    const int gameId = match.value(QStringLiteral("gameID")).toInt();

    // The find-match request carries every member the service reads.
    const QStringList members{"type", "lan_ip", "lan_port", "ipv6_address", "ipv6_port", "ip_address", "ip_port", "side",
                              "map_bitfield", "version", "platform", "map_sides", "ai_dat", "exe_hash", "ddraw", "session"};
    const QJsonObject requests = match.value(QStringLiteral("requests")).toObject();
    QCOMPARE(requests.size(), players.size());
    for (const QJsonValue &v : requests) {
        const QJsonObject request = v.toObject();
        QStringList keys = request.keys();
        QStringList expected = members;
        keys.sort();
        expected.sort();
        QCOMPARE(keys, expected);
        QCOMPARE(request.value(QStringLiteral("type")).toString(), QStringLiteral("match me up"));
        QCOMPARE(request.value(QStringLiteral("version")).toString(), QStringLiteral("1.62"));
        QVERIFY(request.value(QStringLiteral("lan_port")).toInt() > 0);
        QCOMPARE(request.value(QStringLiteral("exe_hash")).toString(),
                 FileDigest::sha1Hex(gameDir(players.first().name) + QStringLiteral("/morvel.exe")));
    }

    const QJsonArray updates = seen.value(QStringLiteral("updates")).toArray();
    const QJsonArray results = seen.value(QStringLiteral("results")).toArray();
    QCOMPARE(results.size(), players.size());
    for (const Player &p : players) {
        QCOMPARE(Sandbox::statuses(seen, p.name),
                 (QStringList{"Ready", "Reached", "GameSpawned", "GameFinished"}));
        // "Reached" names a best path to every other player.
        const QJsonArray peers = lastUpdate(updates, p.name, QStringLiteral("Reached"))
                                     .value(QStringLiteral("request")).toObject().value(QStringLiteral("peers")).toArray();
        QCOMPARE(peers.size(), players.size() - 1);
        QSet<QString> ids;
        for (const QJsonValue &peer : peers)
            ids.insert(peer.toObject().value(QStringLiteral("id")).toString());
        for (const Player &other : players) {
            if (other.name != p.name)
                QVERIFY2(ids.contains(QString::number(nameHash(other.name))), qPrintable(other.name));
        }
    }
    for (const QJsonValue &v : results) {
        const QJsonObject result = v.toObject();
        QCOMPARE(result.value(QStringLiteral("form")).toString(), QStringLiteral("long"));
        QCOMPARE(result.value(QStringLiteral("gameId")).toInt(), gameId);
        const int sent = result.value(QStringLiteral("pingSent")).toInt();
        const int received = result.value(QStringLiteral("pingReceived")).toInt();
        QVERIFY2(sent >= 1 && received >= 0 && received <= sent, qPrintable(QStringLiteral("%1/%2").arg(received).arg(sent)));
        QCOMPARE(result.value(QStringLiteral("parts")).toArray().first().toObject().value(QStringLiteral("fileName")).toString(),
                 QStringLiteral("stats.dmp"));
        // The games heard each other through the routers.
        QSettings *stats = resultOf(result);
        QVERIFY(stats->value(QStringLiteral("Game/Sent")).toInt() > 0);
        QVERIFY2(stats->value(QStringLiteral("Game/Received")).toInt() > 0, qPrintable(stats->fileName()));
        QCOMPARE(stats->value(QStringLiteral("Game/Stray")).toInt(), 0);
    }
}

void TestBotMatch::fourPlayersEachRoutesThree()
{
    QVERIFY(startServices({QStringLiteral("--players"), QStringLiteral("4")}));
    const QList<Player> players{{QStringLiteral("Alice"), QStringLiteral("alice@sandbox.test"), QStringLiteral("token-alice")},
                                {QStringLiteral("Bob"), QStringLiteral("bob@sandbox.test"), QStringLiteral("token-bob")},
                                {QStringLiteral("Carol"), QStringLiteral("carol@sandbox.test"), QStringLiteral("token-carol")},
                                {QStringLiteral("Dave"), QStringLiteral("dave@sandbox.test"), QStringLiteral("token-dave")}};
    // Each bot on its own loopback address, so the routers also have direct
    // candidates besides the tunnel.
    for (int i = 0; i < players.size(); ++i)
        QVERIFY(startBot(players.at(i), {QStringLiteral("--bind"), QStringLiteral("127.0.0.%1").arg(11 + i)}));
    for (BotProcess *bot : qAsConst(m_bots)) {
        QVERIFY2(bot->waitForLine(QStringLiteral("BOT done"), kMatchMs), qPrintable(bot->transcript()));
        QCOMPARE(bot->waitForExit(10000), 0);
        QVERIFY(bot->hasLine(QStringLiteral("BOT state matched")));
    }
    checkMatch(players);
    const QJsonObject requests = m_sandbox->inspect().value(QStringLiteral("matches")).toArray().first().toObject()
                                     .value(QStringLiteral("requests")).toObject();
    QSet<QString> lanAddresses;
    for (const QJsonValue &v : requests)
        lanAddresses.insert(v.toObject().value(QStringLiteral("lan_ip")).toString());
    QCOMPARE(lanAddresses, (QSet<QString>{"127.0.0.11", "127.0.0.12", "127.0.0.13", "127.0.0.14"}));
}

void TestBotMatch::refusedLoginAndNoLadderAccount()
{
    QVERIFY(startServices());
    BotProcess *wrong = startBot({QStringLiteral("Alice"), QStringLiteral("alice@sandbox.test"), QString()},
                                 {QStringLiteral("--password"), QStringLiteral("not-her-password")});
    QVERIFY(wrong);
    QCOMPARE(wrong->waitForExit(30000), 1);
    QVERIFY2(wrong->hasLine(QStringLiteral("BOT error the service refused the login")), qPrintable(wrong->transcript()));

    BotProcess *none = startBot({QStringLiteral("Nobody"), QStringLiteral("noaccount@sandbox.test"), QStringLiteral("token-noaccount")});
    QVERIFY(none);
    QCOMPARE(none->waitForExit(30000), 1);
    QVERIFY2(none->hasLine(QStringLiteral("BOT error no ladder account on yr")), qPrintable(none->transcript()));
    QVERIFY(m_sandbox->inspect().value(QStringLiteral("matches")).toArray().isEmpty());
}

QTEST_GUILESS_MAIN(TestBotMatch)
#include "tst_botmatch.moc"
