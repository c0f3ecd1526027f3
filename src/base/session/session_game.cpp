// The game of a match: launch, the spawn-retry window with its pauses, and
// the end of game with the crash check and the result upload.
#include "session/session.h"

#include "api/lorvaneapi.h"
#include "api/matchstate.h"
#include "api/player.h"
#include "crash/crashhandler.h"
#include "maps/mapdownloader.h"
#include "spawn/gamefolder.h"
#include "spawn/gamecatalogue.h"
#include "watch/internetdetector.h"

#include <QDebug>
#include <QTimer>

#include <utility>

using namespace Zantry;

void Session::findGames()
{
    GameCatalogue *catalogue = m_games;
    catalogue->discover();
    const GameCatalogue::Table games = catalogue->games();
    // A folder without a game leaves no current game behind from an earlier one.
    catalogue->setCurrent(games.isEmpty() ? nullptr : games.first());
    if (games.isEmpty())
        setStates(GAME_NOT_FOUND);
    // A client killed during a game left the files it copied in for it.
    for (const SpawnableGame *game : games) {
        if (game) {
            QStringList leftovers;
            GameFolder::cleanUp(*game, &leftovers);
        }
    }
}

void Session::startGame()
{
    unsetStates(MATCHUP_FOUND);
    emit gameStarting();
    m_internetDetector->reset();
    m_internetDetector->setInterval(1000);
    m_internetDetector->start();
    launchGame();
}

void Session::launchGame()
{
    SpawnableGame *game = m_games->current();
    const SpawnInfo spawn = m_match->spawnInfo();
    if (!game) {
        qDebug() << "Spawning game: no game";
        launchFailedWith(QObject::tr("No game was found to start. The match has ended; choose the game folder, then queue again."));
        return;
    }
    const QString mapFile = m_mapDownloader->mapFilePath(spawn.mapHash);
    m_api->expectResult(game->workingDir, uint(spawn.gameID));
    if (!GameFolder::prepare(*game, mapFile, &m_copiedGameFiles))
        qDebug().noquote() << "Map file not copied: " + spawn.mapHash;

    auto *process = new QProcess(this);
    m_match->setGameProcess(process);
    connect(process, &QProcess::started, this, &Session::setGameSpawned);
    connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, &Session::setGameFinished);
    connect(process, &QProcess::errorOccurred, this, &Session::gameProcessError);
    if (!m_spawnRetryClock.isValid())
        m_spawnRetryClock.start();

    QString problem;
    if (GameFolder::launch(process, *game, &problem))
        return;
    // Nothing to retry (a launcher or Wine that is missing, a folder or not
    // executable fails the same way every time): the match ends at once.
    disconnectGameProcess(process);
    m_match->setGameProcess(nullptr);
    process->deleteLater();
    launchFailedWith(problem);
}

void Session::launchFailedWith(const QString &notice)
{
    m_launchFailure = notice;
    unsetStates(GAME_SPAWNED);
    setStates(GAME_FINISHED);
}

void Session::retrySpawn()
{
    // Only the match that failed to start is started again; one ended or
    // reset meanwhile is not brought back.
    if (!(m_state & NETWORK_READY) || (m_state & (MATCHUP_FOUND | GAME_SPAWNED | GAME_FINISHED))) {
        qDebug().noquote() << "Spawn retry dropped: the match is no longer waiting for its game";
        m_spawnRetryClock.invalidate();
        return;
    }
    unsetStates(MATCHUP_REQUESTED | MATCHUP_WAITFOR);
    setStates(MATCHUP_FOUND);
}

void Session::disconnectGameProcess(QProcess *process)
{
    disconnect(process, &QProcess::started, this, &Session::setGameSpawned);
    disconnect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
               &Session::setGameFinished);
    disconnect(process, &QProcess::errorOccurred, this, &Session::gameProcessError);
}

void Session::gameProcessError(QProcess::ProcessError error)
{
    qDebug().noquote() << QStringLiteral("Error reported during spawn: %1").arg(int(error));
    switch (error) {
    case QProcess::FailedToStart:
    case QProcess::Timedout: {
        auto *process = qobject_cast<QProcess *>(sender());
        if (m_spawnRetryClock.hasExpired(m_spawnRetryMs)) {
            qDebug() << "Respawn failed";
            const QString why = process ? QObject::tr("%1 did not start (%2).").arg(process->program(), process->errorString())
                                        : QObject::tr("it did not start.");
            qDebug().noquote() << "Cannot start the game: " + why;
            m_spawnRetryClock.invalidate();
            launchFailedWith(QObject::tr("The game could not be started: %1 The match has ended; queue again when the game can "
                            "start.")
                             .arg(why));
            break;
        }
        qDebug().noquote() << "Retrying spawn for the next" << m_spawnRetryMs << "ms";
        if (process) {
            disconnectGameProcess(process);
            // The next attempt makes its own; this one is done.
            if (m_match->gameProcess() == process)
                m_match->setGameProcess(nullptr);
            process->deleteLater();
        }
        unsetStates(GAME_SPAWNED);
        // A pause between tries: what keeps the launcher from starting needs
        // time to pass, and a start a moment later would only fail again.
        if (!m_spawnRetryTimer) {
            m_spawnRetryTimer = new QTimer(this);
            m_spawnRetryTimer->setSingleShot(true);
            connect(m_spawnRetryTimer, &QTimer::timeout, this, &Session::retrySpawn);
        }
        m_spawnRetryTimer->start(m_spawnRetryPauseMs);
        break;
    }
    case QProcess::Crashed:
        m_api->updateMatchStatus(QStringLiteral("GameCrashed"));
        break;
    case QProcess::ReadError:
    case QProcess::WriteError:
        m_api->updateMatchStatus(QStringLiteral("GameError"));
        break;
    default:
        m_api->updateMatchStatus(QStringLiteral("GameUnknownError"));
        m_spawnRetryClock.invalidate();
        break;
    }
}

void Session::endGame()
{
    const SpawnInfo spawn = m_match->spawnInfo();
    SpawnableGame *game = m_games->current();
    if (m_spawnRetryTimer)
        m_spawnRetryTimer->stop();
    // A game that never ran neither crashed nor finished.
    const QString launchFailure = std::exchange(m_launchFailure, QString());
    if (!launchFailure.isEmpty()) {
        m_api->updateMatchStatus(QStringLiteral("GameError"));
    } else {
        bool crashed = false;
        if (const Player *player = m_api->currentPlayer(); game && player) {
            GameCrashInfo info;
            info.abbreviation = game->abbreviation;
            info.workingDir = game->workingDir;
            info.exceptionFile = game->exceptionFile;
            info.nickname = player->username;
            info.gameId = spawn.settings.value(QStringLiteral("WOLGameID")).toInt();
            crashed = CrashHandler::instance()->uploadGameCrash(info);
        }
        m_api->updateMatchStatus(crashed ? QStringLiteral("GameCrashed") : QStringLiteral("GameFinished"));
    }
    m_statusTimer->stop();
    m_internetDetector->stop();

    const QString stats = game ? GameFolder::resultFile(*game) : QString();
    if (!stats.isEmpty())
        m_api->postGameStats(stats, uint(spawn.gameID), m_internetDetector->sent(),
                             m_internetDetector->received());
    else if (game)
        m_api->noResult(game->workingDir);
    emit gameEnded(!stats.isEmpty());

    if (QProcess *process = m_match->gameProcess()) {
        disconnectGameProcess(process);
        process->deleteLater();
        m_match->setGameProcess(nullptr);
    }
    if (game)
        GameFolder::cleanUp(*game, &m_copiedGameFiles);
    unsetStates(MATCHUP_FOUND | NETWORK_READY | GAME_FINISHED);
    emit newStatesSet();
    setBroadcastFlags(false, false);
    m_spawnRetryClock.invalidate();
    // Told once the window is back at ready, outside the flow's own run.
    if (!launchFailure.isEmpty())
        QMetaObject::invokeMethod(
            this, [this, launchFailure] { emit launchFailed(launchFailure); }, Qt::QueuedConnection);
}
