#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class QProcess;
class SpawnableGame;

// What a match does in the game's folder, shared by the window and the bot:
// the folder made ready before the launch, the launcher started, the result
// file found and the match's files removed afterwards.
namespace GameFolder {

// Removes a file even when it was left read-only; a failure is of no
// consequence to the caller.
void forceRemove(const QString &path);

// Clears the previous game's result, puts the match's map in place as
// "spawnmap.ini", copies the game's extra files in and removes an old
// exception file, so every file found after the game belongs to it. False
// when the map could not be put in place.
// A file already in the folder that this match did not copy (a player's own
// "ddraw.dll") is left as it is. copied collects the names this match copied
// in; it carries over the launch retries of one match.
bool prepare(const SpawnableGame &game, const QString &mapFile, QStringList *copied);

// How the launcher is started on this system. The games' launchers are
// Windows programs: elsewhere they run through Wine ("wineProgram", default
// "wine" on PATH, in the prefix "winePrefix" when it is set), with the
// user's environment plus the game's own variables. A launcher built for
// this system (the sandbox's stand-in) starts directly. The launcher's path
// is passed as one argument, never read as a command line.
struct LaunchCommand
{
    QString program;
    QStringList arguments;
    QProcessEnvironment environment; // empty: the caller's
    // For the player: what cannot be started and why; empty when it can.
    QString problem;
};
LaunchCommand launchCommand(const SpawnableGame &game);

// Whether the file is a Windows program (it starts with "MZ").
bool isWindowsProgram(const QString &path);

// Starts the launcher in the game folder; the outcome arrives through the
// process's signals. False, with the reason, when it cannot even be tried:
// the launcher or Wine is missing, a folder or not executable, which no
// retry would change.
bool launch(QProcess *process, const SpawnableGame &game, QString *problem = nullptr);

// The game's result file, or empty when it left none.
QString resultFile(const SpawnableGame &game);

// Adds to copied the names an earlier match copied in and never removed
// (the client was killed during its game), as its list on disk says.
void recoverCopied(const SpawnableGame &game, QStringList *copied);

// Removes the files the game wants gone after a match, of those this match
// or an earlier one that did not end copied in, and empties copied.
void cleanUp(const SpawnableGame &game, QStringList *copied);

} // namespace GameFolder
