#pragma once

#include "net/routereport.h"
#include "session/session.h"

#include <QDir>
#include <QMainWindow>
#include <QStringList>

namespace Ui {
class MainWindow;
}
class BusyWidget;
class GameFolderQuestion;
class LadderSelection;
class DesktopNotifier;
class RouteView;
class ConfirmReadyDialog;
class Password;
class QMediaPlayer;
class QMovie;
class QTimer;
class TitleBar;
class TrayMenu;
class WaitingDialog;
class WarningDialog;

// The window of a session: it shows the session's phase and sends it the
// player's commands. Construction here and in mainwindow_setup.cpp and
// mainwindow_desktop.cpp; what each phase shows in mainwindow_flow.cpp; the
// match's dialogs in mainwindow_match.cpp; closing, the tray and the
// settings tab's glue in mainwindow_settings.cpp.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int kQueuedCloseMs = 10000;

    // dataDir: the program's own files (log, crash reports, a custom style
    // or loader), "Zantry" in the game folder.
    explicit MainWindow(const QDir &dataDir = QDir(QStringLiteral("Zantry")), QWidget *parent = nullptr);
    ~MainWindow() override;

    Session *session() const { return m_session; }

    // Set once the user confirmed closing while queued; the close that
    // follows passes without asking again.
    static bool closeConfirmed() { return s_closeConfirmed; }
    // The longest wait for the service's cancel confirmation before closing.
    void setQueuedCloseTimeout(int ms) { m_queuedCloseMs = ms; }

public slots:
    void bringToFront();
    // A second start of the program: brings this window up, also while it
    // is closing after leaving the queue.
    void instanceStarted();
    void doRestOfSetup();
    void fatalError(const QString &message);
    void minimizeToTray(bool showMessage);
    // The program is asked to end from outside; see mainwindow_settings.cpp.
    void quitRequested();
    void on_actionSettings_triggered();
    void linkToLadder();

signals:
    // The player chose another game folder; the program starts again there.
    void gameFolderChosen(const QString &folder);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void placeWindow();
    // The settings tab's part of the set-up on the first turn of the event
    // loop: stored values into the widgets, and the widgets' own wiring.
    void setupSettingsTab();
    void connectSession();
    void setupPortMapping();
    // Notifications, tray menu, account line, keyboard: mainwindow_desktop.cpp.
    void setupDesktop();
    void closeWhileQueued();
    // What each phase of the session shows: mainwindow_flow.cpp.
    void showPhase(Session::Phase phase, bool clicked);
    void showLoginForm(quint32 s);
    void showPhaseCase(Session::Phase phase, bool clicked, QStringList &lines);
    void showReady(bool clicked);
    void showQueued(bool clicked, QStringList &lines);
    void showMatched(Session::Phase phase, QStringList &lines);
    void showLoading(bool clicked, QStringList &lines);
    void showWarnings(quint32 s, const QStringList &lines);
    void setControlsEnabled(bool accounts, bool maps);
    void showLoader(bool loading);
    void placeBusyWidget();
    QString matchMapName() const;
    // The match: mainwindow_match.cpp.
    void showConfirmReady();
    void maybeShowWaitDialog();
    void networkNotReached();
    void routesChanged(const RouteReport &report);
    void showRoutes(bool forMatch);
    void warningAccepted();
    void closeAfterWarning();
    // A question was answered: the waiting dialog held back by it may come.
    void questionClosed();
    bool questionOpen() const;
    void applyStyle(const QString &style);
    // A message with an Ok button; answering it never ends the session the
    // way the session's own warnings do.
    void showNotice(const QString &text);

    Ui::MainWindow *ui;
    Session *m_session = nullptr;
    LadderSelection *m_selection = nullptr;
    const QDir m_dataDir;

    TitleBar *m_titleBar = nullptr;
    QString m_siteUrl;
    QString m_apiUrl;
    QString m_ladderUrl;
    TrayMenu *m_tray = nullptr;   // what the tray icon shows
    DesktopNotifier *m_notifier = nullptr;
    BusyWidget *m_busyWidget = nullptr;
    Password *m_password = nullptr;
    WaitingDialog *m_waitingDialog = nullptr;
    // One dialog per question, each with its own answer: a question asked
    // while another is open never takes that one's answer.
    GameFolderQuestion *m_folderQuestion = nullptr;
    WarningDialog *m_closeQuestion = nullptr;
    WarningDialog *m_signUpQuestion = nullptr;
    WarningDialog *m_notReachedWarning = nullptr;
    WarningDialog *m_pwatchNotice = nullptr;
    WarningDialog *m_fatalWarning = nullptr;
    bool m_waitDialogHeld = false;
    bool m_quitAfterLeaving = false; // ended from outside: quit once the queue is left
    QMediaPlayer *m_soundPlayer = nullptr;
    ConfirmReadyDialog *m_confirmReadyDialog = nullptr;
    QMovie *m_loader = nullptr;
    int m_queuedCloseMs = kQueuedCloseMs;
    QTimer *m_queuedCloseTimer = nullptr;
    RouteView *m_routeView = nullptr;
    bool m_routeTabShown = false; // switched to for a match, back at ready

    static bool s_closeConfirmed;
};
