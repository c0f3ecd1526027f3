// The service's answers read into records: the per-side map tables kept in
// the settings, and the match built from a "spawn" answer.
#include "api/ladder.h"
#include "api/player.h"
#include "api/spawnreply.h"
#include "testenv.h"

#include <QtTest>

namespace {

QJsonObject side(int id, int localId, const QString &name)
{
    return QJsonObject{{"id", id}, {"local_id", localId}, {"ladder_id", 1}, {"name", name}};
}

QJsonObject ladderJson(const QJsonArray &allowed)
{
    return QJsonObject{{"id", 1}, {"abbreviation", "yr"}, {"allowed_sides", allowed},
                       {"sides", QJsonArray{side(10, 0, "Allies"), side(11, 1, "Soviet"), side(12, 2, "Yuri"), side(13, -1, "Random")}}};
}

QJsonObject other(const QString &name, const QString &ip, int port)
{
    return QJsonObject{{"Name", name}, {"IP", ip}, {"Port", port}, {"Side", 1}};
}

QJsonObject reply(const QJsonObject &spawn)
{
    return QJsonObject{{"type", "spawn"}, {"gameID", 123456}, {"spawn", spawn}};
}

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<Ladder> m_ladder;
    std::unique_ptr<Player> m_player;

    static Player *playerOn(Ladder *ladder, int id = 42)
    {
        auto *player = new Player(QJsonObject{{"id", id}, {"username", "neo"}, {"ladder_id", 1}}, nullptr);
        player->ladder = ladder;
        return player;
    }

private slots:
    void init()
    {
        m_env.reset(new TestEnv);
        m_ladder.reset(new Ladder(ladderJson(QJsonArray{0, 1}), nullptr));
        m_player.reset(playerOn(m_ladder.get()));
    }
    void cleanup()
    {
        m_player.reset();
        m_ladder.reset();
        m_env.reset();
    }

    // Choices stored as local ids per side and player; wild indices from
    // the service change nothing rather than allocate without end.
    void sideTablesPerSideAndPlayer()
    {
        m_player->setSide(10);
        m_player->setMapSide(4, 11);
        m_player->setMapSide(200, -1);
        const QJsonArray table = m_player->mapSides();
        QVERIFY(table.size() == 201 && table.at(4).toInt() == 1 && table.at(150).toInt() == -3);
        m_player->setMapSide(-1, -1);
        m_player->setMapSide(Player::MaxMapIndex + 1, -1);
        m_player->setMapSide(3, 999); // no such side id
        QCOMPARE(m_player->mapSides(), table);
        std::unique_ptr<Player> other(playerOn(m_ladder.get(), 43));
        other->setSide(10);
        QCOMPARE(other->mapSides().at(4).toInt(), -3);
    }

    // Each game's port derives from its player's name, not the one sent;
    // ports outside 16 bits leave the candidate out, the player in.
    void spawnAnswerIdsAndPorts()
    {
        const QJsonObject spawn{{"Settings", QJsonObject{{"Seed", 99}, {"GameID", 5}}}, {"Other1", other("abc", "10.0.0.2", 70000)},
                                {"Other3", other("", "10.0.0.3", -1)}, {"Other8", other("ignored", "10.0.0.8", 1)}};
        const SpawnInfo info = spawnInfoFromReply(reply(spawn), QStringLiteral("abc"), true);
        // The game id at the top level, not the one in Settings.
        QVERIFY(info.seed == 99 && info.gameID == 123456 && info.myID == 807794786u);
        QCOMPARE(info.others.keys(), (QStringList{"Other1", "Other3"}));
        QCOMPARE(info.paths.uniqueKeys(), (QList<quint32>{0u, 807794786u}));
        QVERIFY(info.others.value("Other1").value("Port").toInt() == 63586 && info.others.value("Other3").value("Port").toInt() == 0);
        QVERIFY(info.paths.value(807794786u)->type == NetworkPath::SpawnCandidate && info.paths.value(807794786u)->endpoint.isNull());

        // Members of the wrong kinds read as their defaults.
        const SpawnInfo odd = spawnInfoFromReply(
            reply({{"Other1", QJsonObject{{"Name", 5}, {"IP", QJsonArray()}, {"Port", "80"}}}, {"Other2", 17}}), "me", true);
        QVERIFY(odd.paths.uniqueKeys() == QList<quint32>{0u} && odd.paths.first()->endpoint.port == 0);
        const SpawnInfo garbage = spawnInfoFromReply(QJsonObject{{"spawn", "text"}, {"gameID", "x"}}, QString(), true);
        QVERIFY(garbage.others.isEmpty() && garbage.paths.isEmpty() && garbage.gameID == 0);
    }

    // With peer to peer up to three paths per player, one of them the spawn
    // candidate; without, one null path each.
    void spawnAnswerPathsWithAndWithoutPeerToPeer()
    {
        const auto player = [](const char *name, const char *ip, const char *v6, const char *lan, int lanPort) {
            QJsonObject o = other(QLatin1String(name), QLatin1String(ip), 5000);
            o.insert("IPv6", v6);
            o.insert("PortV6", 5001);
            o.insert("LanIP", lan);
            o.insert("LanPort", lanPort);
            return o;
        };
        const QJsonObject answer = reply({{"Other2", player("zed", "203.0.113.9", "2001:db8::9", "192.168.1.9", 5002)},
                                          {"Other5", player("amy", "", "2001:db8::7", "192.168.1.7", 65536)}});
        const SpawnInfo info = spawnInfoFromReply(answer, "me", true);
        QSet<QString> endpoints;
        int spawnKinds = 0;
        for (const NetworkPathPtr &p : info.paths.values(nameHash("zed"))) {
            endpoints.insert(p->toString());
            spawnKinds += p->type == NetworkPath::SpawnCandidate;
        }
        QCOMPARE(endpoints, (QSet<QString>{"203.0.113.9:5000", "2001:db8::9:5001", "192.168.1.9:5002"}));
        QCOMPARE(spawnKinds, 1);
        QCOMPARE(info.paths.values(nameHash("amy")).size(), 2); // empty "IP" a null path, no LAN past 16 bits

        const SpawnInfo closed = spawnInfoFromReply(answer, "me", false);
        QCOMPARE(closed.paths.size(), 2);
        QVERIFY(closed.paths.first()->endpoint.addr.isNull() && closed.paths.last()->endpoint.addr.isNull());
        QCOMPARE(closed.paths.value(nameHash("zed"))->endpoint.port, quint16(5000));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
