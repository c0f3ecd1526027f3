#pragma once

#include <QList>
#include <QString>

// How this run behaves: from FAKEGAME_* variables, overridden by
// "fakegame.ini" in the game folder (the client replaces the whole
// environment of some launchers, so the file is the dependable channel).
struct GameConfig
{
    QString mode = QStringLiteral("normal"); // normal, crash, crash-signal, nostart, hang
    int seconds = 3;
    int loadSeconds = 0; // silence before the first datagram, as a loading game keeps
    int intervalMs = 100;
    QString eip = QStringLiteral("0045A1B3");
    QString problem; // a bad value, for the log
};

// One opponent from a [Other%1] section.
struct Opponent
{
    QString section;
    QString name;
    quint16 id = 0; // its "Port"
};

// What the game reads from "spawn.ini".
struct SpawnFile
{
    quint16 myId = 0;
    QString name;
    QString tunnelIp;
    quint16 tunnelPort = 0;
    QList<Opponent> opponents;
};

namespace GameFiles {

extern const QStringList Modes;

GameConfig readConfig(const QString &gameDir);
// False (with a reason) when the file is missing or lacks the tunnel.
bool readSpawn(const QString &path, SpawnFile *spawn, QString *error);
// The exception file the launcher's game writes, by launcher name; empty
// when that game writes none.
QString exceptionFileFor(const QString &launcher);

} // namespace GameFiles
