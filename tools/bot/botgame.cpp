#include "botgame.h"

#include "spawn/spawnablegame.h"

#include <QDebug>
#include <QFile>
#include <QProcess>

namespace {

// Read-only files from the game's own copies must not block the deletion.
void removeWritable(const QString &path)
{
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner | QFileDevice::WriteOther
                                    | QFileDevice::ReadOther);
    QFile::remove(path);
}

} // namespace

BotGame::BotGame(QObject *parent) : QObject(parent) {}

bool BotGame::launch(SpawnableGame *game, const QString &mapFile, QString *error)
{
    m_game = game;
    const QString dir = game->workingDir;
    removeWritable(dir + QStringLiteral("stats.dmp"));
    removeWritable(dir + QStringLiteral("spawnmap.ini"));
    if (mapFile.isEmpty() || !QFile::copy(mapFile, dir + QStringLiteral("spawnmap.ini"))) {
        *error = QStringLiteral("the match's map file is missing (%1)").arg(mapFile.isEmpty() ? QStringLiteral("not found") : mapFile);
        return false;
    }
    for (const auto &copy : qAsConst(game->preCopyFiles))
        QFile::copy(copy.first, dir + copy.second);
    if (!game->exceptionFile.isEmpty())
        removeWritable(dir + game->exceptionFile);

    delete m_process;
    m_process = new QProcess(this);
    m_process->setWorkingDirectory(dir);
    if (!game->executeEnvironment.isEmpty())
        m_process->setEnvironment(game->executeEnvironment);
    m_process->setProgram(dir + game->exe);
    m_process->setArguments(QProcess::splitCommand(game->arguments));
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(m_process, &QProcess::started, this, &BotGame::started);
    connect(m_process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            [this](int code, QProcess::ExitStatus status) { emit finished(status == QProcess::CrashExit || code != 0); });
    qDebug().noquote() << "Spawning game: " + dir + game->exe + QLatin1Char(' ') + game->arguments;
    m_process->start(QIODevice::ReadWrite);
    if (!m_process->waitForStarted(10000)) {
        *error = QStringLiteral("the launcher %1 could not be started: %2").arg(dir + game->exe, m_process->errorString());
        return false;
    }
    return true;
}

QString BotGame::resultFile() const
{
    const QString path = m_game ? m_game->workingDir + QStringLiteral("stats.dmp") : QString();
    return QFile::exists(path) ? path : QString();
}

void BotGame::cleanUp()
{
    if (!m_game)
        return;
    for (const QString &name : qAsConst(m_game->postRemoveFiles))
        removeWritable(m_game->workingDir + name);
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
