// The session: the objects it needs, the flag writers and the flow that
// reads the whole flag set and decides what happens next.
#include "session/session.h"

#include "api/lorvaneapi.h"
#include "api/matchstate.h"
#include "api/player.h"
#include "maps/mapdownloader.h"
#include "net/lorvanenetwork.h"
#include "net/networkstate.h"
#include "net/matchrouting.h"
#include "net/portmapper.h"
#include "net/router.h"
#include "spawn/gamecatalogue.h"
#include "util/settings.h"
#include "util/settingsstore.h"
#include "watch/internetdetector.h"
#include "watch/processwatcher.h"
#include "watch/statusbroadcaster.h"

#include <QDebug>
#include <QTimer>

using namespace Zantry;

Session::Session(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_networkState(new NetworkState(this))
    , m_match(new MatchState(this))
    , m_games(new GameCatalogue(this))
    , m_processWatcher(new ProcessWatcher(this))
{
    connect(m_processWatcher, &ProcessWatcher::cheatToolRunningChanged, m_match, &MatchState::setCheatToolRunning);
    m_spawnRetryClock.invalidate();
    m_statusTimer = new QTimer(this);
    m_statusTimer->setInterval(kStatusIntervalMs);
    m_requeueTimer = new QTimer(this);
    m_requeueTimer->setSingleShot(true);
    connect(m_requeueTimer, &QTimer::timeout, this, &Session::requeue);
    // The flow never runs inside the code that changed the flags.
    connect(this, &Session::newStatesSet, this, &Session::runFlow, Qt::QueuedConnection);
}

Session::~Session()
{
    m_processWatcher->stop();
    // A game still running is ended here, without telling the flow.
    if (QProcess *game = m_match->gameProcess(); game && game->parent() == this) {
        m_match->setGameProcess(nullptr);
        game->disconnect(this);
        delete game;
    }
    // Stops the worker thread; the router goes with it. Its connections to
    // this session go first: the object outlives its thread. The state it
    // writes is deleted after it, with the session's children.
    if (m_network) {
        m_api->setPeerRoutes(nullptr);
        m_routing->setRouter(nullptr);
        m_router = nullptr;
        QObject::disconnect(m_network, nullptr, this, nullptr);
        delete m_network;
    }
}

void Session::start()
{
    m_api = new LorvaneAPI(m_networkState, m_match, m_games, this);
    if (m_options.mapPort) {
        // The router's port mapping is what peers are offered while it lasts.
        m_portMapper = new PortMapper(this);
        connect(m_portMapper, &PortMapper::mappingChanged, m_networkState, [this](const PortMapper::Mapping &m) {
            m_networkState->setMappedAddress(m.externalIP, m.externalPort);
        });
    }
    m_internetDetector = new InternetDetector(this);
    if (m_options.broadcastStatus) {
        m_statusBroadcaster = new StatusBroadcaster(this);
        m_statusBroadcaster->setSource([this] { return statusSnapshot(); });
        m_statusBroadcaster->start();
    }
    m_mapDownloader = new MapDownloader(m_games, this);
    connect(m_mapDownloader, &MapDownloader::stateChanged, this, &Session::mapsStateChanged);
    connectServiceClient();
    connectRouting();
    connect(m_statusTimer, &QTimer::timeout, this, [this] { m_api->updateMatchStatus(QStringLiteral("touch")); });

    m_network = new LorvaneNetwork(m_networkState, m_options.firstPeerPort, m_options.bind);
    connect(m_network, &LorvaneNetwork::threadStarted, this, &Session::routerReady);
    // The worker thread starts with the object and may have announced itself
    // before the connection existed.
    if (m_network->router())
        routerReady();
}

void Session::connectTo(const QString &apiUrl)
{
    m_api->setURL(apiUrl);
}

void Session::connectServiceClient()
{
    connect(m_api, &LorvaneAPI::apiFailed, this, &Session::setApiFailed);
    connect(m_api, &LorvaneAPI::apiFatal, this, [this]() {
        // Refused to queue: not waiting for an answer any more.
        if (m_state & MATCHUP_REQUESTED) {
            unsetStates(MATCHUP_REQUESTED);
            emit newStatesSet();
        }
    });
    connect(m_api, &LorvaneAPI::authenticationRequired, this, &Session::setLogin);
    connect(m_api, &LorvaneAPI::authenticationFailed, this, &Session::setLoginFailed);
    connect(m_api, &LorvaneAPI::authenticationSuccess, this, &Session::setLoggedIn);
    connect(m_api, &LorvaneAPI::laddersChanged, this, &Session::setLaddersLoaded);
    connect(m_api, &LorvaneAPI::playersChanged, this, &Session::setPlayersLoaded);
    connect(m_api, &LorvaneAPI::currentPlayerMapsChanged, this, &Session::setMapsLoaded);
    connect(m_api, &LorvaneAPI::currentPlayerChanged, this, &Session::setMapsLoaded);
    connect(m_api, &LorvaneAPI::cancelledFindMatch, this, &Session::queueLeft);
    connect(m_api, &LorvaneAPI::waitForMatchup, this, &Session::setMatchupWaitFor);
    // The service answers the queue again: the next interruption starts over.
    connect(m_api, &LorvaneAPI::waitForMatchup, this, [this]() { m_requeueTries = 0; });
    connect(m_api, &LorvaneAPI::matchupFound, this, &Session::readyCheck);
    connect(m_api, &LorvaneAPI::gameStatsPosted, this, [this]() { noteResult(QStringLiteral("Result uploaded.")); });
    connect(m_api, &LorvaneAPI::resultUploadFailed, this, [this](bool kept) {
        noteResult(kept ? QStringLiteral("The service did not take the result; it is kept and sent again.")
                        : QStringLiteral("The service did not take the result."));
    });
}

void Session::connectRouting()
{
    // The router's road through a match; only what is shown and asked is
    // left to the window or the bot.
    m_routing = new MatchRouting(m_networkState, this);
    connect(m_routing, &MatchRouting::statusUpdate, m_api, &LorvaneAPI::updateMatchStatus);
    connect(m_routing, &MatchRouting::findStarted, this, &Session::setNetworkFindStarted);
    connect(m_routing, &MatchRouting::findFinished, this, &Session::setNetworkFindFinished);
    connect(m_routing, &MatchRouting::perfStarted, this, &Session::setNetworkPerfStarted);
    connect(m_routing, &MatchRouting::networkReady, this, &Session::setNetworkReady);
    connect(m_routing, &MatchRouting::notReached, this, [this]() {
        unsetStates(MATCHUP_FOUND | NETWORK_FIND_STARTED | NETWORK_FIND_FINISHED | NETWORK_PERF_STARTED);
        emit newStatesSet();
        emit notReached();
    });
}

void Session::routerReady()
{
    Router *router = m_network->router();
    if (!router || m_router == router)
        return;
    m_router = router;
    m_routing->setRouter(router);
    m_api->setPeerRoutes(router);
    if (m_options.bind != QHostAddress(QHostAddress::AnyIPv4) && m_options.bind != QHostAddress(QHostAddress::Any))
        m_networkState->setLocalIP(m_options.bind);
    // Queued: the router runs on the network thread. A state it has already
    // left by the time this runs still takes its step here.
    connect(router, &Router::stateChanged, m_routing, &MatchRouting::tunnelStateChanged, Qt::QueuedConnection);
    connect(router, &Router::routesChanged, this, &Session::routesChanged, Qt::QueuedConnection);
    // Once the peer socket is bound: its port is the one mapped.
    if (m_portMapper && Settings::mapPortOnRouter())
        m_portMapper->start(m_networkState->localPort());
    else if (m_portMapper)
        qDebug().noquote() << "Port mapping: off (setting)";
    emit routerStarted();
}

const char *Session::phaseName(Phase phase)
{
    return QMetaEnum::fromType<Phase>().valueToKey(int(phase));
}

// The flag writers.

void Session::setStates(quint32 bits)
{
    const quint32 updated = m_state | bits;
    if (updated == m_state) {
        qDebug().noquote() << "Set to state ignored: 0x" + QString::number(bits, 16);
        return;
    }
    const quint32 old = m_state;
    m_state = updated;
    qDebug().noquote() << QByteArray("old state = " + stateNames(old) + " new state =" + stateNames(updated));
    emit stateChanged(m_state);
    emit newStatesSet();
}

void Session::unsetStates(quint32 bits)
{
    const quint32 updated = m_state & ~bits;
    if (updated == m_state) {
        qDebug().noquote() << "unSet to state ignored: 0x" + QString::number(bits, 16);
        return;
    }
    const quint32 old = m_state;
    m_state = updated;
    emit statesUnset();
    qDebug().noquote() << QByteArray("unset: old state = " + stateNames(old) + " new state = " + stateNames(updated));
    emit stateChanged(m_state);
}

void Session::setStateInitial()
{
    unsetStates(STATE_ALL);
    setStates(INITIAL);
}

void Session::setLogin()
{
    unsetStates(INITIAL | API_FAILED | LOGIN_FAIL | LOGIN_ATTEMPTED);
    setStates(LOGIN);
}

void Session::setLoginAttempted()
{
    unsetStates(LOGIN | LOGIN_FAIL);
    setStates(LOGIN_ATTEMPTED);
}

void Session::setLoginFailed()
{
    unsetStates(API_FAILED | LOGIN_ATTEMPTED);
    setStates(LOGIN_FAIL);
}

void Session::setLoggedIn()
{
    unsetStates(API_FAILED | LOGIN | LOGIN_ATTEMPTED | LOGIN_FAIL);
    setStates(LOGGED_IN);
    // The login was just stored: said once per run when it cannot be kept.
    if (m_settingsNote.isEmpty()) {
        const QString problem = SettingsStore::problem();
        if (!problem.isEmpty()) {
            qDebug().noquote() << "Settings cannot be saved: " + problem;
            m_settingsNote = QStringLiteral("Settings cannot be saved (%1): the login and choices last only until "
                                            "Zantry closes.")
                                 .arg(problem);
        }
    }
}

void Session::setLaddersLoaded() { setStates(LADDERS_LOADED); }
void Session::setPlayersLoaded() { setStates(PLAYERS_LOADED); }
void Session::setMapsLoaded() { setStates(MAPS_LOADED); }

void Session::setMapDLStarted()
{
    unsetStates(MAP_DLSCAN_FINISHED);
    setStates(MAP_DLSCAN_STARTED);
}

void Session::setMapDLFinished()
{
    unsetStates(MAP_DLSCAN_STARTED);
    setStates(MAP_DLSCAN_FINISHED);
}

void Session::setMatchupRequested() { setStates(MATCHUP_REQUESTED); }

void Session::unsetNetworkBits()
{
    unsetStates(NETWORK_FIND_STARTED | NETWORK_FIND_FINISHED | NETWORK_PERF_STARTED | NETWORK_READY);
}

void Session::unsetMatchupRequested()
{
    unsetStates(MATCHUP_REQUESTED | MATCHUP_WAITFOR | MATCHUP_FOUND);
    unsetNetworkBits();
    emit newStatesSet();
}

void Session::setMatchupWaitFor()
{
    unsetStates(MATCHUP_REQUESTED);
    setStates(MATCHUP_WAITFOR);
}

void Session::setMatchupFound()
{
    unsetStates(MATCHUP_REQUESTED | MATCHUP_WAITFOR);
    setStates(MATCHUP_FOUND);
}

void Session::setNetworkFindStarted() { setStates(NETWORK_FIND_STARTED); }

void Session::setNetworkFindFinished()
{
    unsetStates(NETWORK_FIND_STARTED);
    setStates(NETWORK_FIND_FINISHED);
}

void Session::setNetworkPerfStarted()
{
    unsetStates(NETWORK_FIND_FINISHED);
    setStates(NETWORK_PERF_STARTED);
}

void Session::setNetworkReady()
{
    unsetStates(NETWORK_FIND_STARTED | NETWORK_FIND_FINISHED | NETWORK_PERF_STARTED);
    setStates(NETWORK_READY);
}

void Session::setNetworkFailed()
{
    unsetStates(MATCHUP_FOUND | NETWORK_FIND_STARTED | NETWORK_FIND_FINISHED | NETWORK_PERF_STARTED);
    emit newStatesSet();
}

void Session::setGameSpawned() { setStates(GAME_SPAWNED); }

void Session::setGameFinished()
{
    unsetStates(GAME_SPAWNED);
    setStates(GAME_FINISHED);
}

void Session::setApiFailed()
{
    unsetStates(STATE_ALL);
    setStates(API_FAILED);
}

// The flow.

void Session::runFlow()
{
    qDebug().noquote() << "Running States changed: " + QString::number(m_state);
    if ((m_state & GAME_NOT_FOUND) || m_held) {
        // Nothing of the session works without a game.
        m_phase = Phase::NoGame;
        emit phaseShown(m_phase, false);
        return;
    }
    // A press is consumed by exactly one run; the cases compare the flag
    // set without it.
    const bool clicked = m_state & MAIN_BUTTON_CLICKED;
    if (clicked)
        unsetStates(MAIN_BUTTON_CLICKED);
    m_phase = actOn(m_state, clicked);
    emit phaseShown(m_phase, clicked);
}

Session::Phase Session::actOn(quint32 s, bool clicked)
{
    switch (s) {
    case API_FAILED:
        unsetStates(API_FAILED | LOGIN_ATTEMPTED);
        setStates(LOGIN_FAIL);
        return Phase::ServiceFailed;
    case LOGGED_IN | LADDERS_LOADED | PLAYERS_LOADED | MAPS_LOADED:
        if (clicked) {
            qDebug() << "Closing 1";
            emit closeRequested();
        }
        return Phase::Loaded;
    case READY_TO_QUEUE:
        return actReady(clicked);
    case READY_TO_QUEUE | MATCHUP_REQUESTED:
    case READY_TO_QUEUE | MATCHUP_WAITFOR:
        if (clicked)
            cancelFindMatch();
        setBroadcastFlags(false, true);
        return Phase::Queued;
    case READY_TO_QUEUE | PWATCH_TRIGGERED:
        setBroadcastFlags(false, false);
        return Phase::Paused;
    case READY_TO_QUEUE | MATCHUP_FOUND:
    case READY_TO_QUEUE | MATCHUP_FOUND | NETWORK_FIND_STARTED:
    case READY_TO_QUEUE | MATCHUP_FOUND | NETWORK_FIND_FINISHED:
    case READY_TO_QUEUE | MATCHUP_FOUND | NETWORK_PERF_STARTED:
    case READY_TO_QUEUE | MATCHUP_FOUND | NETWORK_READY:
    case READY_TO_QUEUE | NETWORK_READY | GAME_SPAWNED:
    case READY_TO_QUEUE | MATCHUP_FOUND | NETWORK_READY | GAME_SPAWNED:
        return actMatched(s, clicked);
    case READY_TO_QUEUE | NETWORK_READY | GAME_FINISHED:
    case READY_TO_QUEUE | MATCHUP_FOUND | NETWORK_READY | GAME_FINISHED:
        endGame();
        return Phase::GameOver;
    default:
        break;
    }
    resetRouter();
    if (clicked) {
        qDebug() << "Closing 2";
        emit closeRequested();
    }
    setBroadcastFlags(false, false);
    if (s & (LOGIN | LOGIN_FAIL))
        return Phase::Login;
    if (s & LOGIN_ATTEMPTED)
        return Phase::LoggingIn;
    return (s & NO_LADDER_ACCN) ? Phase::NoAccount : Phase::Loading;
}

Session::Phase Session::actReady(bool clicked)
{
    if (clicked) {
        m_requeueTimer->stop();
        m_queueInterrupted = false;
        m_resultNote.clear();
    } else if (m_queueInterrupted) {
        qDebug() << "Matchmaking was interrupted";
    }
    if (clicked) {
        Player *player = m_api->currentPlayer();
        if (player && player->currentSide()) {
            m_api->findMatch();
            // Queued from this moment: a close before the service has
            // answered must still leave its queue.
            setMatchupRequested();
        } else {
            qDebug() << "findMatch: no side selected";
        }
    }
    setBroadcastFlags(false, false);
    m_statusTimer->stop();
    return Phase::Ready;
}

// From the accepted ready check to the game in progress.
Session::Phase Session::actMatched(quint32 s, bool clicked)
{
    const quint32 match = s & ~READY_TO_QUEUE;
    setBroadcastFlags(true, false);
    if (s & GAME_SPAWNED) {
        m_api->updateMatchStatus(QStringLiteral("GameSpawned"));
        m_statusTimer->start(m_statusIntervalMs);
        return Phase::InGame;
    }
    if (match == (MATCHUP_FOUND | NETWORK_READY)) {
        if (clicked)
            cancelFindMatch();
        else
            startGame();
        return Phase::Launching;
    }
    if (match == (MATCHUP_FOUND | NETWORK_PERF_STARTED))
        return Phase::Measuring;
    if (clicked)
        cancelFindMatch();
    return Phase::Connecting;
}

void Session::pressMainButton() { setStates(MAIN_BUTTON_CLICKED); }

void Session::hold()
{
    m_held = true;
}

void Session::setBroadcastFlags(bool inGame, bool inQueue)
{
    if (m_statusBroadcaster) {
        m_statusBroadcaster->setInGame(inGame);
        m_statusBroadcaster->setInQueue(inQueue);
    }
}

void Session::resetRouter()
{
    if (m_router)
        m_router->setState(Router::NOTHING);
}

StatusSnapshot Session::statusSnapshot() const
{
    StatusSnapshot s;
    if (const SpawnableGame *game = m_games->current()) {
        s.gameAbbreviation = game->abbreviation;
        s.gameExe = game->exe;
    }
    if (QProcess *game = m_match->gameProcess()) {
        const SpawnInfo spawn = m_match->spawnInfo();
        s.hasGameProcess = true;
        s.mapHash = spawn.mapHash;
        s.uiMapName = spawn.uiMapName;
        s.gameProcessId = qint32(game->processId());
    }
    if (const Player *player = m_api ? m_api->currentPlayer() : nullptr) {
        s.hasPlayer = true;
        s.badges = player->badges;
        s.clanName = player->clanName;
        s.clanShort = player->clanShort;
    }
    return s;
}
