#include "api/ladder.h"
#include "api/player.h"
#include "testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QtTest>

namespace {

QJsonObject side(int id, int localId, const QString &name)
{
    return QJsonObject{{"id", id}, {"local_id", localId}, {"ladder_id", 1}, {"name", name}};
}

QJsonObject ladderJson(const QJsonArray &allowed)
{
    return QJsonObject{{"id", 1}, {"abbreviation", "yr"}, {"game", "yr"}, {"allowed_sides", allowed},
                       {"sides", QJsonArray{side(10, 0, "Allies"), side(11, 1, "Soviet"), side(12, 2, "Yuri"),
                                            side(13, -1, "Random")}}};
}

QJsonObject playerJson(int id = 42)
{
    return QJsonObject{{"id", id}, {"username", "neo"}, {"ladder_id", 1}};
}

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_env.reset(new TestEnv);
        m_ladder = new Ladder(ladderJson(QJsonArray{0, 1}), nullptr);
        m_player = new Player(playerJson(), nullptr);
        m_player->ladder = m_ladder;
    }
    void cleanup()
    {
        delete m_player;
        delete m_ladder;
        m_env.reset();
    }

    void sideFiltering()
    {
        // Allowed [0, 1]: local ids 0, 1 and -1 stay, 2 goes.
        QCOMPARE(m_ladder->sides.keys(), (QList<int>{10, 11, 13}));
        Ladder open(ladderJson(QJsonArray()), nullptr);
        QCOMPARE(open.sides.size(), 4);

        QJsonObject dup = ladderJson(QJsonArray());
        dup.insert("sides", QJsonArray{side(5, 0, "First"), side(5, 1, "Second"), "not an object"});
        Ladder twice(dup, nullptr);
        QCOMPARE(twice.sides.size(), 2); // the non-object becomes id 0, local id 0
        QCOMPARE(twice.sides.value(5)->name, QStringLiteral("Second"));
    }

    void sideTablesPersistPerSideAndPlayer()
    {
        m_player->setSide(10);
        QCOMPARE(m_player->currentSide()->name, QStringLiteral("Allies"));
        QCOMPARE(m_player->mapSides().size(), 128);

        m_player->setMapSide(4, 11); // a side id, stored as its local id
        m_player->setMapSide(5, -2);
        m_player->setMapSide(6, -3); // ignored
        QCOMPARE(m_player->mapSides().at(4).toInt(), 1);
        QCOMPARE(m_player->mapSides().at(5).toInt(), -2);
        QCOMPARE(m_player->mapSides().at(6).toInt(), -3);

        const QByteArray stored = QSettings().value("Allies42").toByteArray();
        QCOMPARE(QJsonDocument::fromJson(stored).array(), m_player->mapSides());

        // Another player with the same side name keeps a table of its own.
        Player other(playerJson(43), nullptr);
        other.ladder = m_ladder;
        other.setSide(10);
        QCOMPARE(other.mapSides().at(4).toInt(), -3);

        // A fresh object of the same player reads the table back.
        Player again(playerJson(), nullptr);
        again.ladder = m_ladder;
        again.setSide(10);
        QCOMPARE(again.mapSides().at(4).toInt(), 1);
        again.setSide(999);
        QVERIFY(!again.currentSide());
    }

    void setMapSideExtendsTheTable()
    {
        m_player->setSide(10);
        m_player->setMapSide(200, -1);
        const QJsonArray table = m_player->mapSides();
        QCOMPARE(table.size(), 201);
        QCOMPARE(table.at(200).toInt(), -1);
        QCOMPARE(table.at(150).toInt(), -3);

        // Bad indices change nothing rather than loop or allocate without end.
        m_player->setMapSide(-1, -1);
        m_player->setMapSide(Player::MaxMapIndex + 1, -1);
        m_player->setMapSide(3, 999); // no such side id
        QCOMPARE(m_player->mapSides(), table);
    }

    void mapSideFallsBackToTheCurrentSide()
    {
        m_player->setSide(11); // Soviet, local id 1
        m_player->setMapSide(0, -2);
        m_player->setMapSide(1, 10); // Allies, local id 0
        QCOMPARE(m_player->mapSide(0), -2);
        QCOMPARE(m_player->mapSide(1), 0);
        QCOMPARE(m_player->mapSide(2), -3);  // no choice passes through
        QCOMPARE(m_player->mapSide(500), -3); // past the end is no choice, not side 0

        // A stored local id the ladder no longer offers (2 was filtered out).
        QSettings().setValue("Soviet42", QByteArray("[2, -1]"));
        m_player->setSide(11);
        QCOMPARE(m_player->mapSide(0), 1);
        QCOMPARE(m_player->mapSide(1), -1);
    }

    void brokenStoredTableReadsEmpty()
    {
        QSettings().setValue("Allies42", QByteArray("{not json"));
        m_player->setSide(10);
        QCOMPARE(m_player->mapSides(), QJsonArray());
        QCOMPARE(m_player->mapSide(3), -3);
        m_player->setMapSide(2, -2);
        QCOMPARE(m_player->mapSides(), (QJsonArray{-3, -3, -2}));
    }

    void selectionDiesWithItsLadder()
    {
        m_player->setSide(10);
        delete m_ladder;
        m_ladder = nullptr;
        QVERIFY(!m_player->ladder);
        QVERIFY(!m_player->currentSide());
        QCOMPARE(m_player->mapSides(), QJsonArray());
        m_player->setMapSide(1, -1); // no side: nothing to store
        QCOMPARE(m_player->mapSide(1), -3);
    }

private:
    QScopedPointer<TestEnv> m_env;
    Ladder *m_ladder = nullptr;
    Player *m_player = nullptr;
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
