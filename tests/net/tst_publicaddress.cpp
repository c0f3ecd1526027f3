// The public-address query: the reply format, the tunnel's answer, the
// first answering server kept, replies from elsewhere ignored.
#include "logcapture.h"
#include "net/global.h"
#include "net/routerpacket.h"
#include "routernode.h"
#include "testenv.h"
#include "tunnel.h"

#include <QtTest>

namespace {
QByteArray exampleReply()
{
    QByteArray reply(40, '\0');
    const char head[] = {0x21, 0x22, 0x23, 0x24, char(0x9C), 0x60, 0x66, char(0x96)};
    reply.replace(0, 8, QByteArray(head, 8));
    return reply;
}
} // namespace

class TestPublicAddress : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_env.isValid()); }
    void init();
    void replyFormat();
    void tunnelsAnswerFirstOneKept();
    void onlyQueriedEndpointsCount();

private:
    TestEnv m_env;
};

void TestPublicAddress::init()
{
    Global::instance()->setPublicIP(QHostAddress());
    Global::instance()->setPublicPort(0);
    Global::instance()->setTunnelServers({});
}

void TestPublicAddress::replyFormat()
{
    QHostAddress address;
    quint16 port = 0;
    const QByteArray reply = exampleReply();
    QVERIFY(RouterPacket::parsePublicAddressReply(reply.constData(), reply.size(), &address, &port));
    QCOMPARE(address, QHostAddress(QStringLiteral("1.2.3.4")));
    QCOMPARE(port, quint16(48192));
    QCOMPARE(RouterPacket::publicAddressReply(address, port), reply);
    QVERIFY(!RouterPacket::parsePublicAddressReply(reply.constData(), 39, &address, &port));
    const QByteArray longer = reply + QByteArray("x");
    QVERIFY(!RouterPacket::parsePublicAddressReply(longer.constData(), 41, &address, &port));
    QByteArray unmarked = reply;
    unmarked[7] = 0;
    QVERIFY(!RouterPacket::parsePublicAddressReply(unmarked.constData(), 40, &address, &port));
    const QByteArray query = RouterPacket::publicAddressQuery();
    QCOMPARE(query.size(), 48);
    QCOMPARE(query.left(2), QByteArray("\x66\x96"));
    QCOMPARE(query.mid(2), QByteArray(46, '\0'));
}

// Two tunnels on two loopback addresses share the query ports, as real
// servers share 8054 and 3478.
void TestPublicAddress::tunnelsAnswerFirstOneKept()
{
    TunnelProcess first, second;
    QVERIFY2(first.start(QStringLiteral("127.0.0.1")), qPrintable(first.errorText()));
    const QList<quint16> ports = first.queryPorts();
    QVERIFY2(second.start(QStringLiteral("127.0.0.2"),
                          {QStringLiteral("--query-ports"), QStringLiteral("%1,%2").arg(ports[0]).arg(ports[1])}),
             qPrintable(second.errorText()));
    Global::instance()->setQueryPorts(ports);
    Global::instance()->setTunnelServers({{first.address(), first.info()}, {second.address(), second.info()}});

    LogCapture log;
    RouterNode node(RouterNode::fast());
    QTRY_VERIFY(!node.router()->publicAddressServer().isNull());
    QCOMPARE(Global::instance()->publicIP(), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(Global::instance()->publicPort(), node.peerEndpoint().port);
    QVERIFY(log.contains(QStringLiteral("Doing queryPublicIP to 127.0.0.2:%1").arg(ports[1])));
    QVERIFY(log.contains(QStringLiteral("My IP 127.0.0.1 port = %1").arg(node.peerEndpoint().port)));

    const IPEndpoint server = node.router()->publicAddressServer();
    log.clear();
    QTest::qWait(RouterNode::fastTiming().publicAddressInterval * 3);
    const QStringList queries = log.messages().filter(QStringLiteral("Doing queryPublicIP to"));
    QVERIFY(queries.size() >= 2);
    for (const QString &q : queries)
        QVERIFY2(q.endsWith(server.toString()), qPrintable(q + QStringLiteral(" kept: ") + server.toString()));
    Global::instance()->setQueryPorts({8054, 3478});
}

void TestPublicAddress::onlyQueriedEndpointsCount()
{
    TestSocket server, stranger;
    server.setSkipKeepAlives(false);
    Global::instance()->setQueryPorts({server.endpoint().port});
    TunnelServerInfo info;
    info.address = QStringLiteral("127.0.0.1");
    info.port = 9;
    info.isOfficial = true;
    info.version = 3;
    Global::instance()->setTunnelServers({{info.address, info}});

    RouterNode node(RouterNode::fast());
    IPEndpoint router;
    QCOMPARE(server.receive(3000, &router), RouterPacket::publicAddressQuery());
    QCOMPARE(router, node.peerEndpoint());

    // A stranger's reply changes nothing and goes on as an ordinary datagram.
    LogCapture log;
    stranger.send(RouterPacket::publicAddressReply(QHostAddress(QStringLiteral("9.9.9.9")), 9), router);
    QTRY_VERIFY(log.contains(QStringLiteral("No fib entry for peer id")));
    QVERIFY(Global::instance()->publicIP().isNull());

    server.send(exampleReply(), router);
    QTRY_COMPARE(Global::instance()->publicIP(), QHostAddress(QStringLiteral("1.2.3.4")));
    QCOMPARE(Global::instance()->publicPort(), quint16(48192));
    QCOMPARE(node.router()->publicAddressServer(), server.endpoint());
    // A later, different answer from the kept server still updates.
    server.send(RouterPacket::publicAddressReply(QHostAddress(QStringLiteral("5.6.7.8")), 1000), router);
    QTRY_COMPARE(Global::instance()->publicIP(), QHostAddress(QStringLiteral("5.6.7.8")));
    QCOMPARE(Global::instance()->publicPort(), quint16(1000));
    Global::instance()->setQueryPorts({8054, 3478});
}

QTEST_GUILESS_MAIN(TestPublicAddress)
#include "tst_publicaddress.moc"
