#include "api/spawnreply.h"

#include <QJsonArray>
#include <QtTest>

namespace {

QJsonObject other(const QString &name, const QString &ip, int port)
{
    return QJsonObject{{"Name", name}, {"IP", ip}, {"Port", port}, {"Side", 1}};
}

QJsonObject reply(const QJsonObject &spawn)
{
    return QJsonObject{{"type", "spawn"}, {"gameID", 123456}, {"spawn", spawn}};
}

} // namespace

class TestSpawnReply : public QObject
{
    Q_OBJECT
private slots:
    // Each game's port is derived from its player's name, not the one sent.
    void idsAndPorts()
    {
        QJsonObject spawn{{"Settings", QJsonObject{{"Seed", 99}, {"GameID", 5}}},
                          {"Other1", other("abc", "10.0.0.2", 70000)},
                          {"Other3", other("", "10.0.0.3", -1)},
                          {"Other8", other("ignored", "10.0.0.8", 1)}};
        const SpawnInfo info = spawnInfoFromReply(reply(spawn), QStringLiteral("abc"), true);
        QCOMPARE(info.seed, 99);
        QCOMPARE(info.gameID, 123456); // top level, not the one in Settings
        QCOMPARE(info.myID, 807794786u);

        // Only 1 and 3 are present; keys beyond 7 are never looked at.
        QCOMPARE(info.others.keys(), (QStringList{"Other1", "Other3"}));
        QCOMPARE(info.paths.uniqueKeys(), (QList<quint32>{0u, 807794786u}));
        QCOMPARE(info.others.value("Other1").value("Port").toInt(), 63586);
        QCOMPARE(info.others.value("Other3").value("Port").toInt(), 0);
        QCOMPARE(info.others.value("Other1").value("Side").toInt(), 1); // the rest kept as sent

        // Ports outside 16 bits leave the candidate out, the player in.
        const NetworkPathPtr path = info.paths.value(807794786u);
        QCOMPARE(path->type, int(NetworkPath::SpawnCandidate));
        QVERIFY(path->endpoint.isNull());
        QVERIFY(info.paths.value(0u)->endpoint.isNull());
    }

    // With peer to peer up to three paths per player, one of them the spawn
    // candidate; without, one null path each.
    void pathsWithAndWithoutPeerToPeer()
    {
        QJsonObject o = other("zed", "203.0.113.9", 5000);
        o.insert("IPv6", "2001:db8::9");
        o.insert("PortV6", 5001);
        o.insert("LanIP", "192.168.1.9");
        o.insert("LanPort", 5002);
        QJsonObject v6Only = other("amy", "", 6000);
        v6Only.insert("IPv6", "2001:db8::7");
        v6Only.insert("PortV6", 6001);
        v6Only.insert("LanIP", "192.168.1.7");
        v6Only.insert("LanPort", 65536);
        const QJsonObject answer = reply({{"Other2", o}, {"Other5", v6Only}});
        const SpawnInfo info = spawnInfoFromReply(answer, "me", true);

        QList<NetworkPathPtr> zed = info.paths.values(nameHash("zed"));
        QCOMPARE(zed.size(), 3);
        QSet<QString> endpoints;
        int spawnKinds = 0;
        for (const NetworkPathPtr &p : zed) {
            endpoints.insert(p->toString());
            spawnKinds += p->type == NetworkPath::SpawnCandidate;
        }
        QCOMPARE(endpoints, (QSet<QString>{"203.0.113.9:5000", "2001:db8::9:5001", "192.168.1.9:5002"}));
        QCOMPARE(spawnKinds, 1);
        const QList<NetworkPathPtr> amy = info.paths.values(nameHash("amy"));
        QCOMPARE(amy.size(), 2); // empty "IP" still gives a (null) path, a "LanPort" past 16 bits none

        const SpawnInfo closed = spawnInfoFromReply(answer, "me", false);
        QCOMPARE(closed.paths.size(), 2);
        for (const NetworkPathPtr &p : closed.paths)
            QVERIFY(p->endpoint.addr.isNull());
        QCOMPARE(closed.paths.value(nameHash("zed"))->endpoint.port, quint16(5000));
    }

    void garbageGivesAnEmptyMatch()
    {
        const SpawnInfo info = spawnInfoFromReply(QJsonObject{{"spawn", "text"}, {"gameID", "x"}}, QString(), true);
        QVERIFY(info.others.isEmpty());
        QVERIFY(info.paths.isEmpty());
        QCOMPARE(info.gameID, 0);
        QCOMPARE(info.myID, 0u);

        // Members of the wrong kinds read as their defaults.
        const QJsonObject odd{{"Name", 5}, {"IP", QJsonArray()}, {"Port", "80"}};
        const SpawnInfo oddInfo = spawnInfoFromReply(reply({{"Other1", odd}, {"Other2", 17}}), "me", true);
        QCOMPARE(oddInfo.paths.size(), 2);
        QCOMPARE(oddInfo.paths.uniqueKeys(), (QList<quint32>{0u}));
        QCOMPARE(oddInfo.paths.first()->endpoint.port, quint16(0));
    }
};

QTEST_GUILESS_MAIN(TestSpawnReply)
#include "tst_spawnreply.moc"
