// The time-out pass: keep-alives on quiet paths only, stale paths and empty
// entries removed, nothing removed while flooding.
#include "logcapture.h"
#include "net/routerpacket.h"
#include "routernode.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {
bool isKeepAliveFrom(const QByteArray &d, quint32 sender)
{
    return d.size() == RouterPacket::kKeepAliveSize && RouterPacket::read32(d.constData(), d.size(), 0) == sender
           && RouterPacket::read32(d.constData(), d.size(), 4) == 0;
}
} // namespace

class TestRouterTimeout : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_env.isValid()); }
    void keepAliveOnQuietPathsOnly();
    void nothingRemovedWhileFlooding();

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
            busyKeepAlives += isKeepAliveFrom(d, me);
            busyData += d == routedDatagram(me, peer, "tick");
        }
        for (const QByteArray &d : quiet.collect(1))
            quietKeepAlives += isKeepAliveFrom(d, me);
    }
    QVERIFY(busyData > 10);
    QCOMPARE(busyKeepAlives, 0);
    QVERIFY2(quietKeepAlives >= 3, qPrintable(QString::number(quietKeepAlives)));
    // The game's own entry gets none.
    for (const QByteArray &d : game.collect(150))
        QVERIFY(!isKeepAliveFrom(d, me));
    QVERIFY(log.contains(QStringLiteral("Keeping peer path alive %1 %2").arg(peer).arg(quiet.endpoint().toString())));

    // Heard from once and never sent to: gone after the path time-out.
    QTRY_VERIFY(!r->pathEndpoints(peer).contains(quiet.endpoint()));
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

QTEST_GUILESS_MAIN(TestRouterTimeout)
#include "tst_routertimeout.moc"
