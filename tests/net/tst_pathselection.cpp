// Choosing a best path: loss first, then round-trip time with the tunnel
// penalty; and finalizeFIB applying it when READY begins.
#include "net/pathselection.h"
#include "routernode.h"
#include "testenv.h"

#include <QtTest>

namespace {
NetworkPathPtr path(quint16 port, int type, int pings, int pongs, int rttSum)
{
    NetworkPathPtr p(new NetworkPath(IPEndpoint(QHostAddress::LocalHost, port), type));
    p->pings = pings;
    p->pongs = pongs;
    p->rttSum = rttSum;
    return p;
}
} // namespace

class TestPathSelection : public QObject
{
    Q_OBJECT
private slots:
    void choose_data();
    void choose();
    void noPongsScoresWorst();
    void finalizeOnReady();
};

void TestPathSelection::choose_data()
{
    QTest::addColumn<QList<NetworkPathPtr>>("paths"); // the first is the current best
    QTest::addColumn<quint16>("winner");
    QTest::newRow("tunnel penalty: direct 80 beats tunnel 40")
        << QList<NetworkPathPtr>{path(1, NetworkPath::Tunnel, 10, 10, 400), path(2, NetworkPath::Direct, 10, 10, 800)}
        << quint16(2);
    QTest::newRow("tunnel 40 beats direct 91")
        << QList<NetworkPathPtr>{path(1, NetworkPath::Direct, 10, 10, 910), path(2, NetworkPath::Tunnel, 10, 10, 400)}
        << quint16(2);
    QTest::newRow("loss before delay")
        << QList<NetworkPathPtr>{path(1, NetworkPath::Direct, 10, 9, 180), path(2, NetworkPath::Direct, 10, 10, 3000)}
        << quint16(2);
    QTest::newRow("loss before delay, best first")
        << QList<NetworkPathPtr>{path(2, NetworkPath::Direct, 10, 10, 3000), path(1, NetworkPath::Direct, 10, 9, 180)}
        << quint16(2);
    QTest::newRow("tie keeps the current")
        << QList<NetworkPathPtr>{path(1, NetworkPath::Direct, 10, 10, 500), path(2, NetworkPath::Direct, 10, 10, 500)}
        << quint16(1);
    QTest::newRow("unpinged paths are not considered")
        << QList<NetworkPathPtr>{path(1, NetworkPath::Direct, 10, 5, 500), path(2, NetworkPath::Direct, 0, 0, 0)}
        << quint16(1);
    QTest::newRow("loss truncates: 1 of 3 lost is 33 %, beats 34 %")
        << QList<NetworkPathPtr>{path(1, NetworkPath::Direct, 100, 66, 66), path(2, NetworkPath::Direct, 3, 2, 2000)}
        << quint16(2);
}

void TestPathSelection::choose()
{
    QFETCH(QList<NetworkPathPtr>, paths);
    QFETCH(quint16, winner);
    QCOMPARE(PathSelection::choose(7, paths.first(), paths)->endpoint.port, winner);
}

void TestPathSelection::noPongsScoresWorst()
{
    NetworkPathPtr p = path(1, NetworkPath::Direct, 10, 0, 0);
    const PathSelection::Score s = PathSelection::score(*p);
    QCOMPARE(s.rtt, 10000);
    QCOMPARE(p->rtt, 10000);
    QCOMPARE(s.lossPct, 100);
    NetworkPathPtr t = path(2, NetworkPath::Tunnel, 4, 4, 100);
    QCOMPARE(PathSelection::score(*t).rankingRtt, 75);
}

// The READY entry action picks per entry; an entry whose best path was
// never pinged keeps it.
void TestPathSelection::finalizeOnReady()
{
    TestEnv env;
    RouterNode node;
    Router *r = node.router();
    r->setMyId(1);
    r->addPeer(2);
    r->addPeer(3);
    const IPEndpoint direct(QHostAddress::LocalHost, 9), tunnel(QHostAddress(QStringLiteral("127.0.0.2")), 9);
    r->addFloodPath(tunnel, NetworkPath::Tunnel);
    r->addFloodPath(direct, NetworkPath::Direct);
    FibEntry *two = r->entry(2);
    QVERIFY(two && two->paths.size() == 2);
    QCOMPARE(two->bestPath->endpoint, tunnel);
    QVERIFY(two->paths.value(tunnel) == r->entry(3)->paths.value(tunnel)); // one shared object
    two->paths.value(tunnel)->pings = 10;
    two->paths.value(tunnel)->pongs = 10;
    two->paths.value(tunnel)->rttSum = 100;
    two->paths.value(direct)->pings = 10;
    two->paths.value(direct)->pongs = 10;
    two->paths.value(direct)->rttSum = 200;
    // Entry 3 shares those path objects, so give it a best path never pinged.
    const IPEndpoint own(QHostAddress::LocalHost, 10);
    NetworkPathPtr unpinged(new NetworkPath(own, NetworkPath::Direct));
    r->entry(3)->paths.insert(own, unpinged);
    r->entry(3)->bestPath = unpinged;
    r->setState(Router::READY);
    PeerRoute route;
    QVERIFY(r->bestRoute(2, &route));
    QCOMPARE(route.port, direct.port); // 20 ms direct against 10 + 50 tunnel
    QCOMPARE(route.rtt, 20);
    QVERIFY(r->bestRoute(3, &route));
    QCOMPARE(route.port, own.port);
    r->setState(Router::NOTHING);
}

QTEST_GUILESS_MAIN(TestPathSelection)
#include "tst_pathselection.moc"
