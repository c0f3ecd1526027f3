#include "api/player.h"

#include <QDebug>
#include <QJsonDocument>
#include "util/settings.h"

Player::Player(const QJsonObject &object, QObject *parent)
    : QObject(parent)
    , id(object.value(QLatin1String("id")).toInt())
    , username(object.value(QLatin1String("username")).toString())
    , ladderId(object.value(QLatin1String("ladder_id")).toInt())
    , clanShort(object.value(QLatin1String("clan_short")).toString())
    , clanName(object.value(QLatin1String("clan_name")).toString())
{
    for (const QJsonValue &v : object.value(QLatin1String("badges")).toArray())
        badges.append(v.toString());
    for (int i = 0; i < DefaultMapSideCount; ++i)
        defaultMapSides.append(NoChoice);
}

void Player::setSide(int sideId)
{
    setCurrentSide(ladder ? ladder->sides.value(sideId) : nullptr);
}

void Player::setCurrentSide(const Side *side)
{
    m_currentSide = side;
    m_sideLadder = ladder;
    if (!side)
        return;
    qDebug() << "Reading perMapSides for" << side->name << id;
    perMapSides.insert(side->id, Settings::mapSides(side->name, id, defaultMapSides));
    qDebug().noquote() << "Setting perMapSides: " + QString::fromUtf8(QJsonDocument(mapSides()).toJson());
}

const Side *Player::currentSide() const
{
    // Sides belong to their ladder; once it is gone, so is the selection.
    return m_sideLadder ? m_currentSide : nullptr;
}

QJsonArray Player::mapSides() const
{
    const Side *side = currentSide();
    return side ? perMapSides.value(side->id) : QJsonArray();
}

int Player::mapSide(int mapIndex) const
{
    const QJsonArray table = mapSides();
    // Past the end (a short or broken stored table) means no choice; read as
    // 0 it would be the ladder's first real side, which the window would then
    // preselect and store for every such map.
    const int v = mapIndex >= 0 && mapIndex < table.size() ? table.at(mapIndex).toInt() : int(NoChoice);
    if (v < -1)
        return v;
    if (ladder && ladder->sideByLocalId(v))
        return v;
    const Side *side = currentSide();
    return side ? side->localId : NoChoice;
}

void Player::setMapSide(int mapIndex, int side)
{
    if (side < RejectedMap)
        return;
    const Side *current = currentSide();
    if (!current || mapIndex < 0 || mapIndex > MaxMapIndex) {
        qDebug() << "setMapSide ignored: map index" << mapIndex << (current ? "out of range" : "with no side selected");
        return;
    }
    int value = side;
    if (side >= 0) {
        const Side *chosen = ladder ? ladder->sides.value(side) : nullptr;
        if (!chosen) {
            qDebug() << "setMapSide ignored: unknown side id" << side;
            return;
        }
        value = chosen->localId;
    }
    QJsonArray table = mapSides();
    while (table.size() <= mapIndex)
        table.append(NoChoice);
    table[mapIndex] = value;
    perMapSides.insert(current->id, table);
    Settings::setMapSides(current->name, id, table);
}
