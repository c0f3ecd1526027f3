// LorvaneNetwork: the master list's text rules, the fetch through HTTP, the
// peer port search and the router it sets up.
#include "logcapture.h"
#include "net/lorvanenetwork.h"
#include "net/router.h"
#include "testenv.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

namespace {
const QByteArray kExample = "1.2.3.4:50000;Germany;DE;Main;;3;100;1;0;0;3;0";

// Answers every request with one fixed body.
class ListServer : public QTcpServer
{
public:
    QByteArray body;
    int requests = 0;
    ListServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this]() {
            while (QTcpSocket *s = nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [this, s]() {
                    if (!s->readAll().contains("\r\n\r\n"))
                        return;
                    ++requests;
                    s->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\nContent-Length: "
                             + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    s->disconnectFromHost();
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
};
} // namespace

class TestLorvaneNetwork : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_env.isValid()); }
    void masterListLines_data();
    void masterListLines();
    void masterListDuplicatesAndText();
    void fetchFillsThenFailureEmpties();

private:
    TestEnv m_env;
};

void TestLorvaneNetwork::masterListLines_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("kept");
    QTest::newRow("example") << kExample << true;
    QTest::newRow("not official") << QByteArray("1.2.3.4:50000;Germany;DE;Main;;3;100;0;0;0;3;0") << false;
    QTest::newRow("version 2") << QByteArray("1.2.3.4:50000;Germany;DE;Main;;3;100;1;0;0;2;0") << false;
    QTest::newRow("11 fields") << QByteArray("1.2.3.4:50000;Germany;DE;Main;;3;100;1;0;0;3") << false;
    QTest::newRow("13 fields") << QByteArray("1.2.3.4:50000;Germany;DE;Main;;3;100;1;0;0;3;0;x") << false;
    QTest::newRow("header") << QByteArray("address;country;countrycode;name;password;clients;maxclients;official;latitude;longitude;version;distance") << false;
    QTest::newRow("port not a number") << QByteArray("1.2.3.4:abc;Germany;DE;Main;;3;100;1;0;0;3;0") << false;
    QTest::newRow("no port") << QByteArray("1.2.3.4;Germany;DE;Main;;3;100;1;0;0;3;0") << false;
    QTest::newRow("port 0") << QByteArray("1.2.3.4:0;Germany;DE;Main;;3;100;1;0;0;3;0") << false;
    QTest::newRow("port over 16 bits") << QByteArray("1.2.3.4:115536;Germany;DE;Main;;3;100;1;0;0;3;0") << false;
    QTest::newRow("port negative") << QByteArray("1.2.3.4:-1;Germany;DE;Main;;3;100;1;0;0;3;0") << false;
    QTest::newRow("clients not a number") << QByteArray("1.2.3.4:50000;Germany;DE;Main;;x;100;1;0;0;3;0") << false;
    QTest::newRow("official 2 counts") << QByteArray("1.2.3.4:50000;Germany;DE;Main;;3;100;2;0;0;3;0") << true;
    QTest::newRow("columns 9 10 12 unread") << QByteArray("1.2.3.4:50000;Germany;DE;Main;;3;100;1;a;b;3;c") << true;
}

void TestLorvaneNetwork::masterListLines()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, kept);
    const Global::TunnelTable table = LorvaneNetwork::parseMasterList("\r\n" + line + "\r\n");
    QCOMPARE(table.size(), kept ? 1 : 0);
}

void TestLorvaneNetwork::masterListDuplicatesAndText()
{
    LogCapture log;
    const QByteArray body = "address;country;countrycode;name;password;clients;maxclients;official;lat;lon;version;d\r\n"
                            + kExample + "\r\n"
                            + "1.2.3.4:50001;Italy;IT;Second;pw;4;50;1;0;0;3;0\r\n"
                            + "5.6.7.8:50000;Spain;ES;Other;;0;10;1;0;0;3;0\r\n"
                            + QByteArray("\0" "9.9.9.9:1;X;X;X;;0;10;1;0;0;3;0\r\n", 34);
    const Global::TunnelTable table = LorvaneNetwork::parseMasterList(body);
    QCOMPARE(table.keys(), (QStringList{QStringLiteral("1.2.3.4"), QStringLiteral("5.6.7.8")}));
    const TunnelServerInfo later = table.value(QStringLiteral("1.2.3.4"));
    QCOMPARE(later.port, 50001);
    QCOMPARE(later.name, QStringLiteral("Second"));
    QCOMPARE(later.password, QStringLiteral("pw"));

    QVERIFY(log.contains(QStringLiteral("Adding: TunnelServer()<<address=1.2.3.4,port=50000")));
    // A bare "\n" ends a line too.
    QCOMPARE(LorvaneNetwork::parseMasterList(kExample + "\n5.6.7.8:1;Spain;ES;Other;;0;10;1;0;0;3;0\n").size(), 2);
}

void TestLorvaneNetwork::fetchFillsThenFailureEmpties()
{
    ListServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    // Loopback only: the router asks every listed server for the public address.
    server.body = "address;x\r\n127.0.0.1:50000;Sandbox;SB;Main;;3;100;1;0;0;3;0\r\n";
    TestEnv::Endpoints endpoints;
    endpoints.masterListUrl = QStringLiteral("http://127.0.0.1:%1/master-list").arg(server.serverPort());
    m_env.setEndpoints(endpoints);

    // Hold a port so the search has to step over it; the next one must be free.
    QUdpSocket taken, probe;
    quint16 first = 0;
    for (int i = 0; i < 50 && !first; ++i) {
        if (!taken.bind(QHostAddress::AnyIPv4, 0))
            continue;
        const quint16 p = taken.localPort();
        if (p < 65535 && probe.bind(QHostAddress::AnyIPv4, p + 1)) {
            probe.close();
            first = p;
        } else {
            taken.close();
        }
    }
    QVERIFY(first != 0);

    LogCapture log;
    Global::instance()->setTunnelServers({});
    auto *network = new LorvaneNetwork(first);
    QSignalSpy started(network, &LorvaneNetwork::threadStarted);
    QSignalSpy changed(network, &LorvaneNetwork::tunnelServersChanged);
    QVERIFY(started.wait(10000) || started.count() == 1);
    QCOMPARE(Global::instance()->localPort(), quint16(first + 1));
    QCOMPARE(network->port(), quint16(first + 1));
    QVERIFY(Global::instance()->router() != nullptr);
    QVERIFY(Global::instance()->router()->gamePort() != 0);
    QCOMPARE(Global::instance()->peerRoutes(), static_cast<PeerRouteSource *>(Global::instance()->router()));
    QVERIFY(Global::instance()->networkThread() != QThread::currentThread());

    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, 10000);
    QCOMPARE(Global::instance()->tunnelServers().keys(), QStringList{QStringLiteral("127.0.0.1")});
    QVERIFY(log.contains(QStringLiteral("fetching MasterList from: ") + endpoints.masterListUrl));

    // The timer fetches again; with the server gone the table empties.
    server.close();
    network->setFetchInterval(100);
    QTRY_VERIFY_WITH_TIMEOUT(changed.count() >= 2, 10000);
    QVERIFY(Global::instance()->tunnelServers().isEmpty());

    delete network;
    QVERIFY(Global::instance()->router() == nullptr);
    QVERIFY(Global::instance()->peerRoutes() == nullptr);
}

QTEST_GUILESS_MAIN(TestLorvaneNetwork)
#include "tst_lorvanenetwork.moc"
