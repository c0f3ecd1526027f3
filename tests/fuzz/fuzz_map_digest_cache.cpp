// The map digest cache is a file anyone can edit: whatever its bytes,
// reading it must not crash, and whatever it accepts must read back the
// same once written again.
#include "maps/mapdigestcache.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString folder = QStringLiteral("/games/yr");
    MapDigestCache::Entries entries, again;
    QString reason;
    if (MapDigestCache::decode(QByteArray(reinterpret_cast<const char *>(data), int(size)), folder, &entries, &reason)
        && (!MapDigestCache::decode(MapDigestCache::encode(folder, entries), folder, &again, &reason)
            || again.size() != entries.size()))
        std::abort();
    return 0;
}
