#pragma once

#include "net/spawninfo.h"

#include <QJsonObject>

// Builds the match from the service's "spawn" answer. userName is the local
// player's account name (its hash is our peer id); without peer-to-peer each
// opponent gets a single path with a null address.
SpawnInfo spawnInfoFromReply(const QJsonObject &reply, const QString &userName, bool allowP2P);
