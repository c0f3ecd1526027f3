// The service's "spawn" answer into the match's spawn information.
#include "silencelogs.h"

#include "api/spawnreply.h"

#include <QJsonDocument>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    silenceLogs();
    if (size < 1)
        return 0;
    const bool allowP2P = data[0] & 1;
    const QByteArray json = QByteArray::fromRawData(reinterpret_cast<const char *>(data + 1), int(size - 1));
    const SpawnInfo info = spawnInfoFromReply(QJsonDocument::fromJson(json).object(), QStringLiteral("neo"), allowP2P);
    // One to three paths per opponent, at most seven opponents (names may share a hash).
    for (const quint32 id : info.paths.uniqueKeys()) {
        const int count = info.paths.count(id);
        if (count < 1 || (!allowP2P && count > 7) || count > 21)
            __builtin_trap();
    }
    if (info.others.size() > 7)
        __builtin_trap();
    return 0;
}
