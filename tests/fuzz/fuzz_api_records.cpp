// Service replies (ladders, accounts, maps) into records.
#include "silencelogs.h"

#include "api/ladder.h"
#include "api/player.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    silenceLogs();
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    const QJsonArray array = doc.isArray() ? doc.array() : QJsonArray{doc.object()};
    for (const QJsonValue &v : array) {
        const QJsonObject object = v.toObject();
        Ladder ladder(object, nullptr);
        auto *map = new Map(object, &ladder);
        ladder.maps.insert(map->id, map);
        Player player(object, nullptr);
        player.ladder = &ladder;
        for (const int index : {-1, 0, map->bitIndex, int(player.badges.size())})
            player.mapSide(index);
        for (const Side *side : ladder.sides)
            ladder.sideByLocalId(side->localId);
    }
    return 0;
}
