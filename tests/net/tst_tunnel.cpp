// tools/tunnel, the stand-in for the service's tunnel servers: relaying by
// receiver id and the public-address answer, with its counters.
#include "net/routerpacket.h"
#include "routernode.h"
#include "testenv.h"
#include "tunnel.h"

#include <QtTest>

class TestTunnel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_env.isValid()); }
    void relaysByReceiverId();
    void answersPublicAddressQuery();

private:
    TestEnv m_env;
};

void TestTunnel::relaysByReceiverId()
{
    TunnelProcess tunnel;
    QVERIFY2(tunnel.start(QStringLiteral("127.0.0.1"), {QStringLiteral("--log"), m_env.filePath(QStringLiteral("tunnel.log"))}),
             qPrintable(tunnel.errorText()));
    TestSocket a, b, b2;
    const IPEndpoint relay(QHostAddress(tunnel.address()), tunnel.relayPort());

    // Unknown receiver: nothing relayed. B then announces itself with a keep-alive.
    a.send(routedDatagram(1, 2, "lost"), relay);
    QVERIFY(b.receive(300).isEmpty());
    b.send(routedDatagram(2, 0, QByteArray()), relay);
    QTest::qWait(100);
    a.send(routedDatagram(1, 2, "found"), relay);
    QCOMPARE(b.receive(), routedDatagram(1, 2, "found"));
    // A was learned from its own datagrams.
    b.send(routedDatagram(2, 1, "back"), relay);
    QCOMPARE(a.receive(), routedDatagram(2, 1, "back"));
    // A receiver that moves is followed.
    b2.send(routedDatagram(2, 0, QByteArray()), relay);
    QTest::qWait(100);
    a.send(routedDatagram(1, 2, "moved"), relay);
    QCOMPARE(b2.receive(), routedDatagram(1, 2, "moved"));
    a.send(QByteArray("tiny"), relay);

    QHash<QString, quint64> stats;
    QTRY_VERIFY((stats = tunnel.stats()).value(QStringLiteral("short")) == 1);
    QCOMPARE(stats.value(QStringLiteral("relayed")), quint64(3));
    QCOMPARE(stats.value(QStringLiteral("unknown")), quint64(3)); // "lost" and two keep-alives
    QCOMPARE(stats.value(QStringLiteral("received")), quint64(7));
    QFile log(m_env.filePath(QStringLiteral("tunnel.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("sender=1 receiver=2"));
}

void TestTunnel::answersPublicAddressQuery()
{
    TunnelProcess tunnel;
    QVERIFY2(tunnel.start(), qPrintable(tunnel.errorText()));
    QCOMPARE(tunnel.queryPorts().size(), 2);
    TestSocket client;
    for (quint16 port : tunnel.queryPorts()) {
        QVERIFY(port != 0 && port != tunnel.relayPort());
        client.send(RouterPacket::publicAddressQuery(), IPEndpoint(QHostAddress(tunnel.address()), port));
        const QByteArray reply = client.receive();
        QHostAddress address;
        quint16 seenPort = 0;
        QVERIFY(RouterPacket::parsePublicAddressReply(reply.constData(), reply.size(), &address, &seenPort));
        QCOMPARE(address, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(seenPort, client.endpoint().port);
    }
    // Anything else on a query port gets no answer.
    client.send(QByteArray(48, 'x'), IPEndpoint(QHostAddress(tunnel.address()), tunnel.queryPorts().first()));
    QVERIFY(client.receive(300).isEmpty());
    const auto stats = tunnel.stats();
    QCOMPARE(stats.value(QStringLiteral("queries")), quint64(2));
    QCOMPARE(stats.value(QStringLiteral("bad")), quint64(1));
}

QTEST_GUILESS_MAIN(TestTunnel)
#include "tst_tunnel.moc"
