#include "bot.h"

#include "api/lorvaneapi.h"
#include "util/endpoints.h"
#include "util/settings.h"
#include "api/matchstate.h"
#include "net/networkstate.h"
#include "net/lorvanenetwork.h"
#include "spawn/gamecatalogue.h"

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

// The progress line of each phase; the tests, the demo and the benchmarks
// wait for some of them.
QString stepName(Session::Phase phase)
{
    switch (phase) {
    case Session::Phase::Ready: return QStringLiteral("ready");
    case Session::Phase::Queued: return QStringLiteral("queued");
    case Session::Phase::Connecting: return QStringLiteral("flood");
    case Session::Phase::Measuring: return QStringLiteral("ping");
    case Session::Phase::Launching: return QStringLiteral("route-ready");
    case Session::Phase::InGame: return QStringLiteral("game");
    case Session::Phase::GameOver: return QStringLiteral("game-finished");
    default: return QString();
    }
}

} // namespace

Bot::Bot(const BotOptions &options, QObject *parent) : QObject(parent), m_options(options) {}

Bot::~Bot() = default;

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
    emit finished(exitCode);
}

void Bot::start()
{
    // Like the client, the bot plays the game of the folder it runs in.
    QDir::setCurrent(m_options.gameDir);
    Session::Options options;
    options.firstPeerPort = LorvaneNetwork::kFirstPort;
    if (!m_options.bind.isEmpty())
        options.bind = QHostAddress(m_options.bind);
    options.broadcastStatus = false;
    m_session = new Session(options, this);
    GameCatalogue *games = m_session->games();
    games->discover();
    games->setCurrent(games->localGame());
    if (!games->current()) {
        fail(QStringLiteral("no game launcher in %1").arg(m_options.gameDir));
        return;
    }

    step(QStringLiteral("login"));
    if (!m_options.token.isEmpty()) {
        Settings::setAccessToken(m_options.token);
    } else {
        // A token of an earlier run may belong to another account.
        Settings::removeAccessToken();
    }
    // The service client reads the stored token when it is made.
    m_session->start();
    wireService();
    connect(m_session, &Session::phaseShown, this, &Bot::phaseShown);
    connect(m_session, &Session::readyCheck, this, &Bot::matchFound);
    connect(m_session, &Session::gameEnded, this, &Bot::gameEnded);
    connect(m_session, &Session::launchFailed, this, &Bot::fail);
    connect(m_session, &Session::queueLeftToEnd, this, [this]() { finish(0); });
    connect(m_session, &Session::routerStarted, this, &Bot::queueWhenReady);
    connect(m_session, &Session::notReached, this, [this]() {
        printLine(QStringLiteral("BOT match not-reached %1").arg(m_played + 1));
        m_inMatch = true; // no new queue while leaving
        // The "NotReached" update is still on its way and the service client
        // tells nobody when it is answered: give it a moment before leaving.
        QTimer::singleShot(kUpdateGraceMs, this, [this]() { fail(QStringLiteral("the other players were not reached")); });
    });
    connect(m_session->network(), &LorvaneNetwork::tunnelServersChanged, this, [this]() {
        if (m_tunnelsKnown)
            return;
        m_tunnelsKnown = true;
        qDebug() << "Bot: tunnel servers" << m_session->networkState()->tunnelServers().keys();
        queueWhenReady();
    });
    m_session->connectTo(Endpoints::instance().apiUrl());
}

void Bot::wireService()
{
    LorvaneAPI *api = m_session->api();
    if (!m_options.password.isEmpty()) {
        api->setAccountName(m_options.account);
        api->setPassword(m_options.password);
    }
    connect(api, &LorvaneAPI::authenticationRequired, this, &Bot::loginNeeded);
    connect(api, &LorvaneAPI::authenticationFailed, this,
            [this]() { fail(QStringLiteral("the service refused the login of %1").arg(m_options.account)); });
    connect(api, &LorvaneAPI::apiFailed, this,
            [this]() { fail(QStringLiteral("the service could not be contacted at %1").arg(Endpoints::instance().apiUrl())); });
    connect(api, &LorvaneAPI::apiFatal, this, [this](const QString &message) { fail(QStringLiteral("the service said: ") + message); });
    connect(api, &LorvaneAPI::playersChanged, this, &Bot::choosePlayer);
    connect(api, &LorvaneAPI::currentPlayerMapsChanged, this, &Bot::mapsListed);
    connect(api, &LorvaneAPI::cancelledFindMatch, this, [this]() {
        // Not asked for by stop(): the service broke off the exchange (no
        // answer, or not JSON); queueing on would only repeat it.
        if (!m_stopping && !m_inMatch)
            fail(QStringLiteral("the service stopped answering the queue"));
    });
    connect(api, &LorvaneAPI::gameStatsPosted, this, &Bot::resultPosted);
    // A result the service did not take waits in the outbox; the match is over.
    connect(api, &LorvaneAPI::resultUploadFailed, this, &Bot::resultPosted);
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
    m_session->setLoginAttempted();
    m_session->api()->login();
}

void Bot::choosePlayer()
{
    step(QStringLiteral("logged-in"));
    LorvaneAPI *api = m_session->api();
    for (Player *player : api->players()) {
        if (!player->ladder || player->ladder->abbreviation != m_options.ladder)
            continue;
        if (!m_options.player.isEmpty() && player->username != m_options.player)
            continue;
        qDebug().noquote() << "Bot plays as " + player->username;
        api->setCurrentPlayer(player->id);
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
    const Player *player = m_session->api()->currentPlayer();
    if (!player || !player->ladder)
        return;
    QStringList hashes;
    for (const Map *map : qAsConst(player->ladder->maps))
        hashes.append(map->hash);
    step(QStringLiteral("maps"));
    m_session->setWantedMaps(hashes);
}

void Bot::phaseShown(Session::Phase phase)
{
    if (phase != m_phase) {
        m_phase = phase;
        const QString name = stepName(phase);
        if (!name.isEmpty() && phase != Session::Phase::Ready)
            step(name);
    }
    if (phase == Session::Phase::Ready)
        queueWhenReady();
}

void Bot::queueWhenReady()
{
    if (m_finished || m_stopping || m_inMatch || m_resultPending || !m_tunnelsKnown || !m_session->router()
        || m_session->phase() != Session::Phase::Ready || (m_session->state() & Zantry::MATCHUP_REQUESTED))
        return;
    step(QStringLiteral("ready"));
    m_session->pressMainButton();
}

void Bot::matchFound()
{
    m_inMatch = true;
    const SpawnInfo spawn = m_session->match()->spawnInfo();
    step(QStringLiteral("matched %1 peers %2").arg(spawn.gameID).arg(spawn.paths.uniqueKeys().size()));
    m_session->acceptMatch();
}

void Bot::gameEnded(bool resultSent)
{
    m_resultPending = resultSent;
    if (!resultSent) {
        qDebug() << "Bot: the game left no result file";
        resultPosted();
        return;
    }
    step(QStringLiteral("uploading"));
}

void Bot::resultPosted()
{
    if (!m_inMatch)
        return;
    m_inMatch = false;
    m_resultPending = false;
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
    m_stopping = true;
    if (!m_session || !(m_session->state() & (Zantry::MATCHUP_REQUESTED | Zantry::MATCHUP_WAITFOR))) {
        finish(0);
        return;
    }
    // Leave the queue, so the other player is not matched with nobody.
    QTimer::singleShot(kQuitWaitMs, this, [this]() { finish(0); });
    m_session->leaveQueueToEnd();
}
