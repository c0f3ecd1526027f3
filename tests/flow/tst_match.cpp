// A whole match in the real window: alice's window against bob, a second
// player made of the sandbox's find-match exchange and a real router, with
// the tunnel stand-in between them and the fake game as alice's launcher.
#include "flowfixture.h"
#include "logcapture.h"
#include "routernode.h"
#include "tunnel.h"

#include "api/lorvaneapi.h"
#include "app/filedigest.h"
#include "net/global.h"
#include "net/router.h"
#include "spawn/spawninfo.h"
#include "ui/confirmreadydialog.h"
#include "ui/warningdialog.h"
#include "watch/internetdetector.h"
#include "watch/statusbroadcaster.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

using namespace Zantry;

namespace {

Router::Timing matchTiming(int floodMs)
{
    Router::Timing t = RouterNode::fastTiming();
    t.floodTimeout = floodMs;
    t.pingTime = 800;
    t.readyTime = 300;
    t.sendInterval = 60;
    t.pathTimeout = 5000;
    t.timeoutInterval = 200;
    return t;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

// The second player: queues through the sandbox like a client and plays
// through a real router; its game is a socket on the test's thread.
class Bob
{
public:
    Bob(FlowFixture &f, const Router::Timing &timing)
        : m_f(f)
    {
        RouterNode::Options options;
        options.ownThread = true;
        options.timing = timing;
        m_node.reset(new RouterNode(options));
    }

    QJsonObject findMatch()
    {
        const QJsonObject body{{QStringLiteral("type"), QStringLiteral("match me up")},
                               {QStringLiteral("side"), -1},
                               {QStringLiteral("map_sides"), QJsonArray()},
                               {QStringLiteral("version"), QStringLiteral("1.62")}};
        return m_f.sandbox()
            .post(QStringLiteral("/api/v1/zantry/yr/Bob"), QJsonDocument(body).toJson(), "application/json",
                  "token-bob")
            .json()
            .object();
    }

    // Polls until the sandbox hands out bob's half of the match.
    bool waitForSpawn(int timeoutMs = 15000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!clock.hasExpired(timeoutMs)) {
            const QJsonObject reply = findMatch();
            if (reply.value(QStringLiteral("type")).toString() == QLatin1String("spawn"))
                return true;
            QTest::qWait(200);
        }
        return false;
    }

    void play(const IPEndpoint &tunnel)
    {
        m_node->startMatch(id(), {aliceId()}, {{tunnel, NetworkPath::Tunnel}});
    }

    // One game datagram to alice through bob's router; whatever came back
    // from alice's game is counted.
    void exchange()
    {
        m_game.send(gameDatagram(quint16(id()), quint16(aliceId()), QByteArray(32, 'b')),
                    IPEndpoint(QHostAddress(QHostAddress::LocalHost), m_node->gamePort()));
        while (m_game.socket().hasPendingDatagrams()) {
            const QByteArray d = m_game.receive(1);
            if (d.size() > 4)
                ++received;
        }
    }

    static quint32 id() { return nameHash(QStringLiteral("Bob")); }
    static quint32 aliceId() { return nameHash(QStringLiteral("Alice")); }
    RouterNode &node() { return *m_node; }

    int received = 0;

private:
    FlowFixture &m_f;
    std::unique_ptr<RouterNode> m_node;
    TestSocket m_game;
};

class TestMatch : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void wholeMatch();
    void readyCheckLeftAloneThenOtherPlayerNotReached();
    void launcherThatCannotStartIsRetriedThenGivenUp();

private:
    // Alice ready, bob queued, alice's click: the ready check is up.
    bool reachReadyCheck(FlowFixture &f, Bob &bob);
    // The same from a window already ready.
    bool readyCheck(FlowFixture &f, Bob &bob);
    void acceptReadyCheck(FlowFixture &f);
    void shortenWindowRouter(const Router::Timing &timing);

    std::unique_ptr<TunnelProcess> m_tunnel;
};

void TestMatch::init()
{
    m_tunnel.reset(new TunnelProcess);
    QVERIFY2(m_tunnel->start(), qPrintable(m_tunnel->errorText()));
}

void TestMatch::cleanup()
{
    m_tunnel.reset();
}

void TestMatch::shortenWindowRouter(const Router::Timing &timing)
{
    Router *router = Global::instance()->router();
    QVERIFY(router);
    // Phases read their lengths when they start; the router is idle now.
    QMetaObject::invokeMethod(router, [router, timing] { router->setTiming(timing); }, Qt::BlockingQueuedConnection);
}

bool TestMatch::reachReadyCheck(FlowFixture &f, Bob &bob)
{
    QSettings().setValue(QStringLiteral("accessToken"), QStringLiteral("token-alice"));
    f.openWindow();
    return f.waitReady() && readyCheck(f, bob);
}

bool TestMatch::readyCheck(FlowFixture &f, Bob &bob)
{
    // Bob waits first, so alice's request forms the match.
    if (bob.findMatch().value(QStringLiteral("type")).toString() != QLatin1String("please wait"))
        return false;
    QTest::mouseClick(f.child<QPushButton>("mainButton"), Qt::LeftButton);
    auto *dialog = f.window()->findChild<ConfirmReadyDialog *>();
    return QTest::qWaitFor([&] { return dialog->isVisible(); }, 10000) && bob.waitForSpawn();
}

void TestMatch::acceptReadyCheck(FlowFixture &f)
{
    auto *dialog = f.window()->findChild<ConfirmReadyDialog *>();
    QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("confirmReadyButton")), Qt::LeftButton);
}

void TestMatch::wholeMatch()
{
    FlowFixture f;
    QVERIFY(f.prepare({QStringLiteral("--tunnel"), m_tunnel->address() + QLatin1Char(':') + QString::number(m_tunnel->relayPort()),
                       QStringLiteral("--game-id"), QStringLiteral("41")}));
    writeFile(f.gameDir() + QStringLiteral("fakegame.ini"), "[FakeGame]\nSeconds=2\nIntervalMs=50\n");
    writeFile(f.gameDir() + QStringLiteral("stats.dmp"), "stale result\n"); // an earlier game's, never to be uploaded

    const Router::Timing timing = matchTiming(8000);
    Bob bob(f, timing);
    QVERIFY(reachReadyCheck(f, bob));
    shortenWindowRouter(timing);
    acceptReadyCheck(f);
    QTRY_COMPARE(f.child<QLabel>("statusLabel")->text(), QStringLiteral("Starting Network Connection."));
    bob.play(IPEndpoint(QHostAddress(m_tunnel->address()), m_tunnel->relayPort()));

    // The connection form shows, then the game runs.
    QTRY_VERIFY_WITH_TIMEOUT(f.state() & (NETWORK_FIND_STARTED | NETWORK_FIND_FINISHED | NETWORK_PERF_STARTED), 10000);
    QVERIFY(QTest::qWaitFor(
        [&] {
            bob.exchange();
            return (f.state() & GAME_SPAWNED) != 0;
        },
        20000));
    QTRY_COMPARE(f.child<QLabel>("statusLabel")->text(), QStringLiteral("Game In Progress"));
    QVERIFY(Global::instance()->statusBroadcaster()->inGame());

    // The spawn file names the router's game port on loopback.
    const QSettings spawn(f.gameDir() + QStringLiteral("spawn.ini"), QSettings::IniFormat);
    QCOMPARE(spawn.value(QStringLiteral("Tunnel/IP")).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(spawn.value(QStringLiteral("Tunnel/Port")).toInt(), int(Global::instance()->router()->gamePort()));
    const QString mapHash = Global::instance()->spawnInfo().mapHash;
    QVERIFY(!mapHash.isEmpty());
    QCOMPARE(FileDigest::sha1Hex(f.gameDir() + QStringLiteral("spawnmap.ini")), mapHash);

    QVERIFY(QTest::qWaitFor(
        [&] {
            bob.exchange();
            return f.state() == FlowFixture::kReady;
        },
        20000));
    QVERIFY(bob.received > 0);
    QTRY_COMPARE(f.child<QPushButton>("mainButton")->text(), QStringLiteral("Zantry!"));
    QVERIFY(!Global::instance()->statusBroadcaster()->inGame());
    QVERIFY(!Global::instance()->statusBroadcaster()->inQueue());
    QVERIFY(!Global::instance()->gameProcess());

    QFile gameLog(f.gameDir() + QStringLiteral("fakegame.log"));
    QVERIFY(gameLog.open(QIODevice::ReadOnly));
    QVERIFY(gameLog.readAll().contains("started as morvel.exe with \"-SPAWN\" in " + QDir::currentPath().toUtf8()));

    // The result upload carries this game's stats and the detector's counts.
    QTRY_VERIFY_WITH_TIMEOUT(!f.journal(QStringLiteral("results")).isEmpty(), 10000);
    const QJsonObject result = f.journal(QStringLiteral("results")).at(0).toObject();
    QCOMPARE(result.value(QStringLiteral("gameId")).toInt(), 41);
    QCOMPARE(result.value(QStringLiteral("pingSent")).toInt(), f.window()->internetDetector()->sent());
    // One answer may still have been on its way when the counts were read.
    const int received = result.value(QStringLiteral("pingReceived")).toInt();
    QVERIFY(received <= f.window()->internetDetector()->received());
    QVERIFY(received >= f.window()->internetDetector()->received() - 1);
    QVERIFY(f.window()->internetDetector()->sent() > 0);
    const QByteArray stats = QByteArray::fromBase64(
        result.value(QStringLiteral("parts")).toArray().at(0).toObject().value(QStringLiteral("base64")).toString().toLatin1());
    QVERIFY2(stats.contains("[Game]") && !stats.contains("stale"), stats.constData());
    QVERIFY(!stats.contains("Received=0\n"));
}

// Two rounds in one window: the ready check left to run out, then accepted
// with bob never starting his router.
void TestMatch::readyCheckLeftAloneThenOtherPlayerNotReached()
{
    FlowFixture f;
    QVERIFY(f.prepare({QStringLiteral("--tunnel"),
                       m_tunnel->address() + QLatin1Char(':') + QString::number(m_tunnel->relayPort())}));
    const Router::Timing timing = matchTiming(800);
    Bob bob(f, timing);
    QVERIFY(reachReadyCheck(f, bob));
    auto *dialog = f.window()->findChild<ConfirmReadyDialog *>();
    // The countdown's end, brought forward.
    dialog->findChild<QTimer *>(QStringLiteral("timeoutTimer"))->start(10);
    QTRY_VERIFY(!dialog->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(f.updateStatuses(QStringLiteral("Alice")).contains(QStringLiteral("NotReady")), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!f.journal(QStringLiteral("quits")).isEmpty(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(f.state(), FlowFixture::kReady, 10000);
    QVERIFY(f.child<QPushButton>("mainButton")->isEnabled());

    QVERIFY(readyCheck(f, bob));
    shortenWindowRouter(timing);
    acceptReadyCheck(f);
    // The warning comes while the flow is back at ready; its OK queues again.
    int told = 0;
    f.answerWarning(QStringLiteral("The other player wasn't ready!"), QStringLiteral("OK"), &told);
    QTRY_COMPARE_WITH_TIMEOUT(told, 1, 15000);
    QTRY_VERIFY(f.updateStatuses(QStringLiteral("Alice")).contains(QStringLiteral("NotReached")));
    QTRY_COMPARE_WITH_TIMEOUT(f.state(), FlowFixture::kReady | MATCHUP_WAITFOR, 10000);
    QVERIFY(f.clickMainButton(FlowFixture::kReady));
}

void TestMatch::launcherThatCannotStartIsRetriedThenGivenUp()
{
    LogCapture log;
    FlowFixture f;
    f.gameFolderArgs << QStringLiteral("--broken-launcher");
    QVERIFY(f.prepare({QStringLiteral("--tunnel"),
                       m_tunnel->address() + QLatin1Char(':') + QString::number(m_tunnel->relayPort())}));
    const Router::Timing timing = matchTiming(8000);
    Bob bob(f, timing);
    QVERIFY(reachReadyCheck(f, bob));
    f.window()->setSpawnRetryWindow(1000);
    shortenWindowRouter(timing);
    acceptReadyCheck(f);
    bob.play(IPEndpoint(QHostAddress(m_tunnel->address()), m_tunnel->relayPort()));
    QVERIFY(QTest::qWaitFor(
        [&] {
            bob.exchange();
            return log.contains(QStringLiteral("Respawn failed"));
        },
        20000));
    QVERIFY(log.contains(QStringLiteral("Retrying spawn for the next 1000 ms")));
    QTRY_COMPARE_WITH_TIMEOUT(f.state(), FlowFixture::kReady, 10000);
    QVERIFY(!Global::instance()->gameProcess());
    QTRY_VERIFY(f.updateStatuses(QStringLiteral("Alice")).contains(QStringLiteral("GameFinished")));
    QVERIFY(!f.updateStatuses(QStringLiteral("Alice")).contains(QStringLiteral("GameSpawned")));
}

FLOW_TEST_MAIN(TestMatch)
#include "tst_match.moc"
