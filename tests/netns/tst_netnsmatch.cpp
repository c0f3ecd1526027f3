// Whole matches on real networks: the client (zantry-demo) and the bot each
// on a LAN behind a home NAT router of its own, the sandbox and a tunnel
// server on the public network, all in network namespaces.
#include "botprocess.h"
#include "clientprocess.h"
#include "netlab.h"
#include "sandbox.h"
#include "tunnel.h"

#include <QtTest>

Q_DECLARE_METATYPE(NetLab::Nat)

namespace {

using Nat = NetLab::Nat;

// The fakegame's own count, from the last "wrote stats.dmp" line of its log.
QPair<int, int> sentReceived(const QString &gameDir)
{
    QFile log(gameDir + QStringLiteral("/fakegame.log"));
    static const QRegularExpression re(QStringLiteral("wrote stats.dmp: sent (\\d+), received (\\d+)"));
    QPair<int, int> counts(-1, -1);
    if (!log.open(QIODevice::ReadOnly))
        return counts;
    for (auto it = re.globalMatch(QString::fromUtf8(log.readAll())); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        counts = {m.captured(1).toInt(), m.captured(2).toInt()};
    }
    return counts;
}

} // namespace

class TestNetnsMatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void match_data();
    void match();
};

void TestNetnsMatch::initTestCase()
{
    const QString reason = NetLab::unavailableReason(TestEnv::toolPath(QStringLiteral("netimpair")));
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
}

void TestNetnsMatch::match_data()
{
    QTest::addColumn<Nat>("clientNat");
    QTest::addColumn<Nat>("botNat");
    QTest::addColumn<int>("delayMs"); // on each router's uplink, each way
    QTest::addColumn<int>("udpTimeoutS");
    QTest::addColumn<int>("loadSeconds");
    QTest::addColumn<bool>("botFirst");
    QTest::addColumn<QString>("path"); // empty: whichever works

    const Nat ei = Nat::EndpointIndependent, sym = Nat::Symmetric;
    QTest::newRow("endpoint-independent") << ei << ei << 0 << 0 << 0 << false << "direct";
    QTest::newRow("symmetric") << sym << sym << 0 << 0 << 0 << false << "tunnel";
    QTest::newRow("mixed") << sym << ei << 0 << 0 << 0 << false << "";
    // Through the tunnel the round trip is the same here: either path will do.
    QTest::newRow("loss and delay") << ei << ei << 40 << 0 << 0 << false << "";
    // The mappings expire in the silent load unless something keeps them.
    QTest::newRow("nat timeout") << ei << ei << 0 << 10 << 30 << false << "direct";
    QTest::newRow("opponent waiting") << ei << ei << 0 << 0 << 0 << true << "direct";
}

void TestNetnsMatch::match()
{
    QFETCH(Nat, clientNat);
    QFETCH(Nat, botNat);
    QFETCH(int, delayMs);
    QFETCH(int, udpTimeoutS);
    QFETCH(int, loadSeconds);
    QFETCH(bool, botFirst);
    QFETCH(QString, path);
    QElapsedTimer clock;
    clock.start();

    TestEnv env;
    NetLab lab(TestEnv::toolPath(QStringLiteral("netimpair")));
    QVERIFY2(lab.start(), qPrintable(lab.errorText()));
    NetLab::Impairment uplink;
    if (delayMs)
        uplink = {delayMs, delayMs / 4, 5};
    const QString tunnelAddress = lab.addHost(QStringLiteral("tunnel"));
    const QString siteAddress = lab.addHost(QStringLiteral("site"));
    const NetLab::Player alice = lab.addPlayer(QStringLiteral("alice"), clientNat, uplink, udpTimeoutS);
    const NetLab::Player bob = lab.addPlayer(QStringLiteral("bob"), botNat, uplink, udpTimeoutS);
    QVERIFY2(!siteAddress.isEmpty() && !alice.lan.isEmpty() && !bob.lan.isEmpty(), qPrintable(lab.errorText()));

    // The client asks every tunnel server for its public address on these ports.
    TunnelProcess tunnel;
    tunnel.setLauncher(NetLab::launcher(lab.ns(QStringLiteral("tunnel"))));
    QVERIFY2(tunnel.start(tunnelAddress, {"--port", "50000", "--query-ports", "8054,3478"}), qPrintable(tunnel.errorText()));
    ToolProcess sandbox(QStringLiteral("sandbox"));
    sandbox.setLauncher(NetLab::launcher(lab.ns(QStringLiteral("site"))));
    QVERIFY2(sandbox.start(QStringList{"--bind", siteAddress, "--addresses", "all", "--checkback", "1"} + tunnel.sandboxArgs()),
             qPrintable(sandbox.errorText()));
    env.setEndpoints(TestEnv::sandboxEndpoints(sandbox.url(), QStringLiteral("%1:%2").arg(siteAddress).arg(sandbox.port("dns"))));
    const auto inspect = [&] {
        return QJsonDocument::fromJson(NetLab::httpGet(lab.ns(QStringLiteral("site")), siteAddress, sandbox.port("http"), "/inspect")).object();
    };

    const QString aliceDir = env.filePath(QStringLiteral("alice-game")), bobDir = env.filePath(QStringLiteral("bob-game"));
    for (const QString &dir : {aliceDir, bobDir})
        QVERIFY(!Sandbox::makeGameFolder(dir, {QStringLiteral("--game-maps"), QStringLiteral("all")}).isEmpty());
    ClientProcess::writeSettings(env.settingsFile());
    QProcessEnvironment processEnv = env.clientEnvironment();
    if (loadSeconds)
        processEnv.insert(QStringLiteral("FAKEGAME_LOAD_SECONDS"), QString::number(loadSeconds));

    ClientProcess client(aliceDir);
    client.setLauncher(NetLab::launcher(alice.lan));
    BotProcess bot;
    bot.setLauncher(NetLab::launcher(bob.lan));
    bot.setEnvironment(processEnv);
    const auto startBot = [&] {
        return bot.start({QStringLiteral("--token"), QStringLiteral("token-bob"), QStringLiteral("--game-dir"), bobDir,
                          QStringLiteral("--bind"), bob.lanAddress})
               && (!botFirst || bot.waitForLine(QStringLiteral("BOT state queued"), 60000));
    };
    if (botFirst)
        QVERIFY2(startBot(), qPrintable(bot.transcript()));
    QVERIFY(client.start(processEnv));
    if (!botFirst) {
        QVERIFY2(QTest::qWaitFor([&] { return inspect().value(QStringLiteral("queue")).toArray().size() == 1; }, 60000),
                 qPrintable(client.tail()));
        QVERIFY2(startBot(), qPrintable(bot.transcript()));
    }
    const int matchMs = 120000 + loadSeconds * 1000;
    QVERIFY2(client.waitForExit(matchMs) == 0, qPrintable(client.tail()));
    QVERIFY2(bot.waitForLine(QStringLiteral("BOT done"), 30000), qPrintable(bot.transcript()));

    // The last update may still be on its way over a lossy link.
    const QStringList road{"Ready", "Reached", "GameSpawned", "GameFinished"};
    const auto played = [&](const QJsonObject &seen) {
        return Sandbox::statuses(seen, QStringLiteral("Alice")) == road && Sandbox::statuses(seen, QStringLiteral("Bob")) == road
               && seen.value(QStringLiteral("results")).toArray().size() == 2;
    };
    QJsonObject seen;
    (void)QTest::qWaitFor([&] { return played(seen = inspect()); }, 15000);

    // The path each side settled on, as told to the service: the opponent's
    // public address is a direct path, the tunnel's address the tunnel.
    QStringList report, used;
    QList<int> rtts;
    for (const QJsonValue &v : seen.value(QStringLiteral("updates")).toArray()) {
        const QJsonObject u = v.toObject();
        const QJsonArray peers = u.value(QStringLiteral("request")).toObject().value(QStringLiteral("peers")).toArray();
        if (u.value(QStringLiteral("status")).toString() != QLatin1String("Reached") || peers.size() != 1)
            continue;
        const QString user = u.value(QStringLiteral("username")).toString();
        const QString address = peers.first().toObject().value(QStringLiteral("address")).toString();
        const QString opponent = user == QLatin1String("Alice") ? bob.publicAddress : alice.publicAddress;
        used << (address == opponent ? QStringLiteral("direct") : address == tunnelAddress ? QStringLiteral("tunnel") : address);
        rtts << peers.first().toObject().value(QStringLiteral("rtt")).toInt();
        report << QStringLiteral("%1: %2, rtt %3 ms").arg(user, used.last()).arg(rtts.last());
    }
    // What the player saw in the Connection tab, as the log keeps it.
    static const QRegularExpression shownRe(QStringLiteral("Route to Bob: .*, rtt (\\d+) ms, loss (\\d+) %"));
    const QRegularExpressionMatch shown = shownRe.match(client.log());
    const int shownRtt = shown.captured(1).toInt(), shownLoss = shown.captured(2).toInt();
    report << QStringLiteral("shown: rtt %1 ms, loss %2 %").arg(shownRtt).arg(shownLoss);
    const QPair<int, int> a = sentReceived(aliceDir), b = sentReceived(bobDir);
    report << QStringLiteral("Alice sent %1 received %2, Bob sent %3 received %4").arg(a.first).arg(a.second).arg(b.first).arg(b.second);
    const QByteArray text = report.join(QStringLiteral("; ")).toUtf8();
    qInfo("%s; %.1f s", text.constData(), clock.elapsed() / 1000.0);

    QVERIFY2(played(seen), qPrintable(Sandbox::statuses(seen, QStringLiteral("Alice")).join(QLatin1Char(',')) + QLatin1String("; ")
                                      + Sandbox::statuses(seen, QStringLiteral("Bob")).join(QLatin1Char(','))));
    QCOMPARE(used.size(), 2);
    // Each game heard the other, not just itself through its own router.
    QVERIFY2(a.first > 0 && b.first > 0 && a.second * 2 >= b.first && b.second * 2 >= a.first, text.constData());
    if (!path.isEmpty())
        QVERIFY2(used == QStringList({path, path}), text.constData());
    // Either path crosses both uplinks twice: four times the delay, the
    // jitter averaged out, the routers' own time small beside it. Within
    // -25 % and +50 % of that.
    for (int rtt : qAsConst(rtts << shownRtt))
        QVERIFY2(!delayMs || (rtt >= 3 * delayMs && rtt <= 6 * delayMs), text.constData());
    // 5 % each way loses about 10 % of the round trips; 20 pings measure it
    // coarsely. Unimpaired, only the last ping may still be on its way.
    QVERIFY2(shown.hasMatch() && shownLoss <= (delayMs ? 35 : 10), text.constData());
}

QTEST_GUILESS_MAIN(TestNetnsMatch)
#include "tst_netnsmatch.moc"
