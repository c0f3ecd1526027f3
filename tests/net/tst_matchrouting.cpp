// One match's road through a real router on loopback, driven the way the
// window and the bot drive it: which candidates become paths, and the
// router's states turned into the session's steps even when the queued
// signals skip some. The whole road is played by the match tests.
#include "net/matchrouting.h"
#include "routernode.h"
#include "testenv.h"

#include <QtTest>

class TestMatchRouting : public QObject
{
    Q_OBJECT

    TestEnv m_env;
    QStringList m_events;

    // Every signal of the routing object, in order, as words.
    void record(MatchRouting *routing, Router *router)
    {
        connect(router, &Router::stateChanged, routing, &MatchRouting::tunnelStateChanged, Qt::QueuedConnection);
        connect(routing, &MatchRouting::statusUpdate, this, [this](const QString &s) { m_events << QStringLiteral("status ") + s; });
        connect(routing, &MatchRouting::findFinished, this, [this]() { m_events << QStringLiteral("findFinished"); });
        connect(routing, &MatchRouting::perfStarted, this, [this]() { m_events << QStringLiteral("perfStarted"); });
    }

private slots:
    void cleanup()
    {
        m_events.clear();
    }

    void candidatesNeverPointAtOurselves_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::addColumn<bool>("usable");
        QTest::newRow("other IPv4") << "198.51.100.7" << 51143 << true;
        QTest::newRow("own LAN address") << "192.168.1.5" << 51143 << false;
        QTest::newRow("own public address") << "203.0.113.5" << 51143 << false;
        QTest::newRow("global IPv6") << "2001:db8::7" << 51143 << true;
        QTest::newRow("global IPv6 without port") << "2001:db8::7" << 0 << false;
        QTest::newRow("own IPv6") << "2001:db8::5" << 51143 << false;
        QTest::newRow("link-local IPv6") << "fe80::1" << 51143 << false;
        QTest::newRow("unique-local IPv6") << "fd00::7" << 51143 << false;
    }
    void candidatesNeverPointAtOurselves()
    {
        QFETCH(QString, address);
        QFETCH(int, port);
        QFETCH(bool, usable);
        QCOMPARE(MatchRouting::usableCandidate({QHostAddress(address), quint16(port)}, QHostAddress(QStringLiteral("192.168.1.5")),
                                               QHostAddress(QStringLiteral("203.0.113.5")), QHostAddress(QStringLiteral("2001:db8::5"))),
                 usable);
    }

    // Bob's address measured as a path to Carol would pass Bob's answers
    // off as hers, and her game's datagrams would go to Bob; the tunnel is
    // a path to both. The spawn file points the game at the router.
    void candidatesGoToTheirOwnPlayerOnly()
    {
        RouterNode me;
        TunnelServerInfo tunnel;
        tunnel.address = QStringLiteral("127.0.0.1");
        tunnel.port = 9;
        me.network()->setTunnelServers({{tunnel.address, tunnel}});
        const quint32 bob = nameHash(QStringLiteral("Bob")), carol = nameHash(QStringLiteral("Carol"));
        const IPEndpoint bobAt(QHostAddress(QStringLiteral("127.0.0.12")), 51143), carolAt(QHostAddress(QStringLiteral("127.0.0.13")), 51143);
        SpawnInfo spawn;
        spawn.myID = nameHash(QStringLiteral("Alice"));
        spawn.paths.insert(bob, NetworkPathPtr::create(bobAt, NetworkPath::SpawnCandidate));
        spawn.paths.insert(carol, NetworkPathPtr::create(carolAt, NetworkPath::SpawnCandidate));
        MatchRouting routing(me.network());
        routing.setRouter(me.router());
        record(&routing, me.router());
        QVERIFY(routing.beginMatch(m_env.path(), spawn));
        QTRY_VERIFY(m_events.contains(QStringLiteral("status Ready")));
        const IPEndpoint viaTunnel(QHostAddress::LocalHost, 9);
        const QList<IPEndpoint> toBob = me.router()->pathEndpoints(bob), toCarol = me.router()->pathEndpoints(carol);
        QVERIFY(toBob.contains(bobAt) && !toBob.contains(carolAt) && toBob.contains(viaTunnel));
        QVERIFY(toCarol.contains(carolAt) && !toCarol.contains(bobAt) && toCarol.contains(viaTunnel));
        const QSettings ini(m_env.filePath(QStringLiteral("spawn.ini")), QSettings::IniFormat);
        QCOMPARE(ini.value(QStringLiteral("Tunnel/IP")).toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(ini.value(QStringLiteral("Tunnel/Port")).toInt(), int(me.gamePort()));
        me.router()->setState(Router::NOTHING);
    }

    // The router moves on twice before the queued signals are delivered:
    // both deliveries read READY; the steps between are taken once each.
    void skippedStatesStillTakeTheirSteps()
    {
        RouterNode me;
        MatchRouting routing(me.network());
        routing.setRouter(me.router());
        record(&routing, me.router());
        for (const auto state : {Router::FLOOD, Router::REACHED, Router::PING, Router::READY})
            me.router()->setState(state);
        QTRY_COMPARE(m_events, (QStringList{"status Ready", "findFinished", "perfStarted", "status Reached"}));
        QTest::qWait(50);
        QCOMPARE(m_events.size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestMatchRouting)
#include "tst_matchrouting.moc"
