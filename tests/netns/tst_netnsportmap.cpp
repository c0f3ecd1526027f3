// The connection check and the port mapping on real home networks: the
// client behind a NAT router in network namespaces, Debian's miniupnpd on
// that router where the case says so, the sandbox and a tunnel server (two
// query ports) on the public network.
#include "botprocess.h"
#include "clientprocess.h"
#include "netlab.h"
#include "sandbox.h"
#include "tunnel.h"

#include <QtTest>

namespace {

using Nat = NetLab::Nat;

// miniupnpd maps nothing on a reserved address (the lab's default network).
const QString kPublicNet = QStringLiteral("100.128.51");

// One internet: the site and a tunnel server on it, and two homes.
struct World
{
    TestEnv env;
    NetLab lab{TestEnv::toolPath(QStringLiteral("netimpair")), kPublicNet};
    TunnelProcess tunnel;
    ToolProcess sandbox{QStringLiteral("sandbox")};
    NetLab::Player alice, bob;
    QString tunnelAddress, siteAddress;

    bool start(Nat aliceNat, Nat bobNat)
    {
        if (!lab.start())
            return false;
        tunnelAddress = lab.addHost(QStringLiteral("tunnel"));
        siteAddress = lab.addHost(QStringLiteral("site"));
        alice = lab.addPlayer(QStringLiteral("alice"), aliceNat);
        bob = lab.addPlayer(QStringLiteral("bob"), bobNat);
        tunnel.setLauncher(NetLab::launcher(lab.ns(QStringLiteral("tunnel"))));
        sandbox.setLauncher(NetLab::launcher(lab.ns(QStringLiteral("site"))));
        if (alice.lan.isEmpty() || bob.lan.isEmpty()
            || !tunnel.start(tunnelAddress, {"--port", "50000", "--query-ports", "8054,3478"})
            || !sandbox.start(QStringList{"--bind", siteAddress, "--addresses", "all", "--checkback", "1"} + tunnel.sandboxArgs()))
            return false;
        TestEnv::Endpoints e = TestEnv::sandboxEndpoints(sandbox.url(), QStringLiteral("%1:%2").arg(siteAddress).arg(sandbox.port("dns")));
        e.homeRouter = QStringLiteral("192.168.1.1"); // alice's router
        env.setEndpoints(e);
        return true;
    }
    QJsonObject inspect() const
    {
        return QJsonDocument::fromJson(NetLab::httpGet(lab.ns(QStringLiteral("site")), siteAddress, sandbox.port("http"), "/inspect"))
            .object();
    }
    QString error() const { return lab.errorText() + tunnel.errorText() + sandbox.errorText(); }
};

} // namespace

class TestNetnsPortMap : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void check_data();
    void check();
    void mappedMatch();
    void settingOff();
};

void TestNetnsPortMap::initTestCase()
{
    const QString reason = NetLab::unavailableReason(TestEnv::toolPath(QStringLiteral("netimpair")));
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    if (QStandardPaths::findExecutable(QStringLiteral("miniupnpd"), {QStringLiteral("/usr/sbin")}).isEmpty())
        QSKIP("no miniupnpd (Debian's miniupnpd-nftables, scripts/deps)");
}

void TestNetnsPortMap::check_data()
{
    QTest::addColumn<int>("nat");
    QTest::addColumn<bool>("udpBlocked");
    QTest::addColumn<bool>("natPmp"); // the router maps ports (NAT-PMP and UPnP-IGD)
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("expected");

    const int ei = int(Nat::EndpointIndependent), sym = int(Nat::Symmetric);
    QTest::newRow("endpoint-independent") << ei << false << false << 0
                                          << QStringList{"Good: matches can be played", "one port for every destination"};
    QTest::newRow("symmetric") << sym << false << false << 0
                               << QStringList{"mostly through a tunnel server", "a new port for every destination",
                                              "Turn on UPnP or NAT-PMP"};
    QTest::newRow("firewalled") << ei << true << false << 1 << QStringList{"No tunnel server answered", "no answer"};
    QTest::newRow("symmetric, router maps") << sym << false << true << 0
                                            << QStringList{"Good: matches can be played", "a new port for every destination",
                                                           "UPnP-IGD " + kPublicNet + ".101:"};
}

void TestNetnsPortMap::check()
{
    QFETCH(int, nat);
    QFETCH(bool, udpBlocked);
    QFETCH(bool, natPmp);
    QFETCH(int, exitCode);
    QFETCH(QStringList, expected);

    World w;
    QVERIFY2(w.start(Nat(nat), Nat::EndpointIndependent), qPrintable(w.error()));
    if (udpBlocked)
        QVERIFY2(w.lab.blockUdp(w.alice), qPrintable(w.lab.errorText()));
    if (natPmp)
        QVERIFY2(w.lab.offerPortMapping(w.alice, true), qPrintable(w.lab.errorText()));

    ClientProcess client(w.env.path());
    client.setLauncher(NetLab::launcher(w.alice.lan));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(client.start(w.env.clientEnvironment(), {QStringLiteral("--check-connection")}));
    const int code = client.waitForExit(20000);
    const QString table = QString::fromUtf8(client.process().readAllStandardOutput());
    qInfo("%s (%.1f s)\n%s", QTest::currentDataTag(), clock.elapsed() / 1000.0, qPrintable(table));
    QCOMPARE(code, exitCode);
    for (const QString &text : expected)
        QVERIFY2(table.contains(text), qPrintable(text));
    // The check's own mapping is gone with it.
    QVERIFY(w.lab.portMappings(w.alice).isEmpty());
}

// Both players behind routers that give every destination a new port: only
// alice's router forwards a port, and that is enough for a direct path.
void TestNetnsPortMap::mappedMatch()
{
    World w;
    QVERIFY2(w.start(Nat::Symmetric, Nat::Symmetric), qPrintable(w.error()));
    QVERIFY2(w.lab.offerPortMapping(w.alice, false), qPrintable(w.lab.errorText()));
    const QString aliceDir = w.env.filePath(QStringLiteral("alice-game")), bobDir = w.env.filePath(QStringLiteral("bob-game"));
    for (const QString &dir : {aliceDir, bobDir})
        QVERIFY(!Sandbox::makeGameFolder(dir, {QStringLiteral("--game-maps"), QStringLiteral("all")}).isEmpty());
    ClientProcess::writeSettings(w.env.settingsFile());

    ClientProcess client(aliceDir);
    client.setLauncher(NetLab::launcher(w.alice.lan));
    QVERIFY(client.start(w.env.clientEnvironment()));
    QStringList mapped;
    QVERIFY2(QTest::qWaitFor([&] { return w.inspect().value(QStringLiteral("queue")).toArray().size() == 1; }, 60000),
             qPrintable(client.tail()));
    mapped = w.lab.portMappings(w.alice);
    BotProcess bot;
    bot.setLauncher(NetLab::launcher(w.bob.lan));
    bot.setEnvironment(w.env.clientEnvironment());
    QVERIFY2(bot.start({"--token", "token-bob", "--game-dir", bobDir, "--bind", w.bob.lanAddress}), qPrintable(bot.transcript()));
    QVERIFY2(client.waitForExit(120000) == 0, qPrintable(client.tail()));
    QVERIFY2(bot.waitForLine(QStringLiteral("BOT done"), 30000), qPrintable(bot.transcript()));

    // Alice offered the mapped port; each side reached the other directly.
    const QStringList mappingLines = client.log().split(QLatin1Char('\n')).filter(QStringLiteral("Port mapping"));
    QVERIFY2(mapped.size() == 1 && mapped.first().endsWith(QStringLiteral("192.168.1.2:51143")), qPrintable(mappingLines.join('\n')));
    const QString offered = w.alice.publicAddress + QLatin1Char(':') + mapped.first().section(QLatin1Char(' '), 0, 0);
    QVERIFY2(client.log().contains(QStringLiteral("Port mapping: UPnP-IGD ") + offered), qPrintable(client.tail()));
    QStringList used;
    for (const QJsonValue &v : w.inspect().value(QStringLiteral("updates")).toArray()) {
        const QJsonObject u = v.toObject();
        const QJsonArray peers = u.value(QStringLiteral("request")).toObject().value(QStringLiteral("peers")).toArray();
        if (u.value(QStringLiteral("status")).toString() == QLatin1String("Reached") && peers.size() == 1)
            used << u.value(QStringLiteral("username")).toString() + QLatin1Char(' ')
                        + peers.first().toObject().value(QStringLiteral("address")).toString();
    }
    qInfo("mapped %s; paths: %s", qPrintable(mapped.join(';')), qPrintable(used.join(QStringLiteral(", "))));
    used.sort();
    QCOMPARE(used, QStringList({"Alice " + w.bob.publicAddress, "Bob " + w.alice.publicAddress}));
    // Removed when the client exited.
    QVERIFY2(w.lab.portMappings(w.alice).isEmpty(), qPrintable(w.lab.portMappings(w.alice).join(';')));
}

void TestNetnsPortMap::settingOff()
{
    World w;
    QVERIFY2(w.start(Nat::Symmetric, Nat::EndpointIndependent), qPrintable(w.error()));
    QVERIFY2(w.lab.offerPortMapping(w.alice, true), qPrintable(w.lab.errorText()));
    const QString aliceDir = w.env.filePath(QStringLiteral("alice-game"));
    QVERIFY(!Sandbox::makeGameFolder(aliceDir, {QStringLiteral("--game-maps"), QStringLiteral("all")}).isEmpty());
    ClientProcess::writeSettings(w.env.settingsFile());
    QSettings(w.env.settingsFile(), QSettings::IniFormat).setValue(QStringLiteral("MapPortOnRouter"), false);

    ClientProcess client(aliceDir);
    client.setLauncher(NetLab::launcher(w.alice.lan));
    QVERIFY(client.start(w.env.clientEnvironment()));
    QVERIFY2(QTest::qWaitFor([&] { return w.inspect().value(QStringLiteral("queue")).toArray().size() == 1; }, 60000),
             qPrintable(client.tail()));
    QVERIFY(w.lab.portMappings(w.alice).isEmpty());
    QVERIFY(client.log().contains(QStringLiteral("Port mapping: off")));
}

QTEST_GUILESS_MAIN(TestNetnsPortMap)
#include "tst_netnsportmap.moc"
