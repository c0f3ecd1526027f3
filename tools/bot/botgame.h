#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QProcess;
class SpawnableGame;

// One run of the game launcher for a match, the way the window starts it:
// a stale result file removed, the match's map copied to "spawnmap.ini",
// the launcher started in its folder with "-SPAWN" and followed to its end.
class BotGame : public QObject
{
    Q_OBJECT
public:
    explicit BotGame(QObject *parent = nullptr);

    // False (with a reason) when the map file is missing or the launcher
    // cannot be started at all.
    bool launch(SpawnableGame *game, const QString &mapFile, QString *error);
    // The folder's result file, or empty when the game left none.
    QString resultFile() const;
    // Deletes the game's temporary files after a match.
    void cleanUp();
    void kill();
    bool isRunning() const;

signals:
    void started();
    // crashed: the launcher died or ended with a non-zero code.
    void finished(bool crashed);

private:
    SpawnableGame *m_game = nullptr;
    QProcess *m_process = nullptr;
    QStringList m_copied; // what this match put in the game folder
};
