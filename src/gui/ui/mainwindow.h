#pragma once

#include "net/routereport.h"
#include "ui/zantrystate.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QModelIndex>
#include <QProcess>
#include <QPixmap>
#include <QSet>
#include <QStringList>
#include <QSystemTrayIcon>

namespace Ui {
class MainWindow;
}
class BusyWidget;
class InternetDetector;
class LorvaneAPI;
class LorvaneNetwork;
class MapDownloader;
class MatchRouting;
class QTableWidgetItem;
class RouteView;
class Router;
class StatusBroadcaster;
struct StatusSnapshot;
class ConfirmReadyDialog;
class Password;
class QFileDialog;
class QMediaPlayer;
class QMenu;
class QMovie;
class QTimer;
class TitleBar;
class WaitingDialog;
class WarningDialog;

// The session controller. One class in several files, one per concern:
// construction here, the flag set in mainwindow_states.cpp, the session flow
// in mainwindow_flow.cpp, the window, tray and settings tab in
// mainwindow_settings.cpp.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int kQueuedCloseMs = 10000;
    static constexpr int kSpawnRetryMs = 10000;
    static constexpr int kSpawnRetryPauseMs = 1000;
    static constexpr int kStatusIntervalMs = 60000;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    quint32 state() const { return m_state; }

    // The remembered game folder, used when the program starts elsewhere.

    // What the status broadcaster tells local programs about the session:
    // the game, the match while its game runs, the player.
    static StatusSnapshot statusSnapshot();

    // Set once the user confirmed closing while queued; the close that
    // follows passes without asking again.
    static bool closeConfirmed() { return s_closeConfirmed; }
    // The longest wait for the service's cancel confirmation before closing.
    void setQueuedCloseTimeout(int ms) { m_queuedCloseMs = ms; }

    // Session flow, selection and game run: mainwindow_flow.cpp,
    // mainwindow_selection.cpp, mainwindow_gamerun.cpp.
    LorvaneAPI *api() const { return m_api; }
    LorvaneNetwork *network() const { return m_network; }
    MapDownloader *mapDownloader() const { return m_mapDownloader; }
    InternetDetector *internetDetector() const { return m_internetDetector; }
    // How long launch attempts of one match are repeated; tests shorten it.
    void setSpawnRetryWindow(int ms) { m_spawnRetryMs = ms; }
    // The pause between two attempts; tests shorten it.
    void setSpawnRetryPause(int ms) { m_spawnRetryPauseMs = ms; }
    // The "touch" interval while a game runs; tests shorten it.
    void setStatusInterval(int ms) { m_statusIntervalMs = ms; }
    // The network object's first peer port; before doRestOfSetup only.
    void setFirstPeerPort(quint16 port) { m_firstPeerPort = port; }

public slots:
    void bringToFront();
    // A second start of the program: brings this window up, also while it
    // is closing after leaving the queue.
    void instanceStarted();

    // Session flags: the only writers of m_state.
    void setStates(quint32 bits);
    void unsetStates(quint32 bits);
    void setStateInitial();
    void setLogin();
    void on_actionLogin_triggered();
    void setLoginAttempted();
    void setLoginFailed();
    void setLoggedIn();
    void setLaddersLoaded();
    void setPlayersLoaded();
    void setMapsLoaded();
    void setMapDLStarted();
    void setMapDLFinished();
    void setMainButtonClicked();
    void unsetMainButtonClicked();
    void setMatchupRequested();
    void unsetNetworkBits();
    void unsetMatchupRequested();
    void setMatchupWaitFor();
    void setMatchupFound();
    void setNetworkFindStarted();
    void setNetworkFindFinished();
    void setNetworkPerfStarted();
    void setNetworkReady();
    void setNetworkFailed();
    void setGameSpawned();
    void setGameFinished();
    void setApiFailed();

    // Session flow.
    void doRestOfSetup();
    void tunnelSetup();
    void slotStatesChanged();
    void doMatchup();
    void tunnelStateChanged();
    // The router's view of the match (queued from its thread).
    void routesChanged(const RouteReport &report);
    void cancelFindMatch();
    void notifyAndCancelFindMatch();
    void showConfirmReady();
    void maybeShowWaitDialog();
    void updateZantryStatus();
    void fatalError(const QString &message);
    void warningAccepted();
    void closeDueToWarn();
    void pWatchTriggered();
    void pWatchCleared();
    void minimizeToTray(bool showMessage);
    void minimizeToTray();
    // The program is asked to end from outside; see mainwindow_settings.cpp.
    void quitRequested();

    // Ladder, account, side and map selection.
    void discoverGame();
    void populateLadderBox();
    void populatePlayerBox();
    void updateCurrentPlayer(int index);
    void populateMaps();
    void doSideChanged();
    void doMapFactionChanged(int index);
    void setMapView(QTableWidgetItem *current, QTableWidgetItem *previous);
    void on_mapsList_doubleClicked(const QModelIndex &index);
    void mapDLStateChanged();
    void updateZantryStatsLabel();

    // Game run.
    void handleGameSpawnError(QProcess::ProcessError error);

    // Window, tray and settings tab.
    void systemTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void saveWinePrefix(const QString &value);
    // Asks for the game's folder and remembers it; true when one holding a
    // game was chosen (gameFolderChosen() then tells the program to move).
    bool chooseGameFolder();
    void updateWatchedProcs();
    void on_addWatchButton_clicked();
    void on_remWatchButton_clicked();
    void on_pWatchCheck_toggled(bool checked);
    void on_volumeSlider_valueChanged(int value);
    void on_volumeSlider_sliderReleased();
    void on_showIpAddrButton_clicked();
    void setIpPortText(ushort port);
    void populateTunnelServers();
    void on_reloadStyleButton_clicked();
    void on_saveStyleButton_clicked();
    void on_actionSettings_triggered();
    void on_helpButton_clicked();
    void linkToLadder();

signals:
    // The player chose another game folder; the program starts again there.
    void gameFolderChosen(const QString &folder);
    void newStatesSet();
    void statesUnset();
    void resetTunnel();
    void startPingFlood();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void showStateNames();
    void placeWindow();
    // The settings tab's part of the set-up on the first turn of the event
    // loop: stored values into the widgets, and the widgets' own wiring.
    void setupSettingsTab();
    void setupTray();
    void closeWhileQueued();
    QSet<QString> listedProcs() const;
    // Session flow helpers.
    void connectServiceClient();
    void flowLoginForm(quint32 s);
    void flowSessionCase(quint32 s, bool clicked, QStringList &lines);
    void flowQueued(bool clicked, QStringList &lines);
    void flowMatched(quint32 s, bool clicked, QStringList &lines);
    void flowFallThrough(bool clicked, QStringList &lines);
    void flowWarnings(quint32 s, const QStringList &lines);
    void setControlsEnabled(bool accounts, bool maps);
    void showLoader(bool loading);
    void setBroadcastFlags(bool inGame, bool inQueue);
    void placeBusyWidget();
    void resetRouter();
    QString matchMapName() const;
    void selectMatchMap();
    void setupMatchRouting();
    void networkNotReached();
    void showRoutes(bool forMatch);
    void logRoutes() const;
    QString unreachedDetails() const;
    void closeAfterWarning();
    // The game-folder question, asked before anything else while no game
    // was found; its answer is taken by gameFolderAnswered().
    void askForGameFolder();
    void gameFolderAnswered(int result);
    // A question was answered: the waiting dialog held back by it may come.
    void questionClosed();
    bool questionOpen() const;
    void queueLeft();
    // Game run helpers.
    void startGame();
    void launchGame();
    // The game of this match cannot start: the match ends, and the player
    // is shown notice once the window is back at ready.
    void launchFailed(const QString &notice);
    void retrySpawn();
    void endGame();
    void noteResult(const QString &note);
    // The status line of the ready state: what the player should know.
    QString readyNote() const;
    void noteMapFailures();
    // What the login form says when the service could not be used.
    QString serviceFaultText() const;
    void disconnectGameProcess(QProcess *process);
    void applyStyle(const QString &style);
    // A message with an Ok button; answering it never ends the session the
    // way the session's own warnings do.
    void showNotice(const QString &text);

    Ui::MainWindow *ui;
    quint32 m_state = 0;

    TitleBar *m_titleBar = nullptr;
    QString m_siteUrl;
    QString m_apiUrl;
    QString m_ladderUrl;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QMenu *m_trayMenu = nullptr;
    BusyWidget *m_busyWidget = nullptr;
    Password *m_password = nullptr;
    WaitingDialog *m_waitingDialog = nullptr;
    // One dialog per question, each with its own answer: a question asked
    // while another is open never takes that one's answer.
    WarningDialog *m_folderQuestion = nullptr;
    WarningDialog *m_closeQuestion = nullptr;
    WarningDialog *m_signUpQuestion = nullptr;
    WarningDialog *m_notReachedWarning = nullptr;
    WarningDialog *m_pwatchNotice = nullptr;
    WarningDialog *m_fatalWarning = nullptr;
    bool m_choosingFolder = false;
    bool m_folderChosen = false;
    bool m_closeAnswered = false; // Close at the folder question: nothing more to ask
    bool m_waitDialogHeld = false;
    QFileDialog *m_folderDialog = nullptr;
    QMediaPlayer *m_soundPlayer = nullptr;
    ConfirmReadyDialog *m_confirmReadyDialog = nullptr;
    QElapsedTimer m_spawnRetryClock;
    QTimer *m_spawnRetryTimer = nullptr; // the pause before the next launch attempt
    QString m_launchFailure;             // why this match's game could not start, for the player
    QStringList m_copiedGameFiles; // what this match put in the game folder
    QTimer *m_statusTimer = nullptr;
    QPixmap m_defaultMapImage;
    QMovie *m_loader = nullptr;
    int m_queuedCloseMs = kQueuedCloseMs;
    QTimer *m_queuedCloseTimer = nullptr;

    LorvaneAPI *m_api = nullptr;
    MapDownloader *m_mapDownloader = nullptr;
    LorvaneNetwork *m_network = nullptr;
    MatchRouting *m_routing = nullptr;
    InternetDetector *m_internetDetector = nullptr;
    StatusBroadcaster *m_statusBroadcaster = nullptr;
    bool m_mapFitToView = false;
    RouteView *m_routeView = nullptr;
    RouteReport m_lastRoutes;
    bool m_routeTabShown = false; // switched to for a match, back at ready
    Router *m_tunnelRouter = nullptr;
    // Whether the last leave of the queue was asked for here; one that was
    // not (a broken or unreachable service) is told to the user.
    bool m_cancelRequested = false;
    bool m_queueInterrupted = false;
    // What became of the last game's result, shown at ready until the next queue.
    QString m_resultNote;
    QString m_mapsNote;
    // Why the settings cannot be kept, once found; empty while they can.
    QString m_settingsNote;
    int m_spawnRetryMs = kSpawnRetryMs;
    int m_spawnRetryPauseMs = kSpawnRetryPauseMs;
    int m_statusIntervalMs = kStatusIntervalMs;
    quint16 m_firstPeerPort = 51143;

    static bool s_closeConfirmed;
};
