#include "spawnbuilder.h"

#include "net/spawninfo.h"

#include <QHostAddress>
#include <QJsonArray>

#include <algorithm>
#include <random>

namespace SpawnBuilder {

namespace {

bool playerAccepts(const QJsonObject &request, const MapDef &map)
{
    const QJsonValue bitfield = request.value(QStringLiteral("map_bitfield"));
    if (bitfield.isDouble() && map.bitIdx < 31 && !(qint64(bitfield.toDouble()) & (qint64(1) << map.bitIdx)))
        return false;
    const QJsonArray sides = request.value(QStringLiteral("map_sides")).toArray();
    return !(map.bitIdx < sides.size() && sides.at(map.bitIdx).toInt() == -2);
}

QJsonObject otherEntry(const QueueEntry &entry, int color, bool loopbackOnly)
{
    const QJsonObject &r = entry.request;
    // Peers are sent only where the sandbox allows: with loopbackOnly an
    // address off this machine's loopback becomes "" (no direct path).
    auto address = [&](const char *key) {
        const QString text = r.value(QLatin1String(key)).toString();
        return loopbackOnly && !QHostAddress(text).isLoopback() ? QString() : text;
    };
    return QJsonObject{{QStringLiteral("Name"), entry.username},
                       {QStringLiteral("Side"), r.value(QStringLiteral("side")).toInt()},
                       {QStringLiteral("Color"), color},
                       {QStringLiteral("IP"), address("ip_address")},
                       {QStringLiteral("Port"), r.value(QStringLiteral("ip_port")).toInt()},
                       {QStringLiteral("IPv6"), address("ipv6_address")},
                       {QStringLiteral("PortV6"), r.value(QStringLiteral("ipv6_port")).toInt()},
                       {QStringLiteral("LanIP"), address("lan_ip")},
                       {QStringLiteral("LanPort"), r.value(QStringLiteral("lan_port")).toInt()}};
}

} // namespace

const MapDef *chooseMap(const LadderDef &ladder, const QList<QueueEntry> &players, quint32 seed, const QString &forceMap)
{
    if (ladder.maps.isEmpty())
        return nullptr;
    QList<const MapDef *> candidates;
    for (const MapDef &map : ladder.maps) {
        if (!forceMap.isEmpty() && map.hash == forceMap)
            return &map;
        const bool acceptable = std::all_of(players.cbegin(), players.cend(),
                                            [&map](const QueueEntry &p) { return playerAccepts(p.request, map); });
        if (acceptable)
            candidates.append(&map);
    }
    if (candidates.isEmpty()) {
        for (const MapDef &map : ladder.maps)
            candidates.append(&map);
    }
    return candidates.at(int(seed % quint32(candidates.size())));
}

QList<QJsonObject> build(const LadderDef &ladder, const QList<QueueEntry> &players, const MapDef &map, int seed,
                         qint64 gameId, bool loopbackOnly)
{
    QList<int> starts;
    for (int i = 0; i < players.size(); ++i)
        starts.append(i);
    std::shuffle(starts.begin(), starts.end(), std::mt19937(quint32(seed)));
    QJsonObject locations;
    for (int i = 0; i < players.size(); ++i)
        locations.insert(QStringLiteral("Multi%1").arg(i + 1), starts.at(i));

    QList<QJsonObject> replies;
    for (int self = 0; self < players.size(); ++self) {
        const QueueEntry &me = players.at(self);
        const QJsonObject settings{{QStringLiteral("Name"), me.username},
                                   {QStringLiteral("Side"), me.request.value(QStringLiteral("side")).toInt()},
                                   {QStringLiteral("Color"), self},
                                   {QStringLiteral("Seed"), seed},
                                   {QStringLiteral("MapHash"), map.hash},
                                   {QStringLiteral("UIMapName"), map.description},
                                   {QStringLiteral("WOLGameID"), double(gameId)},
                                   {QStringLiteral("Ladder"), ladder.abbreviation},
                                   {QStringLiteral("Port"), int(nameHash(me.username) & 0xffff)},
                                   {QStringLiteral("GameSpeed"), 0},
                                   {QStringLiteral("Credits"), 10000},
                                   {QStringLiteral("UnitCount"), 0},
                                   {QStringLiteral("TechLevel"), 10},
                                   {QStringLiteral("Bases"), true},
                                   {QStringLiteral("ShortGame"), true},
                                   {QStringLiteral("SuperWeapons"), true},
                                   {QStringLiteral("MCVRedeploy"), true},
                                   {QStringLiteral("Crates"), false},
                                   {QStringLiteral("AIPlayers"), 0}};
        QJsonObject spawn{{QStringLiteral("Settings"), settings}, {QStringLiteral("SpawnLocations"), locations}};
        int n = 0;
        for (int other = 0; other < players.size(); ++other) {
            if (other != self)
                spawn.insert(QStringLiteral("Other%1").arg(++n), otherEntry(players.at(other), other, loopbackOnly));
        }
        replies.append(QJsonObject{{QStringLiteral("type"), QStringLiteral("spawn")},
                                   {QStringLiteral("gameID"), double(gameId)},
                                   {QStringLiteral("spawn"), spawn}});
    }
    return replies;
}

} // namespace SpawnBuilder
