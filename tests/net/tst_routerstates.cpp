// The router's state machine against real routers through tools/tunnel and
// against scripted peers, with shortened phase timers.
#include "logcapture.h"
#include "net/routerpacket.h"
#include "routernode.h"
#include "testenv.h"
#include "tunnel.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>
#include <vector>

namespace {
quint32 typeOf(const QByteArray &d)
{
    return d.size() == RouterPacket::kControlSize ? RouterPacket::read32(d.constData(), d.size(), 12) : 0xFFFFFFFFu;
}
} // namespace

class TestRouterStates : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_env.isValid()); }
    void threeRoutersReachFibReadyThroughTunnel();
    void silentPeerGivesNotReached();
    void peerStillFloodingHoldsPingBack();
    void readySentOnBestPathOnly();
    void lowerIdsChoiceAdopted();

private:
    TestEnv m_env;
};

void TestRouterStates::threeRoutersReachFibReadyThroughTunnel()
{
    const int players = 3;
    TunnelProcess tunnel;
    QVERIFY2(tunnel.start(), qPrintable(tunnel.errorText()));
    const IPEndpoint relay(QHostAddress(tunnel.address()), tunnel.relayPort());

    std::vector<std::unique_ptr<RouterNode>> nodes;
    QList<quint32> ids;
    for (int i = 0; i < players; ++i) {
        nodes.push_back(std::make_unique<RouterNode>(RouterNode::fast(true)));
        QVERIFY(nodes.back()->isValid());
        ids << (0x00100000u * quint32(i + 1) + quint32(i + 1)); // game ids 1, 2, 3
    }
    for (int i = 0; i < players; ++i) {
        QList<quint32> peers = ids;
        peers.removeAt(i);
        nodes[size_t(i)]->startMatch(ids[i], peers, {{relay, NetworkPath::Tunnel}});
    }
    for (auto &node : nodes)
        QTRY_COMPARE_WITH_TIMEOUT(node->router()->state(), Router::FIB_READY, 15000);
    for (int i = 0; i < players; ++i) {
        for (int j = 0; j < players; ++j) {
            if (i == j)
                continue;
            PeerRoute route;
            QVERIFY(nodes[size_t(i)]->router()->bestRoute(ids[j], &route));
            QCOMPARE(route.port, relay.port);
            QCOMPARE(nodes[size_t(i)]->router()->peerState(ids[j]) >= int(Router::READY), true);
        }
    }

}

void TestRouterStates::silentPeerGivesNotReached()
{
    RouterNode a(RouterNode::fast(true)), b(RouterNode::fast(true));
    TestSocket silent; // a path to a peer that never answers
    const quint32 idA = 1, idB = 2, idC = 3;
    QElapsedTimer clock;
    clock.start();
    a.startMatch(idA, {idB, idC}, {{b.peerEndpoint(), 0}, {silent.endpoint(), 0}});
    b.startMatch(idB, {idA, idC}, {{a.peerEndpoint(), 0}, {silent.endpoint(), 0}});
    QTRY_COMPARE_WITH_TIMEOUT(a.router()->state(), Router::NOT_REACHED, 10000);
    const qint64 took = clock.elapsed();
    // Qt's coarse timers may fire up to 5 % early.
    QVERIFY2(took >= RouterNode::fastTiming().floodTimeout * 94 / 100, qPrintable(QString::number(took)));
    // B was heard from, C never.
    QCOMPARE(a.router()->peerState(idB), int(Router::FLOOD));
    QCOMPARE(a.router()->peerState(idC), 0);
    QTRY_COMPARE(b.router()->state(), Router::NOT_REACHED);
}

// A scripted peer: the router reaches it but it keeps reporting FLOOD.
void TestRouterStates::peerStillFloodingHoldsPingBack()
{
    LogCapture log;
    RouterNode a(RouterNode::fast());
    TestSocket peer;
    peer.setSkipControl(false);
    const quint32 me = 10, p = 20;
    a.startMatch(me, {p}, {{peer.endpoint(), 0}});
    a.router()->setState(Router::FLOOD); // again: changes nothing
    QCOMPARE(log.count(QStringLiteral("New state = FLOOD")), 1);

    // Flood packets arrive at the peer on its path.
    const QByteArray flood = peer.receive();
    QCOMPARE(flood.mid(0, 8), routedDatagram(me, p, QByteArray()));
    QCOMPARE(typeOf(flood), quint32(Router::FLOOD));

    peer.send(controlPacket(p, me, Router::FLOOD), a.peerEndpoint());
    QTRY_COMPARE(a.router()->state(), Router::REACHED);
    QTRY_VERIFY(log.contains(QStringLiteral("Peer not reached: 20")));
    QTest::qWait(RouterNode::fastTiming().pingDelay * 4);
    QCOMPARE(a.router()->state(), Router::REACHED);

    peer.send(controlPacket(p, me, Router::REACHED), a.peerEndpoint());
    QTRY_VERIFY(log.contains(QStringLiteral("Setting peer 20 to REACHED")));
    QTRY_COMPARE(a.router()->state(), Router::PING);
    // In PING the peer's pings are answered with pongs carrying their time.
    peer.send(controlPacket(p, me, Router::PING, 2, 4242), a.peerEndpoint());
    QByteArray got;
    for (int i = 0; i < 50 && typeOf(got) != Router::PONG; ++i)
        got = peer.receive();
    QCOMPARE(got, controlPacket(me, p, Router::PONG, 2, 4242));
}

void TestRouterStates::readySentOnBestPathOnly()
{
    RouterNode a(RouterNode::fast());
    TestSocket best, other;
    best.setSkipControl(false);
    other.setSkipControl(false);
    const quint32 me = 10, p = 20;
    a.startMatch(me, {p}, {{best.endpoint(), 0}, {other.endpoint(), 1}});
    // FLOOD goes out on every path.
    QCOMPARE(typeOf(best.receive()), quint32(Router::FLOOD));
    QCOMPARE(typeOf(other.receive()), quint32(Router::FLOOD));

    a.router()->setState(Router::READY);
    QTRY_COMPARE(a.router()->state(), Router::READY);
    best.collect(60);
    other.collect(60);
    int readyOnBest = 0, readyOnOther = 0;
    for (const QByteArray &d : best.collect(200))
        readyOnBest += typeOf(d) == Router::READY;
    for (const QByteArray &d : other.collect(50))
        readyOnOther += typeOf(d) == Router::READY;
    QVERIFY(readyOnBest >= 2);
    QCOMPARE(readyOnOther, 0);
    QTRY_COMPARE(a.router()->state(), Router::FIB_READY);
}

void TestRouterStates::lowerIdsChoiceAdopted()
{
    LogCapture log;
    RouterNode a(RouterNode::fast());
    TestSocket low1, low2, high1, high2;
    const quint32 me = 100, low = 50, high = 200;
    a.startMatch(me, {low, high}, {});
    // As the session flow hands them over from the match's spawn information.
    a.router()->addFloodPath(NetworkPathPtr(new NetworkPath(low1.endpoint(), NetworkPath::Direct)));
    a.router()->addFloodPath(NetworkPathPtr(new NetworkPath(low2.endpoint(), NetworkPath::Direct)));
    a.router()->addFloodPath(NetworkPathPtr());
    QTRY_VERIFY(log.contains(QStringLiteral("addFloodPath: attempted to add a null path")));
    PeerRoute route;
    QVERIFY(a.router()->bestRoute(low, &route));
    QCOMPARE(route.port, low1.endpoint().port);
    QVERIFY(a.router()->bestRoute(high, &route));
    QCOMPARE(route.port, low1.endpoint().port); // every peer shares the flood paths

    // The lower id's READY on its second path moves my best path there.
    low2.send(controlPacket(low, me, Router::READY), a.peerEndpoint());
    QTRY_VERIFY(a.router()->bestRoute(low, &route) && route.port == low2.endpoint().port);
    QVERIFY(log.contains(QStringLiteral("Updating bestPath for 50 to 127.0.0.1:%1").arg(low2.endpoint().port)));
    // The higher id's READY changes nothing.
    high2.send(controlPacket(high, me, Router::READY), a.peerEndpoint());
    QTRY_COMPARE(a.router()->peerState(high), int(Router::READY));
    QVERIFY(a.router()->bestRoute(high, &route));
    QCOMPARE(route.port, low1.endpoint().port);
    // An equal endpoint is no update.
    const int updates = log.count(QStringLiteral("Updating bestPath"));
    low2.send(controlPacket(low, me, Router::READY), a.peerEndpoint());
    QTest::qWait(100);
    QCOMPARE(log.count(QStringLiteral("Updating bestPath")), updates);
}

QTEST_GUILESS_MAIN(TestRouterStates)
#include "tst_routerstates.moc"
