#include "api/ladder.h"

#include <QJsonArray>
#include <QSet>

Side Side::fromJson(const QJsonObject &object)
{
    Side side;
    side.id = object.value(QLatin1String("id")).toInt();
    side.localId = object.value(QLatin1String("local_id")).toInt();
    side.ladderId = object.value(QLatin1String("ladder_id")).toInt();
    side.name = object.value(QLatin1String("name")).toString();
    return side;
}

Map::Map(const QJsonObject &object, QObject *parent)
    : QObject(parent)
    , id(object.value(QLatin1String("id")).toInt())
    , bitIndex(object.value(QLatin1String("bit_idx")).toInt())
    , hash(object.value(QLatin1String("hash")).toString())
    , description(object.value(QLatin1String("description")).toString())
    , raw(object)
{
    const QJsonArray allowed = object.value(QLatin1String("allowed_sides")).toArray();
    allowedSides.reserve(allowed.size());
    for (const QJsonValue &v : allowed)
        allowedSides.append(v.toInt());
}

Ladder::Ladder(const QJsonObject &object, QObject *parent)
    : QObject(parent)
    , id(object.value(QLatin1String("id")).toInt())
    , abbreviation(object.value(QLatin1String("abbreviation")).toString())
    , name(object.value(QLatin1String("name")).toString())
    , game(object.value(QLatin1String("game")).toString())
    , current(object.value(QLatin1String("current")).toString())
    , vetoes(object.value(QLatin1String("vetoes")).toInt())
{
    QSet<int> allowed;
    for (const QJsonValue &v : object.value(QLatin1String("allowed_sides")).toArray())
        allowed.insert(v.toInt());
    for (const QJsonValue &v : object.value(QLatin1String("sides")).toArray()) {
        const Side side = Side::fromJson(v.toObject());
        if (!allowed.isEmpty() && !allowed.contains(side.localId) && side.localId != -1)
            continue;
        delete sides.value(side.id);
        sides.insert(side.id, new Side(side));
    }
}

Ladder::~Ladder()
{
    qDeleteAll(sides);
}

const Side *Ladder::sideByLocalId(int localId) const
{
    for (const Side *side : sides) {
        if (side->localId == localId)
            return side;
    }
    return nullptr;
}
