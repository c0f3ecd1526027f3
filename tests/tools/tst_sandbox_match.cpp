#include "sandbox.h"

#include "spawn/spawninfo.h"

#include <QJsonArray>
#include <QtTest>

// The find-match exchange where the stand-in has logic of its own: map
// vetoes, the spawn built from the opponents' requests, expiry of silent
// players, refusals and the scripted match. Whole matches, four-player ones,
// quitting and result uploads are played by the API and end-to-end tests.
class TestSandboxMatch : public QObject
{
    Q_OBJECT

private slots:
    void twoPlayersMatched();
    void silentPlayersExpire();
    void refusals();
    void scriptedMatch();

private:
    static QJsonObject request(int port, int side, const QString &ip = QStringLiteral("127.0.0.1"),
                               const QString &lan = QString(), const QJsonArray &mapSides = {});
    static QJsonObject send(const Sandbox &sandbox, const QString &ladder, const QString &user, const QByteArray &token,
                            const QJsonObject &body, int *status = nullptr);
    static QString type(const QJsonObject &reply) { return reply.value(QStringLiteral("type")).toString(); }
};

QJsonObject TestSandboxMatch::request(int port, int side, const QString &ip, const QString &lan, const QJsonArray &mapSides)
{
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("match me up")},
                       {QStringLiteral("ip_address"), ip},
                       {QStringLiteral("ip_port"), port},
                       {QStringLiteral("lan_ip"), lan},
                       {QStringLiteral("lan_port"), port + 1},
                       {QStringLiteral("ipv6_address"), QStringLiteral("2001:db8::%1").arg(port)},
                       {QStringLiteral("ipv6_port"), port + 2},
                       {QStringLiteral("side"), side},
                       {QStringLiteral("map_bitfield"), 2147483647},
                       {QStringLiteral("map_sides"), mapSides},
                       {QStringLiteral("version"), QStringLiteral("1.62")}};
}

QJsonObject TestSandboxMatch::send(const Sandbox &sandbox, const QString &ladder, const QString &user,
                                   const QByteArray &token, const QJsonObject &body, int *status)
{
    const Sandbox::Reply r = sandbox.post(QStringLiteral("/api/v1/zantry/%1/%2").arg(ladder, QString::fromUtf8(QUrl::toPercentEncoding(user))),
                                          QJsonDocument(body).toJson(), "application/json", token);
    if (status)
        *status = r.status;
    return r.json().object();
}

void TestSandboxMatch::twoPlayersMatched()
{
    Sandbox sandbox;
    QVERIFY2(sandbox.start({QStringLiteral("--checkback"), QStringLiteral("3"), QStringLiteral("--addresses"), QStringLiteral("all")}),
             qPrintable(sandbox.errorText()));
    // Alice rejects the first map (bit 0); Bob's bitfield leaves out the third.
    const QJsonObject aliceAsk = request(51143, 2, QStringLiteral("203.0.113.5"), QStringLiteral("192.168.1.5"), {-2, -3, -3, -3});
    QJsonObject bobAsk = request(51150, 5, QStringLiteral("198.51.100.7"), QStringLiteral("10.1.1.7"));
    bobAsk.insert(QStringLiteral("map_bitfield"), 0x7fffffff & ~(1 << 2));

    const QJsonObject wait = send(sandbox, QStringLiteral("yr"), QStringLiteral("Alice"), "token-alice", aliceAsk);
    QCOMPARE(type(wait), QStringLiteral("please wait"));
    QCOMPARE(wait.value(QStringLiteral("checkback")).toInt(), 3);
    // Another ladder's queue does not count.
    QCOMPARE(type(send(sandbox, QStringLiteral("ts"), QStringLiteral("BobTS"), "token-bob", bobAsk)), QStringLiteral("please wait"));
    const QJsonObject bob = send(sandbox, QStringLiteral("yr"), QStringLiteral("Bob"), "token-bob", bobAsk);
    QCOMPARE(type(bob), QStringLiteral("spawn"));
    const QJsonObject alice = send(sandbox, QStringLiteral("yr"), QStringLiteral("Alice"), "token-alice", aliceAsk);
    QCOMPARE(type(alice), QStringLiteral("spawn"));

    QVERIFY(alice.value(QStringLiteral("gameID")).toInt() > 0);
    QCOMPARE(alice.value(QStringLiteral("gameID")), bob.value(QStringLiteral("gameID")));
    const QJsonObject aSpawn = alice.value(QStringLiteral("spawn")).toObject();
    const QJsonObject bSpawn = bob.value(QStringLiteral("spawn")).toObject();
    const QJsonObject aSet = aSpawn.value(QStringLiteral("Settings")).toObject();
    const QJsonObject bSet = bSpawn.value(QStringLiteral("Settings")).toObject();
    for (const char *shared : {"Seed", "MapHash", "UIMapName", "WOLGameID"})
        QCOMPARE(aSet.value(QLatin1String(shared)), bSet.value(QLatin1String(shared)));
    QCOMPARE(aSpawn.value(QStringLiteral("SpawnLocations")), bSpawn.value(QStringLiteral("SpawnLocations")));
    QVERIFY(aSet.value(QStringLiteral("Color")) != bSet.value(QStringLiteral("Color")));
    QCOMPARE(aSet.value(QStringLiteral("Port")).toInt(), int(nameHash(QStringLiteral("Alice")) & 0xffff));
    QCOMPARE(aSet.value(QStringLiteral("Side")).toInt(), 2);

    const QJsonArray maps = sandbox.get(QStringLiteral("/api/v1/zantry/ladder/yr/maps")).json().array();
    const QString hash = aSet.value(QStringLiteral("MapHash")).toString();
    QVERIFY(hash != maps.at(0).toObject().value(QStringLiteral("hash")).toString());
    QVERIFY(hash != maps.at(2).toObject().value(QStringLiteral("hash")).toString());
    QVERIFY(std::any_of(maps.begin(), maps.end(), [&](const QJsonValue &m) {
        return m.toObject().value(QStringLiteral("hash")) == hash
            && m.toObject().value(QStringLiteral("description")) == aSet.value(QStringLiteral("UIMapName"));
    }));

    // Each side's only opponent entry is the other player's own request.
    QVERIFY(!aSpawn.contains(QStringLiteral("Other2")));
    const QJsonObject aOther = aSpawn.value(QStringLiteral("Other1")).toObject();
    const QJsonObject expected{{QStringLiteral("Name"), QStringLiteral("Bob")},
                               {QStringLiteral("IP"), QStringLiteral("198.51.100.7")},
                               {QStringLiteral("Port"), 51150},
                               {QStringLiteral("LanIP"), QStringLiteral("10.1.1.7")},
                               {QStringLiteral("LanPort"), 51151},
                               {QStringLiteral("IPv6"), QStringLiteral("2001:db8::51150")},
                               {QStringLiteral("PortV6"), 51152},
                               {QStringLiteral("Side"), 5},
                               {QStringLiteral("Color"), bSet.value(QStringLiteral("Color"))}};
    for (auto it = expected.begin(); it != expected.end(); ++it)
        QVERIFY2(aOther.value(it.key()) == it.value(), qPrintable(it.key()));
    QCOMPARE(bSpawn.value(QStringLiteral("Other1")).toObject().value(QStringLiteral("IP")).toString(), QStringLiteral("203.0.113.5"));

    QCOMPARE(sandbox.inspect().value(QStringLiteral("queue")).toArray().size(), 1); // BobTS still waits
    // A new request after the match queues afresh.
    QCOMPARE(type(send(sandbox, QStringLiteral("yr"), QStringLiteral("Alice"), "token-alice", aliceAsk)), QStringLiteral("please wait"));
}

void TestSandboxMatch::silentPlayersExpire()
{
    Sandbox sandbox;
    QVERIFY2(sandbox.start({QStringLiteral("--queue-timeout"), QStringLiteral("1")}), qPrintable(sandbox.errorText()));
    send(sandbox, QStringLiteral("yr"), QStringLiteral("Alice"), "token-alice", request(51000, 1));
    QCOMPARE(sandbox.inspect().value(QStringLiteral("queue")).toArray().size(), 1);
    // Alice stops polling; Bob must not be matched with her.
    QTRY_VERIFY_WITH_TIMEOUT(sandbox.inspect().value(QStringLiteral("queue")).toArray().isEmpty(), 5000);
    QCOMPARE(type(send(sandbox, QStringLiteral("yr"), QStringLiteral("Bob"), "token-bob", request(52000, 1))), QStringLiteral("please wait"));

    // Carol's request matches her with Bob, who never fetches his spawn: it
    // expires, and his next request queues him afresh, not into the old game.
    QCOMPARE(type(send(sandbox, QStringLiteral("yr"), QStringLiteral("Carol"), "token-carol", request(53000, 1))), QStringLiteral("spawn"));
    QCOMPARE(sandbox.inspect().value(QStringLiteral("pending")).toArray(), QJsonArray{QStringLiteral("yr/Bob")});
    QTRY_VERIFY_WITH_TIMEOUT(sandbox.inspect().value(QStringLiteral("pending")).toArray().isEmpty(), 5000);
    QCOMPARE(type(send(sandbox, QStringLiteral("yr"), QStringLiteral("Bob"), "token-bob", request(52000, 1))), QStringLiteral("please wait"));
}

void TestSandboxMatch::refusals()
{
    Sandbox sandbox;
    QVERIFY2(sandbox.start({QStringLiteral("--fatal-account"), QStringLiteral("Carol@sandbox.test")}), qPrintable(sandbox.errorText()));
    const QJsonObject ask = request(51000, 1);
    QJsonObject r = send(sandbox, QStringLiteral("yr"), QStringLiteral("Banned"), "token-banned", ask);
    QCOMPARE(type(r), QStringLiteral("fatal"));
    QCOMPARE(r.value(QStringLiteral("message")).toString(), QStringLiteral("Your account is suspended from the ladder."));
    r = send(sandbox, QStringLiteral("yr"), QStringLiteral("Carol"), "token-carol", ask);
    QCOMPARE(type(r), QStringLiteral("fatal"));
    QVERIFY(!r.value(QStringLiteral("message")).toString().isEmpty());

    // Alice's token cannot play as Bob; no token at all is refused outright.
    int status = 0;
    send(sandbox, QStringLiteral("yr"), QStringLiteral("Bob"), "token-alice", ask, &status);
    QCOMPARE(status, 403);
    send(sandbox, QStringLiteral("yr"), QStringLiteral("Alice"), QByteArray(), ask, &status);
    QCOMPARE(status, 401);
    send(sandbox, QStringLiteral("yr"), QStringLiteral("Alice"), "token-alice", QJsonObject{{QStringLiteral("type"), QStringLiteral("dance")}}, &status);
    QCOMPARE(status, 400);
    QVERIFY(sandbox.inspect().value(QStringLiteral("queue")).toArray().isEmpty());
}

void TestSandboxMatch::scriptedMatch()
{
    Sandbox probe;
    QVERIFY2(probe.start(), qPrintable(probe.errorText()));
    const QString lastMap = probe.get(QStringLiteral("/api/v1/zantry/ladder/ra/maps")).json().array().last().toObject().value(QStringLiteral("hash")).toString();
    probe.stop();

    Sandbox sandbox;
    QVERIFY2(sandbox.start({QStringLiteral("--game-id"), QStringLiteral("0"), QStringLiteral("--force-map"), lastMap,
                            QStringLiteral("--seed"), QStringLiteral("4242"), QStringLiteral("--checkback"), QStringLiteral("-1")}),
             qPrintable(sandbox.errorText()));
    const QJsonObject wait = send(sandbox, QStringLiteral("ra"), QStringLiteral("AliceRA"), "token-alice", request(1, 0));
    QCOMPARE(type(wait), QStringLiteral("please wait"));
    QVERIFY(!wait.contains(QStringLiteral("checkback")));
    QVERIFY(sandbox.control(QStringLiteral("checkback"), QStringLiteral("seconds=0")));
    const QJsonObject spawn = send(sandbox, QStringLiteral("ra"), QStringLiteral("BobRA"), "token-bob", request(2, 1));
    QCOMPARE(spawn.value(QStringLiteral("gameID")).toInt(-1), 0);
    const QJsonObject settings = spawn.value(QStringLiteral("spawn")).toObject().value(QStringLiteral("Settings")).toObject();
    QCOMPARE(settings.value(QStringLiteral("MapHash")).toString(), lastMap);
    QCOMPARE(settings.value(QStringLiteral("Seed")).toInt(), 4242);
    QCOMPARE(send(sandbox, QStringLiteral("ra"), QStringLiteral("BobRA"), "token-bob", request(2, 1)).value(QStringLiteral("checkback")).toInt(-1), 0);
}

QTEST_MAIN(TestSandboxMatch)
#include "tst_sandbox_match.moc"
