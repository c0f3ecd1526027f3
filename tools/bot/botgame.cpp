#include "botgame.h"

#include "spawn/gamefolder.h"
#include "spawn/spawnablegame.h"

#include <QDebug>
#include <QProcess>

BotGame::BotGame(QObject *parent) : QObject(parent) {}

bool BotGame::launch(SpawnableGame *game, const QString &mapFile, QString *error)
{
    m_game = game;
    if (!GameFolder::prepare(*game, mapFile, &m_copied)) {
        *error = QStringLiteral("the match's map file is missing (%1)").arg(mapFile.isEmpty() ? QStringLiteral("not found") : mapFile);
        return false;
    }

    delete m_process;
    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(m_process, &QProcess::started, this, &BotGame::started);
    connect(m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this](int code, QProcess::ExitStatus status) { emit finished(status == QProcess::CrashExit || code != 0); });
    if (!GameFolder::launch(m_process, *game, error))
        return false;
    if (!m_process->waitForStarted(10000)) {
        *error = QStringLiteral("the launcher %1 could not be started: %2").arg(game->workingDir + game->exe, m_process->errorString());
        return false;
    }
    return true;
}

QString BotGame::resultFile() const
{
    return m_game ? GameFolder::resultFile(*m_game) : QString();
}

void BotGame::cleanUp()
{
    if (m_game)
        GameFolder::cleanUp(*m_game, &m_copied);
}

void BotGame::kill()
{
    if (isRunning()) {
        m_process->kill();
        m_process->waitForFinished(3000);
    }
}

bool BotGame::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}
