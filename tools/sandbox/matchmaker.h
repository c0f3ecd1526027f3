#pragma once

#include "spawnbuilder.h"

#include <QHash>
#include <QJsonArray>
#include <QMutex>

struct SandboxOptions;

// The ladder queue: "match me up" waits until a ladder has enough players,
// then every player of the match gets its own "spawn" (the one asking at
// once, the others on their next poll).
class Matchmaker
{
public:
    explicit Matchmaker(const SandboxOptions &options);

    QJsonObject matchMeUp(const LadderDef &ladder, const QString &username, const QString &email,
                          const QJsonObject &request);
    QJsonObject quit(const QString &ladder, const QString &username);
    void setCheckback(int seconds);

    // Both forget players who stopped polling first.
    int queued(const QString &ladder);
    int matches(const QString &ladder) const;
    QJsonArray queueJson();
    QJsonArray pendingJson(); // "ladder/username" of spawns not yet fetched
    QJsonArray matchesJson() const;
    void reset();

private:
    QJsonObject formMatch(const LadderDef &ladder, const QList<QueueEntry> &players);
    int playersPerMatch(const LadderDef &ladder) const;
    // Drops players who stopped polling and spawns nobody fetched, so a
    // player who vanished is neither matched nor handed an old game later.
    // The caller holds m_mutex.
    void prune();
    // Takes the player off the queue; false when it was not queued. The
    // caller holds m_mutex.
    bool dequeue(const QString &ladder, const QString &username);

    const SandboxOptions &m_options;
    mutable QMutex m_mutex;
    QList<QueueEntry> m_queue;
    struct Pending
    {
        qint64 formedAt = 0;
        QJsonObject reply;
    };
    QHash<QString, Pending> m_pending; // "ladder/username" -> spawn not yet fetched
    QJsonArray m_matches;
    qint64 m_nextGameId;
    int m_checkback;
};
