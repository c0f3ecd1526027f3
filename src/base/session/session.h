#pragma once

#include "net/routereport.h"
#include "session/zantrystate.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QProcess>
#include <QStringList>

class GameCatalogue;
class InternetDetector;
class LorvaneAPI;
class LorvaneNetwork;
class MapDownloader;
class MatchRouting;
class PortMapper;
class MatchState;
class NetworkState;
class ProcessWatcher;
class QTimer;
class Router;
class StatusBroadcaster;
struct StatusSnapshot;

// One player's session with the ladder: the flag set, the flow that reads
// it, the service client, the maps, the network and the game of a match.
// The window and the bot drive the same session; each only answers its
// questions (log in, accept the match, queue again) and shows its phase.
class Session : public QObject
{
    Q_OBJECT
public:
    // What the flow made of the flag set on its last run.
    enum class Phase {
        Starting,
        NoGame,        // no game in the folder, or a question holds the flow
        Login,         // the login form is wanted
        LoggingIn,
        NoAccount,     // logged in without a ladder account for this game
        Loading,       // contacting the service, loading lists
        ServiceFailed, // the service could not be used; back to the login form
        Loaded,        // lists loaded, maps still being matched
        Ready,
        Queued,
        Paused,        // the process watcher found another game running
        Connecting,    // matched: finding a path to every player
        Measuring,
        Launching,
        InGame,
        GameOver,      // the game ended; the result is on its way
    };
    Q_ENUM(Phase)

    static constexpr int kSpawnRetryMs = 10000;
    static constexpr int kSpawnRetryPauseMs = 1000;
    static constexpr int kStatusIntervalMs = 60000;
    static constexpr int kRequeueFirstMs = 5000;
    static constexpr int kRequeueMaxMs = 60000;
    static constexpr int kRequeueTries = 6;

    struct Options
    {
        quint16 firstPeerPort = 51143;
        QHostAddress bind = QHostAddress(QHostAddress::AnyIPv4);
        // Tell local programs about the session (the window does, the bot not).
        bool broadcastStatus = true;
        // Ask the home router for a port ("Map a port on my router" decides).
        bool mapPort = false;
    };

    // Makes the state the session's parts share: the network's addresses
    // and tunnels, the match, the catalogue of games, the process watcher.
    explicit Session(const Options &options, QObject *parent = nullptr);
    ~Session() override;

    // Makes the service client, maps, network and routing, handing each the
    // state it needs; the games are discovered by then. The driver connects
    // to them, then connectTo() sends the first refresh.
    void start();
    void connectTo(const QString &apiUrl);
    // The games in the current folder: the first is played; none holds the
    // flow at the folder question. Files a killed client left are removed.
    void findGames();

    quint32 state() const { return m_state; }
    Phase phase() const { return m_phase; }
    static const char *phaseName(Phase phase);

    LorvaneAPI *api() const { return m_api; }
    MapDownloader *mapDownloader() const { return m_mapDownloader; }
    LorvaneNetwork *network() const { return m_network; }
    InternetDetector *internetDetector() const { return m_internetDetector; }
    // Null until the network thread has set it up (routerStarted()).
    Router *router() const { return m_router; }
    NetworkState *networkState() const { return m_networkState; }
    MatchState *match() const { return m_match; }
    GameCatalogue *games() const { return m_games; }
    ProcessWatcher *processWatcher() const { return m_processWatcher; }
    // Null unless the options ask for port mapping.
    PortMapper *portMapper() const { return m_portMapper; }

    // What the player should know at ready: the last result's fate, maps
    // that failed, settings that cannot be kept; empty when nothing.
    QString readyNote() const;
    // The last leave of the queue was not asked for (a broken service).
    bool queueInterrupted() const { return m_queueInterrupted; }
    // After such a leave the queue is tried again by itself: ms until the
    // next try, or -1 when none is due.
    int requeueIn() const;

    // Tests shorten these.
    void setSpawnRetryWindow(int ms) { m_spawnRetryMs = ms; }
    void setSpawnRetryPause(int ms) { m_spawnRetryPauseMs = ms; }
    void setStatusInterval(int ms) { m_statusIntervalMs = ms; }
    void setRequeuePause(int ms) { m_requeueFirstMs = ms; }

    // What the local status broadcast tells about the session.
    StatusSnapshot statusSnapshot() const;

public slots:
    // The main button: queues, cancels or closes, by the flags.
    void pressMainButton();
    void acceptMatch();
    void declineMatch();
    void cancelFindMatch();
    // After the other player was not reached: queue again or stay out.
    void queueAgain();
    void stayOut();
    // Leaves the queue; queueLeftToEnd() follows instead of the return to
    // ready. endWithoutLeaving() takes it back.
    void leaveQueueToEnd();
    void keepRunning();
    // A question that must be answered before anything else holds the flow.
    void hold();
    // The ladder's maps the player can be sent to; empty: nothing to fetch.
    void setWantedMaps(const QStringList &hashes);
    // The process watcher: pause while another game runs, queue again after.
    void pauseForWatcher();
    void resumeAfterWatcher();
    void clearPause();
    // Back to the login form, the stored login forgotten; the program stays.
    void logOut();

    // The flag writers.
    void setStates(quint32 bits);
    void unsetStates(quint32 bits);
    void setStateInitial();
    void setLogin();
    void setLoginAttempted();
    void setLoginFailed();
    void setLoggedIn();
    void setLaddersLoaded();
    void setPlayersLoaded();
    void setMapsLoaded();
    void setMapDLStarted();
    void setMapDLFinished();
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

signals:
    void stateChanged(quint32 state);
    // After each run of the flow; clicked: the run took a main-button press.
    void phaseShown(Session::Phase phase, bool clicked);
    void readyCheck();
    // A press that means close (before the lists were loaded).
    void closeRequested();
    void paused();
    void gameStarting();
    // resultSent: a result file went to the service (its answer follows).
    void gameEnded(bool resultSent);
    // The match's game could not start; said once the window is back at ready.
    void launchFailed(const QString &notice);
    void notReached();
    void readyNoteChanged();
    void queueLeftToEnd();
    void routesChanged(const RouteReport &report);
    void routerStarted();

    // Internal: the flow runs queued after any change.
    void newStatesSet();
    void statesUnset();

private:
    void connectServiceClient();
    void connectRouting();
    void routerReady();
    void runFlow();
    Phase actOn(quint32 s, bool clicked);
    Phase actReady(bool clicked);
    Phase actMatched(quint32 s, bool clicked);
    void setBroadcastFlags(bool inGame, bool inQueue);
    void resetRouter();
    void queueLeft();
    void scheduleRequeue();
    void requeue();
    void mapsStateChanged();
    void noteMapFailures();
    void noteResult(const QString &note);
    // The game of a match: session_game.cpp.
    void startGame();
    void launchGame();
    void launchFailedWith(const QString &notice);
    void retrySpawn();
    void gameProcessError(QProcess::ProcessError error);
    void disconnectGameProcess(QProcess *process);
    void endGame();

    Options m_options;
    NetworkState *m_networkState = nullptr;
    MatchState *m_match = nullptr;
    GameCatalogue *m_games = nullptr;
    ProcessWatcher *m_processWatcher = nullptr;
    quint32 m_state = 0;
    Phase m_phase = Phase::Starting;
    bool m_held = false;
    LorvaneAPI *m_api = nullptr;
    MapDownloader *m_mapDownloader = nullptr;
    LorvaneNetwork *m_network = nullptr;
    MatchRouting *m_routing = nullptr;
    PortMapper *m_portMapper = nullptr;
    InternetDetector *m_internetDetector = nullptr;
    StatusBroadcaster *m_statusBroadcaster = nullptr;
    Router *m_router = nullptr;
    QTimer *m_statusTimer = nullptr;
    QTimer *m_spawnRetryTimer = nullptr;
    QTimer *m_requeueTimer = nullptr;
    int m_requeueTries = 0;
    int m_requeueFirstMs = kRequeueFirstMs;
    QElapsedTimer m_spawnRetryClock;
    QString m_launchFailure;
    QStringList m_copiedGameFiles; // what this match put in the game folder
    bool m_cancelRequested = false;
    bool m_queueInterrupted = false;
    bool m_leavingToEnd = false;
    QString m_resultNote;
    QString m_mapsNote;
    QString m_settingsNote;
    int m_spawnRetryMs = kSpawnRetryMs;
    int m_spawnRetryPauseMs = kSpawnRetryPauseMs;
    int m_statusIntervalMs = kStatusIntervalMs;
};
