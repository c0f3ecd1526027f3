#include "bot.h"

#include "api/lorvaneapi.h"
#include "crash/crashhandler.h"
#include "util/endpoints.h"
#include "util/settings.h"
#include "botgame.h"
#include "maps/mapdownloader.h"
#include "net/global.h"
#include "net/lorvanenetwork.h"
#include "net/matchrouting.h"
#include "net/router.h"
#include "spawn/spawnablegame.h"
#include "watch/internetdetector.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kQuitWaitMs = 3000;
constexpr int kUpdateGraceMs = 2000;

void printLine(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

Bot::Bot(const BotOptions &options, QObject *parent) : QObject(parent), m_options(options) {}

Bot::~Bot()
{
    if (m_run)
        m_run->kill();
    // The network object stops its thread; the router goes with it.
    delete m_network;
}

void Bot::step(const QString &name)
{
    qDebug().noquote() << "Bot state: " + name;
    printLine(QStringLiteral("BOT state ") + name);
}

void Bot::fail(const QString &message)
{
    if (m_finished)
        return;
    qDebug().noquote() << "Bot failed: " + message;
    printLine(QStringLiteral("BOT error ") + message);
    finish(1);
}

void Bot::finish(int exitCode)
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_run)
        m_run->kill();
    emit finished(exitCode);
}

void Bot::start()
{
    // Like the client, the bot plays the game of the folder it runs in.
    QDir::setCurrent(m_options.gameDir);
    SpawnableGame::discoverGames();
    m_game = SpawnableGame::table().value(SpawnableGame::localGame());
    if (!m_game) {
        fail(QStringLiteral("no game launcher in %1").arg(m_options.gameDir));
        return;
    }
    Global::instance()->setGames(SpawnableGame::table());
    Global::instance()->setCurrentGame(m_game);

    step(QStringLiteral("login"));
    if (!m_options.token.isEmpty()) {
        Settings::setAccessToken(m_options.token);
    } else {
        // A token of an earlier run may belong to another account.
        Settings::removeAccessToken();
    }
    // The service client reads the stored token when it is made.
    m_api = new LorvaneAPI(this);
    m_maps = new MapDownloader(this);
    m_routing = new MatchRouting(this);
    m_detector = new InternetDetector(this);
    m_run = new BotGame(this);
    wireService();
    wireRouting();
    connect(m_run, &BotGame::started, this, [this]() {
        step(QStringLiteral("game"));
        m_api->updateMatchStatus(QStringLiteral("GameSpawned"));
    });
    connect(m_run, &BotGame::finished, this, &Bot::gameFinished);

    m_network = new LorvaneNetwork(LorvaneNetwork::kFirstPort,
                                   m_options.bind.isEmpty() ? QHostAddress(QHostAddress::AnyIPv4) : QHostAddress(m_options.bind));
    wireNetwork();
    m_api->setURL(Endpoints::instance().apiUrl());
}

void Bot::wireService()
{
    if (!m_options.password.isEmpty()) {
        m_api->setAccountName(m_options.account);
        m_api->setPassword(m_options.password);
    }
    connect(m_api, &LorvaneAPI::authenticationRequired, this, &Bot::loginNeeded);
    connect(m_api, &LorvaneAPI::authenticationFailed, this,
            [this]() { fail(QStringLiteral("the service refused the login of %1").arg(m_options.account)); });
    connect(m_api, &LorvaneAPI::apiFailed, this,
            [this]() { fail(QStringLiteral("the service could not be contacted at %1").arg(Endpoints::instance().apiUrl())); });
    connect(m_api, &LorvaneAPI::apiFatal, this, [this](const QString &message) { fail(QStringLiteral("the service said: ") + message); });
    connect(m_api, &LorvaneAPI::playersChanged, this, &Bot::choosePlayer);
    connect(m_api, &LorvaneAPI::currentPlayerMapsChanged, this, &Bot::mapsListed);
    connect(m_api, &LorvaneAPI::waitForMatchup, this, [this]() {
        if (!m_queued)
            step(QStringLiteral("queued"));
        m_queued = true;
    });
    connect(m_api, &LorvaneAPI::cancelledFindMatch, this, [this]() {
        // Not asked for by stop(): the service broke off the exchange (no
        // answer, or not JSON); queueing on would only repeat it.
        m_queued = false;
        if (m_stopping)
            finish(0);
        else
            fail(QStringLiteral("the service stopped answering the queue"));
    });
    connect(m_api, &LorvaneAPI::matchupFound, this, &Bot::matchFound);
    connect(m_api, &LorvaneAPI::gameStatsPosted, this, &Bot::resultPosted);
    // A result the service did not take waits in the outbox; the match is over.
    connect(m_api, &LorvaneAPI::resultUploadFailed, this, &Bot::resultPosted);
    connect(m_maps, &MapDownloader::stateChanged, this, &Bot::mapsStateChanged);
}

void Bot::wireNetwork()
{
    connect(m_network, &LorvaneNetwork::threadStarted, this, [this]() {
        Router *router = m_network->router();
        connect(router, &Router::stateChanged, m_routing, &MatchRouting::tunnelStateChanged, Qt::QueuedConnection);
        Global::instance()->setPeerRoutes(router);
        if (!m_options.bind.isEmpty())
            Global::instance()->setLocalIP(QHostAddress(m_options.bind));
        m_networkUp = true;
        queueWhenReady();
    });
    connect(m_network, &LorvaneNetwork::tunnelServersChanged, this, [this]() {
        if (m_tunnelsKnown)
            return;
        m_tunnelsKnown = true;
        qDebug() << "Bot: tunnel servers" << Global::instance()->tunnelServers().keys();
        queueWhenReady();
    });
}

void Bot::wireRouting()
{
    connect(m_routing, &MatchRouting::statusUpdate, this, [this](const QString &status) { m_api->updateMatchStatus(status); });
    connect(m_routing, &MatchRouting::findStarted, this, [this]() { step(QStringLiteral("flood")); });
    connect(m_routing, &MatchRouting::findFinished, this, [this]() { step(QStringLiteral("reached")); });
    connect(m_routing, &MatchRouting::perfStarted, this, [this]() { step(QStringLiteral("ping")); });
    connect(m_routing, &MatchRouting::networkReady, this, &Bot::launchGame);
    connect(m_routing, &MatchRouting::notReached, this, [this]() {
        printLine(QStringLiteral("BOT match not-reached %1").arg(m_played + 1));
        // The "NotReached" update is still on its way and the service client
        // tells nobody when it is answered: give it a moment before leaving.
        QTimer::singleShot(kUpdateGraceMs, this, [this]() { fail(QStringLiteral("the other players were not reached")); });
    });
}

void Bot::loginNeeded()
{
    if (m_options.password.isEmpty()) {
        fail(QStringLiteral("the service refused the token"));
        return;
    }
    // The refresh of an empty token asks twice: before and after its answer.
    if (m_loginSent)
        return;
    m_loginSent = true;
    m_api->login();
}

void Bot::choosePlayer()
{
    step(QStringLiteral("logged-in"));
    for (Player *player : m_api->players()) {
        if (!player->ladder || player->ladder->abbreviation != m_options.ladder)
            continue;
        if (!m_options.player.isEmpty() && player->username != m_options.player)
            continue;
        qDebug().noquote() << "Bot plays as " + player->username;
        m_api->setCurrentPlayer(player->id);
        // Maps already listed for this ladder are not fetched again.
        if (!player->ladder->maps.isEmpty())
            mapsListed();
        return;
    }
    fail(QStringLiteral("no ladder account on %1%2")
             .arg(m_options.ladder, m_options.player.isEmpty() ? QString() : QStringLiteral(" named ") + m_options.player));
}

void Bot::mapsListed()
{
    const Player *player = m_api->currentPlayer();
    if (!player || !player->ladder)
        return;
    QStringList hashes;
    for (const Map *map : qAsConst(player->ladder->maps))
        hashes.append(map->hash);
    step(QStringLiteral("maps"));
    m_maps->setMaps(hashes);
}

void Bot::mapsStateChanged()
{
    if (m_maps->state() != MapDownloader::Done || m_mapsReady)
        return;
    m_mapsReady = true;
    queueWhenReady();
}

void Bot::queueWhenReady()
{
    if (m_finished || m_inMatch || m_queued || !m_networkUp || !m_tunnelsKnown || !m_mapsReady)
        return;
    step(QStringLiteral("ready"));
    m_api->findMatch();
}

void Bot::matchFound()
{
    m_queued = false;
    m_inMatch = true;
    const SpawnInfo spawn = Global::instance()->spawnInfo();
    step(QStringLiteral("matched %1 peers %2").arg(spawn.gameID).arg(spawn.paths.uniqueKeys().size()));
    if (!MatchRouting::beginMatch(m_game->workingDir))
        fail(QStringLiteral("the router is not running"));
}

void Bot::launchGame()
{
    step(QStringLiteral("route-ready"));
    m_detector->reset();
    m_detector->setInterval(1000);
    m_detector->start();
    const SpawnInfo spawn = Global::instance()->spawnInfo();
    QString error;
    if (!m_run->launch(m_game, m_maps->mapFilePath(spawn.mapHash), &error)) {
        m_api->updateMatchStatus(QStringLiteral("GameError"));
        fail(error);
    }
}

void Bot::gameFinished(bool crashed)
{
    m_detector->stop();
    const bool crashFiles = CrashHandler::instance()->uploadGameCrashFiles();
    m_api->updateMatchStatus(crashed || crashFiles ? QStringLiteral("GameCrashed") : QStringLiteral("GameFinished"));
    step(crashed ? QStringLiteral("game-crashed") : QStringLiteral("game-finished"));
    const QString result = m_run->resultFile();
    m_run->cleanUp();
    if (result.isEmpty()) {
        qDebug() << "Bot: the game left no result file";
        resultPosted();
        return;
    }
    step(QStringLiteral("uploading"));
    m_api->postGameStats(result, uint(Global::instance()->spawnInfo().gameID), m_detector->sent(), m_detector->received());
}

void Bot::resultPosted()
{
    if (!m_inMatch)
        return;
    m_inMatch = false;
    ++m_played;
    printLine(QStringLiteral("BOT match done %1").arg(m_played));
    if (m_played >= m_options.matches) {
        printLine(QStringLiteral("BOT done"));
        finish(0);
        return;
    }
    queueWhenReady();
}

void Bot::stop()
{
    if (m_finished)
        return;
    printLine(QStringLiteral("BOT stopping"));
    if (m_run)
        m_run->kill();
    if (!m_queued || !m_api) {
        finish(0);
        return;
    }
    // Leave the queue, so the other player is not matched with nobody.
    m_stopping = true;
    QTimer::singleShot(kQuitWaitMs, this, [this]() { finish(0); });
    m_api->cancelFindMatch();
}
