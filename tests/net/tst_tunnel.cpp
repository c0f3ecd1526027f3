// tools/tunnel: relaying by receiver id, the public-address answer, its
// counters and its command line.
#include "net/routerpacket.h"
#include "testenv.h"
#include "tunnel.h"

#include <QUdpSocket>
#include <QtTest>

namespace {
QByteArray routed(quint32 sender, quint32 receiver, const QByteArray &payload)
{
    QByteArray d(8, '\0');
    RouterPacket::write32(d.data(), 0, sender);
    RouterPacket::write32(d.data(), 4, receiver);
    return d + payload;
}

QByteArray receive(QUdpSocket &socket, int timeoutMs = 3000)
{
    if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(timeoutMs))
        return QByteArray();
    QByteArray d(int(socket.pendingDatagramSize()), '\0');
    socket.readDatagram(d.data(), d.size());
    return d;
}
} // namespace

class TestTunnel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_env.isValid()); }
    void relaysByReceiverId();
    void answersPublicAddressQuery();
    void commandLine();

private:
    TestEnv m_env;
};

void TestTunnel::relaysByReceiverId()
{
    TunnelProcess tunnel;
    QVERIFY2(tunnel.start(QStringLiteral("127.0.0.1"), {QStringLiteral("--log"), m_env.filePath(QStringLiteral("tunnel.log"))}),
             qPrintable(tunnel.errorText()));
    QUdpSocket a, b;
    QVERIFY(a.bind(QHostAddress::LocalHost, 0) && b.bind(QHostAddress::LocalHost, 0));
    const QHostAddress host(tunnel.address());

    // Unknown receiver: nothing relayed. B then announces itself with a keep-alive.
    a.writeDatagram(routed(1, 2, "lost"), host, tunnel.relayPort());
    QVERIFY(receive(b, 300).isEmpty());
    b.writeDatagram(routed(2, 0, QByteArray()), host, tunnel.relayPort());
    QTest::qWait(100);
    a.writeDatagram(routed(1, 2, "found"), host, tunnel.relayPort());
    QCOMPARE(receive(b), routed(1, 2, "found"));
    // A was learned from its own datagrams.
    b.writeDatagram(routed(2, 1, "back"), host, tunnel.relayPort());
    QCOMPARE(receive(a), routed(2, 1, "back"));
    // A receiver that moves is followed.
    QUdpSocket b2;
    QVERIFY(b2.bind(QHostAddress::LocalHost, 0));
    b2.writeDatagram(routed(2, 0, QByteArray()), host, tunnel.relayPort());
    QTest::qWait(100);
    a.writeDatagram(routed(1, 2, "moved"), host, tunnel.relayPort());
    QCOMPARE(receive(b2), routed(1, 2, "moved"));
    a.writeDatagram(QByteArray("tiny"), host, tunnel.relayPort());

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
    QUdpSocket client;
    QVERIFY(client.bind(QHostAddress::LocalHost, 0));
    for (quint16 port : tunnel.queryPorts()) {
        QVERIFY(port != 0 && port != tunnel.relayPort());
        client.writeDatagram(RouterPacket::publicAddressQuery(), QHostAddress(tunnel.address()), port);
        const QByteArray reply = receive(client);
        QCOMPARE(reply.size(), RouterPacket::kReplySize);
        QHostAddress address;
        quint16 seenPort = 0;
        QVERIFY(RouterPacket::parsePublicAddressReply(reply.constData(), reply.size(), &address, &seenPort));
        QCOMPARE(address, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(seenPort, client.localPort());
    }
    // Anything else on a query port gets no answer.
    client.writeDatagram(QByteArray(48, 'x'), QHostAddress(tunnel.address()), tunnel.queryPorts().first());
    QVERIFY(receive(client, 300).isEmpty());
    const auto stats = tunnel.stats();
    QCOMPARE(stats.value(QStringLiteral("queries")), quint64(2));
    QCOMPARE(stats.value(QStringLiteral("bad")), quint64(1));
}

void TestTunnel::commandLine()
{
    QProcess help;
    help.start(TestEnv::toolPath(QStringLiteral("tunnel")), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(10000));
    QCOMPARE(help.exitCode(), 0);
    QVERIFY(help.readAllStandardOutput().contains("--query-ports"));

    for (const QStringList &bad : {QStringList{QStringLiteral("--port"), QStringLiteral("x")},
                                   QStringList{QStringLiteral("--bind"), QStringLiteral("nowhere")},
                                   QStringList{QStringLiteral("--query-ports"), QStringLiteral("1,70000")},
                                   QStringList{QStringLiteral("--frobnicate")}}) {
        QProcess p;
        p.start(TestEnv::toolPath(QStringLiteral("tunnel")), bad);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(!p.readAllStandardError().isEmpty());
    }

    // SIGTERM: an orderly exit with the counters.
    TunnelProcess tunnel;
    QVERIFY(tunnel.start());
    tunnel.stop();
    QCOMPARE(tunnel.tool().process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(tunnel.tool().process().exitCode(), 0);
    const QString rest = QString::fromUtf8(tunnel.tool().process().readAllStandardOutput());
    QVERIFY(QString(tunnel.tool().output() + rest).contains(QStringLiteral("STATS ")));
}

QTEST_GUILESS_MAIN(TestTunnel)
#include "tst_tunnel.moc"
