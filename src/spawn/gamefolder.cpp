#include "spawn/gamefolder.h"

#include "spawn/spawnablegame.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace GameFolder {

void forceRemove(const QString &path)
{
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadOther | QFileDevice::WriteOther
                                    | QFileDevice::WriteOwner);
    QFile::remove(path);
}

bool prepare(const SpawnableGame &game, const QString &mapFile, QStringList *copied)
{
    const QString dir = game.workingDir;
    forceRemove(dir + QStringLiteral("stats.dmp"));
    forceRemove(dir + QStringLiteral("spawnmap.ini"));
    const bool mapPlaced = !mapFile.isEmpty() && QFile::copy(mapFile, dir + QStringLiteral("spawnmap.ini"));
    for (const auto &pair : qAsConst(game.preCopyFiles)) {
        const bool ours = copied->contains(pair.second);
        if (!ours && QFileInfo::exists(dir + pair.second)) {
            qDebug().noquote() << "Keeping the player's own file: " + dir + pair.second;
            continue;
        }
        qDebug().noquote() << "Doing precopy: " + pair.first + " To " + dir + pair.second;
        if (QFile::copy(pair.first, dir + pair.second) && !ours)
            copied->append(pair.second);
    }
    if (!game.exceptionFile.isEmpty() && QFile::exists(dir + game.exceptionFile)) {
        forceRemove(dir + game.exceptionFile);
        qDebug().noquote() << "Removing file in preparation of spawning:" << dir + game.exceptionFile;
    }
    return mapPlaced;
}

void launch(QProcess *process, const SpawnableGame &game)
{
    const QString dir = game.workingDir;
    process->setWorkingDirectory(dir);
    if (!game.executeEnvironment.isEmpty())
        process->setEnvironment(game.executeEnvironment);
    qDebug().noquote() << "Spawning game: " + dir + game.exe + " " + game.arguments;
    // One command line, the launcher quoted, read the way the shell would.
    const QString command = QStringLiteral("\"") + dir + game.exe + QStringLiteral("\" ") + game.arguments;
    QStringList parts = QProcess::splitCommand(command);
    const QString program = parts.isEmpty() ? QString() : parts.takeFirst();
    process->start(program, parts, QIODevice::ReadWrite);
}

QString resultFile(const SpawnableGame &game)
{
    const QString path = game.workingDir + QStringLiteral("stats.dmp");
    return QFile::exists(path) ? path : QString();
}

void cleanUp(const SpawnableGame &game, QStringList *copied)
{
    for (const QString &name : qAsConst(game.postRemoveFiles)) {
        if (!copied->contains(name))
            continue;
        qDebug().noquote() << "Removing File: " + name;
        forceRemove(game.workingDir + name);
    }
    copied->clear();
}

} // namespace GameFolder
