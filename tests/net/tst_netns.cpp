// Two routers in two network namespaces joined by a veth pair, with a
// tunnel in one of them: they reach FIB_READY on the direct path and the
// game datagrams cross it. Needs root; skips clearly otherwise.
#include "netnspair.h"
#include "routernode.h"
#include "testenv.h"
#include "tunnel.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A fake game's socket, made inside a router's namespace and used from here.
struct RawSocket
{
    int fd = -1;
    quint16 port = 0;
    ~RawSocket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    void open()
    {
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
        timeval tv{3, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    void send(const QByteArray &d, quint16 to) const
    {
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(to);
        ::sendto(fd, d.constData(), size_t(d.size()), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    QByteArray receive() const
    {
        char buffer[2048];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        return n < 0 ? QByteArray() : QByteArray(buffer, int(n));
    }
};
} // namespace

class TestNetns : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void directPathChosenAcrossHosts();

private:
    TestEnv m_env;
    NetnsPair m_pair;
};

void TestNetns::initTestCase()
{
    QVERIFY(m_env.isValid());
    QString why;
    if (!m_pair.make(&why))
        QSKIP(qPrintable(why));
}

void TestNetns::directPathChosenAcrossHosts()
{
    // The tunnel runs in B's namespace: forked while this thread is there.
    TunnelProcess tunnel;
    bool started = false;
    QVERIFY(NetnsPair::runIn(m_pair.b(), [&]() { started = tunnel.start(NetnsPair::addressB()); }));
    QVERIFY2(started, qPrintable(tunnel.errorText()));
    const IPEndpoint relay(QHostAddress(NetnsPair::addressB()), tunnel.relayPort());

    RouterNode::Options a;
    a.ownThread = true;
    a.timing = RouterNode::fastTiming();
    a.address = QHostAddress(NetnsPair::addressA());
    const QString nsA = m_pair.a(), nsB = m_pair.b();
    a.threadSetup = [nsA]() { return NetnsPair::enter(nsA); };
    RouterNode::Options b = a;
    b.address = QHostAddress(NetnsPair::addressB());
    b.threadSetup = [nsB]() { return NetnsPair::enter(nsB); };
    RouterNode nodeA(a), nodeB(b);
    QVERIFY(nodeA.isValid() && nodeB.isValid());

    const quint32 idA = 0x00AA0001, idB = 0x00BB0002;
    // As the session flow adds them: the peer's address first, then the tunnels.
    nodeA.startMatch(idA, {idB}, {{nodeB.peerEndpoint(), NetworkPath::Direct}, {relay, NetworkPath::Tunnel}});
    nodeB.startMatch(idB, {idA}, {{nodeA.peerEndpoint(), NetworkPath::Direct}, {relay, NetworkPath::Tunnel}});
    QTRY_COMPARE_WITH_TIMEOUT(nodeA.router()->state(), Router::FIB_READY, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(nodeB.router()->state(), Router::FIB_READY, 15000);
    PeerRoute route;
    QVERIFY(nodeA.router()->bestRoute(idB, &route));
    QCOMPARE(IPEndpoint(route.address, route.port), nodeB.peerEndpoint());
    QVERIFY(nodeB.router()->bestRoute(idA, &route));
    QCOMPARE(IPEndpoint(route.address, route.port), nodeA.peerEndpoint());
    // The tunnel was a real candidate: it carried flood traffic.
    QVERIFY(tunnel.stats().value(QStringLiteral("relayed")) > 0);

    RawSocket gameA, gameB;
    nodeA.run([&gameA]() { gameA.open(); });
    nodeB.run([&gameB]() { gameB.open(); });
    gameB.send(gameDatagram(2, 1, "from B"), nodeB.gamePort()); // introduces B's game
    QTest::qWait(100);
    gameA.send(gameDatagram(1, 2, "from A"), nodeA.gamePort());
    QCOMPARE(gameB.receive(), gameDatagram(1, 2, "from A"));
    // Queued in FIB_READY; the next datagram for A delivers it first.
    gameB.send(gameDatagram(2, 1, "again"), nodeB.gamePort());
    QCOMPARE(gameA.receive(), gameDatagram(2, 1, "from B"));
    QCOMPARE(gameA.receive(), gameDatagram(2, 1, "again"));
}

QTEST_GUILESS_MAIN(TestNetns)
#include "tst_netns.moc"
