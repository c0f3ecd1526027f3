// A new player's road through the real window: an empty settings file, no
// stored token, credentials typed into the login form and clicks on what is
// on screen, against the sandbox service, a tunnel server and a bot
// opponent, with the window started the way the program starts it.
#include "botprocess.h"
#include "clientprocess.h"
#include "dialogs.h"
#include "processnamespace.h"
#include "sandbox.h"
#include "tunnel.h"

#include "app/startup.h"
#include "util/zantrylog.h"
#include "maps/mapdownloader.h"
#include "ui/mainwindow.h"
#include "ui/password.h"
#include "session/zantrystate.h"
#include "ui/traymenu.h"

#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <memory>

using namespace Zantry;

namespace {
const int kMatchMs = 150000;
const QString kEmail = QStringLiteral("alice@sandbox.test");
const QString kPassword = QStringLiteral("alice-pass");
const int kAlicePlayerId = 101;
const QString kFolderQuestion = QStringLiteral("Please run Zantry from a Lorvane game folder.");
} // namespace

// A step of the road: a failure inside it ends the case.
#define STEP(call)                                                                                                     \
    do {                                                                                                               \
        call;                                                                                                          \
        if (QTest::currentTestFailed())                                                                                \
            return;                                                                                                    \
    } while (false)

// Waits for cond while the bot still plays: an opponent who left ends the
// case at once, saying so.
#define WAIT_WHILE_BOT_PLAYS(cond, ms)                                                                                 \
    QVERIFY2(m_bot->waitWhilePlaying([&]() { return bool(cond); }, ms), qPrintable(m_bot->whereabouts()))

class TestUserRoad : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void firstLoginTypedToUploadedResult();
    void logOutThenLogInAgain();
    void watchedProgramPausesTheQueueUntilItEnds();
    void silentGameLoadKeepsTheRoute();
    void closeWhileQueuedEndsOnTheConfirmation();
    void fromTheDesktopMenuFolderFirst_data();
    void fromTheDesktopMenuFolderFirst();
    void closeAtTheFolderQuestionEndsTheProgram_data();
    void closeAtTheFolderQuestionEndsTheProgram();

private:
    void openClient(const QString &gameDir = QString());
    // As the desktop entry starts it: from the home folder.
    void openFromHome(const QString &gameDir = QString());
    // The program's event loop, as start-up runs it, until the program ends;
    // its exit status (-1: still running after timeoutMs).
    int runProgram(int timeoutMs);
    void logIn(const QString &email, const QString &password);
    void waitReady();
    void queue();
    QPushButton *closeButton() const;
    QDialog *readyCheck() const { return child<QDialog>("ConfirmReadyDialog"); }
    void playMatch();
    void startBot();
    void writeLoadDelay(const QString &dir, int seconds);
    template<typename T> T *child(const char *name) const { return m_window->findChild<T *>(QLatin1String(name)); }
    QString gameDir() const { return m_env->filePath(QStringLiteral("game")); }
    QString botDir() const { return m_env->filePath(QStringLiteral("bot-game")); }
    int queued() const { return m_sandbox->inspect().value(QStringLiteral("queue")).toArray().size(); }
    bool resultUploaded() const;

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<TunnelProcess> m_tunnel;
    std::unique_ptr<Sandbox> m_sandbox;
    std::unique_ptr<BotProcess> m_bot;
    std::unique_ptr<MainWindow> m_window;
};

void TestUserRoad::init()
{
    m_env.reset(new TestEnv);
    m_tunnel.reset(new TunnelProcess);
    m_sandbox.reset(new Sandbox);
    const QString error = m_sandbox->startWithTunnel(*m_tunnel, *m_env);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!Sandbox::makeGameFolder(gameDir(), {QStringLiteral("--game-maps"), QStringLiteral("all")}).isEmpty());
    QVERIFY(QDir::setCurrent(gameDir()));
    QVERIFY(!QFile::exists(m_env->settingsFile()));
}

void TestUserRoad::cleanup()
{
    m_window.reset();
    ZantryLog::instance()->close();
    if (QTest::currentTestFailed()) {
        // The session's steps, without the JSON bodies the log also holds.
        QFile log(gameDir() + QStringLiteral("/Zantry/zantry-log.txt"));
        const QString steps = log.open(QIODevice::ReadOnly) ? ClientProcess::steps(QString::fromUtf8(log.readAll()), 12000) : QString();
        std::fprintf(stderr, "--- the client's log, last steps:\n%s\n", qPrintable(steps));
        if (m_bot)
            std::fprintf(stderr, "--- the bot:\n%s\n", qPrintable(m_bot->transcript().right(3000)));
    }
    m_bot.reset();
    m_sandbox.reset();
    m_tunnel.reset();
    m_env.reset();
}

void TestUserRoad::openClient(const QString &gameDir)
{
    Startup::prepareProcess();
    m_window.reset(new MainWindow(Startup::prepareApplication(*qApp, gameDir)));
}

void TestUserRoad::openFromHome(const QString &gameDir)
{
    m_window.reset();
    ZantryLog::instance()->close();
    QVERIFY(QDir().mkpath(QDir::homePath()) && QDir::setCurrent(QDir::homePath()));
    STEP(openClient(gameDir));
}

int TestUserRoad::runProgram(int timeoutMs)
{
    QTimer bound;
    bound.setSingleShot(true);
    connect(&bound, &QTimer::timeout, qApp, [] { QCoreApplication::exit(-1); });
    bound.start(timeoutMs);
    return QCoreApplication::exec();
}


void TestUserRoad::logIn(const QString &email, const QString &password)
{
    // The form shows from the start; it asks once the service said so.
    auto *form = child<Password>("Password");
    QTRY_VERIFY_WITH_TIMEOUT((m_window->session()->state() & (LOGIN | LOGIN_FAIL)) && form->isVisible(), 15000);
    QVERIFY(!m_window->isVisible());
    const auto type = [](QLineEdit *field, const QString &text) {
        QVERIFY(Dialogs::click(field));
        field->selectAll();
        QTest::keyClicks(field, text);
    };
    if (!email.isEmpty())
        type(form->findChild<QLineEdit *>(QStringLiteral("emailAddress")), email);
    auto *passwordField = form->findChild<QLineEdit *>(QStringLiteral("password"));
    type(passwordField, password);
    // Enter in the password field presses the form's default button, Login.
    QTest::keyClick(passwordField, Qt::Key_Return);
}

void TestUserRoad::waitReady()
{
    auto *button = child<QPushButton>("mainButton");
    QTRY_VERIFY_WITH_TIMEOUT(m_window->session()->state() == READY_TO_QUEUE && m_window->session()->mapDownloader()->state() == MapDownloader::Done
                                 && m_window->isVisible() && button->isVisible() && button->isEnabled(),
                             30000);
    QCOMPARE(button->text(), QStringLiteral("Zantry!"));
    QVERIFY(!child<Password>("Password")->isVisible());
}

void TestUserRoad::queue()
{
    QVERIFY(Dialogs::click(child<QPushButton>("mainButton")));
    // Queued, or matched at once with a player already waiting.
    QTRY_VERIFY_WITH_TIMEOUT((m_window->session()->state() & (MATCHUP_REQUESTED | MATCHUP_WAITFOR)) || readyCheck()->isVisible(), 20000);
}

QPushButton *TestUserRoad::closeButton() const
{
    // Every dialog has a title bar of its own; this is the window's.
    const auto buttons = m_window->findChildren<QPushButton *>(QStringLiteral("closeButton"));
    for (QPushButton *button : buttons) {
        if (button->window() == m_window.get())
            return button;
    }
    return nullptr;
}

// From the queue to the result uploaded and the window back at ready.
void TestUserRoad::playMatch()
{
    WAIT_WHILE_BOT_PLAYS(readyCheck()->isVisible(), 60000);
    QVERIFY(Dialogs::click(readyCheck()->findChild<QPushButton *>(QStringLiteral("confirmReadyButton"))));
    // The route on screen: the Connection tab, the opponent, the path the
    // match plays on (the tunnel, on one machine) and its round-trip time.
    auto *routes = child<QTableWidget>("routeTable");
    WAIT_WHILE_BOT_PLAYS(routes->isVisible() && routes->rowCount() == 1 && routes->item(0, 1)->text() == QLatin1String("ready"),
                         60000);
    QCOMPARE(routes->item(0, 0)->text(), QStringLiteral("Bob"));
    QVERIFY2(routes->item(0, 2)->text().startsWith(QLatin1String("tunnel Sandbox")), qPrintable(routes->item(0, 2)->text()));
    QVERIFY(routes->item(0, 3)->text().endsWith(QLatin1String(" ms")));
    WAIT_WHILE_BOT_PLAYS(m_window->session()->state() & GAME_SPAWNED, 60000);
    WAIT_WHILE_BOT_PLAYS(resultUploaded(), kMatchMs);
    STEP(waitReady());
    QVERIFY2(m_bot->waitForLine(QStringLiteral("BOT match done"), 30000), qPrintable(m_bot->transcript()));
    const QStringList road{"Ready", "Reached", "GameSpawned", "GameFinished"};
    QCOMPARE(Sandbox::statuses(m_sandbox->inspect(), QStringLiteral("Alice")), road);
}

bool TestUserRoad::resultUploaded() const
{
    const QJsonArray results = m_sandbox->inspect().value(QStringLiteral("results")).toArray();
    for (const QJsonValue &result : results) {
        if (result.toObject().value(QStringLiteral("playerId")).toInt() == kAlicePlayerId)
            return true;
    }
    return false;
}

void TestUserRoad::startBot()
{
    // On one machine the bot's game must not carry a launcher's name: it
    // would rightly pause the player's queue.
    m_bot.reset(new BotProcess);
    QVERIFY(m_bot->startOpponent(m_env->clientEnvironment(), botDir()));
}

void TestUserRoad::writeLoadDelay(const QString &dir, int seconds)
{
    QFile ini(dir + QStringLiteral("/fakegame.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[FakeGame]\nLoadSeconds=" + QByteArray::number(seconds) + "\n");
}

void TestUserRoad::firstLoginTypedToUploadedResult()
{
    STEP(startBot());
    STEP(openClient());
    STEP(logIn(kEmail, kPassword));
    // The first attempt carries what was typed: no second try, no warning.
    STEP(waitReady());
    QCOMPARE(QSettings().value(QStringLiteral("accountName")).toString(), kEmail);
    QVERIFY(!QSettings().value(QStringLiteral("accessToken")).toString().isEmpty());
    STEP(queue());
    STEP(playMatch());
}

void TestUserRoad::logOutThenLogInAgain()
{
    STEP(openClient());
    STEP(logIn(kEmail, QStringLiteral("not-the-password")));
    auto *warning = child<Password>("Password")->findChild<QLabel *>(QStringLiteral("warningLabel"));
    QTRY_VERIFY_WITH_TIMEOUT(warning->isVisible(), 15000);
    QCOMPARE(warning->text(), QStringLiteral("The Email Address or Password is incorrect"));
    // The address was right; only the password is typed again.
    STEP(logIn(QString(), kPassword));
    STEP(waitReady());
    // The account line's Log Out: back to the form, the program stays.
    QCOMPARE(child<QLabel>("accountLabel")->text(), kEmail);
    QVERIFY(Dialogs::click(child<QPushButton>("accountLogOutButton")));
    QTRY_VERIFY_WITH_TIMEOUT(child<Password>("Password")->isVisible() && !m_window->isVisible(), 5000);
    QVERIFY(QSettings().value(QStringLiteral("accessToken")).toString().isEmpty());
    QCOMPARE(child<Password>("Password")->emailAddress(), kEmail);
    STEP(logIn(QString(), kPassword));
    STEP(waitReady());

    int answered = 0;
    Dialogs::answerWarning(this, QStringLiteral("Are you sure you want to close?"), QStringLiteral("Log Out"), &answered);
    QVERIFY(Dialogs::click(closeButton()));
    QTRY_COMPARE_WITH_TIMEOUT(answered, 1, 5000);
    QVERIFY(!m_window->isVisible());
    QVERIFY(QSettings().value(QStringLiteral("accessToken")).toString().isEmpty());
}

void TestUserRoad::watchedProgramPausesTheQueueUntilItEnds()
{
    STEP(openClient());
    STEP(logIn(kEmail, kPassword));
    STEP(waitReady());
    STEP(queue());

    QTRY_COMPARE_WITH_TIMEOUT(queued(), 1, 10000);

    // Another of the player's games, from the default watch list, started
    // from elsewhere (this test's own children count as the client's).
    const QString program = m_env->filePath(QStringLiteral("quillon.exe"));
    QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), program));
    qint64 pid = 0;
    QVERIFY(QProcess::startDetached(program, {QStringLiteral("60")}, QString(), &pid));
    QTRY_VERIFY_WITH_TIMEOUT(m_window->session()->state() == (READY_TO_QUEUE | PWATCH_TRIGGERED), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(queued(), 0, 10000);
    QCOMPARE(child<QLabel>("statusLabel")->text(), QStringLiteral("Paused by Process Watcher"));
    // Out of the way (no tray here: minimised), the tray's menu saying why.
    QVERIFY(m_window->isMinimized());
    auto *tray = qobject_cast<TrayMenu *>(m_window->findChild<QSystemTrayIcon *>()->contextMenu());
    emit tray->aboutToShow();
    QCOMPARE(tray->statusLine(), QStringLiteral("Process Watcher has detected another game is running.\nZantry has been paused."));

    ::kill(pid_t(pid), SIGKILL);
    QTRY_COMPARE_WITH_TIMEOUT(queued(), 1, 20000);
    QVERIFY(m_window->session()->state() & (MATCHUP_REQUESTED | MATCHUP_WAITFOR));
    QVERIFY(m_window->isVisible());
}

void TestUserRoad::silentGameLoadKeepsTheRoute()
{
    // Both games say nothing for twice the router's path time-out after
    // they start, as a slow first start under Wine does.
    STEP(writeLoadDelay(gameDir(), 30));
    STEP(startBot());
    STEP(writeLoadDelay(botDir(), 30));
    STEP(openClient());
    STEP(logIn(kEmail, kPassword));
    STEP(waitReady());
    STEP(queue());
    STEP(playMatch());
    // Both games heard each other: their uploaded results say so.
    const QJsonObject seen = m_sandbox->inspect();
    QVERIFY(Sandbox::uploadedReceived(seen, 101) > 0 && Sandbox::uploadedReceived(seen, 201) > 0);
}

void TestUserRoad::closeWhileQueuedEndsOnTheConfirmation()
{
    STEP(openClient());
    STEP(logIn(kEmail, kPassword));
    STEP(waitReady());
    STEP(queue());
    // The bound for a service that never answers stays out of reach here.
    m_window->setQueuedCloseTimeout(120000);

    // A slow answer, and a second start while it is on its way: the window
    // stays and returns to ready.
    QVERIFY(m_sandbox->control(QStringLiteral("delay"), QStringLiteral("ms=2000")));
    Dialogs::answerWarning(this, QStringLiteral("Are you sure you want to close?"), QStringLiteral("Yes"));
    QVERIFY(Dialogs::click(closeButton()));
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->isVisible(), 5000);
    m_window->instanceStarted();
    QTRY_VERIFY_WITH_TIMEOUT(m_window->session()->state() == READY_TO_QUEUE, 15000);
    QTest::qWait(500);
    QVERIFY(m_window->isVisible());
    QCOMPARE(queued(), 0);

    // Closed right after the click, the request still on its way: gone as
    // soon as the service confirmed, and not left in its queue.
    QVERIFY(Dialogs::click(child<QPushButton>("mainButton")));
    QPushButton *close = closeButton();
    QPointer<MainWindow> window = m_window.release();
    window->setAttribute(Qt::WA_DeleteOnClose);
    Dialogs::answerWarning(this, QStringLiteral("Are you sure you want to close?"), QStringLiteral("Yes"));
    QVERIFY(Dialogs::click(close));
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), 20000);
    QTest::qWait(2500); // past the delayed answers
    QCOMPARE(queued(), 0);
    QCOMPARE(QSettings().value(QStringLiteral("accountName")).toString(), kEmail);
}

// Started from the desktop menu (the home folder), fresh or logged in
// before: the folder question comes first, alone on screen, and stays one
// while the flow runs again; a folder without a game is refused with the
// reason and the question asked again; the game's folder is taken and the
// program ends and starts again there, as start-up does. No dialog answered
// on the way (the window hidden) ends the program. The login follows (or
// the stored one is used); the next start from the home folder goes
// straight on.
void TestUserRoad::fromTheDesktopMenuFolderFirst_data()
{
    QTest::addColumn<bool>("storedLogin");
    QTest::newRow("fresh") << false;
    QTest::newRow("stored login") << true;
}

void TestUserRoad::fromTheDesktopMenuFolderFirst()
{
    QFETCH(bool, storedLogin);
    if (storedLogin)
        QSettings().setValue(QStringLiteral("accessToken"), QStringLiteral("token-alice"));
    STEP(openFromHome());
    QString restartIn;
    connect(m_window.get(), &MainWindow::gameFolderChosen, qApp, [&restartIn](const QString &folder) {
        restartIn = folder;
        QCoreApplication::quit();
    });
    const QString empty = m_env->filePath(QStringLiteral("no-game"));
    QVERIFY(QDir().mkpath(empty));
    int asked = 0, refused = 0, alone = 0;
    const auto onlyTheQuestion = [this, &alone] {
        alone += Dialogs::visibleWarnings().size() == 1 && !child<Password>("Password")->isVisible()
                 && !m_window->isVisible();
    };
    // The flow runs again meanwhile (the service answers), and the program
    // is started again from the menu: still the one question, alone.
    QTest::qWait(1500);
    m_window->instanceStarted();
    Dialogs::answerWarning(this, kFolderQuestion, QStringLiteral("Choose Game Folder"), &asked, onlyTheQuestion);
    Dialogs::answerWarning(this, kFolderQuestion, QStringLiteral("Choose Game Folder"), &asked, onlyTheQuestion);
    Dialogs::answerFolderChoosers(this, {empty, gameDir()});
    Dialogs::answerWarning(this, QStringLiteral("No Lorvane game was found in"), QStringLiteral("OK"), &refused);
    QCOMPARE(runProgram(20000), 0);
    QCOMPARE(restartIn, gameDir());
    QCOMPARE(asked, 2);
    QCOMPARE(alone, 2);
    QCOMPARE(refused, 1);
    STEP(openFromHome(restartIn));
    QCOMPARE(QDir::currentPath(), gameDir());
    if (!storedLogin)
        STEP(logIn(kEmail, kPassword));
    STEP(waitReady());

    STEP(openFromHome());
    QCOMPARE(QDir::currentPath(), gameDir());
    STEP(waitReady());
    QVERIFY(Dialogs::visibleWarnings().isEmpty());
}

// Close, and as the question's other answer also Escape and the title
// bar's close, end the program at once: no close question, nothing else.
void TestUserRoad::closeAtTheFolderQuestionEndsTheProgram_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("Close") << QStringLiteral("Close");
    QTest::newRow("Escape") << QStringLiteral("Escape");
    QTest::newRow("title bar") << QString();
}

void TestUserRoad::closeAtTheFolderQuestionEndsTheProgram()
{
    QFETCH(QString, answer);
    QSettings().setValue(QStringLiteral("accessToken"), QStringLiteral("token-alice"));
    STEP(openFromHome());
    int answered = 0, closeAsked = 0;
    Dialogs::answerWarning(this, kFolderQuestion, answer, &answered);
    Dialogs::answerWarning(this, QStringLiteral("Are you sure you want to close?"), QStringLiteral("No"), &closeAsked);
    QCOMPARE(runProgram(20000), 0);
    QCOMPARE(answered, 1);
    // The service's answers still arriving ask nothing more.
    QTest::qWait(1000);
    QCOMPARE(closeAsked, 0);
    QCOMPARE(Dialogs::visibleWarnings().size(), 0);
}

ZANTRY_TEST_MAIN_IN_OWN_NAMESPACE(TestUserRoad, QApplication)
#include "tst_userroad.moc"
