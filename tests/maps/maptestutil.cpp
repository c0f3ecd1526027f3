#include "maptestutil.h"

#include "spawn/gamecatalogue.h"
#include "spawn/spawnablegame.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <memory>

namespace MapTest {

namespace {

quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xffffffffu;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

} // namespace

QByteArray buildZip(const QList<ZipEntry> &entries)
{
    QByteArray out;
    QByteArray central;
    QDataStream body(&out, QIODevice::WriteOnly);
    QDataStream dir(&central, QIODevice::WriteOnly);
    body.setByteOrder(QDataStream::LittleEndian);
    dir.setByteOrder(QDataStream::LittleEndian);
    for (const ZipEntry &e : entries) {
        const quint32 offset = quint32(out.size());
        const quint32 crc = crc32(e.data);
        const quint32 size = quint32(e.data.size());
        const quint16 nameLength = quint16(e.name.size());
        // Local header: stored, no extra field, a valid DOS date.
        body << quint32(0x04034b50) << quint16(20) << quint16(0) << quint16(0) << quint16(0) << quint16(0x21) << crc
             << size << size << nameLength << quint16(0);
        body.writeRawData(e.name.constData(), e.name.size());
        body.writeRawData(e.data.constData(), e.data.size());
        // Central entry, "made by" Unix so the mode bits count.
        dir << quint32(0x02014b50) << quint16(0x0314) << quint16(20) << quint16(0) << quint16(0) << quint16(0)
            << quint16(0x21) << crc << size << size << nameLength << quint16(0) << quint16(0) << quint16(0)
            << quint16(0) << quint32(e.unixMode << 16) << offset;
        dir.writeRawData(e.name.constData(), e.name.size());
    }
    const quint32 dirOffset = quint32(out.size());
    body.writeRawData(central.constData(), central.size());
    body << quint32(0x06054b50) << quint16(0) << quint16(0) << quint16(entries.size()) << quint16(entries.size())
         << quint32(central.size()) << dirOffset << quint16(0);
    return out;
}

QString sha1(const QByteArray &content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex());
}

void writeFile(const QString &path, const QByteArray &content, const QDateTime &modified)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(content) >= 0 && file.flush() && modified.isValid())
        file.setFileTime(modified, QFileDevice::FileModificationTime);
}

QStringList filesBelow(const QString &root, const QStringList &skip)
{
    QStringList found;
    QDirIterator it(
        root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    const QDir base(root);
    while (it.hasNext()) {
        const QString relative = base.relativeFilePath(it.next());
        bool skipped = false;
        for (const QString &s : skip)
            skipped = skipped || relative == s || relative.startsWith(s + QLatin1Char('/'));
        if (!skipped)
            found.append(relative);
    }
    found.sort();
    return found;
}

namespace {

// The catalogue useGame made last; the next call or forgetGames deletes it.
std::unique_ptr<GameCatalogue> s_games;

} // namespace

SpawnableGame *useGame(const QString &folder, const QString &abbreviation)
{
    QDir().mkpath(folder);
    s_games = std::make_unique<GameCatalogue>();
    SpawnableGame *game = s_games->add(abbreviation);
    game->workingDir = QDir(folder).absolutePath() + QLatin1Char('/');
    s_games->setCurrent(game);
    return game;
}

GameCatalogue *games()
{
    return s_games.get();
}

void forgetGames()
{
    s_games.reset();
}

} // namespace MapTest
