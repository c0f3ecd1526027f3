// The time-out pass: keep-alives on quiet paths only, stale paths and empty
// entries removed, nothing removed while flooding, a route kept through a
// silent game load.
#include "logcapture.h"
#include "net/routerpacket.h"
#include "routernode.h"
#include "testenv.h"
#include "tunnel.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>

namespace {
// The time-out pass's keep-alive: a KEEP_ALIVE control packet for the peer.
bool isKeepAlive(const QByteArray &d, quint32 sender, quint32 receiver)
{
    return d.size() == RouterPacket::kControlSize
           && d.left(20) == controlPacket(sender, receiver, Router::KEEP_ALIVE).left(20);
}
} // namespace

class TestRouterTimeout : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_env.isValid()); }
    void keepAliveOnQuietPathsOnly();
    void nothingRemovedWhileFlooding();
    void routeOutlivesSilentLoadUntilPeerGoes();

private:
    TestEnv m_env;
};

void TestRouterTimeout::keepAliveOnQuietPathsOnly()
{
    LogCapture log;
    RouterNode node(RouterNode::fast());
    Router *r = node.router();
    const quint32 me = 0x00010001, peer = 0x00020002;
    TestSocket busy, quiet, game;
    busy.setSkipKeepAlives(false);
    quiet.setSkipKeepAlives(false);
    game.setSkipKeepAlives(false);
    r->setMyId(me);
    r->addPeer(peer);
    r->addFloodPath(busy.endpoint(), NetworkPath::Direct);
    r->addFloodPath(quiet.endpoint(), NetworkPath::Tunnel);
    r->setState(Router::FIB_READY);
    // The quiet path has been heard from once, so it is not stale yet.
    quiet.send(routedDatagram(peer, me, "once"), node.peerEndpoint());

    const IPEndpoint toRouter(QHostAddress::LocalHost, node.gamePort());
    int busyKeepAlives = 0, busyData = 0, quietKeepAlives = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 500) {
        game.send(gameDatagram(1, 2, "tick"), toRouter);
        for (const QByteArray &d : busy.collect(20)) {
            busyKeepAlives += isKeepAlive(d, me, peer);
            busyData += d == routedDatagram(me, peer, "tick");
        }
        for (const QByteArray &d : quiet.collect(1))
            quietKeepAlives += isKeepAlive(d, me, peer);
    }
    QVERIFY(busyData > 10);
    QCOMPARE(busyKeepAlives, 0);
    QVERIFY2(quietKeepAlives >= 3, qPrintable(QString::number(quietKeepAlives)));
    // The game's own entry gets none.
    for (const QByteArray &d : game.collect(150))
        QVERIFY(!isKeepAlive(d, me, me));
    QVERIFY(log.contains(QStringLiteral("Keeping peer path alive %1 %2").arg(peer).arg(quiet.endpoint().toString())));

    // The peer's own keep-alives (receiver 0) hold the quiet path open; once
    // they stop, never sent to, it goes after the path time-out.
    const int pathTimeout = RouterNode::fastTiming().pathTimeout;
    for (clock.restart(); r->pathEndpoints(peer).contains(quiet.endpoint()) && clock.elapsed() < 5 * pathTimeout;) {
        game.send(gameDatagram(1, 2, "tick"), toRouter);
        if (clock.elapsed() < 2 * pathTimeout)
            quiet.send(routedDatagram(peer, 0, QByteArray()), node.peerEndpoint());
        QTest::qWait(50);
    }
    QVERIFY2(clock.elapsed() > 2 * pathTimeout, "removed while its peer kept it alive");
    QVERIFY(!r->pathEndpoints(peer).contains(quiet.endpoint()));
    QVERIFY(log.contains(QStringLiteral("Removing entry: ") + quiet.endpoint().toString()));
    QVERIFY(r->pathEndpoints(peer).contains(busy.endpoint()));
    // With the game silent the last path goes, and the entry with it.
    QTRY_VERIFY_WITH_TIMEOUT(!r->hasEntry(peer), 3000);
}

void TestRouterTimeout::nothingRemovedWhileFlooding()
{
    RouterNode node(RouterNode::fast());
    Router *r = node.router();
    const quint32 me = 1, peer = 2, stranger = 3;
    TestSocket peerSocket, strangerSocket;
    node.startMatch(me, {peer}, {{peerSocket.endpoint(), NetworkPath::Direct}});
    // Learned from a keep-alive: never received for (receiver 0), never sent to.
    strangerSocket.send(routedDatagram(stranger, 0, QByteArray()), node.peerEndpoint());
    QTRY_VERIFY(r->hasEntry(stranger));
    QTest::qWait(RouterNode::fastTiming().pathTimeout + 300);
    QCOMPARE(r->state(), Router::FLOOD);
    QVERIFY(r->hasEntry(stranger));
    r->setState(Router::NOT_REACHED);
    QTRY_VERIFY(!r->hasEntry(stranger));
}

// Both games load in silence for four path time-outs (a minute at the real
// 15 s); the keep-alives alone must hold the route through the tunnel.
void TestRouterTimeout::routeOutlivesSilentLoadUntilPeerGoes()
{
    TunnelProcess tunnel;
    QVERIFY2(tunnel.start(), qPrintable(tunnel.errorText()));
    const IPEndpoint relay(QHostAddress(tunnel.address()), tunnel.relayPort());
    const quint32 idA = 0x00110001, idB = 0x00220002;
    RouterNode a(RouterNode::fast(true));
    auto b = std::make_unique<RouterNode>(RouterNode::fast(true));
    a.startMatch(idA, {idB}, {{relay, NetworkPath::Tunnel}});
    b->startMatch(idB, {idA}, {{relay, NetworkPath::Tunnel}});
    QTRY_COMPARE_WITH_TIMEOUT(a.router()->state(), Router::FIB_READY, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(b->router()->state(), Router::FIB_READY, 10000);
    QTest::qWait(4 * RouterNode::fastTiming().pathTimeout + 200);

    TestSocket gameA, gameB;
    const IPEndpoint toA(QHostAddress::LocalHost, a.gamePort()), toB(QHostAddress::LocalHost, b->gamePort());
    gameA.send(gameDatagram(1, 2, "a1"), toA);
    gameB.send(gameDatagram(2, 1, "b1"), toB);
    QCOMPARE(gameA.receive(), gameDatagram(2, 1, "b1"));
    gameA.send(gameDatagram(1, 2, "a2"), toA);
    QCOMPARE(gameB.receive(), gameDatagram(1, 2, "a1"));
    QCOMPARE(gameB.receive(), gameDatagram(1, 2, "a2"));

    b.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!a.router()->hasEntry(idB), 4 * RouterNode::fastTiming().pathTimeout);
}

QTEST_GUILESS_MAIN(TestRouterTimeout)
#include "tst_routertimeout.moc"
