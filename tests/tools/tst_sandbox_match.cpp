#include "sandbox.h"

#include "spawn/spawninfo.h"

#include <QJsonArray>
#include <QtTest>

// The find-match exchange: queueing, matching, the "spawn" each player gets
// built from its opponents' requests, updates, quitting and the result upload.
class TestSandboxMatch : public QObject
{
    Q_OBJECT

private slots:
    void twoPlayersMatched();
    void fourPlayersMatched();
    void quitLeavesQueue();
    void silentPlayersExpire();
    void fatalAccounts();
    void updatesAndForeignPlayers();
    void scriptedMatch();
    void resultUploads();

private:
    static QJsonObject request(const QString &ip, int port, const QString &lan, int side, const QJsonArray &mapSides = {});
    static QJsonObject send(const Sandbox &sandbox, const QString &ladder, const QString &user, const QByteArray &token,
                            const QJsonObject &body, int *status = nullptr);
};

QJsonObject TestSandboxMatch::request(const QString &ip, int port, const QString &lan, int side, const QJsonArray &mapSides)
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
    const QJsonObject aliceAsk = request(QStringLiteral("203.0.113.5"), 51143, QStringLiteral("192.168.1.5"), 2, {-2, -3, -3, -3});
    QJsonObject bobAsk = request(QStringLiteral("198.51.100.7"), 51150, QStringLiteral("10.1.1.7"), 5);
    bobAsk.insert(QStringLiteral("map_bitfield"), 0x7fffffff & ~(1 << 2));

    const QJsonObject wait = send(sandbox, QStringLiteral("yr"), QStringLiteral("Alice"), "token-alice", aliceAsk);
    QCOMPARE(wait.value(QStringLiteral("type")).toString(), QStringLiteral("please wait"));
    QCOMPARE(wait.value(QStringLiteral("checkback")).toInt(), 3);
    QCOMPARE(sandbox.get(QStringLiteral("/api/v1/zantry/ladder/yr/stats")).json().object().value(QStringLiteral("queuedPlayers")).toInt(), 1);
    // Another ladder's queue does not count.
    QCOMPARE(send(sandbox, QStringLiteral("ts"), QStringLiteral("BobTS"), "token-bob", bobAsk).value(QStringLiteral("type")).toString(),
             QStringLiteral("please wait"));

    const QJsonObject bob = send(sandbox, QStringLiteral("yr"), QStringLiteral("Bob"), "token-bob", bobAsk);
    QCOMPARE(bob.value(QStringLiteral("type")).toString(), QStringLiteral("spawn"));
    const QJsonObject alice = send(sandbox, QStringLiteral("yr"), QStringLiteral("Alice"), "token-alice", aliceAsk);
    QCOMPARE(alice.value(QStringLiteral("type")).toString(), QStringLiteral("spawn"));

    QVERIFY(alice.value(QStringLiteral("gameID")).toInt() > 0);
    QCOMPARE(alice.value(QStringLiteral("gameID")), bob.value(QStringLiteral("gameID")));
    const QJsonObject aSpawn = alice.value(QStringLiteral("spawn")).toObject();
    const QJsonObject bSpawn = bob.value(QStringLiteral("spawn")).toObject();
    const QJsonObject aSet = aSpawn.value(QStringLiteral("Settings")).toObject();
    const QJsonObject bSet = bSpawn.value(QStringLiteral("Settings")).toObject();
    for (const char *shared : {"Seed", "MapHash", "UIMapName", "WOLGameID"})
        QCOMPARE(aSet.value(QLatin1String(shared)), bSet.value(QLatin1String(shared)));
    QVERIFY(aSet.value(QStringLiteral("Color")) != bSet.value(QStringLiteral("Color")));
    QCOMPARE(aSet.value(QStringLiteral("Port")).toInt(), int(nameHash(QStringLiteral("Alice")) & 0xffff));
    QCOMPARE(bSet.value(QStringLiteral("Port")).toInt(), int(nameHash(QStringLiteral("Bob")) & 0xffff));
    QCOMPARE(aSet.value(QStringLiteral("Side")).toInt(), 2);

    const QJsonArray maps = sandbox.get(QStringLiteral("/api/v1/zantry/ladder/yr/maps")).json().array();
    QVERIFY(aSet.value(QStringLiteral("MapHash")).toString() != maps.at(0).toObject().value(QStringLiteral("hash")).toString());
    QVERIFY(aSet.value(QStringLiteral("MapHash")).toString() != maps.at(2).toObject().value(QStringLiteral("hash")).toString());
    QVERIFY(std::any_of(maps.begin(), maps.end(), [&](const QJsonValue &m) {
        return m.toObject().value(QStringLiteral("hash")) == aSet.value(QStringLiteral("MapHash"))
            && m.toObject().value(QStringLiteral("description")) == aSet.value(QStringLiteral("UIMapName"));
    }));

    // Each side's only opponent entry is the other player's own request.
    QVERIFY(!aSpawn.contains(QStringLiteral("Other2")));
    const QJsonObject aOther = aSpawn.value(QStringLiteral("Other1")).toObject();
    QCOMPARE(aOther.value(QStringLiteral("Name")).toString(), QStringLiteral("Bob"));
    QCOMPARE(aOther.value(QStringLiteral("IP")).toString(), QStringLiteral("198.51.100.7"));
    QCOMPARE(aOther.value(QStringLiteral("Port")).toInt(), 51150);
    QCOMPARE(aOther.value(QStringLiteral("LanIP")).toString(), QStringLiteral("10.1.1.7"));
    QCOMPARE(aOther.value(QStringLiteral("LanPort")).toInt(), 51151);
    QCOMPARE(aOther.value(QStringLiteral("IPv6")).toString(), QStringLiteral("2001:db8::51150"));
    QCOMPARE(aOther.value(QStringLiteral("PortV6")).toInt(), 51152);
    QCOMPARE(aOther.value(QStringLiteral("Side")).toInt(), 5);
    QCOMPARE(aOther.value(QStringLiteral("Color")), bSet.value(QStringLiteral("Color")));
    const QJsonObject bOther = bSpawn.value(QStringLiteral("Other1")).toObject();
    QCOMPARE(bOther.value(QStringLiteral("Name")).toString(), QStringLiteral("Alice"));
    QCOMPARE(bOther.value(QStringLiteral("IP")).toString(), QStringLiteral("203.0.113.5"));
    QCOMPARE(aSpawn.value(QStringLiteral("SpawnLocations")), bSpawn.value(QStringLiteral("SpawnLocations")));

    const QJsonObject state = sandbox.inspect();
    QCOMPARE(state.value(QStringLiteral("matches")).toArray().size(), 1);
    QCOMPARE(state.value(QStringLiteral("queue")).toArray().size(), 1); // BobTS still waits
    QCOMPARE(sandbox.get(QStringLiteral("/api/v1/zantry/ladder/yr/stats")).json().object().value(QStringLiteral("recentMatches")).toInt(), 1);

    // A new request after the match queues afresh.
    QCOMPARE(send(sandbox, QStringLiteral("yr"), QStringLiteral("Alice"), "token-alice", aliceAsk).value(QStringLiteral("type")).toString(),
             QStringLiteral("please wait"));
}

void TestSandboxMatch::fourPlayersMatched()
{
    Sandbox sandbox;
    QVERIFY2(sandbox.start({QStringLiteral("--players"), QStringLiteral("4")}), qPrintable(sandbox.errorText()));
    const QStringList names{QStringLiteral("Alice"), QStringLiteral("Bob"), QStringLiteral("Carol"), QStringLiteral("Dave")};
    QHash<QString, QJsonObject> spawns;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < names.size(); ++i) {
            if (spawns.contains(names.at(i)))
                continue;
            const QByteArray token = "token-" + names.at(i).toLower().toUtf8();
            const QJsonObject r = send(sandbox, QStringLiteral("yr"), names.at(i), token,
                                       request(QStringLiteral("127.0.0.%1").arg(i + 1), 50000 + 10 * i, QString(), 0));
            if (r.value(QStringLiteral("type")).toString() == QLatin1String("spawn"))
                spawns.insert(names.at(i), r.value(QStringLiteral("spawn")).toObject());
            else
                QVERIFY(round == 0 && i < 3);
        }
    }
    QCOMPARE(spawns.size(), 4);
    for (const QString &name : names) {
        const QJsonObject spawn = spawns.value(name);
        QSet<QString> others;
        for (int n = 1; n <= 3; ++n) {
            const QJsonObject other = spawn.value(QStringLiteral("Other%1").arg(n)).toObject();
            const QString otherName = other.value(QStringLiteral("Name")).toString();
            others.insert(otherName);
            const int index = int(names.indexOf(otherName));
            QCOMPARE(other.value(QStringLiteral("IP")).toString(), QStringLiteral("127.0.0.%1").arg(index + 1));
            QCOMPARE(other.value(QStringLiteral("Port")).toInt(), 50000 + 10 * index);
            // The helper's sandbox keeps loopback addresses only; ports stay.
            QCOMPARE(other.value(QStringLiteral("IPv6")).toString(), QString());
            QCOMPARE(other.value(QStringLiteral("PortV6")).toInt(), 50002 + 10 * index);
            QCOMPARE(other.value(QStringLiteral("Color")), spawns.value(otherName).value(QStringLiteral("Settings")).toObject().value(QStringLiteral("Color")));
        }
        QVERIFY(!spawn.contains(QStringLiteral("Other4")));
        QCOMPARE(others, QSet<QString>(names.cbegin(), names.cend()) - QSet<QString>{name});
        QSet<int> starts;
        const QJsonObject locations = spawn.value(QStringLiteral("SpawnLocations")).toObject();
        for (int n = 1; n <= 4; ++n)
            starts.insert(locations.value(QStringLiteral("Multi%1").arg(n)).toInt(-1));
        QCOMPARE(starts, (QSet<int>{0, 1, 2, 3}));
    }
}

void TestSandboxMatch::quitLeavesQueue()
{
    Sandbox sandbox;
    QVERIFY2(sandbox.start(), qPrintable(sandbox.errorText()));
    send(sandbox, QStringLiteral("yr"), QStringLiteral("Alice"), "token-alice", request(QStringLiteral("127.0.0.1"), 51000, QString(), 1));
    const QJsonObject quit{{QStringLiteral("type"), QStringLiteral("quit")}, {QStringLiteral("version"), QStringLiteral("1.62")}};
    int status = 0;
    QCOMPARE(send(sandbox, QStringLiteral("yr"), QStringLiteral("Alice"), "token-alice", quit, &status).value(QStringLiteral("type")).toString(),
             QStringLiteral("quit"));
    QCOMPARE(status, 200);
    const QJsonObject state = sandbox.inspect();
    QVERIFY(state.value(QStringLiteral("queue")).toArray().isEmpty());
    QCOMPARE(state.value(QStringLiteral("quits")).toArray().size(), 1);
    // Bob now waits alone.
    QCOMPARE(send(sandbox, QStringLiteral("yr"), QStringLiteral("Bob"), "token-bob", request(QStringLiteral("127.0.0.1"), 52000, QString(), 1))
                 .value(QStringLiteral("type")).toString(),
             QStringLiteral("please wait"));
}

void TestSandboxMatch::silentPlayersExpire()
{
    Sandbox sandbox;
    QVERIFY2(sandbox.start({QStringLiteral("--queue-timeout"), QStringLiteral("1")}), qPrintable(sandbox.errorText()));
    send(sandbox, QStringLiteral("yr"), QStringLiteral("Alice"), "token-alice", request(QStringLiteral("127.0.0.1"), 51000, QString(), 1));
    QCOMPARE(sandbox.inspect().value(QStringLiteral("queue")).toArray().size(), 1);
    // Alice stops polling; Bob must not be matched with her.
    QTRY_VERIFY_WITH_TIMEOUT(sandbox.inspect().value(QStringLiteral("queue")).toArray().isEmpty(), 5000);
    QCOMPARE(send(sandbox, QStringLiteral("yr"), QStringLiteral("Bob"), "token-bob", request(QStringLiteral("127.0.0.1"), 52000, QString(), 1))
                 .value(QStringLiteral("type")).toString(),
             QStringLiteral("please wait"));

    // Carol's request matches her with Bob, who never fetches his spawn: it
    // expires, and his next request queues him afresh, not into the old game.
    const QJsonObject carolAsk = request(QStringLiteral("127.0.0.1"), 53000, QString(), 1);
    QCOMPARE(send(sandbox, QStringLiteral("yr"), QStringLiteral("Carol"), "token-carol", carolAsk).value(QStringLiteral("type")).toString(),
             QStringLiteral("spawn"));
    QCOMPARE(sandbox.inspect().value(QStringLiteral("pending")).toArray(), QJsonArray{QStringLiteral("yr/Bob")});
    QTRY_VERIFY_WITH_TIMEOUT(sandbox.inspect().value(QStringLiteral("pending")).toArray().isEmpty(), 5000);
    QCOMPARE(send(sandbox, QStringLiteral("yr"), QStringLiteral("Bob"), "token-bob", request(QStringLiteral("127.0.0.1"), 52000, QString(), 1))
                 .value(QStringLiteral("type")).toString(),
             QStringLiteral("please wait"));
}

void TestSandboxMatch::fatalAccounts()
{
    Sandbox sandbox;
    QVERIFY2(sandbox.start({QStringLiteral("--fatal-account"), QStringLiteral("Carol@sandbox.test")}), qPrintable(sandbox.errorText()));
    const QJsonObject ask = request(QStringLiteral("127.0.0.1"), 51000, QString(), 1);
    QJsonObject r = send(sandbox, QStringLiteral("yr"), QStringLiteral("Banned"), "token-banned", ask);
    QCOMPARE(r.value(QStringLiteral("type")).toString(), QStringLiteral("fatal"));
    QCOMPARE(r.value(QStringLiteral("message")).toString(), QStringLiteral("Your account is suspended from the ladder."));
    r = send(sandbox, QStringLiteral("yr"), QStringLiteral("Carol"), "token-carol", ask);
    QCOMPARE(r.value(QStringLiteral("type")).toString(), QStringLiteral("fatal"));
    QVERIFY(!r.value(QStringLiteral("message")).toString().isEmpty());
    QVERIFY(sandbox.inspect().value(QStringLiteral("queue")).toArray().isEmpty());
}

void TestSandboxMatch::updatesAndForeignPlayers()
{
    Sandbox sandbox;
    QVERIFY2(sandbox.start(), qPrintable(sandbox.errorText()));
    const QJsonObject update{{QStringLiteral("type"), QStringLiteral("update")},
                             {QStringLiteral("version"), QStringLiteral("1.62")},
                             {QStringLiteral("status"), QStringLiteral("Reached")},
                             {QStringLiteral("seed"), 77},
                             {QStringLiteral("peers"), QJsonArray{QJsonObject{{QStringLiteral("id"), QStringLiteral("12345")},
                                                                              {QStringLiteral("address"), QStringLiteral("127.0.0.1")},
                                                                              {QStringLiteral("port"), 51143},
                                                                              {QStringLiteral("rtt"), 12}}}}};
    int status = 0;
    send(sandbox, QStringLiteral("yr"), QStringLiteral("Zoë"), "token-zoe", update, &status);
    QCOMPARE(status, 200);
    const QJsonArray updates = sandbox.inspect().value(QStringLiteral("updates")).toArray();
    QCOMPARE(updates.size(), 1);
    QCOMPARE(updates.at(0).toObject().value(QStringLiteral("username")).toString(), QStringLiteral("Zoë"));
    QCOMPARE(updates.at(0).toObject().value(QStringLiteral("status")).toString(), QStringLiteral("Reached"));
    QCOMPARE(updates.at(0).toObject().value(QStringLiteral("request")).toObject().value(QStringLiteral("peers")), update.value(QStringLiteral("peers")));

    // Alice's token cannot play as Bob; no token at all is refused outright.
    send(sandbox, QStringLiteral("yr"), QStringLiteral("Bob"), "token-alice", request(QStringLiteral("127.0.0.1"), 1, QString(), 1), &status);
    QCOMPARE(status, 403);
    send(sandbox, QStringLiteral("yr"), QStringLiteral("Alice"), QByteArray(), request(QStringLiteral("127.0.0.1"), 1, QString(), 1), &status);
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
    const QJsonObject wait = send(sandbox, QStringLiteral("ra"), QStringLiteral("AliceRA"), "token-alice", request(QStringLiteral("127.0.0.1"), 1, QString(), 0));
    QCOMPARE(wait.value(QStringLiteral("type")).toString(), QStringLiteral("please wait"));
    QVERIFY(!wait.contains(QStringLiteral("checkback")));
    QVERIFY(sandbox.control(QStringLiteral("checkback"), QStringLiteral("seconds=0")));
    const QJsonObject spawn = send(sandbox, QStringLiteral("ra"), QStringLiteral("BobRA"), "token-bob", request(QStringLiteral("127.0.0.1"), 2, QString(), 1));
    QCOMPARE(spawn.value(QStringLiteral("gameID")).toInt(-1), 0);
    const QJsonObject settings = spawn.value(QStringLiteral("spawn")).toObject().value(QStringLiteral("Settings")).toObject();
    QCOMPARE(settings.value(QStringLiteral("MapHash")).toString(), lastMap);
    QCOMPARE(settings.value(QStringLiteral("Seed")).toInt(), 4242);
    QCOMPARE(send(sandbox, QStringLiteral("ra"), QStringLiteral("BobRA"), "token-bob", request(QStringLiteral("127.0.0.1"), 2, QString(), 1))
                 .value(QStringLiteral("checkback")).toInt(-1),
             0);
}

void TestSandboxMatch::resultUploads()
{
    Sandbox sandbox;
    QVERIFY2(sandbox.start(), qPrintable(sandbox.errorText()));
    const QByteArray stats("STATS\0\x01\x02\xff", 9);
    auto upload = [&](const QString &path, const QByteArray &token) {
        QHttpMultiPart multi(QHttpMultiPart::FormDataType);
        QHttpPart part;
        part.setRawHeader("Content-Disposition", "form-data; name=\"file\"; filename=\"stats.dmp\"");
        part.setHeader(QNetworkRequest::ContentTypeHeader, "application/octet-stream");
        part.setBody(stats);
        multi.append(part);
        return sandbox.post(QStringLiteral("/api/v1") + path, &multi, token).status;
    };
    QCOMPARE(upload(QStringLiteral("/result/yr/Alice/12/10"), "token-alice"), 200);
    QCOMPARE(upload(QStringLiteral("/result/ladder/1/game/4294967295/player/101/pings/7/0"), "token-alice"), 200);
    QCOMPARE(upload(QStringLiteral("/result/yr/Alice/1/1"), "token-nobody"), 401);

    const QJsonArray results = sandbox.inspect().value(QStringLiteral("results")).toArray();
    QCOMPARE(results.size(), 3);
    const QJsonObject shortForm = results.at(0).toObject();
    QCOMPARE(shortForm.value(QStringLiteral("form")).toString(), QStringLiteral("short"));
    QCOMPARE(shortForm.value(QStringLiteral("ladder")).toString(), QStringLiteral("yr"));
    QCOMPARE(shortForm.value(QStringLiteral("username")).toString(), QStringLiteral("Alice"));
    QCOMPARE(shortForm.value(QStringLiteral("pingSent")).toInt(), 12);
    QCOMPARE(shortForm.value(QStringLiteral("pingReceived")).toInt(), 10);
    const QJsonObject file = shortForm.value(QStringLiteral("parts")).toArray().at(0).toObject();
    QCOMPARE(file.value(QStringLiteral("name")).toString(), QStringLiteral("file"));
    QCOMPARE(file.value(QStringLiteral("fileName")).toString(), QStringLiteral("stats.dmp"));
    QCOMPARE(QByteArray::fromBase64(file.value(QStringLiteral("base64")).toString().toLatin1()), stats);
    QVERIFY(file.value(QStringLiteral("headers")).toArray().contains(
        QStringLiteral("Content-Disposition: form-data; name=\"file\"; filename=\"stats.dmp\"")));

    const QJsonObject longForm = results.at(1).toObject();
    QCOMPARE(longForm.value(QStringLiteral("form")).toString(), QStringLiteral("long"));
    QCOMPARE(longForm.value(QStringLiteral("gameId")).toDouble(), 4294967295.0);
    QCOMPARE(longForm.value(QStringLiteral("ladderId")).toInt(), 1);
    QCOMPARE(longForm.value(QStringLiteral("playerId")).toInt(), 101);
    QCOMPARE(longForm.value(QStringLiteral("pingSent")).toInt(), 7);
    QCOMPARE(longForm.value(QStringLiteral("pingReceived")).toInt(), 0);
}

QTEST_MAIN(TestSandboxMatch)
#include "tst_sandbox_match.moc"
