#pragma once

#include "net/networkpath.h"

#include <QJsonObject>
#include <QMap>
#include <QMultiMap>
#include <QString>

// The match as the service formed it; a plain value copied by value. The
// candidate paths are shared, so copies never own them twice.
struct SpawnInfo
{
    QJsonObject spawn;
    QJsonObject settings;
    QJsonObject spawnLocations;
    QMap<QString, QJsonObject> others;
    quint32 myID = 0;
    int seed = 0;
    int color = 0;
    QString mapHash;
    QString uiMapName;
    QMultiMap<quint32, NetworkPathPtr> paths;
    QString tunnelIP;
    int tunnelPort = 0;
    int gameID = 0;

    // Writes the game's spawn file (the INI the launcher reads).
    bool writeSpawnIni(const QString &fileName) const;
};

// h = h * 65599 + byte over the UTF-8 bytes, modulo 2^32.
quint32 nameHash(const QString &name);
