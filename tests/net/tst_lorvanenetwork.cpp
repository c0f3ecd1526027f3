// The tunnel master list's text rules: what the service publishes is read
// line by line, and a bad line costs that server only. The fetch, the port
// search and the router set-up run at every start of the client's tests.
#include "net/lorvanenetwork.h"
#include "net/router.h"
#include "testenv.h"

#include <QtNetwork>
#include <QtTest>

namespace {
const QByteArray kExample = "1.2.3.4:50000;Germany;DE;Main;;3;100;1;0;0;3;0";
} // namespace

class TestLorvaneNetwork : public QObject
{
    Q_OBJECT
private slots:
    void masterListLines_data()
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
    void masterListLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, kept);
        QCOMPARE(LorvaneNetwork::parseMasterList("\r\n" + line + "\r\n").size(), kept ? 1 : 0);
    }

    // A later line for the same address wins; a NUL ends the text; a bare
    // "\n" ends a line too.
    void masterListDuplicatesAndText()
    {
        const NetworkState::TunnelTable table = LorvaneNetwork::parseMasterList(
            kExample + "\r\n1.2.3.4:50001;Italy;IT;Second;pw;4;50;1;0;0;3;0\r\n5.6.7.8:50000;Spain;ES;Other;;0;10;1;0;0;3;0\n"
            + QByteArray("\0" "9.9.9.9:1;X;X;X;;0;10;1;0;0;3;0\r\n", 34));
        QCOMPARE(table.keys(), (QStringList{"1.2.3.4", "5.6.7.8"}));
        QCOMPARE(table.value(QStringLiteral("1.2.3.4")).port, 50001);
        QCOMPARE(table.value(QStringLiteral("1.2.3.4")).password, QStringLiteral("pw"));
    }



    // The peer port search steps over a port in use; the router it sets up
    // on the network thread goes with the object.
    void peerPortSearchStepsOverATakenPort()
    {
        TestEnv env;
        QUdpSocket taken, probe;
        quint16 first = 0;
        for (int i = 0; i < 50 && !first; ++i) {
            if (!taken.bind(QHostAddress::AnyIPv4, 0))
                continue;
            first = taken.localPort() < 65535 && probe.bind(QHostAddress::AnyIPv4, taken.localPort() + 1) ? taken.localPort() : 0;
            probe.close();
            if (!first)
                taken.close();
        }
        NetworkState state;
        auto *network = new LorvaneNetwork(&state, first);
        QSignalSpy started(network, &LorvaneNetwork::threadStarted);
        QVERIFY(first && (started.wait(10000) || started.count() == 1));
        QCOMPARE(state.localPort(), quint16(first + 1));
        const QPointer<Router> router = network->router();
        QVERIFY(router && router->thread() != QThread::currentThread());
        delete network;
        QVERIFY(!router);
    }
};

QTEST_GUILESS_MAIN(TestLorvaneNetwork)
#include "tst_lorvanenetwork.moc"
