// One match's road through a real router on loopback, driven the way the
// window and the bot drive it. The road to a ready route is played by the
// flow's whole match and the end-to-end tests; here the rules and the
// roads off it.
#include "logcapture.h"
#include "net/matchrouting.h"
#include "routernode.h"
#include "testenv.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
const QString kMe = QStringLiteral("Alice");
const QString kOther = QStringLiteral("Bob");
} // namespace

class TestMatchRouting : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_env.isValid()); }
    void cleanup();
    void candidatesNeverPointAtOurselves_data();
    void candidatesNeverPointAtOurselves();
    void candidatesGoToTheirOwnPlayerOnly();
    void silentPeerEndsNotReachedAndResets();
    void skippedStatesStillTakeTheirSteps();

private:
    // Spawn information as the service client builds it: one peer with
    // candidate paths.
    static SpawnInfo spawnWith(const QList<IPEndpoint> &candidates);
    // Every signal of the routing object, in order, as words.
    QStringList *record(MatchRouting *routing);

    TestEnv m_env;
    QStringList m_events;
};

void TestMatchRouting::cleanup()
{
    Global::instance()->setRouter(nullptr);
    Global::instance()->setTunnelServers({});
    Global::instance()->setSpawnInfo(SpawnInfo());
    m_events.clear();
}

SpawnInfo TestMatchRouting::spawnWith(const QList<IPEndpoint> &candidates)
{
    SpawnInfo spawn;
    spawn.myID = nameHash(kMe);
    for (const IPEndpoint &ep : candidates)
        spawn.paths.insert(nameHash(kOther), NetworkPathPtr::create(ep, NetworkPath::SpawnCandidate));
    return spawn;
}

QStringList *TestMatchRouting::record(MatchRouting *routing)
{
    connect(routing, &MatchRouting::statusUpdate, this, [this](const QString &s) { m_events << QStringLiteral("status ") + s; });
    connect(routing, &MatchRouting::findStarted, this, [this]() { m_events << QStringLiteral("findStarted"); });
    connect(routing, &MatchRouting::findFinished, this, [this]() { m_events << QStringLiteral("findFinished"); });
    connect(routing, &MatchRouting::perfStarted, this, [this]() { m_events << QStringLiteral("perfStarted"); });
    connect(routing, &MatchRouting::networkReady, this, [this]() { m_events << QStringLiteral("networkReady"); });
    connect(routing, &MatchRouting::notReached, this, [this]() { m_events << QStringLiteral("notReached"); });
    return &m_events;
}

void TestMatchRouting::candidatesNeverPointAtOurselves_data()
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

void TestMatchRouting::candidatesNeverPointAtOurselves()
{
    QFETCH(QString, address);
    QFETCH(int, port);
    QFETCH(bool, usable);
    const IPEndpoint ep{QHostAddress(address), quint16(port)};
    QCOMPARE(MatchRouting::usableCandidate(ep, QHostAddress(QStringLiteral("192.168.1.5")), QHostAddress(QStringLiteral("203.0.113.5")),
                                           QHostAddress(QStringLiteral("2001:db8::5"))),
             usable);
}

void TestMatchRouting::candidatesGoToTheirOwnPlayerOnly()
{
    RouterNode me;
    QVERIFY(me.isValid());
    Global::instance()->setRouter(me.router());
    TunnelServerInfo tunnel;
    tunnel.address = QStringLiteral("127.0.0.1");
    tunnel.port = 9;
    Global::instance()->setTunnelServers({{tunnel.address, tunnel}});
    const quint32 bob = nameHash(kOther), carol = nameHash(QStringLiteral("Carol"));
    const IPEndpoint bobAt(QHostAddress(QStringLiteral("127.0.0.12")), 51143), carolAt(QHostAddress(QStringLiteral("127.0.0.13")), 51143);
    SpawnInfo spawn = spawnWith({bobAt});
    spawn.paths.insert(carol, NetworkPathPtr::create(carolAt, NetworkPath::SpawnCandidate));
    Global::instance()->setSpawnInfo(spawn);
    MatchRouting routing;
    connect(me.router(), &Router::stateChanged, &routing, &MatchRouting::tunnelStateChanged, Qt::QueuedConnection);
    const QStringList *events = record(&routing);
    QVERIFY(MatchRouting::beginMatch(m_env.path()));
    QTRY_VERIFY(events->contains(QStringLiteral("status Ready")));

    // Bob's address measured as a path to Carol would pass Bob's answers
    // off as hers, and her game's datagrams would go to Bob.
    const QList<IPEndpoint> toBob = me.router()->pathEndpoints(bob);
    const QList<IPEndpoint> toCarol = me.router()->pathEndpoints(carol);
    const IPEndpoint viaTunnel(QHostAddress::LocalHost, 9);
    QVERIFY(toBob.contains(bobAt) && !toBob.contains(carolAt) && toBob.contains(viaTunnel));
    QVERIFY(toCarol.contains(carolAt) && !toCarol.contains(bobAt) && toCarol.contains(viaTunnel));
    me.router()->setState(Router::NOTHING);
}

void TestMatchRouting::silentPeerEndsNotReachedAndResets()
{
    RouterNode me(RouterNode::fast());
    QVERIFY(me.isValid());
    TestSocket silent; // receives the flood, never answers
    Global::instance()->setRouter(me.router());
    Global::instance()->setSpawnInfo(spawnWith({silent.endpoint()}));
    MatchRouting routing;
    connect(me.router(), &Router::stateChanged, &routing, &MatchRouting::tunnelStateChanged, Qt::QueuedConnection);
    const QStringList *events = record(&routing);
    QVERIFY(MatchRouting::beginMatch(m_env.path()));

    QTRY_VERIFY_WITH_TIMEOUT(events->contains(QStringLiteral("notReached")), 10000);
    QCOMPARE(*events, (QStringList{"findStarted", "status Ready", "status NotReached", "notReached"}));
    QTRY_COMPARE(me.router()->state(), Router::NOTHING);
    QCOMPARE(me.router()->entryCount(), 0);
}

void TestMatchRouting::skippedStatesStillTakeTheirSteps()
{
    RouterNode me;
    QVERIFY(me.isValid());
    Global::instance()->setRouter(me.router());
    MatchRouting routing;
    connect(me.router(), &Router::stateChanged, &routing, &MatchRouting::tunnelStateChanged, Qt::QueuedConnection);
    const QStringList *events = record(&routing);
    LogCapture log;
    // The router moves on twice before the queued signals are delivered:
    // both deliveries read READY; the steps between are taken once each.
    me.router()->setState(Router::FLOOD);
    me.router()->setState(Router::REACHED);
    me.router()->setState(Router::PING);
    me.router()->setState(Router::READY);
    QTRY_COMPARE(log.count(QStringLiteral("Tunnelstate changed to: ")), 4);
    QCOMPARE(*events, (QStringList{"status Ready", "findFinished", "perfStarted", "status Reached"}));
}

QTEST_GUILESS_MAIN(TestMatchRouting)
#include "tst_matchrouting.moc"
