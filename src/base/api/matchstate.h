#pragma once

#include "net/spawninfo.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QVariant>

// The match as the service described it and as it is played: the spawn
// information, the game's process, whether a memory-editing tool runs, and
// the service's figures for the ladder. GUI thread only.
class MatchState : public QObject
{
    Q_OBJECT
public:
    using Stats = QHash<QString, QVariant>;

    explicit MatchState(QObject *parent = nullptr) : QObject(parent) {}

    SpawnInfo spawnInfo() const { return m_spawnInfo; }
    void setSpawnInfo(const SpawnInfo &spawnInfo) { m_spawnInfo = spawnInfo; }
    // The session owns the process; this is null once it is gone.
    QProcess *gameProcess() const { return m_gameProcess; }
    void setGameProcess(QProcess *process) { m_gameProcess = process; }
    bool cheatToolRunning() const { return m_cheatToolRunning; }
    Stats zantryStats() const { return m_zantryStats; }
    void setZantryStats(const Stats &stats);

public slots:
    void setCheatToolRunning(bool running) { m_cheatToolRunning = running; }

signals:
    void zantryStatsChanged();

private:
    SpawnInfo m_spawnInfo;
    QPointer<QProcess> m_gameProcess;
    bool m_cheatToolRunning = false;
    Stats m_zantryStats;
};
