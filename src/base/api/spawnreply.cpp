#include "api/spawnreply.h"

#include <QDebug>
#include <QHostAddress>

namespace {

// A port outside 16 bits would be cut to some other player's port; the
// candidate then gets a null address, which is never flooded.
NetworkPathPtr makePath(const QJsonObject &other, const char *ipKey, const char *portKey, int type)
{
    const QJsonValue port = other.value(QLatin1String(portKey));
    if (port.toDouble() < 0 || port.toDouble() > 65535) {
        qDebug().noquote() << QStringLiteral("Refusing %1 %2 of %3: not a port")
                                  .arg(QLatin1String(portKey))
                                  .arg(port.toDouble())
                                  .arg(other.value(QLatin1String("Name")).toString());
        return NetworkPathPtr::create(IPEndpoint(), type);
    }
    const QHostAddress address(other.value(QLatin1String(ipKey)).toString());
    return NetworkPathPtr::create(IPEndpoint(address, quint16(port.toInt())), type);
}

void insertExtra(SpawnInfo *info, quint32 id, const NetworkPathPtr &path)
{
    if (!path->endpoint.isNull())
        info->paths.insert(id, path);
}

} // namespace

SpawnInfo spawnInfoFromReply(const QJsonObject &reply, const QString &userName, bool allowP2P)
{
    SpawnInfo info;
    info.spawn = reply.value(QLatin1String("spawn")).toObject();
    info.settings = info.spawn.value(QLatin1String("Settings")).toObject();
    info.spawnLocations = info.spawn.value(QLatin1String("SpawnLocations")).toObject();
    info.color = info.settings.value(QLatin1String("Color")).toInt();
    info.seed = info.settings.value(QLatin1String("Seed")).toInt();
    info.myID = nameHash(userName);
    info.mapHash = info.settings.value(QLatin1String("MapHash")).toString();
    info.uiMapName = info.settings.value(QLatin1String("UIMapName")).toString();
    info.gameID = reply.value(QLatin1String("gameID")).toInt();
    qDebug() << "color =" << info.color << "seed =" << info.seed << "myID" << info.myID << "mapHash =" << info.mapHash;

    for (int i = 1; i <= 7; ++i) {
        const QString key = QStringLiteral("Other%1").arg(i);
        if (!info.spawn.contains(key))
            continue;
        QJsonObject other = info.spawn.value(key).toObject();
        NetworkPathPtr path = makePath(other, "IP", "Port", NetworkPath::SpawnCandidate);
        const quint32 id = nameHash(other.value(QLatin1String("Name")).toString());
        other.insert(QStringLiteral("Port"), int(id % 65536));
        info.others.insert(key, other);
        if (!allowP2P) {
            path->endpoint.addr = QHostAddress();
            info.paths.insert(id, path);
            continue;
        }
        // Inserted even when refused: the player stays in the match, reached
        // through the tunnels.
        info.paths.insert(id, path);
        if (!other.value(QLatin1String("IPv6")).toString().isEmpty())
            insertExtra(&info, id, makePath(other, "IPv6", "PortV6", NetworkPath::Direct));
        if (!other.value(QLatin1String("LanIP")).toString().isEmpty())
            insertExtra(&info, id, makePath(other, "LanIP", "LanPort", NetworkPath::Direct));
    }
    return info;
}
