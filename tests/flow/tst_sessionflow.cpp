// The session flow in the real window against the sandbox service: ready,
// queue, cancel and a broken answer; the service out of reach; the ladder,
// side and map choices; and the match where the whole-match runs of the
// client and the user-road suite cannot reach, against bob, a second player
// made of the sandbox's find-match exchange and a real router, with the
// tunnel stand-in between them and the fake game as alice's launcher.
#include "dialogs.h"
#include "flowfixture.h"
#include "logcapture.h"
#include "routernode.h"
#include "tunnel.h"

#include "api/lorvaneapi.h"
#include "maps/mapdownloader.h"
#include "api/matchstate.h"
#include "net/router.h"
#include "ui/confirmreadydialog.h"
#include "ui/password.h"
#include "ui/traymenu.h"
#include "ui/waitingdialog.h"
#include "util/filedigest.h"
#include "watch/internetdetector.h"

#include <QtWidgets>
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
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QComboBox *rowBox(QTableWidget *table, int row)
{
    return qobject_cast<QComboBox *>(table->cellWidget(row, 0));
}

QStringList rowTexts(QTableWidget *table)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << table->item(row, 1)->text();
    return texts;
}

} // namespace

// The second player: queues through the sandbox like a client and plays
// through a real router; its game is a socket on the test's thread.
class Bob
{
public:
    Bob(FlowFixture &f, const Router::Timing &timing) : m_f(f)
    {
        RouterNode::Options options;
        options.ownThread = true;
        options.timing = timing;
        m_node.reset(new RouterNode(options));
    }
    QString findMatch()
    {
        const QJsonObject body{{"type", "match me up"}, {"side", -1}, {"map_sides", QJsonArray()}, {"version", "1.62"}};
        return m_f.sandbox().post(QStringLiteral("/api/v1/zantry/yr/Bob"), QJsonDocument(body).toJson(), "application/json", "token-bob")
            .json().object().value(QStringLiteral("type")).toString();
    }
    // Polls until the sandbox hands out bob's half of the match.
    bool waitForSpawn()
    {
        return QTest::qWaitFor([this] { return findMatch() == QLatin1String("spawn"); }, 15000);
    }
    void play(const IPEndpoint &tunnel) { m_node->startMatch(id(), {aliceId()}, {{tunnel, NetworkPath::Tunnel}}); }
    // One game datagram to alice through bob's router; what came back from
    // alice's game is counted.
    void exchange()
    {
        m_game.send(gameDatagram(quint16(id()), quint16(aliceId()), QByteArray(32, 'b')),
                    IPEndpoint(QHostAddress(QHostAddress::LocalHost), m_node->gamePort()));
        while (m_game.socket().hasPendingDatagrams())
            received += m_game.receive(1).size() > 4;
    }
    static quint32 id() { return nameHash(QStringLiteral("Bob")); }
    static quint32 aliceId() { return nameHash(QStringLiteral("Alice")); }
    int received = 0;

private:
    FlowFixture &m_f;
    std::unique_ptr<RouterNode> m_node;
    TestSocket m_game;
};

class TestSessionFlow : public QObject
{
    Q_OBJECT

public slots:
    // Stands in for the browser.
    void openUrl(const QUrl &url) { m_opened << url; }

private:
    QList<QUrl> m_opened;

    static int mapSideOfRow(FlowFixture &f, int row)
    {
        const QComboBox *box = rowBox(f.child<QTableWidget>("mapsList"), row);
        return f.window()->session()->api()->currentPlayer()->mapSide(box->property("bit_idx").toInt());
    }

    std::unique_ptr<TunnelProcess> m_tunnel;

    IPEndpoint relay() const { return IPEndpoint(QHostAddress(m_tunnel->address()), m_tunnel->relayPort()); }
    static void shortenWindowRouter(FlowFixture &f, const Router::Timing &timing)
    {
        Router *router = f.window()->session()->router();
        // Phases read their lengths when they start; the router is idle now.
        QMetaObject::invokeMethod(router, [router, timing] { router->setTiming(timing); }, Qt::BlockingQueuedConnection);
    }
    static bool openAndQueue(FlowFixture &f, Bob &bob)
    {
        QSettings().setValue(QStringLiteral("accessToken"), QStringLiteral("token-alice"));
        f.openWindow();
        return f.waitReady() && readyCheck(f, bob);
    }
    // From a window at ready: bob waits first, so alice's click forms the
    // match and the ready check comes up.
    static bool readyCheck(FlowFixture &f, Bob &bob)
    {
        if (bob.findMatch() != QLatin1String("please wait"))
            return false;
        QTest::mouseClick(f.child<QPushButton>("mainButton"), Qt::LeftButton);
        auto *dialog = f.window()->findChild<ConfirmReadyDialog *>();
        return QTest::qWaitFor([&] { return dialog->isVisible(); }, 10000) && bob.waitForSpawn();
    }
    static void acceptReadyCheck(FlowFixture &f, const Router::Timing &timing)
    {
        shortenWindowRouter(f, timing);
        auto *dialog = f.window()->findChild<ConfirmReadyDialog *>();
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("confirmReadyButton")), Qt::LeftButton);
    }
    static int count(const QStringList &list, const char *text) { return list.count(QLatin1String(text)); }
    static int touches(FlowFixture &f)
    {
        int n = 0;
        for (const QJsonValue &update : f.journal(QStringLiteral("updates")))
            n += update.toObject().value(QStringLiteral("status")) == QLatin1String("touch");
        return n;
    }

private slots:
    void initTestCase()
    {
        m_tunnel.reset(new TunnelProcess);
        QVERIFY2(m_tunnel->start(), qPrintable(m_tunnel->errorText()));
        // The waiting dialog offers the tray; these rounds play with one.
        TrayMenu::setTrayAvailableForTest(1);
    }
    void cleanupTestCase() { m_tunnel.reset(); }

    // One window from the stored token: ready, queue and cancel, a broken
    // answer back to ready with the user told, and queueing again.
    void storedTokenToReadyQueueAndBack()
    {
        FlowFixture f;
        QVERIFY(f.startReady());
        f.window()->session()->setRequeuePause(1000);
        auto *button = f.child<QPushButton>("mainButton");
        auto *status = f.child<QLabel>("statusLabel");
        QVERIFY(f.window()->isVisible() && !f.window()->findChild<Password *>()->isVisible());
        // Random is allowed on three of the four maps.
        QCOMPARE(f.child<QTableWidget>("mapsList")->rowCount(), 3);

        QVERIFY(f.clickMainButton(FlowFixture::kReady | MATCHUP_WAITFOR));
        QTRY_COMPARE(button->text(), QStringLiteral("Cancel"));
        QCOMPARE(status->text(), QStringLiteral("Searching for a matchup..."));
        QVERIFY(!f.child<QComboBox>("userNamesBox")->isEnabled());
        // "No Thanks" on the waiting dialog holds for the rest of the run.
        auto *waiting = f.window()->findChild<WaitingDialog *>();
        QVERIFY(Dialogs::click(waiting->findChild<QPushButton *>(QStringLiteral("continueButton"))));
        QVERIFY(f.clickMainButton(FlowFixture::kReady));
        QTRY_COMPARE(button->text(), QStringLiteral("Zantry!"));
        QCOMPARE(f.journal(QStringLiteral("quits")).size(), 1);

        // The next poll meets a maintenance page instead of an answer.
        QVERIFY(f.clickMainButton(FlowFixture::kReady | MATCHUP_WAITFOR));
        QVERIFY(!waiting->isVisible());
        QVERIFY(f.sandbox().control(QStringLiteral("fail"), QStringLiteral("path=/api/v1/zantry/yr/Alice&status=503")));
        QTRY_COMPARE_WITH_TIMEOUT(f.state(), FlowFixture::kReady, 10000);
        QTRY_VERIFY(status->text().startsWith(QStringLiteral("Matchmaking was interrupted: the ladder service did not answer.\nQueueing again in ")));
        QVERIFY(button->isEnabled());
        // Back in service: the queue is taken up again without a click.
        QVERIFY(f.sandbox().control(QStringLiteral("fail"), QStringLiteral("path=/api/v1/zantry/yr/Alice&status=0")));
        QTRY_COMPARE_WITH_TIMEOUT(f.state(), FlowFixture::kReady | MATCHUP_WAITFOR, 15000);
        // The tray's Leave Queue, offered while queued, leaves as Cancel does.
        auto *leave = f.window()->findChild<QAction *>(QStringLiteral("leaveQueueAction"));
        QTRY_VERIFY(leave->isVisible());
        leave->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(f.state(), FlowFixture::kReady, 10000);
        QVERIFY(!leave->isVisible());
        QTRY_COMPARE(status->text(), QStringLiteral("Zantry"));
        // The help button and the logo open the ladder site.
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openUrl");
        f.child<QPushButton>("helpButton")->click();
        QTest::mouseClick(f.child<QLabel>("lorvaneLabel"), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QCOMPARE(m_opened, (QList<QUrl>{QUrl(f.sandbox().baseUrl() + QStringLiteral("/ladder#help")), QUrl(f.sandbox().baseUrl())}));
        m_opened.clear();
    }

    // A maintenance page at start is named on the form, the stored login is
    // kept, and the session goes on by itself once the service is back.
    void serviceBackAfterMaintenance()
    {
        FlowFixture f;
        QVERIFY(f.prepare());
        QVERIFY(f.sandbox().control(QStringLiteral("fail"), QStringLiteral("path=/api/v1/auth/refresh&status=500")));
        QSettings().setValue(QStringLiteral("accessToken"), QStringLiteral("token-alice"));
        f.openWindow();
        auto *form = f.window()->findChild<Password *>();
        auto *warning = form->findChild<QLabel *>(QStringLiteral("warningLabel"));
        QTRY_VERIFY_WITH_TIMEOUT(form->isVisible() && warning->text().contains(QStringLiteral("(HTTP 500, text/html)")), 10000);
        QVERIFY2(warning->text().contains(QStringLiteral("Trying again in 2 s.")), qPrintable(warning->text()));
        QCOMPARE(QSettings().value(QStringLiteral("accessToken")).toString(), QStringLiteral("token-alice"));
        QVERIFY(f.sandbox().control(QStringLiteral("fail"), QStringLiteral("path=/api/v1/auth/refresh&status=0")));
        QVERIFY(f.waitReady());
        QVERIFY(!form->isVisible());
    }

    // A settings folder that cannot be written: the player logs in, plays,
    // and learns that the login will not be kept.
    void unsavableSettingsSaid()
    {
        FlowFixture f;
        QVERIFY(f.prepare());
        const QFileInfo file(QSettings().fileName());
        QVERIFY(QDir(file.absolutePath()).removeRecursively());
        QFile blocker(file.absolutePath());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        f.openWindow();
        auto *form = f.window()->findChild<Password *>();
        QTRY_VERIFY_WITH_TIMEOUT(form->isVisible() && (f.state() & LOGIN), 10000);
        form->findChild<QLineEdit *>(QStringLiteral("emailAddress"))->setText(QStringLiteral("alice@sandbox.test"));
        auto *password = form->findChild<QLineEdit *>(QStringLiteral("password"));
        password->setText(QStringLiteral("alice-pass"));
        QTest::keyClick(password, Qt::Key_Return);
        QVERIFY(f.waitReady());
        QTRY_VERIFY(f.child<QLabel>("statusLabel")->text().startsWith(QStringLiteral("Settings cannot be saved (the folder ")));
    }

    // Dave plays only Yuri's Revenge; the folder holds Tiberian Sun only.
    // Cancel on the sign-up question closes the program, without the page.
    void noInstalledGameMeansNoLadderAccount()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "openUrl");
        FlowFixture f;
        f.gameFolderArgs = QStringList{QStringLiteral("--game"), QStringLiteral("ts")};
        QVERIFY(f.start(QStringLiteral("token-dave")));
        int noAccount = 0, closing = 0;
        f.answerWarning(QStringLiteral("You don't have a ladder account for this game.\nWould you like to sign up?"),
                        QStringLiteral("Cancel"), &noAccount);
        f.answerWarning(QStringLiteral("Are you sure you want to close?"), QStringLiteral("Yes"), &closing);
        QTRY_COMPARE_WITH_TIMEOUT(noAccount, 1, 20000);
        QVERIFY(f.state() & NO_LADDER_ACCN);
        QCOMPARE(f.child<QComboBox>("ladderBox")->count(), 0);
        QCOMPARE(f.child<QComboBox>("userNamesBox")->count(), 0);
        QTRY_COMPARE(closing, 1);
        QTRY_VERIFY(!f.window()->isVisible());
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QVERIFY(m_opened.isEmpty());
    }

    void vetoesAndSides()
    {
        FlowFixture f;
        QVERIFY(f.startReady());
        auto *maps = f.child<QTableWidget>("mapsList");
        auto *sides = f.child<QComboBox>("sideBox");
        QCOMPARE(sides->currentText(), QStringLiteral("Random"));
        QCOMPARE(rowTexts(maps), (QStringList{"Arena of Glass", "Coldwater Ford", "Rusted Basin"}));
        // Two vetoes on this ladder: the third rejection snaps back.
        for (int row = 0; row < 3; ++row)
            rowBox(maps, row)->setCurrentText(QStringLiteral("Rejected"));
        QCOMPARE(rowBox(maps, 1)->currentText(), QStringLiteral("Rejected"));
        QCOMPARE(rowBox(maps, 2)->currentText(), QStringLiteral("Random"));
        QCOMPARE(mapSideOfRow(f, 0), -2);
        QVERIFY(mapSideOfRow(f, 2) != -2);
        QVERIFY(!(maps->item(0, 1)->flags() & Qt::ItemIsEnabled));
        rowBox(maps, 0)->setCurrentText(QStringLiteral("Korea"));
        QVERIFY(maps->item(0, 1)->flags() & Qt::ItemIsEnabled);
        QCOMPARE(mapSideOfRow(f, 0), 1); // Korea's number in the game

        // America is allowed on every map; Germany not on Twin Spires, which
        // is still handed to the downloader.
        sides->setCurrentText(QStringLiteral("America"));
        QCOMPARE(maps->rowCount(), 4);
        QCOMPARE(maps->horizontalHeaderItem(0)->text(), QStringLiteral("Side")); // refilled, titles kept
        QCOMPARE(QSettings().value(QStringLiteral("Player101/Side")).toInt(), 2);
        sides->setCurrentText(QStringLiteral("Germany"));
        QCOMPARE(rowTexts(maps), (QStringList{"Arena of Glass", "Coldwater Ford", "Rusted Basin"}));
        QTRY_COMPARE_WITH_TIMEOUT(f.state(), FlowFixture::kReady, 10000);
        QVERIFY(!f.window()->session()->mapDownloader()->mapFilePath(f.mapHash(QStringLiteral("twin.spires.map"))).isEmpty());
        // Each per-map box starts on the main side unless a choice was stored.
        QCOMPARE(rowBox(maps, 2)->currentText(), QStringLiteral("Germany"));
        // A map's downloaded preview shows when its row is chosen (fitted by
        // a double click); the sandbox has none for Twin Spires.
        sides->setCurrentText(QStringLiteral("America"));
        auto *view = f.child<QLabel>("mapViewLabel");
        const QImage logo = QPixmap(QStringLiteral(":/images/logo-icon-dark.png")).toImage();
        const QString arena = f.window()->session()->mapDownloader()->mapFilePath(f.mapHash(QStringLiteral("arena_of_glass.map")));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(QFileInfo(arena).path() + QStringLiteral("/arena_of_glass.png")), 15000);
        maps->setCurrentCell(0, 1);
        emit maps->doubleClicked(maps->model()->index(0, 1));
        QVERIFY(view->pixmap(Qt::ReturnByValue).toImage() != logo);
        maps->setCurrentCell(rowTexts(maps).indexOf(QStringLiteral("Twin Spires")), 1);
        QCOMPARE(view->pixmap(Qt::ReturnByValue).toImage(), logo);
    }

    // The service's refusal to queue a suspended account reaches the player.
    void fatalAnswerIsShown()
    {
        FlowFixture f;
        QVERIFY(f.start(QStringLiteral("token-banned")) && f.waitReady());
        int told = 0;
        f.answerWarning(QStringLiteral("Your account is suspended from the ladder."), QStringLiteral("Close"), &told);
        f.answerWarning(QStringLiteral("Are you sure you want to close?"), QStringLiteral("No"));
        QTest::mouseClick(f.child<QPushButton>("mainButton"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(told, 1, 10000);
        QCOMPARE(f.state(), FlowFixture::kReady);
    }


    // While the game runs the status is touched on the timer; the match's
    // files come and go with it: the sandbox renderer's library and extra
    // files copied in and removed after, the player's own copy of one of
    // them untouched, the map copied, an earlier game's result not sent.
    void gameRunTouchesAndTidiesTheFolder()
    {
        FlowFixture f;
        QVERIFY(f.prepare(m_tunnel->sandboxArgs() + QStringList{QStringLiteral("--game-id"), QStringLiteral("41")}));
        writeFile(f.gameDir() + QStringLiteral("fakegame.ini"), "[FakeGame]\nSeconds=2\nIntervalMs=50\n");
        writeFile(f.gameDir() + QStringLiteral("stats.dmp"), "stale result\n");
        writeFile(f.gameDir() + QStringLiteral("sandbox_extra2.dat"), "mine");
        const Router::Timing timing = matchTiming(8000);
        Bob bob(f, timing);
        QVERIFY(openAndQueue(f, bob));
        f.window()->session()->setStatusInterval(100);
        acceptReadyCheck(f, timing);
        bob.play(relay());
        QVERIFY(QTest::qWaitFor([&] { bob.exchange(); return (f.state() & GAME_SPAWNED) != 0; }, 20000));
        QCOMPARE(readFile(f.gameDir() + QStringLiteral("ddraw.dll")), QByteArray("sandbox renderer library\n"));
        QCOMPARE(readFile(f.gameDir() + QStringLiteral("sandbox_extra1.dat")), QByteArray("extra one\n"));
        QTRY_VERIFY(touches(f) >= 2);
        QVERIFY(QTest::qWaitFor([&] { bob.exchange(); return f.state() == FlowFixture::kReady; }, 20000));
        QVERIFY(bob.received > 0);
        QVERIFY(!QFile::exists(f.gameDir() + QStringLiteral("ddraw.dll")));
        QVERIFY(!QFile::exists(f.gameDir() + QStringLiteral("sandbox_extra1.dat")));
        QCOMPARE(readFile(f.gameDir() + QStringLiteral("sandbox_extra2.dat")), QByteArray("mine"));
        QCOMPARE(FileDigest::sha1Hex(f.gameDir() + QStringLiteral("spawnmap.ini")), f.window()->session()->match()->spawnInfo().mapHash);
        QTest::qWait(300); // one may still have been on its way
        const int touched = touches(f);
        QTest::qWait(400);
        QCOMPARE(touches(f), touched);

        // The upload carries this game's stats and the detector's counts.
        QTRY_VERIFY_WITH_TIMEOUT(!f.journal(QStringLiteral("results")).isEmpty(), 10000);
        const QJsonObject result = f.journal(QStringLiteral("results")).at(0).toObject();
        QCOMPARE(result.value(QStringLiteral("gameId")).toInt(), 41);
        const InternetDetector *pings = f.window()->session()->internetDetector();
        // One answer may still have been on its way when the counts were read.
        QVERIFY(pings->sent() > 0 && result.value(QStringLiteral("pingSent")).toInt() == pings->sent()
                && pings->received() - result.value(QStringLiteral("pingReceived")).toInt() <= 1);
        const QByteArray stats = QByteArray::fromBase64(
            result.value(QStringLiteral("parts")).toArray().at(0).toObject().value(QStringLiteral("base64")).toString().toLatin1());
        QVERIFY2(stats.contains("[Game]") && !stats.contains("stale"), stats.constData());
        // Back at ready, the line says what the match was and what became of its result.
        QTRY_COMPARE(f.child<QLabel>("statusLabel")->text(),
                     QStringLiteral("Last match: %1 against Bob.\nResult uploaded.").arg(f.window()->session()->match()->spawnInfo().uiMapName));
    }

    // Rounds in one window: the ready check left to run out; accepted, then
    // cancelled while the route is searched; accepted with bob never
    // routing, the warning answered Ok (queued again), and then with a
    // close question open under it.
    void readyCheckRoundsThatEndWithoutAGame()
    {
        FlowFixture f;
        QVERIFY(f.prepare(m_tunnel->sandboxArgs()));
        const Router::Timing shortFlood = matchTiming(800), longFlood = matchTiming(30000);
        Bob bob(f, shortFlood);
        QVERIFY(openAndQueue(f, bob));
        auto *dialog = f.window()->findChild<ConfirmReadyDialog *>();
        dialog->findChild<QTimer *>(QStringLiteral("timeoutTimer"))->start(10); // the countdown's end, brought forward
        QTRY_VERIFY(!dialog->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(f.updateStatuses(QStringLiteral("Alice")).contains(QStringLiteral("NotReady")), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(f.journal(QStringLiteral("quits")).size(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(f.state(), FlowFixture::kReady, 10000);

        // The main button reads "Cancel" while the route is searched.
        QVERIFY(readyCheck(f, bob));
        acceptReadyCheck(f, longFlood);
        auto *button = f.child<QPushButton>("mainButton");
        QTRY_VERIFY_WITH_TIMEOUT((f.state() & NETWORK_FIND_STARTED) && button->isEnabled() && button->text() == QLatin1String("Cancel"), 10000);
        QCOMPARE(f.window()->session()->router()->state(), Router::FLOOD);
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(f.state(), FlowFixture::kReady, 10000);
        QCOMPARE(f.window()->session()->router()->state(), Router::NOTHING);
        QTRY_COMPARE(f.journal(QStringLiteral("quits")).size(), 2);
        QTRY_COMPARE(button->text(), QStringLiteral("Zantry!"));

        // Ok queues again on its own.
        QVERIFY(readyCheck(f, bob));
        int told = 0;
        f.answerWarning(QStringLiteral("The other player wasn't ready!"), QStringLiteral("OK"), &told);
        acceptReadyCheck(f, shortFlood);
        QTRY_COMPARE_WITH_TIMEOUT(told, 1, 15000);
        QTRY_VERIFY(f.updateStatuses(QStringLiteral("Alice")).contains(QStringLiteral("NotReached")));
        QTRY_COMPARE_WITH_TIMEOUT(f.state(), FlowFixture::kReady | MATCHUP_WAITFOR, 10000);
        QVERIFY(f.clickMainButton(FlowFixture::kReady));

        // The window's close asked while the route is searched: the warning
        // comes over the open close question, as a dialog of its own.
        // Closed with its title bar it declines the next match ("NotReady",
        // not queued again) and leaves the close question as it was, whose
        // No keeps the program.
        QVERIFY(readyCheck(f, bob));
        acceptReadyCheck(f, shortFlood);
        QTRY_VERIFY_WITH_TIMEOUT(f.state() & NETWORK_FIND_STARTED, 10000);
        int closeAsked = 0, bothOpen = 0;
        MainWindow *window = f.window();
        Dialogs::answerWarning(window, QStringLiteral("The other player wasn't ready!"), QString(), &told, [&] {
            bothOpen = Dialogs::visibleWarnings().size();
            Dialogs::answerWarning(window, QStringLiteral("Are you sure you want to close?"), QStringLiteral("No"),
                                   &closeAsked);
        });
        QPushButton *close = nullptr;
        for (QPushButton *button : window->findChildren<QPushButton *>(QStringLiteral("closeButton")))
            close = button->window() == window ? button : close;
        QVERIFY(Dialogs::click(close)); // returns once the close question is answered
        QCOMPARE(told, 2);
        QCOMPARE(bothOpen, 2);
        QCOMPARE(closeAsked, 1);
        QTRY_COMPARE_WITH_TIMEOUT(count(f.updateStatuses(QStringLiteral("Alice")), "NotReady"), 2, 10000);
        QTest::qWait(500);
        QCOMPARE(f.state(), FlowFixture::kReady);
        QCOMPARE(f.window()->session()->router()->state(), Router::NOTHING);
        QVERIFY(f.journal(QStringLiteral("queue")).isEmpty());
        QVERIFY(f.window()->isVisible());
    }

private:
    // Plays a match up to the launch of alice's game and back to ready, the
    // notice that begins with told answered once; the game never ran.
    void playUntilLaunchFails(FlowFixture &f, const QString &told, const std::function<void()> &beforeOpen)
    {
        QVERIFY(f.prepare(m_tunnel->sandboxArgs()));
        beforeOpen();
        const Router::Timing timing = matchTiming(8000);
        Bob bob(f, timing);
        QVERIFY(openAndQueue(f, bob));
        f.window()->session()->setSpawnRetryWindow(3000);
        f.window()->session()->setSpawnRetryPause(300);
        int answered = 0;
        f.answerWarning(told, QStringLiteral("OK"), &answered);
        acceptReadyCheck(f, timing);
        bob.play(relay());
        QVERIFY(QTest::qWaitFor([&] { bob.exchange(); return answered == 1; }, 30000));
        QTRY_COMPARE_WITH_TIMEOUT(f.state(), FlowFixture::kReady, 10000);
        QVERIFY(!f.window()->session()->match()->gameProcess());
        QTRY_COMPARE(f.updateStatuses(QStringLiteral("Alice")), (QStringList{"Ready", "Reached", "GameError"}));
    }

private slots:
    // A Windows launcher and a Wine that can never run it (wineProgram
    // names a folder): refused once, before any start, the player told
    // which program and why.
    void unusableWineIsRefusedOnce()
    {
        FlowFixture f;
        LogCapture log;
        const QString folder = QDir::currentPath() + QStringLiteral("/wine-folder");
        const QString told = QStringLiteral("morvel.exe is a Windows program, and the Wine program set in wineProgram (\"%1\")").arg(folder);
        playUntilLaunchFails(f, told, [&] {
            QFile::remove(f.gameDir() + QStringLiteral("morvel.exe")); // the sandbox's copy, never written through
            writeFile(f.gameDir() + QStringLiteral("morvel.exe"), QByteArray("MZ\x90\0", 4));
            QDir().mkpath(folder);
            QSettings().setValue(QStringLiteral("wineProgram"), folder);
        });
        QCOMPARE(log.count(QStringLiteral("Spawning game: ")), 1);
        QCOMPARE(log.count(QStringLiteral("Error reported during spawn")), 0);
    }

    // A launcher that passes every check and still fails to start (its
    // interpreter is missing) is tried again after a pause each time for
    // the retry window, then the match ends with the player told.
    void launcherThatFailsToStartIsRetriedWithPauses()
    {
        FlowFixture f;
        LogCapture log;
        playUntilLaunchFails(f, QStringLiteral("The game could not be started: ") + f.gameDir(), [&] {
            const QString launcher = f.gameDir() + QStringLiteral("morvel.exe");
            QFile::remove(launcher);
            writeFile(launcher, "#!/no/such/interpreter\n");
            QFile::setPermissions(launcher, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        // At most one try per pause, where tries one after the other ran
        // into the hundreds.
        const int tries = log.count(QStringLiteral("Error reported during spawn: 0"));
        QVERIFY2(tries >= 4 && tries <= 11, qPrintable(QString::number(tries)));
        QCOMPARE(log.count(QStringLiteral("Respawn failed")), 1);
    }
};

FLOW_TEST_MAIN(TestSessionFlow)
#include "tst_sessionflow.moc"
