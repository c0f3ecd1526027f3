// The game of a match: launch, the spawn-retry window, and the end of game
// with the crash check and the result upload.
#include "ui/mainwindow.h"

#include "api/lorvaneapi.h"
#include "crash/crashhandler.h"
#include "maps/mapdownloader.h"
#include "net/global.h"
#include "spawn/gamefolder.h"
#include "spawn/spawnablegame.h"
#include "ui/warningdialog.h"
#include "watch/internetdetector.h"

#include <QDebug>

using namespace Zantry;

void MainWindow::startGame()
{
    unsetStates(MATCHUP_FOUND);
    minimizeToTray(false);
    m_internetDetector->reset();
    m_internetDetector->setInterval(1000);
    m_internetDetector->start();
    launchGame();
}

void MainWindow::launchGame()
{
    Global *global = Global::instance();
    SpawnableGame *game = global->currentGame();
    if (!game) {
        qDebug() << "Spawning game: no game";
        unsetStates(GAME_SPAWNED);
        setStates(GAME_FINISHED);
        return;
    }
    const QString mapFile = m_mapDownloader->mapFilePath(global->spawnInfo().mapHash);
    m_api->expectResult(game->workingDir, uint(global->spawnInfo().gameID));
    if (!GameFolder::prepare(*game, mapFile, &m_copiedGameFiles))
        qDebug().noquote() << "Map file not copied: " + global->spawnInfo().mapHash;

    auto *process = new QProcess(this);
    global->setGameProcess(process);
    connect(process, &QProcess::started, this, &MainWindow::setGameSpawned);
    connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this, &MainWindow::setGameFinished);
    connect(process, &QProcess::errorOccurred, this, &MainWindow::handleGameSpawnError);
    if (!m_spawnRetryClock.isValid())
        m_spawnRetryClock.start();

    QString problem;
    if (GameFolder::launch(process, *game, &problem))
        return;
    // Nothing to retry (no Wine to start a Windows launcher): the match ends
    // the way a launcher that never started ends it, and the player is told
    // what is missing.
    disconnectGameProcess(process);
    global->setGameProcess(nullptr);
    process->deleteLater();
    unsetStates(GAME_SPAWNED);
    setStates(GAME_FINISHED);
    showNotice(problem);
}

void MainWindow::disconnectGameProcess(QProcess *process)
{
    disconnect(process, &QProcess::started, this, &MainWindow::setGameSpawned);
    disconnect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
               &MainWindow::setGameFinished);
    disconnect(process, &QProcess::errorOccurred, this, &MainWindow::handleGameSpawnError);
}

void MainWindow::handleGameSpawnError(QProcess::ProcessError error)
{
    qDebug().noquote() << QStringLiteral("Error reported during spawn: %1").arg(int(error));
    switch (error) {
    case QProcess::FailedToStart:
    case QProcess::Timedout:
        if (m_spawnRetryClock.hasExpired(m_spawnRetryMs)) {
            qDebug() << "Respawn failed";
            unsetStates(GAME_SPAWNED);
            setStates(GAME_FINISHED);
            m_spawnRetryClock.invalidate();
        } else {
            qDebug().noquote() << "Retrying spawn for the next" << m_spawnRetryMs << "ms";
            if (auto *process = qobject_cast<QProcess *>(sender())) {
                disconnectGameProcess(process);
                // The next attempt makes its own; this one is done.
                if (Global::instance()->gameProcess() == process)
                    Global::instance()->setGameProcess(nullptr);
                process->deleteLater();
            }
            unsetStates(GAME_SPAWNED);
            unsetStates(MATCHUP_REQUESTED | MATCHUP_WAITFOR);
            setStates(MATCHUP_FOUND);
        }
        break;
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

void MainWindow::endGame()
{
    Global *global = Global::instance();
    logRoutes();
    const bool crashed = CrashHandler::instance()->uploadGameCrashFiles();
    m_api->updateMatchStatus(crashed ? QStringLiteral("GameCrashed") : QStringLiteral("GameFinished"));
    m_statusTimer->stop();
    m_internetDetector->stop();
    bringToFront();

    SpawnableGame *game = global->currentGame();
    const QString stats = game ? GameFolder::resultFile(*game) : QString();
    if (!stats.isEmpty())
        m_api->postGameStats(stats, uint(global->spawnInfo().gameID), m_internetDetector->sent(),
                             m_internetDetector->received());
    else if (game)
        m_api->noResult(game->workingDir);

    if (QProcess *process = global->gameProcess()) {
        disconnectGameProcess(process);
        process->deleteLater();
        global->setGameProcess(nullptr);
    }
    if (game)
        GameFolder::cleanUp(*game, &m_copiedGameFiles);
    unsetStates(MATCHUP_FOUND | NETWORK_READY | GAME_FINISHED);
    emit newStatesSet();
    setBroadcastFlags(false, false);
    m_spawnRetryClock.invalidate();
}
