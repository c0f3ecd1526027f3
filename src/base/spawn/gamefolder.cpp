#include "spawn/gamefolder.h"

#include "spawn/spawnablegame.h"
#include "util/settings.h"

#include <algorithm>

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace GameFolder {

void forceRemove(const QString &path)
{
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadOther | QFileDevice::WriteOther
                                    | QFileDevice::WriteOwner);
    QFile::remove(path);
}

namespace {
// The names a match copied into the game folder, kept on disk until they
// are removed again: a client killed during the game leaves them, and the
// next match must know them for ours, not for the player's own files.
QString copiedListPath(const SpawnableGame &game)
{
    return game.workingDir + QStringLiteral("Zantry/match-files.txt");
}

void writeCopiedList(const SpawnableGame &game, const QStringList &copied)
{
    const QString path = copiedListPath(game);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (QFileInfo(path).isSymLink() || !file.open(QIODevice::WriteOnly)
        || file.write(copied.join(QLatin1Char('\n')).toUtf8() + '\n') < 0 || !file.commit())
        qDebug().noquote() << "Cannot write the list of the match's files: " + path;
}
} // namespace

void recoverCopied(const SpawnableGame &game, QStringList *copied)
{
    QFile file(copiedListPath(game));
    if (!QFileInfo(file.fileName()).isFile() || QFileInfo(file.fileName()).isSymLink() || !file.open(QIODevice::ReadOnly))
        return;
    // Only the names the game itself lists can be ours; anything else in the
    // file is not acted on.
    for (const QByteArray &line : file.read(64 * 1024).split('\n')) {
        const QString name = QString::fromUtf8(line.trimmed());
        const bool listed = std::any_of(game.preCopyFiles.cbegin(), game.preCopyFiles.cend(),
                                        [&name](const QPair<QString, QString> &pair) { return pair.second == name; });
        if (listed && !copied->contains(name)) {
            qDebug().noquote() << "Left by an earlier match: " + game.workingDir + name;
            copied->append(name);
        }
    }
}

bool prepare(const SpawnableGame &game, const QString &mapFile, QStringList *copied)
{
    const QString dir = game.workingDir;
    recoverCopied(game, copied);
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
        if (ours)
            forceRemove(dir + pair.second); // a copy never overwrites
        if (QFile::copy(pair.first, dir + pair.second) && !ours)
            copied->append(pair.second);
    }
    writeCopiedList(game, *copied);
    if (!game.exceptionFile.isEmpty() && QFile::exists(dir + game.exceptionFile)) {
        forceRemove(dir + game.exceptionFile);
        qDebug().noquote() << "Removing file in preparation of spawning:" << dir + game.exceptionFile;
    }
    return mapPlaced;
}

bool isWindowsProgram(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(2) == "MZ";
}

namespace {
// Why the file cannot be started as a program, or empty when it can: such a
// file fails the same way at every try.
QString whyNotRunnable(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("it does not exist");
    if (info.isDir())
        return QStringLiteral("it is a folder, not a program");
    if (!info.isFile())
        return QStringLiteral("it is not a regular file");
    if (!info.isExecutable())
        return QStringLiteral("it is not executable");
    return QString();
}
} // namespace

LaunchCommand launchCommand(const SpawnableGame &game)
{
    LaunchCommand command;
    // The folder's path is taken as it stands: any quote, space, "$" or
    // backslash in it belongs to the path. Only the game's own arguments are
    // read the way a shell would.
    const QString launcher = game.workingDir + game.exe;
    command.program = launcher;
    command.arguments = QProcess::splitCommand(game.arguments);
#ifdef Q_OS_WIN
    // The game's variables are its whole environment, as the launchers expect.
    for (const QString &variable : game.executeEnvironment)
        command.environment.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
#else
    // Wine needs the user's display, home and search path; the game's own
    // variables come on top.
    command.environment = QProcessEnvironment::systemEnvironment();
    for (const QString &variable : game.executeEnvironment)
        command.environment.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    if (isWindowsProgram(launcher)) {
        const QString wine = Settings::wineProgram();
        const QString found = QFileInfo(wine).isAbsolute() ? wine : QStandardPaths::findExecutable(wine);
        const QString why = whyNotRunnable(found);
        if (!QFileInfo::exists(found)) {
            command.problem = QStringLiteral("%1 is a Windows program, and Wine (\"%2\") was not found to start it. "
                                             "Install Wine (on Debian or Ubuntu: sudo apt install wine), then queue "
                                             "again.")
                                  .arg(game.exe, wine);
        } else if (!why.isEmpty()) {
            command.problem = QStringLiteral("%1 is a Windows program, and the Wine program set in wineProgram "
                                             "(\"%2\") cannot start it: %3. Set wineProgram to Wine's program file, "
                                             "then queue again.")
                                  .arg(game.exe, wine, why);
        } else {
            command.arguments.prepend(command.program);
            command.program = found;
            const QString prefix = Settings::winePrefix();
            if (!prefix.isEmpty())
                command.environment.insert(QStringLiteral("WINEPREFIX"), prefix);
        }
        return command;
    }
#endif
    const QString why = whyNotRunnable(launcher);
    if (!why.isEmpty())
        command.problem = QStringLiteral("The game's launcher %1 cannot be started: %2. "
                                         "Check the game folder, then queue again.")
                              .arg(launcher, why);
    return command;
}

bool launch(QProcess *process, const SpawnableGame &game, QString *problem)
{
    const LaunchCommand command = launchCommand(game);
    qDebug().noquote() << "Spawning game: " + game.workingDir + game.exe + " " + game.arguments;
    if (!command.problem.isEmpty()) {
        qDebug().noquote() << "Cannot start the game: " + command.problem;
        if (problem)
            *problem = command.problem;
        return false;
    }
    if (command.program != game.workingDir + game.exe)
        qDebug().noquote() << "Through " + command.program;
    process->setWorkingDirectory(game.workingDir);
    if (!command.environment.isEmpty())
        process->setProcessEnvironment(command.environment);
    process->start(command.program, command.arguments, QIODevice::ReadWrite);
    return true;
}

QString resultFile(const SpawnableGame &game)
{
    const QString path = game.workingDir + QStringLiteral("stats.dmp");
    return QFile::exists(path) ? path : QString();
}

void cleanUp(const SpawnableGame &game, QStringList *copied)
{
    recoverCopied(game, copied);
    for (const QString &name : qAsConst(game.postRemoveFiles)) {
        if (!copied->contains(name))
            continue;
        qDebug().noquote() << "Removing File: " + name;
        forceRemove(game.workingDir + name);
    }
    copied->clear();
    QFile::remove(copiedListPath(game));
}

} // namespace GameFolder
