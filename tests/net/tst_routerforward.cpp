// The router's forwarding over real loopback sockets: the game's 16-bit ids
// widened and restored, drops, the game queue, hops, learned paths.
#include "logcapture.h"
#include "net/routerpacket.h"
#include "routernode.h"
#include "testenv.h"

#include <QtTest>

namespace {
constexpr quint32 kIdA = 0x00010003; // game id 3
constexpr quint32 kIdB = 0x00020007; // game id 7
} // namespace

class TestRouterForward : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_env.isValid()); }
    void idsRestoredEndToEndFullSizeIntact();
    void unknownReceiverDroppedAndCounted();
    void queuedForGameWhenReadyDeliveredFirst();
    void controlHopsAndReplies();
    void fortyByteDatagramWithoutMarkerForwarded();
    void newEndpointOfKnownPeerAddsPath();
    void shortDatagramsStayInsideTheirBytes();
    void randomSenderFloodIsBounded();

private:
    TestEnv m_env;
};

// game A -> router A -> router B -> game B, and back.
void TestRouterForward::idsRestoredEndToEndFullSizeIntact()
{
    RouterNode a, b;
    QVERIFY(a.isValid() && b.isValid());
    a.router()->setMyId(kIdA);
    a.router()->addPeer(kIdB);
    a.router()->addFloodPath(b.peerEndpoint(), NetworkPath::Direct);
    b.router()->setMyId(kIdB);
    b.router()->addPeer(kIdA);
    b.router()->addFloodPath(a.peerEndpoint(), NetworkPath::Direct);
    TestSocket gameA, gameB;
    const IPEndpoint toA(QHostAddress::LocalHost, a.gamePort());
    const IPEndpoint toB(QHostAddress::LocalHost, b.gamePort());

    // Each game introduces itself (its first datagram finds no game yet).
    gameB.send(gameDatagram(7, 3, "hello from B"), toB);
    QVERIFY(gameA.receive(200).isEmpty());
    gameA.send(gameDatagram(3, 7, "hello from A"), toA);
    QCOMPARE(gameB.receive(), gameDatagram(3, 7, "hello from A"));
    gameB.send(gameDatagram(7, 3, "reply"), toB);
    QCOMPARE(gameA.receive(), gameDatagram(7, 3, "reply"));

    // A full-size game datagram crosses intact.
    QByteArray payload(1276, '\0');
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i * 7);
    gameA.send(gameDatagram(3, 7, payload), toA);
    QCOMPARE(gameB.receive(), gameDatagram(3, 7, payload));
}

// An unknown receiver is dropped and counted; a known one goes out with the
// full 32-bit ids.
void TestRouterForward::unknownReceiverDroppedAndCounted()
{
    LogCapture log;
    RouterNode a;
    a.router()->setMyId(kIdA);
    a.router()->addPeer(kIdB);
    TestSocket peer;
    a.router()->addFloodPath(peer.endpoint(), NetworkPath::Direct);
    TestSocket game;
    game.send(gameDatagram(3, 9, "to nobody"), IPEndpoint(QHostAddress::LocalHost, a.gamePort()));
    QTRY_COMPARE(a.router()->counters().noRoute, quint64(1));
    QVERIFY(log.contains(QStringLiteral("No fib entry for peer id 0")));
    QVERIFY(peer.receive(200).isEmpty());
    // The known receiver still gets through.
    game.send(gameDatagram(3, 7, "to B"), IPEndpoint(QHostAddress::LocalHost, a.gamePort()));
    QCOMPARE(peer.receive(), routedDatagram(kIdA, kIdB, "to B"));
    QCOMPARE(a.router()->counters().noRoute, quint64(1));
}

void TestRouterForward::queuedForGameWhenReadyDeliveredFirst()
{
    LogCapture log;
    RouterNode b;
    b.router()->setMyId(kIdB);
    b.router()->addPeer(kIdA);
    TestSocket peerA, game;
    b.router()->addFloodPath(peerA.endpoint(), NetworkPath::Direct);
    const IPEndpoint routerB = b.peerEndpoint();

    // Before READY a datagram for the absent game is dropped with a log line.
    peerA.send(routedDatagram(kIdA, kIdB, "early"), routerB);
    QTRY_VERIFY(log.contains(QStringLiteral("dest is nullptr when trying to send packets to the game")));

    b.router()->setState(Router::READY);
    QTRY_COMPARE(b.router()->state(), Router::READY);
    peerA.send(routedDatagram(kIdA, kIdB, "q1"), routerB);
    peerA.send(routedDatagram(kIdA, kIdB, "q2"), routerB);
    QTest::qWait(100);
    QVERIFY(game.receive(50).isEmpty());
    // The game speaks first; the next datagram for it drains the queue ahead of itself.
    game.send(gameDatagram(7, 3, "here"), IPEndpoint(QHostAddress::LocalHost, b.gamePort()));
    QCOMPARE(peerA.receive(), routedDatagram(kIdB, kIdA, "here"));
    peerA.send(routedDatagram(kIdA, kIdB, "n3"), routerB);
    QCOMPARE(game.receive(), gameDatagram(3, 7, "q1"));
    QCOMPARE(game.receive(), gameDatagram(3, 7, "q2"));
    QCOMPARE(game.receive(), gameDatagram(3, 7, "n3"));
    QVERIFY(log.contains(QStringLiteral("Packets queued to game: 2")));
    QVERIFY(!log.contains(QStringLiteral("early")));
}

void TestRouterForward::controlHopsAndReplies()
{
    RouterNode a;
    a.router()->setMyId(kIdA);
    TestSocket peer, other;
    peer.setSkipControl(false);
    other.setSkipControl(false);
    const quint32 peerId = 0x00050005;

    peer.send(controlPacket(peerId, kIdA, Router::PING, 1, 777), a.peerEndpoint());
    QVERIFY(peer.receive(300).isEmpty());
    QCOMPARE(a.router()->counters().control, quint64(0));

    peer.send(controlPacket(peerId, kIdA, Router::PING, 2, 777), a.peerEndpoint());
    const QByteArray pong = peer.receive();
    QCOMPARE(pong, controlPacket(kIdA, peerId, Router::PONG, 2, 777));
    QCOMPARE(a.router()->counters().control, quint64(1));

    peer.send(controlPacket(peerId, kIdA, Router::FLOOD, 2, 99), a.peerEndpoint());
    QCOMPARE(peer.receive(), controlPacket(kIdA, peerId, Router::NULL_RESPONSE, 2, 99));
    QCOMPARE(a.router()->peerState(peerId), int(Router::FLOOD));

    peer.send(controlPacket(peerId, kIdA, Router::NULL_RESPONSE, 2, 99), a.peerEndpoint());
    QTRY_COMPARE(a.router()->counters().unhandled, quint64(1));

    // Not for this router: relayed to the receiver's path with one hop less.
    const quint32 otherId = 0x00060006;
    a.router()->addPeer(otherId);
    a.router()->addFloodPath(other.endpoint(), NetworkPath::Direct);
    peer.send(controlPacket(peerId, otherId, Router::PING, 3, 5), a.peerEndpoint());
    QCOMPARE(other.receive(), controlPacket(peerId, otherId, Router::PING, 2, 5));
}

void TestRouterForward::fortyByteDatagramWithoutMarkerForwarded()
{
    RouterNode b;
    b.router()->setMyId(kIdB);
    TestSocket game, peer;
    game.send(gameDatagram(7, 3, "hi"), IPEndpoint(QHostAddress::LocalHost, b.gamePort()));
    QTRY_VERIFY(b.router()->hasEntry(kIdB));
    const QByteArray payload(32, 'x');
    const QByteArray forty = routedDatagram(kIdA, kIdB, payload);
    QCOMPARE(forty.size(), 40);
    peer.send(forty, b.peerEndpoint());
    QCOMPARE(game.receive(), gameDatagram(3, 7, payload));
}

void TestRouterForward::newEndpointOfKnownPeerAddsPath()
{
    RouterNode b;
    b.router()->setMyId(kIdB);
    b.router()->addPeer(kIdA);
    TestSocket first, second;
    first.send(controlPacket(kIdA, kIdB, Router::KEEP_ALIVE), b.peerEndpoint());
    QTRY_COMPARE(b.router()->pathEndpoints(kIdA).size(), 1);
    second.send(routedDatagram(kIdA, 0, QByteArray()), b.peerEndpoint());
    QTRY_COMPARE(b.router()->pathEndpoints(kIdA).size(), 2);
    QVERIFY(b.router()->pathEndpoints(kIdA).contains(second.endpoint()));
    // The first path learned stays the best one.
    PeerRoute route;
    QVERIFY(b.router()->bestRoute(kIdA, &route));
    QCOMPARE(route.port, first.endpoint().port);
}

void TestRouterForward::shortDatagramsStayInsideTheirBytes()
{
    LogCapture log;
    RouterNode a;
    a.router()->setMyId(0); // my id 0: a short datagram's missing receiver reads as me
    TestSocket game, peer;
    game.send(gameDatagram(0, 0, "g"), IPEndpoint(QHostAddress::LocalHost, a.gamePort()));
    QCOMPARE(game.receive(), gameDatagram(0, 0, "g")); // to id 0: itself
    // From a peer, 5 and 7 bytes carry a sender but only part of a receiver
    // (read as 0: me); shorter ones have no sender of their own.
    for (int size : {0, 1, 3, 5, 7})
        peer.send(QByteArray(size, char(1)), a.peerEndpoint());
    // From the game, anything under its 4-byte header.
    for (int size : {0, 1, 2, 3})
        game.send(QByteArray(size, char(0)), IPEndpoint(QHostAddress::LocalHost, a.gamePort()));
    QTRY_COMPARE(log.count(QStringLiteral("-byte datagram for the game: shorter than its header")), 6);
    QVERIFY(game.collect(100).isEmpty());
    // Still serving.
    peer.send(routedDatagram(5, 0, "ok"), a.peerEndpoint());
    QCOMPARE(game.receive(), gameDatagram(5, 0, "ok"));
}

void TestRouterForward::randomSenderFloodIsBounded()
{
    RouterNode a;
    a.router()->setMyId(kIdA);
    TestSocket attacker;
    quint32 state = 12345;
    for (int i = 0; i < 6000; ++i) {
        state = state * 1664525u + 1013904223u;
        attacker.send(routedDatagram(state, kIdA ^ state, "junk"), a.peerEndpoint());
        if (i % 200 == 0)
            QCoreApplication::processEvents();
    }
    QTRY_VERIFY(a.router()->counters().refused > 0);
    QVERIFY(a.router()->entryCount() <= Router::kMaxLearnedEntries);
    QVERIFY(a.router()->entryCount() >= Router::kMaxLearnedEntries / 2);
}

QTEST_GUILESS_MAIN(TestRouterForward)
#include "tst_routerforward.moc"
