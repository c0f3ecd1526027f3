#pragma once

#include "dataset.h"

#include <QJsonObject>
#include <QList>
#include <QString>

struct QueueEntry
{
    QString ladder;
    QString username;
    QString email;
    QJsonObject request; // the latest "match me up" body
    qint64 queuedAt = 0;
    qint64 lastSeen = 0; // the latest poll, ms since the epoch
};

// Turns queued players into one match: the map, and for each player the
// "spawn" reply with its own "Settings" and an "Other%1" per opponent built
// from that opponent's own request.
namespace SpawnBuilder {

// A map nobody rejected (map_sides -2) and every bitfield allows; any map
// when there is none; forceMap wins when the ladder has it.
const MapDef *chooseMap(const LadderDef &ladder, const QList<QueueEntry> &players, quint32 seed, const QString &forceMap);

// One reply per player, in the order of players; loopbackOnly blanks every
// opponent address that is not a loopback address.
QList<QJsonObject> build(const LadderDef &ladder, const QList<QueueEntry> &players, const MapDef &map, int seed,
                         qint64 gameId, bool loopbackOnly);

} // namespace SpawnBuilder
