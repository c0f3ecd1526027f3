// The main window as the user meets it: how it closes, what the settings
// tab keeps across a restart, the keyboard, the tray and the desktop's
// notifications (through a session bus the test starts, to a notification
// service of its own that records what it gets). Logging out, the watcher's
// pause and leaving the queue to close are the user-road suite's.
#include "logcapture.h"
#include "dialogs.h"
#include "sandbox.h"
#include "testenv.h"

#include "app/startup.h"
#include "api/lorvaneapi.h"
#include "net/networkstate.h"
#include "ui/appearance.h"
#include "ui/busywidget.h"
#include "ui/confirmreadydialog.h"
#include "ui/mainwindow.h"
#include "ui/password.h"
#include "ui/titlebar.h"
#include "ui/traymenu.h"
#include "ui/waitingdialog.h"
#include "ui/warningdialog.h"
#include "util/settings.h"
#include "watch/processwatcher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMediaPlayer>
#include <QtWidgets>
#include <QtTest>

using namespace Zantry;

class RecordingNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList shown; // summary, urgency, timeout, actions
    QList<uint> closed;
public slots:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &, const QStringList &actions,
                const QVariantMap &hints, int timeout)
    {
        shown << QStringLiteral("%1|%2|%3|%4").arg(summary).arg(hints.value(QStringLiteral("urgency")).toInt()).arg(timeout).arg(actions.join(','));
        return uint(shown.size());
    }
    void CloseNotification(uint id) { closed << id; }
};

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;
    QProcess m_bus;

    // A window as start-up leaves it after the first turn of the event loop.
    static std::unique_ptr<MainWindow> startWindow()
    {
        auto window = std::make_unique<MainWindow>();
        QCoreApplication::processEvents();
        return window;
    }
    // Past the unreachable service's answer, so only the test sets flags.
    static std::unique_ptr<MainWindow> quietWindow()
    {
        auto window = startWindow();
        static_cast<void>(QTest::qWaitFor([&]() { return window->session()->state() & LOGIN_FAIL; }, 5000));
        window->session()->unsetStates(STATE_ALL);
        QCoreApplication::processEvents(); // the flow's run for that answer
        return window;
    }
    template<typename T> static T *child(QWidget *window, const char *name)
    {
        return window->findChild<T *>(QLatin1String(name));
    }
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

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        Appearance::initResources();
        m_bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
        QVERIFY(m_bus.waitForReadyRead(5000));
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
    }
    void cleanupTestCase()
    {
        m_bus.terminate();
        m_bus.waitForFinished(5000);
    }
    void init()
    {
        m_env.reset(new TestEnv);
        // Started from a game folder, as a user does; elsewhere the window
        // stops on its "run Zantry from a game folder" warning.
        QVERIFY(!Sandbox::makeGameFolder(QDir::currentPath()).isEmpty());
        QDir().mkpath(QStringLiteral("Zantry"));
        Settings::setWatchedProcesses({QStringLiteral("no-such-game.exe")});
        Settings::setAllowP2P(true);
    }
    void cleanup()
    {
        TrayMenu::setTrayAvailableForTest(-1);
        m_env.reset();
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
            commitEdit(list, 1, QStringLiteral("other.exe"));
            commitEdit(list, 0, QStringLiteral("renamed.exe"));
            QCOMPARE(window->session()->processWatcher()->watchedProcs(), (QSet<QString>{"other.exe", "renamed.exe"}));
            child<QPushButton>(window.get(), "addWatchButton")->click();
            commitEdit(list, 2, QStringLiteral("spare.exe"));
            list->setCurrentRow(1); // other.exe
            child<QPushButton>(window.get(), "remWatchButton")->click();

            // Reloading applies the sheet to every window, saving keeps it.
            child<QPlainTextEdit>(window.get(), "styleEdit")->setPlainText(style);
            child<QPushButton>(window.get(), "reloadStyleButton")->click();
            QCOMPARE(window->findChild<Password *>()->styleSheet(), style);
            QVERIFY(!QFile::exists(QStringLiteral("Zantry/mainstyle.qss")));
            child<QPushButton>(window.get(), "saveStyleButton")->click();

            // A public port pasted in: anything but a port number is ignored
            // rather than cut to 16 bits; an empty field clears it.
            auto *port = child<QLineEdit>(window.get(), "ipPortEdit");
            NetworkState *network = window->session()->networkState();
            network->setPublicPort(ushort(5000));
            for (const char *pasted : {"70000", "abc", "-1"}) {
                QGuiApplication::clipboard()->setText(QLatin1String(pasted));
                port->selectAll();
                QTest::keySequence(port, QKeySequence::Paste);
                QCOMPARE(port->text(), QLatin1String(pasted));
                QCOMPARE(network->publicPort(), quint16(5000));
            }
            port->selectAll();
            QTest::keyClick(port, Qt::Key_Backspace);
            QCOMPARE(network->publicPort(), quint16(0));
            // The public address is masked until asked for; pasted, it is used.
            auto *address = child<QLineEdit>(window.get(), "ipAddressEdit");
            QCOMPARE(address->echoMode(), QLineEdit::Password);
            child<QPushButton>(window.get(), "showIpAddrButton")->click();
            QCOMPARE(address->echoMode(), QLineEdit::Normal);
            QGuiApplication::clipboard()->setText(QStringLiteral("203.0.113.9"));
            QTest::keySequence(address, QKeySequence::Paste);
            QCOMPARE(network->publicIP(), QHostAddress(QStringLiteral("203.0.113.9")));
            child<QLineEdit>(window.get(), "winePrefixEdit")->setText(QStringLiteral("/home/me/.wine"));
            emit volume->sliderReleased(); // the sample at the chosen volume
            QCOMPARE(child<QMediaPlayer>(window.get(), "soundPlayer")->media().request().url(), QUrl(QStringLiteral("qrc:/sounds/shake_it.wav")));
        }
        QSettings settings;
        QCOMPARE(settings.value(QStringLiteral("WatchedProcesses")).toStringList(), (QStringList{"renamed.exe", "spare.exe"}));
        QCOMPARE(Appearance::loadStyleSheet(QDir(QStringLiteral("Zantry"))), style);
        QCOMPARE(settings.value(QStringLiteral("winePrefix")).toString(), QStringLiteral("/home/me/.wine"));

        auto window = startWindow();
        QCOMPARE(child<QSlider>(window.get(), "volumeSlider")->value(), 0);
        QCOMPARE(child<QMediaPlayer>(window.get(), "soundPlayer")->volume(), 0);
        QVERIFY(!child<QCheckBox>(window.get(), "pWatchCheck")->isChecked() && !child<QCheckBox>(window.get(), "p2pCheckBox")->isChecked());
        QVERIFY(!window->session()->networkState()->allowP2P());
        QCOMPARE(child<QPlainTextEdit>(window.get(), "styleEdit")->toPlainText(), style);
        QCOMPARE(child<QListWidget>(window.get(), "processWatchList")->item(1)->text(), QStringLiteral("spare.exe"));
        // The watcher stays switched off: a watched game does not pause a queue.
        window->session()->setStates(READY_TO_QUEUE | MATCHUP_WAITFOR);
        window->show();
        emit window->session()->processWatcher()->triggered();
        QVERIFY(!(window->session()->state() & PWATCH_TRIGGERED));
        QVERIFY(window->isVisible());
    }

    // The frameless window moves with its title bar (the tray: tst_desktop).
    // A click while the watcher paused the queue says how to switch the
    // watcher off.
    void titleBarTrayAndPausedClick()
    {
        auto window = quietWindow();
        window->show();
        TitleBar *bar = nullptr;
        for (TitleBar *candidate : window->findChildren<TitleBar *>())
            bar = candidate->window() == window.get() ? candidate : bar;
        const QPoint at = window->pos(), grip = bar->mapToGlobal(QPoint(5, 5));
        QMouseEvent press(QEvent::MouseButtonPress, QPoint(5, 5), grip, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(bar, &press);
        QMouseEvent move(QEvent::MouseMove, QPoint(35, 25), grip + QPoint(30, 20), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(bar, &move);
        QCOMPARE(window->pos(), at + QPoint(30, 20));

        window->session()->setStates(READY_TO_QUEUE | PWATCH_TRIGGERED);
        QVERIFY(QTest::qWaitFor([&] { return Dialogs::click(child<QPushButton>(window.get(), "mainButton")); }, 5000));
        QTRY_VERIFY(Dialogs::visibleWarning());
        QVERIFY(Dialogs::visibleWarning()->text().startsWith(QLatin1String("You've disabled Process Watcher.")));
    }

    // Every control shows its focus; the map table is one Tab stop with
    // arrows inside; Enter presses the main button; the top rows keep place
    // and size; the caption names the selected row, also from its side cell.
    void keyboardAndSteadyLayout()
    {
        qApp->setStyleSheet(Appearance::loadStyleSheet(QDir(QStringLiteral("Zantry"))));
        auto window = quietWindow();
        window->findChild<Password *>()->hide();
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        auto *maps = child<QTableWidget>(window.get(), "mapsList");
        maps->setRowCount(3);
        for (int row = 0; row < 3; ++row)
            maps->setItem(row, 1, new QTableWidgetItem(QStringLiteral("Map %1").arg(row)));
        for (const char *name : {"p2pCheckBox", "ladderBox", "userNamesBox", "sideBox", "mainButton", "mapsList"}) {
            auto *control = child<QWidget>(window.get(), name);
            control->setEnabled(true);
            control->clearFocus();
            const QImage before = control->grab().toImage();
            control->setFocus();
            QVERIFY2(control->grab().toImage() != before, name);
        }
        const QRect sideAt = child<QWidget>(window.get(), "sideBox")->geometry();
        maps->setCurrentCell(2, 0);
        QCOMPARE(child<QLabel>(window.get(), "mapDescriptionLabel")->text(), QStringLiteral("Map 2"));
        QTest::keyClick(maps, Qt::Key_Tab);
        QVERIFY(QApplication::focusWidget() != maps && !maps->isAncestorOf(QApplication::focusWidget()));
        child<QComboBox>(window.get(), "sideBox")->addItem(QString(40, QLatin1Char('W')));
        QCoreApplication::processEvents();
        QCOMPARE(child<QWidget>(window.get(), "sideBox")->geometry(), sideAt);
        auto *button = child<QPushButton>(window.get(), "mainButton");
        disconnect(button, nullptr, window->session(), nullptr);
        QSignalSpy clicked(button, &QPushButton::clicked);
        button->setFocus();
        QTest::keyClick(button, Qt::Key_Return);
        QTRY_COMPARE(clicked.count(), 1);
    }

    // The prefix chooser starts at home with hidden folders and warns of a
    // folder without a prefix; a removal is undone, the default list comes
    // back; the list's editor is as tall as its text; Help without a browser
    // says where the help is. A position saved on a larger screen comes back
    // on this one (800x600), and the login form fits it.
    void settingsAndPlacement()
    {
        QWidget saved;
        saved.setGeometry(2500, 1800, 1200, 900);
        QSettings().setValue(QStringLiteral("mainWindowGeometry"), saved.saveGeometry());
        auto window = quietWindow();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(screen.contains(window->frameGeometry()) && screen.contains(window->findChild<Password *>()->frameGeometry()));
        window->show();
        window->on_actionSettings_triggered();
        QVERIFY(Dialogs::click(child<QPushButton>(window.get(), "winePrefixButton")));
        auto *chooser = window->findChild<QFileDialog *>();
        QVERIFY(chooser->isVisible() && chooser->directory() == QDir::home() && (chooser->filter() & QDir::Hidden));
        chooser->hide();
        const QString prefix = m_env->filePath(QStringLiteral(".wine"));
        QVERIFY(QDir().mkpath(prefix));
        int warned = 0;
        Dialogs::answerWarning(window.get(), prefix + QStringLiteral(" is not a Wine prefix"), QStringLiteral("OK"), &warned);
        emit chooser->fileSelected(prefix);
        QTRY_COMPARE(warned, 1);

        auto *list = child<QListWidget>(window.get(), "processWatchList");
        list->setCurrentRow(0);
        for (const char *button : {"remWatchButton", "undoWatchButton", "defaultWatchButton"}) {
            QVERIFY(Dialogs::click(child<QPushButton>(window.get(), button)));
            QCOMPARE(list->count(), *button == 'r' ? 0 : *button == 'u' ? 1 : ProcessWatcher::defaultWatchedProcs().size());
        }
        QCOMPARE(window->session()->processWatcher()->watchedProcs().size(), list->count());
        list->editItem(list->item(0));
        auto *editor = list->viewport()->findChild<QLineEdit *>();
        QVERIFY(editor->height() >= editor->minimumSizeHint().height());

        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
        Dialogs::answerWarning(window.get(), QStringLiteral("No web browser could be started"), QStringLiteral("OK"), &warned);
        QVERIFY(Dialogs::click(child<QPushButton>(window.get(), "helpButton")));
        qputenv("PATH", path);
        QTRY_COMPARE(warned, 2);
    }

    // The ready check: critical, never expiring, its action brings the
    // window up, withdrawn once answered. Without the service: one log line.
    void notificationsReachThePlayer()
    {
        auto window = quietWindow();
        RecordingNotifications service;
        QDBusConnection bus = QDBusConnection::connectToBus(QString::fromLatin1(qgetenv("DBUS_SESSION_BUS_ADDRESS")), "svc");
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
        QVERIFY(bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service, QDBusConnection::ExportAllSlots));
        emit window->session()->api()->matchupFound();
        QTRY_COMPARE(service.shown, QStringList{"Your match is ready|2|0|default,Show Zantry"});
        window->hide();
        bus.send(QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"),
                                           QStringLiteral("ActionInvoked")) << uint(1) << QStringLiteral("default"));
        QTRY_VERIFY(window->isVisible());
        window->findChild<ConfirmReadyDialog *>()->reject();
        QTRY_COMPARE(service.closed, QList<uint>{1});
        window->session()->setStates(READY_TO_QUEUE | MATCHUP_WAITFOR);
        emit window->session()->processWatcher()->triggered();
        QTRY_COMPARE(service.shown.value(1), QStringLiteral("Zantry has been paused|1|-1|default,Show Zantry"));

        QVERIFY(bus.unregisterService(QStringLiteral("org.freedesktop.Notifications")));
        window->hide();
        LogCapture log;
        emit window->session()->api()->gameStatsPosted();
        emit window->session()->api()->resultUploadFailed(true);
        QTRY_COMPARE(log.count(QStringLiteral("Desktop notifications not shown")), 1);
        QTest::qWait(200);
        QCOMPARE(log.count(QStringLiteral("Desktop notifications not shown")), 1);
        QDBusConnection::disconnectFromBus(QStringLiteral("svc"));
    }

    // Without a tray nothing hides into it; with one, a single click brings
    // the window back.
    void trayOnlyWhereThereIsOne()
    {
        auto window = quietWindow();
        window->show();
        window->session()->setStates(READY_TO_QUEUE | MATCHUP_WAITFOR);
        auto *minimize = window->findChild<BusyWidget *>()->findChild<TitleBar *>();
        emit minimize->minimizeClicked();
        QVERIFY(window->isVisible() && window->isMinimized());
        window->findChild<WaitingDialog *>()->show();
        QVERIFY(!window->findChild<WaitingDialog *>()->isVisible());

        TrayMenu::setTrayAvailableForTest(1);
        emit minimize->minimizeClicked();
        QVERIFY(!window->isVisible() && window->findChild<QSystemTrayIcon *>()->isVisible());
        emit window->findChild<QSystemTrayIcon *>()->activated(QSystemTrayIcon::Trigger);
        QVERIFY(window->isVisible());
    }

    // Started from the desktop's menu. Start-up settles in the folder named
    // by --game-dir (and remembers it), the current one, the one chosen
    // before, else the program's own data folder (where the window asks for
    // the game's folder: tst_userroad). The settings tab's Change waits for
    // the queue to end.
    void outsideAGameFolder()
    {
        const QString game = QDir::currentPath();
        const QString elsewhere = m_env->filePath(QStringLiteral("elsewhere"));
        const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        QVERIFY(QDir().mkpath(elsewhere));
        QCOMPARE(Startup::enterGameFolder(QString()), game);
        QDir::setCurrent(elsewhere);
        QCOMPARE(Startup::enterGameFolder(elsewhere), dataFolder);
        QVERIFY(QFileInfo(dataFolder).isDir());
        QCOMPARE(Startup::enterGameFolder(game), game);
        QDir::setCurrent(elsewhere);
        QCOMPARE(Startup::enterGameFolder(QString()), game);

        QDir::setCurrent(game);
        auto window = startWindow();
        QTRY_VERIFY(window->session()->state() & LOGIN_FAIL);
        window->session()->unsetStates(STATE_ALL);
        window->show();
        window->on_actionSettings_triggered();
        window->session()->setStates(MATCHUP_WAITFOR);
        int waited = 0;
        Dialogs::answerWarning(window.get(), QStringLiteral("Leave the queue or finish the match first"), QStringLiteral("OK"), &waited);
        QVERIFY(Dialogs::click(child<QPushButton>(window.get(), "gameFolderButton")));
        QTRY_COMPARE(waited, 1);
    }

    // Outside a game folder with the service down: the failures that follow
    // bring no login form beside the folder question.
    void folderQuestionAloneWhileTheServiceFails()
    {
        const QString elsewhere = m_env->filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkpath(elsewhere) && QDir::setCurrent(elsewhere));
        QSettings().setValue(QStringLiteral("accessToken"), QStringLiteral("stored"));
        auto window = startWindow();
        auto *form = window->findChild<Password *>();
        QTRY_VERIFY(Dialogs::visibleWarning());
        QTest::qWait(2500); // the refresh refused, and tried again
        QVERIFY(!form->isVisible() && !window->isVisible());
        QCOMPARE(Dialogs::visibleWarnings().size(), 1);
        QVERIFY(Dialogs::visibleWarning()->text().startsWith(QLatin1String("Please run Zantry from a Lorvane game folder")));
    }

    // Only Yes ends a queued session: No, Escape and the question's own
    // close keep the window and the queue.
    void closeQuestionOtherAnswersKeepTheQueue_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("No") << QStringLiteral("No");
        QTest::newRow("Escape") << QStringLiteral("Escape");
        QTest::newRow("title bar") << QString();
    }

    void closeQuestionOtherAnswersKeepTheQueue()
    {
        QFETCH(QString, answer);
        auto window = startWindow();
        QTRY_VERIFY(window->session()->state() & LOGIN_FAIL);
        window->session()->setStates(READY_TO_QUEUE | MATCHUP_WAITFOR);
        window->show();
        int asked = 0;
        Dialogs::answerWarning(window.get(), QStringLiteral("Are you sure you want to close?"), answer, &asked);
        QVERIFY(!window->close());
        QCOMPARE(asked, 1);
        QVERIFY(window->isVisible() && !MainWindow::closeConfirmed());
        QVERIFY(window->session()->state() & MATCHUP_WAITFOR);
    }

    // Last: a confirmed close while queued sets the process-wide close flag.
    // Hidden at once, it closes within the limit when the service never
    // confirms the cancel.
    void closingWhileQueuedClosesWithinTheLimit()
    {
        auto window = startWindow();
        // The unreachable service's answer would otherwise clear the flags
        // set here while the question is up.
        QTRY_VERIFY(window->session()->state() & LOGIN_FAIL);
        QPointer<MainWindow> alive = window.get();
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->session()->setStates(READY_TO_QUEUE | MATCHUP_WAITFOR);
        window->show();
        window->setQueuedCloseTimeout(300);
        Dialogs::answerWarning(window.get(), QStringLiteral("Are you sure you want to close?"), QStringLiteral("Yes"));
        QVERIFY(!window->close());
        QVERIFY(!window->isVisible());
        QVERIFY(MainWindow::closeConfirmed());
        QTest::qWait(100);
        QVERIFY(alive);
        window.release();
        QTRY_VERIFY_WITH_TIMEOUT(!alive, 3000);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
