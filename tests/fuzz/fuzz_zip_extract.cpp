// Map archives come from the network: whatever the bytes, extraction must
// not crash and must not write outside the map folder.
#include "silencelogs.h"

#include "maps/mapextractor.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

struct Folders
{
    QTemporaryDir root;
    QString game = root.path() + QStringLiteral("/game");
    QString folder = game + QStringLiteral("/Maps/Custom");
    Folders() { silenceLogs(); }
};

// Anything in the game folder but Maps/Custom is a write that escaped.
bool escaped(const Folders &f)
{
    QDirIterator it(f.root.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path != f.game && path != f.game + QStringLiteral("/Maps") && path != f.folder
            && !path.startsWith(f.folder + QLatin1Char('/')))
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Folders folders;
    MapExtractor archive(QByteArray(reinterpret_cast<const char *>(data), int(size)));
    if (!archive.entryNames().isEmpty()) {
        archive.extractAll(folders.folder);
        if (escaped(folders))
            std::abort();
        QDir(folders.folder).removeRecursively();
    }
    return 0;
}
