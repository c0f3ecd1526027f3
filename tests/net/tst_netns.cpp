// Two routers in two network namespaces joined by a veth pair, with a
// tunnel in one of them: they reach FIB_READY on the direct path and the
// game datagrams cross it. Needs root; skips clearly otherwise.
#include "routernode.h"
#include "testenv.h"
#include "tunnel.h"

#include <QProcess>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
const QString kSubnet = QStringLiteral("10.213.77.");

bool ip(const QStringList &args, QString *error = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("ip"), args);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("ip %1: %2").arg(args.join(QLatin1Char(' ')), QString::fromUtf8(p.readAllStandardError()).trimmed());
        return false;
    }
    return true;
}

bool enterNamespace(const QString &name)
{
    const int fd = ::open(qPrintable(QStringLiteral("/var/run/netns/") + name), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    return ok;
}

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
    void cleanupTestCase();
    void directPathChosenAcrossHosts();

private:
    TestEnv m_env;
    QString m_nsA, m_nsB;
    bool m_made = false;
};

void TestNetns::initTestCase()
{
    QVERIFY(m_env.isValid());
    const QString tag = QString::number(QCoreApplication::applicationPid());
    m_nsA = QStringLiteral("zantry-a-") + tag;
    m_nsB = QStringLiteral("zantry-b-") + tag;
    const QString vethA = QStringLiteral("zva") + tag, vethB = QStringLiteral("zvb") + tag;
    QString error;
    if (::geteuid() != 0)
        QSKIP("network namespaces need root; not root here");
    if (!ip({QStringLiteral("netns"), QStringLiteral("add"), m_nsA}, &error))
        QSKIP(qPrintable(QStringLiteral("network namespaces cannot be made here: ") + error));
    m_made = true;
    const QList<QStringList> steps = {
        {QStringLiteral("netns"), QStringLiteral("add"), m_nsB},
        {QStringLiteral("link"), QStringLiteral("add"), vethA, QStringLiteral("type"), QStringLiteral("veth"),
         QStringLiteral("peer"), QStringLiteral("name"), vethB},
        {QStringLiteral("link"), QStringLiteral("set"), vethA, QStringLiteral("netns"), m_nsA},
        {QStringLiteral("link"), QStringLiteral("set"), vethB, QStringLiteral("netns"), m_nsB},
        {QStringLiteral("-n"), m_nsA, QStringLiteral("addr"), QStringLiteral("add"), kSubnet + QStringLiteral("1/24"), QStringLiteral("dev"), vethA},
        {QStringLiteral("-n"), m_nsB, QStringLiteral("addr"), QStringLiteral("add"), kSubnet + QStringLiteral("2/24"), QStringLiteral("dev"), vethB},
        {QStringLiteral("-n"), m_nsA, QStringLiteral("link"), QStringLiteral("set"), vethA, QStringLiteral("up")},
        {QStringLiteral("-n"), m_nsB, QStringLiteral("link"), QStringLiteral("set"), vethB, QStringLiteral("up")},
        {QStringLiteral("-n"), m_nsA, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")},
        {QStringLiteral("-n"), m_nsB, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")},
    };
    for (const QStringList &step : steps) {
        if (!ip(step, &error))
            QSKIP(qPrintable(QStringLiteral("cannot build the namespace link: ") + error));
    }
}

void TestNetns::cleanupTestCase()
{
    if (!m_made)
        return;
    // Deleting a namespace deletes its end of the veth pair, and the pair with it.
    ip({QStringLiteral("netns"), QStringLiteral("del"), m_nsA});
    ip({QStringLiteral("netns"), QStringLiteral("del"), m_nsB});
}

void TestNetns::directPathChosenAcrossHosts()
{
    // The tunnel runs in B's namespace: fork it while this thread is there.
    const int home = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    QVERIFY(home >= 0);
    TunnelProcess tunnel;
    QVERIFY(enterNamespace(m_nsB));
    const bool started = tunnel.start(kSubnet + QStringLiteral("2"));
    QVERIFY(::setns(home, CLONE_NEWNET) == 0);
    ::close(home);
    QVERIFY2(started, qPrintable(tunnel.errorText()));
    const IPEndpoint relay(QHostAddress(kSubnet + QStringLiteral("2")), tunnel.relayPort());

    RouterNode::Options a;
    a.ownThread = true;
    a.timing = RouterNode::fastTiming();
    a.address = QHostAddress(kSubnet + QStringLiteral("1"));
    const QString nsA = m_nsA, nsB = m_nsB;
    a.threadSetup = [nsA]() { return enterNamespace(nsA); };
    RouterNode::Options b = a;
    b.address = QHostAddress(kSubnet + QStringLiteral("2"));
    b.threadSetup = [nsB]() { return enterNamespace(nsB); };
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
