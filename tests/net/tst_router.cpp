// The router over real sockets on loopback (IPv4 and IPv6), against other
// routers, the tunnel stand-in and scripted peers, with shortened timers:
// forwarding, the state machine, path choice, keep-alives and time-outs,
// and the public-address query.
#include "net/pathselection.h"
#include "net/routerpacket.h"
#include "routernode.h"
#include "testenv.h"
#include "tunnel.h"

#include <QtTest>

#include <memory>
#include <vector>

namespace {

constexpr quint32 kIdA = 0x00010003; // game id 3
constexpr quint32 kIdB = 0x00020007; // game id 7

IPEndpoint gameEnd(const RouterNode &node)
{
    return IPEndpoint(QHostAddress::LocalHost, node.gamePort());
}

NetworkPathPtr path(quint16 port, int type, int pings, int pongs, int rttSum)
{
    NetworkPathPtr p(new NetworkPath(IPEndpoint(QHostAddress::LocalHost, port), type));
    p->pings = pings;
    p->pongs = pongs;
    p->rttSum = rttSum;
    return p;
}

QByteArray publicReply(const char *address, quint16 port)
{
    return RouterPacket::publicAddressReply(QHostAddress(QLatin1String(address)), port);
}

// A scripted peer's router for ms: answers each ping with its pong (and
// with a stray pong the router never asked for), or stays silent.
void answerPings(TestSocket &peer, const IPEndpoint &router, int ms, bool answer)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        const QByteArray d = peer.receive(int(qMax<qint64>(1, deadline.remainingTime())));
        const RouterPacket::Header h = RouterPacket::Header::read(d.constData(), d.size());
        if (!answer || !h.isControl() || h.type != Router::PING)
            continue;
        peer.send(controlPacket(h.receiver, h.sender, Router::PONG, 2, h.time), router);
        peer.send(controlPacket(h.receiver, h.sender, Router::PONG, 2, h.time + 1), router);
    }
}

// Game datagrams cross between two routers' games within ms.
bool gamesExchange(const RouterNode &a, const RouterNode &b, TestSocket &gameA, TestSocket &gameB, int ms)
{
    QDeadlineTimer deadline(ms);
    bool toA = false, toB = false;
    while (!(toA && toB) && !deadline.hasExpired()) {
        gameA.send(gameDatagram(1, 2, "a"), gameEnd(a));
        gameB.send(gameDatagram(2, 1, "b"), gameEnd(b));
        toB = toB || gameB.receive(50) == gameDatagram(1, 2, "a");
        toA = toA || gameA.receive(50) == gameDatagram(2, 1, "b");
    }
    return toA && toB;
}

} // namespace

class TestRouter : public QObject
{
    Q_OBJECT

    TestEnv m_env;

private slots:
    void idsRestoredEndToEnd_data()
    {
        QTest::addColumn<bool>("v6");
        QTest::newRow("IPv4") << false;
        QTest::newRow("IPv6") << true;
    }
    // game A -> router A -> router B -> game B and back; a full-size game
    // datagram crosses intact, over IPv4 or the IPv6 socket.
    void idsRestoredEndToEnd()
    {
        QFETCH(bool, v6);
        RouterNode::Options options;
        options.v6Address = QHostAddress(QHostAddress::LocalHostIPv6);
        RouterNode a(options), b(options);
        QVERIFY(a.isValid() && b.isValid() && a.peerEndpointV6().port && b.peerEndpointV6().port);
        a.router()->setMyId(kIdA);
        a.router()->addPeer(kIdB);
        a.router()->addFloodPath(v6 ? b.peerEndpointV6() : b.peerEndpoint(), NetworkPath::Direct);
        b.router()->setMyId(kIdB);
        b.router()->addPeer(kIdA);
        b.router()->addFloodPath(v6 ? a.peerEndpointV6() : a.peerEndpoint(), NetworkPath::Direct);
        TestSocket gameA, gameB;
        // Each game introduces itself (its first datagram finds no game yet).
        gameB.send(gameDatagram(7, 3, "hello from B"), gameEnd(b));
        QVERIFY(gameA.receive(200).isEmpty());
        gameA.send(gameDatagram(3, 7, "hello from A"), gameEnd(a));
        QCOMPARE(gameB.receive(), gameDatagram(3, 7, "hello from A"));
        gameB.send(gameDatagram(7, 3, "reply"), gameEnd(b));
        QCOMPARE(gameA.receive(), gameDatagram(7, 3, "reply"));
        QByteArray payload(1276, '\0');
        for (int i = 0; i < payload.size(); ++i)
            payload[i] = char(i * 7);
        gameA.send(gameDatagram(3, 7, payload), gameEnd(a));
        QCOMPARE(gameB.receive(), gameDatagram(3, 7, payload));
    }

    // An unknown receiver is dropped and counted; a known one goes out with
    // the full 32-bit ids; a 40-byte datagram without the marker is data.
    void unknownReceiverDroppedAndFortyBytesForwarded()
    {
        RouterNode a;
        a.router()->setMyId(kIdA);
        a.router()->addPeer(kIdB);
        TestSocket peer, game;
        a.router()->addFloodPath(peer.endpoint(), NetworkPath::Direct);
        game.send(gameDatagram(3, 9, "to nobody"), gameEnd(a));
        QTRY_COMPARE(a.router()->counters().noRoute, quint64(1));
        QVERIFY(peer.receive(200).isEmpty());
        game.send(gameDatagram(3, 7, "to B"), gameEnd(a));
        QCOMPARE(peer.receive(), routedDatagram(kIdA, kIdB, "to B"));
        const QByteArray forty = routedDatagram(kIdB, kIdA, QByteArray(32, 'x'));
        QCOMPARE(forty.size(), 40);
        peer.send(forty, a.peerEndpoint());
        QCOMPARE(game.receive(), gameDatagram(7, 3, QByteArray(32, 'x')));
        QCOMPARE(a.router()->counters().noRoute, quint64(1));
    }

    // Before READY a datagram for the absent game is dropped; from READY it
    // waits, and reaches the game in order once the game has spoken.
    void queuedForGameWhenReadyDeliveredFirst()
    {
        RouterNode b;
        b.router()->setMyId(kIdB);
        b.router()->addPeer(kIdA);
        TestSocket peerA, game;
        b.router()->addFloodPath(peerA.endpoint(), NetworkPath::Direct);
        peerA.send(routedDatagram(kIdA, kIdB, "early"), b.peerEndpoint());
        QTest::qWait(100);
        b.router()->setState(Router::READY);
        QTRY_COMPARE(b.router()->state(), Router::READY);
        peerA.send(routedDatagram(kIdA, kIdB, "q1"), b.peerEndpoint());
        peerA.send(routedDatagram(kIdA, kIdB, "q2"), b.peerEndpoint());
        QTest::qWait(100);
        QVERIFY(game.receive(50).isEmpty());
        game.send(gameDatagram(7, 3, "here"), gameEnd(b));
        QCOMPARE(peerA.receive(), routedDatagram(kIdB, kIdA, "here"));
        peerA.send(routedDatagram(kIdA, kIdB, "n3"), b.peerEndpoint());
        for (const char *expected : {"q1", "q2", "n3"})
            QCOMPARE(game.receive(), gameDatagram(3, 7, expected));
    }

    void controlHopsAndReplies()
    {
        RouterNode a;
        a.router()->setMyId(kIdA);
        TestSocket peer, other;
        peer.setSkipControl(false);
        other.setSkipControl(false);
        const quint32 peerId = 0x00050005, otherId = 0x00060006;
        peer.send(controlPacket(peerId, kIdA, Router::PING, 1, 777), a.peerEndpoint());
        QVERIFY(peer.receive(300).isEmpty()); // no hops left
        QCOMPARE(a.router()->counters().control, quint64(0));
        peer.send(controlPacket(peerId, kIdA, Router::PING, 2, 777), a.peerEndpoint());
        QCOMPARE(peer.receive(), controlPacket(kIdA, peerId, Router::PONG, 2, 777));
        peer.send(controlPacket(peerId, kIdA, Router::FLOOD, 2, 99), a.peerEndpoint());
        QCOMPARE(peer.receive(), controlPacket(kIdA, peerId, Router::NULL_RESPONSE, 2, 99));
        QCOMPARE(a.router()->peerState(peerId), int(Router::FLOOD));
        peer.send(controlPacket(peerId, kIdA, Router::NULL_RESPONSE, 2, 99), a.peerEndpoint());
        QTRY_COMPARE(a.router()->counters().unhandled, quint64(1));
        // Not for this router: relayed to the receiver's path with one hop less.
        a.router()->addPeer(otherId);
        a.router()->addFloodPath(other.endpoint(), NetworkPath::Direct);
        peer.send(controlPacket(peerId, otherId, Router::PING, 3, 5), a.peerEndpoint());
        QCOMPARE(other.receive(), controlPacket(peerId, otherId, Router::PING, 2, 5));
    }

    // Replies go back the way the request came, not on the best path (here
    // the first candidate, which nobody listens on): each path is measured
    // by its own answers.
    void repliesReturnOnTheRequestsPath()
    {
        RouterNode a;
        a.router()->setMyId(kIdA);
        a.router()->addPeer(kIdB);
        TestSocket dead, live;
        dead.setSkipControl(false);
        live.setSkipControl(false);
        a.router()->addFloodPath(dead.endpoint(), NetworkPath::Direct);
        a.router()->addFloodPath(live.endpoint(), NetworkPath::Direct);
        for (const auto type : {Router::FLOOD, Router::REACHED, Router::PING}) {
            live.send(controlPacket(kIdB, kIdA, type, 2, 777), a.peerEndpoint());
            QCOMPARE(live.receive(), controlPacket(kIdA, kIdB, type == Router::PING ? Router::PONG : Router::NULL_RESPONSE, 2, 777));
        }
        QVERIFY(dead.receive(100).isEmpty());
    }

    void peerThatNeverPongsIsNotReached_data()
    {
        QTest::addColumn<bool>("answers");
        QTest::newRow("answers its pings") << true;
        QTest::newRow("never answers") << false;
    }
    // A peer whose state packets arrive but who answers no ping ends the
    // route as not reached, not as a match in which nothing crosses. One who
    // answers gets the answering path, whatever came first, and its stray
    // pongs make no loss negative.
    void peerThatNeverPongsIsNotReached()
    {
        QFETCH(bool, answers);
        RouterNode a(RouterNode::fast());
        TestSocket dead, live;
        live.setSkipControl(false);
        a.startMatch(kIdA, {kIdB}, {{dead.endpoint(), NetworkPath::Direct}, {live.endpoint(), NetworkPath::Direct}});
        live.send(controlPacket(kIdB, kIdA, Router::REACHED), a.peerEndpoint());
        QTRY_COMPARE(a.router()->state(), Router::PING);
        answerPings(live, a.peerEndpoint(), RouterNode::fastTiming().pingTime + 200, answers);
        if (!answers) {
            QTRY_COMPARE(a.router()->state(), Router::NOT_REACHED);
            return;
        }
        QTRY_VERIFY(a.router()->state() >= Router::READY);
        QCOMPARE(a.router()->state() == Router::NOT_REACHED, false);
        PeerRoute route;
        QVERIFY(a.router()->bestRoute(kIdB, &route) && route.port == live.endpoint().port);
        RouteReport report;
        a.run([&]() { report = a.router()->routeReport(); });
        QCOMPARE(report.peers.size(), 1);
        QVERIFY2(report.peers.first().lossPct >= 0 && report.peers.first().lossPct < 50, qPrintable(QString::number(report.peers.first().lossPct)));
        QVERIFY(report.peers.first().rtt >= 0 && report.peers.first().rtt < 100);
    }

    // During the game the path in use goes dead (its tunnel stops): both
    // routers move to the other tunnel, which still carries keep-alives, and
    // the games hear each other again.
    void silentBestPathLeftForOneThatHears()
    {
        TunnelProcess one, two;
        QVERIFY2(one.start() && two.start(), qPrintable(one.errorText() + two.errorText()));
        const IPEndpoint relayOne(QHostAddress(one.address()), one.relayPort());
        const IPEndpoint relayTwo(QHostAddress(two.address()), two.relayPort());
        const quint32 idA = 0x00110001, idB = 0x00220002;
        RouterNode a(RouterNode::fast(true)), b(RouterNode::fast(true));
        a.startMatch(idA, {idB}, {{relayOne, NetworkPath::Tunnel}, {relayTwo, NetworkPath::Tunnel}});
        b.startMatch(idB, {idA}, {{relayOne, NetworkPath::Tunnel}, {relayTwo, NetworkPath::Tunnel}});
        QTRY_COMPARE_WITH_TIMEOUT(a.router()->state(), Router::FIB_READY, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(b.router()->state(), Router::FIB_READY, 10000);
        TestSocket gameA, gameB;
        QVERIFY(gamesExchange(a, b, gameA, gameB, 2000));
        PeerRoute before;
        QVERIFY(a.router()->bestRoute(idB, &before));
        (before.port == relayOne.port ? one : two).stop();
        QVERIFY(gamesExchange(a, b, gameA, gameB, 5 * RouterNode::fastTiming().failoverSilence));
        PeerRoute afterA, afterB;
        QVERIFY(a.router()->bestRoute(idB, &afterA) && b.router()->bestRoute(idA, &afterB));
        QVERIFY(afterA.port != before.port && afterB.port == afterA.port);
    }

    // A peer heard from before the match names it (its flood came first)
    // becomes a peer with the path it came on; a new endpoint of it is one
    // more path, the first staying the best.
    void peerHeardBeforeItIsNamed()
    {
        RouterNode b;
        b.router()->setMyId(kIdB);
        TestSocket first, second;
        first.send(routedDatagram(kIdA, 0, QByteArray()), b.peerEndpoint());
        QTRY_VERIFY(b.router()->hasEntry(kIdA));
        b.router()->addPeer(kIdA);
        second.send(routedDatagram(kIdA, 0, QByteArray()), b.peerEndpoint());
        QTRY_COMPARE(b.router()->pathEndpoints(kIdA).size(), 2);
        PeerRoute route;
        QVERIFY(b.router()->bestRoute(kIdA, &route) && route.port == first.endpoint().port);
    }

    void randomSenderFloodIsBounded()
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

    // Every peer shares the flood paths (a null one is refused); the lower
    // id's READY on another path moves my best path there, so both ends use
    // one route; the higher id's does not.
    void lowerIdsChoiceAdopted()
    {
        RouterNode a(RouterNode::fast());
        TestSocket low1, low2, high2;
        const quint32 me = 100, low = 50, high = 200;
        a.startMatch(me, {low, high}, {});
        a.router()->addFloodPath(NetworkPathPtr(new NetworkPath(low1.endpoint(), NetworkPath::Direct)));
        a.router()->addFloodPath(NetworkPathPtr(new NetworkPath(low2.endpoint(), NetworkPath::Direct)));
        a.router()->addFloodPath(NetworkPathPtr());
        QTRY_COMPARE(a.router()->pathEndpoints(high).size(), 2);
        PeerRoute route;
        low2.send(controlPacket(low, me, Router::READY), a.peerEndpoint());
        QTRY_VERIFY(a.router()->bestRoute(low, &route) && route.port == low2.endpoint().port);
        high2.send(controlPacket(high, me, Router::READY), a.peerEndpoint());
        QTRY_COMPARE(a.router()->peerState(high), int(Router::READY));
        QVERIFY(a.router()->bestRoute(high, &route) && route.port == low1.endpoint().port);
    }

    void choosePath_data()
    {
        QTest::addColumn<QList<NetworkPathPtr>>("paths"); // the first is the current best
        QTest::addColumn<quint16>("winner");
        const int direct = NetworkPath::Direct, tunnel = NetworkPath::Tunnel;
        QTest::newRow("tunnel penalty: direct 80 beats tunnel 40")
            << QList<NetworkPathPtr>{path(1, tunnel, 10, 10, 400), path(2, direct, 10, 10, 800)} << quint16(2);
        QTest::newRow("tunnel 40 beats direct 91")
            << QList<NetworkPathPtr>{path(1, direct, 10, 10, 910), path(2, tunnel, 10, 10, 400)} << quint16(2);
        QTest::newRow("loss before delay")
            << QList<NetworkPathPtr>{path(1, direct, 10, 9, 180), path(2, direct, 10, 10, 3000)} << quint16(2);
        QTest::newRow("loss before delay, best first")
            << QList<NetworkPathPtr>{path(2, direct, 10, 10, 3000), path(1, direct, 10, 9, 180)} << quint16(2);
        QTest::newRow("tie keeps the current")
            << QList<NetworkPathPtr>{path(1, direct, 10, 10, 500), path(2, direct, 10, 10, 500)} << quint16(1);
        QTest::newRow("unpinged paths are not considered")
            << QList<NetworkPathPtr>{path(1, direct, 10, 5, 500), path(2, direct, 0, 0, 0)} << quint16(1);
        QTest::newRow("an unpinged current gives way")
            << QList<NetworkPathPtr>{path(1, direct, 0, 0, 0), path(2, tunnel, 10, 10, 3000)} << quint16(2);
        QTest::newRow("two silent paths keep the current")
            << QList<NetworkPathPtr>{path(1, direct, 10, 0, 0), path(2, tunnel, 10, 0, 0)} << quint16(1);
        QTest::newRow("loss truncates: 1 of 3 lost is 33 %, beats 34 %")
            << QList<NetworkPathPtr>{path(1, direct, 100, 66, 66), path(2, direct, 3, 2, 2000)} << quint16(2);
    }
    void choosePath()
    {
        QFETCH(QList<NetworkPathPtr>, paths);
        QFETCH(quint16, winner);
        QCOMPARE(PathSelection::choose(7, paths.first(), paths)->endpoint.port, winner);
    }

    // Both games load in silence for four path time-outs (a minute at the
    // real 15 s); the keep-alives alone hold the route through the tunnel.
    void routeOutlivesSilentLoadUntilPeerGoes()
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
        gameA.send(gameDatagram(1, 2, "a1"), gameEnd(a));
        gameB.send(gameDatagram(2, 1, "b1"), gameEnd(*b));
        QCOMPARE(gameA.receive(), gameDatagram(2, 1, "b1"));
        QCOMPARE(gameB.receive(), gameDatagram(1, 2, "a1"));
        b.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!a.router()->hasEntry(idB), 4 * RouterNode::fastTiming().pathTimeout);
    }

    // Every listed server is asked on every query port; a stranger's reply
    // changes nothing; the first server to answer is kept and asked alone
    // from then on, and its later, different answer counts.
    void publicAddressFromTheFirstAnsweringServer()
    {
        TestSocket first, second(QHostAddress(QStringLiteral("127.0.0.2"))), stranger;
        const quint16 port = first.endpoint().port;
        second.socket().close();
        QVERIFY(second.socket().bind(QHostAddress(QStringLiteral("127.0.0.2")), port));
        NetworkState network;
        network.setQueryPorts({port});
        TunnelServerInfo one, two;
        one.address = QStringLiteral("127.0.0.1");
        two.address = QStringLiteral("127.0.0.2");
        network.setTunnelServers({{one.address, one}, {two.address, two}});
        RouterNode::Options options = RouterNode::fast();
        options.network = &network;
        RouterNode node(options);
        IPEndpoint router;
        QCOMPARE(first.receive(3000, &router), RouterPacket::publicAddressQuery());
        QCOMPARE(router, node.peerEndpoint());
        QCOMPARE(second.receive(), RouterPacket::publicAddressQuery());
        stranger.send(publicReply("9.9.9.9", 9), router);
        QTest::qWait(100);
        QVERIFY(network.publicIP().isNull());
        second.send(publicReply("1.2.3.4", 48192), router);
        QTRY_COMPARE(network.publicIP(), QHostAddress(QStringLiteral("1.2.3.4")));
        QVERIFY(network.publicPort() == 48192 && node.router()->publicAddressServer() == second.endpoint());
        first.collect(RouterNode::fastTiming().publicAddressInterval);
        second.collect(RouterNode::fastTiming().publicAddressInterval);
        QCOMPARE(first.collect(3 * RouterNode::fastTiming().publicAddressInterval).size(), 0);
        QVERIFY(second.collect(3 * RouterNode::fastTiming().publicAddressInterval).size() >= 2);
        second.send(publicReply("5.6.7.8", 1000), router);
        QTRY_VERIFY(network.publicIP() == QHostAddress(QStringLiteral("5.6.7.8")) && network.publicPort() == 1000);
    }
};

QTEST_GUILESS_MAIN(TestRouter)
#include "tst_router.moc"
