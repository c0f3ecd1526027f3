// The main window as the user meets it: where it opens, how it closes, and
// what the settings tab keeps across a restart.
#include "logcapture.h"
#include "sandbox.h"
#include "testenv.h"

#include "app/startup.h"
#include "net/global.h"
#include "net/lorvanenetwork.h"
#include "ui/busywidget.h"
#include "ui/mainwindow.h"
#include "ui/password.h"
#include "ui/warningdialog.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMediaPlayer>
#include <QMovie>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSlider>
#include <QTabWidget>
#include <QTableWidget>
#include <QSignalSpy>
#include <QtTest>

using namespace Zantry;

namespace {

constexpr quint32 kReady = READY_TO_QUEUE;

// A window as start-up leaves it after the first turn of the event loop.
std::unique_ptr<MainWindow> startWindow()
{
    auto window = std::make_unique<MainWindow>();
    QCoreApplication::processEvents();
    return window;
}

// Answers the close question with the button showing text, once it is up.
void answerCloseQuestion(MainWindow *window, const QString &text)
{
    QTimer::singleShot(0, window, [window, text] {
        auto *dialog = window->findChild<WarningDialog *>();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->text(), QStringLiteral("Are you sure you want to close?"));
        const auto buttons = dialog->findChild<QDialogButtonBox *>()->buttons();
        for (QAbstractButton *button : buttons)
            if (button->text().remove(QLatin1Char('&')) == text)
                return button->click();
        QFAIL(qPrintable(QStringLiteral("no button ") + text));
    });
}

template<typename T> T *child(QWidget *window, const char *name)
{
    auto *widget = window->findChild<T *>(QString::fromLatin1(name));
    if (!widget)
        qWarning("no widget %s", name);
    return widget;
}

} // namespace

class UrlSink : public QObject
{
    Q_OBJECT
public:
    UrlSink() { QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open"); }
    ~UrlSink() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        Startup::initResources();
    }

    void init()
    {
        m_env.reset(new TestEnv);
        // Started from a game folder, as a user does; elsewhere the window
        // stops on its "run Zantry from a game folder" warning.
        QVERIFY(!Sandbox::makeGameFolder(QDir::currentPath()).isEmpty());
        Global::instance()->setDataDir(QDir(QStringLiteral("Zantry")));
        QDir().mkpath(QStringLiteral("Zantry"));
        Global::instance()->processWatcher()->setWatchedProcs({QStringLiteral("game.exe")});
        Global::instance()->setAllowP2P(true);
    }

    void cleanup() { m_env.reset(); }

    void firstStartCentresAndShowsOnlyUserTabs()
    {
        auto window = startWindow();
        QVERIFY(!window->isVisible()); // shown by the session flow once logged in
        const QRect available = window->screen()->availableGeometry();
        QVERIFY(window->frameGeometry().width() <= available.width());
        QVERIFY((window->frameGeometry().center() - available.center()).manhattanLength() <= 2);

        // Developer tabs and fields stay out of a user's sight.
        auto *tabs = child<QTabWidget>(window.get(), "mapWidget");
        QCOMPARE(tabs->count(), 2);
        QCOMPARE(tabs->currentWidget()->objectName(), QStringLiteral("mapTab"));
        for (const char *hidden : {"urlEdit", "urlSetButton", "ladderUrlLabel", "winePrefixEdit", "statusBar"})
            QVERIFY2(child<QWidget>(window.get(), hidden)->isHidden(), hidden);
        QMetaObject::invokeMethod(window.get(), "on_actionSettings_triggered");
        QCOMPARE(tabs->currentWidget()->objectName(), QStringLiteral("settingsTab"));
    }

    void closingWithLoginFormUpClosesAtOnceAndKeepsGeometry()
    {
        QRect placed;
        {
            auto window = startWindow();
            window->setStates(LOGIN);
            window->show();
            window->setGeometry(37, 41, 700, 500);
            placed = window->geometry();
            LogCapture log;
            QVERIFY(window->close());
            QVERIFY(!window->isVisible());
            QVERIFY(log.contains(QStringLiteral("Closing 7")));
            QVERIFY(!window->findChild<WarningDialog *>()->isVisible());
        }
        auto window = startWindow();
        QCOMPARE(window->geometry(), placed);
    }

    void closeQuestionCanBeDeclinedOrLogOut()
    {
        QSettings().setValue(QStringLiteral("accessToken"), QStringLiteral("token-1"));
        auto window = startWindow();
        window->setStates(kReady);
        window->show();

        answerCloseQuestion(window.get(), QStringLiteral("No"));
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
        QCOMPARE(QSettings().value(QStringLiteral("accessToken")).toString(), QStringLiteral("token-1"));

        LogCapture log;
        answerCloseQuestion(window.get(), QStringLiteral("Log Out"));
        QVERIFY(window->close());
        QVERIFY(!window->isVisible());
        QVERIFY(log.contains(QStringLiteral("Closing 8")));
        QVERIFY(QSettings().contains(QStringLiteral("accessToken")));
        QCOMPARE(QSettings().value(QStringLiteral("accessToken")).toString(), QString());
        QVERIFY(!MainWindow::closeConfirmed());
    }

    void settingsSurviveARestart()
    {
        const QString style = QStringLiteral("QLabel { color: #123456; }");
        {
            auto window = startWindow();
            auto *volume = child<QSlider>(window.get(), "volumeSlider");
            QCOMPARE(volume->value(), 75);
            volume->setValue(0);
            child<QCheckBox>(window.get(), "pWatchCheck")->setChecked(false);
            QVERIFY(child<QCheckBox>(window.get(), "p2pCheckBox")->isChecked());
            child<QCheckBox>(window.get(), "p2pCheckBox")->setChecked(false);

            auto *list = child<QListWidget>(window.get(), "processWatchList");
            QCOMPARE(list->count(), 1);
            child<QPushButton>(window.get(), "addWatchButton")->click();
            QCOMPARE(list->count(), 2);
            LogCapture log;
            commitEdit(list, 1, QStringLiteral("other.exe"));
            QVERIFY(log.contains(QStringLiteral("Changing Process watcher items")));
            commitEdit(list, 0, QStringLiteral("renamed.exe"));
            QCOMPARE(QSettings().value(QStringLiteral("WatchedProcesses")).toStringList(),
                     (QStringList{QStringLiteral("other.exe"), QStringLiteral("renamed.exe")}));

            // Reloading applies the sheet to every window without saving it.
            const QString trial = QStringLiteral("QPushButton { color: #abcdef; }");
            child<QPlainTextEdit>(window.get(), "styleEdit")->setPlainText(trial);
            child<QPushButton>(window.get(), "reloadStyleButton")->click();
            QCOMPARE(window->findChild<Password *>()->styleSheet(), trial);
            QCOMPARE(window->findChild<BusyWidget *>()->styleSheet(), trial);
            QVERIFY(!QFile::exists(QStringLiteral("Zantry/mainstyle.qss")));
            child<QPlainTextEdit>(window.get(), "styleEdit")->setPlainText(style);
            QMetaObject::invokeMethod(window.get(), "on_saveStyleButton_clicked");
            QCOMPARE(window->styleSheet(), style);

            child<QLineEdit>(window.get(), "winePrefixEdit")->setText(QStringLiteral("/home/me/.wine"));
            child<QPushButton>(window.get(), "addWatchButton")->click();
            commitEdit(list, 2, QStringLiteral("spare.exe"));
            list->setCurrentRow(1); // other.exe
            child<QPushButton>(window.get(), "remWatchButton")->click();
        }
        QSettings settings;
        QCOMPARE(settings.value(QStringLiteral("ZantryVolume")).toInt(), 0);
        QCOMPARE(settings.value(QStringLiteral("ProcessWatcherEnabled")).toBool(), false);
        QCOMPARE(settings.value(QStringLiteral("AllowP2P")).toBool(), false);
        QCOMPARE(settings.value(QStringLiteral("WatchedProcesses")).toStringList(),
                 (QStringList{QStringLiteral("renamed.exe"), QStringLiteral("spare.exe")}));
        QCOMPARE(Startup::loadStyleSheet(), style);

        auto window = startWindow();
        QCOMPARE(child<QSlider>(window.get(), "volumeSlider")->value(), 0);
        QCOMPARE(Global::instance()->soundPlayer()->volume(), 0);
        QVERIFY(!child<QCheckBox>(window.get(), "pWatchCheck")->isChecked());
        QVERIFY(!child<QCheckBox>(window.get(), "p2pCheckBox")->isChecked());
        QCOMPARE(child<QPlainTextEdit>(window.get(), "styleEdit")->toPlainText(), style);
        QCOMPARE(child<QLineEdit>(window.get(), "winePrefixEdit")->text(), QStringLiteral("/home/me/.wine"));
        auto *list = child<QListWidget>(window.get(), "processWatchList");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(1)->text(), QStringLiteral("spare.exe"));

        // The watcher stays switched off: a watched game does not pause a queue.
        window->setStates(kReady | MATCHUP_WAITFOR);
        window->show();
        emit Global::instance()->processWatcher()->triggered();
        QVERIFY(!(window->state() & PWATCH_TRIGGERED));
        QVERIFY(window->isVisible());
    }

    void processWatcherPausesAQueueWhileEnabled()
    {
        // Queued, a watched game pauses it; merely ready (the session flow
        // tests) or switched off (the restart case), nothing pauses.
        auto window = startWindow();
        ProcessWatcher *watcher = Global::instance()->processWatcher();
        window->setStates(kReady | MATCHUP_WAITFOR);
        window->show();
        emit watcher->triggered();
        QVERIFY(window->state() & PWATCH_TRIGGERED);
        QVERIFY(!window->isVisible()); // waits in the tray
        emit watcher->cleared();
        QVERIFY(!(window->state() & PWATCH_TRIGGERED));
        QVERIFY(window->state() & MAIN_BUTTON_CLICKED); // back into the queue
        QVERIFY(window->isVisible());
    }

    void tunnelTableRefreshesAndSortsNumerically()
    {
        auto window = startWindow();
        // The window's own master-list fetch (nothing answers) would empty
        // the table below; let it finish first.
        QSignalSpy fetched(window->network(), &LorvaneNetwork::tunnelServersChanged);
        fetched.wait(2000);
        Global::TunnelTable servers;
        for (int i : {2, 10}) {
            TunnelServerInfo server;
            server.address = QStringLiteral("127.0.0.%1").arg(i);
            server.port = 50000 + i;
            server.name = QStringLiteral("Tunnel %1").arg(i);
            server.numClients = i;
            server.isOfficial = true;
            server.version = 3;
            servers.insert(server.address, server);
        }
        Global::instance()->setTunnelServers(servers);
        auto *table = child<QTableWidget>(window.get(), "tunnelServerTable");
        table->sortByColumn(5, Qt::DescendingOrder);
        QMetaObject::invokeMethod(window.get(), "populateTunnelServers");
        QMetaObject::invokeMethod(window.get(), "populateTunnelServers"); // refreshed, not appended
        QCOMPARE(table->rowCount(), 2);
        QVERIFY(table->isSortingEnabled());
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("Tunnel 10")); // clients sort as numbers
        QCOMPARE(table->item(0, 2)->text(), QStringLiteral("50010"));
        Global::instance()->setTunnelServers({});
    }

    void trayAndSound()
    {
        QSettings().setValue(QStringLiteral("accountName"), QStringLiteral("me@example.com"));
        auto window = startWindow();
        QCOMPARE(window->findChild<Password *>()->emailAddress(), QStringLiteral("me@example.com"));

        QMetaObject::invokeMethod(window.get(), "systemTrayActivated",
                                  Q_ARG(QSystemTrayIcon::ActivationReason, QSystemTrayIcon::Trigger));
        QVERIFY(!window->isVisible());
        QMetaObject::invokeMethod(window.get(), "systemTrayActivated",
                                  Q_ARG(QSystemTrayIcon::ActivationReason, QSystemTrayIcon::DoubleClick));
        QVERIFY(window->isVisible());

        // Minimising while queued goes to the tray; otherwise it is a plain minimise.
        window->minimizeToTray();
        QVERIFY(window->isMinimized());
        window->showNormal();
        window->setStates(kReady | MATCHUP_WAITFOR);
        window->minimizeToTray();
        QVERIFY(!window->isVisible());

        emit child<QSlider>(window.get(), "volumeSlider")->sliderReleased();
        QCOMPARE(Global::instance()->soundPlayer()->media().request().url(),
                 QUrl(QStringLiteral("qrc:/sounds/shake_it.wav")));
    }

    void loaderFromTheDataFolderWins()
    {
        QVERIFY(QFile::copy(QStringLiteral(":/images/loader.gif"), QStringLiteral("Zantry/loader.gif")));
        auto window = startWindow();
        QMovie *loader = window->findChild<BusyWidget *>()->findChild<QLabel *>(QStringLiteral("graphicLabel"))->movie();
        QVERIFY(loader);
        QCOMPARE(loader->fileName(), QStringLiteral("Zantry/loader.gif"));
        QCOMPARE(loader->state(), QMovie::Running);
    }

    void linksOpenTheLadderSite()
    {
        UrlSink browser;
        auto window = startWindow();
        child<QPushButton>(window.get(), "helpButton")->click();
        QTest::mouseClick(child<QWidget>(window.get(), "lorvaneLabel"), Qt::LeftButton);
        QCOMPARE(browser.urls, (QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.1:9/ladder#help")),
                                            QUrl(QStringLiteral("http://127.0.0.1:9"))}));
    }

    // Last: a confirmed close while queued sets the process-wide close flag.
    void closingWhileQueuedHidesAndClosesWithinTheLimit()
    {
        auto window = startWindow();
        // The unreachable service's answer would otherwise clear the flags
        // set here while the question is up.
        QTRY_VERIFY(window->state() & LOGIN_FAIL);
        window->setStates(kReady | MATCHUP_WAITFOR);
        window->show();
        window->setQueuedCloseTimeout(150);
        LogCapture log;
        answerCloseQuestion(window.get(), QStringLiteral("Yes"));
        QVERIFY(!window->close());
        QVERIFY(!window->isVisible()); // gone at once
        QVERIFY(MainWindow::closeConfirmed());
        QVERIFY(log.contains(QStringLiteral("Closing 3")));
        QVERIFY(log.contains(QStringLiteral("Canceling zantry")));
        QVERIFY(log.contains(QStringLiteral("Closing 8")));
        QVERIFY(!log.contains(QStringLiteral("Closing 7")));
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("Closing 7")), 3000);
        QCOMPARE(log.count(QStringLiteral("Closing 7")), 1);
    }

private:
    static void commitEdit(QListWidget *list, int row, const QString &text)
    {
        QListWidgetItem *item = list->item(row);
        list->setCurrentItem(item);
        list->editItem(item);
        auto *editor = list->viewport()->findChild<QLineEdit *>();
        QVERIFY(editor);
        editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(item->text(), text); // the view commits on its next turn
    }

    QScopedPointer<TestEnv> m_env;
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
