#include "maps/mapdigestcache.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtEndian>

#include <algorithm>

// Layout, big-endian: "ZMDC", version (16 bits), the game folder (16-bit
// length, UTF-8), the entry count (32 bits), then per entry: the path in
// the folder (16-bit length, UTF-8), size and modification time in
// milliseconds (64 bits each), the 20 bytes of the SHA-1.
namespace {

const QByteArray kMagic("ZMDC");
constexpr quint16 kVersion = 1;
constexpr int kDigestBytes = 20;
constexpr int kSmallestEntry = 2 + 1 + 8 + 8 + kDigestBytes;

// Every read is checked against the end of the bytes.
class Reader
{
public:
    explicit Reader(const QByteArray &bytes) : m_bytes(bytes) {}
    int left() const { return m_bytes.size() - m_pos; }

    const char *take(int n)
    {
        if (n < 0 || n > left())
            return nullptr;
        const char *at = m_bytes.constData() + m_pos;
        m_pos += n;
        return at;
    }
    template<typename T>
    bool number(T *out)
    {
        const char *at = take(int(sizeof(T)));
        if (at)
            *out = qFromBigEndian<T>(at);
        return at != nullptr;
    }
    bool text(QString *out)
    {
        quint16 length = 0;
        const char *at = number(&length) ? take(length) : nullptr;
        if (at)
            *out = QString::fromUtf8(at, length);
        return at != nullptr;
    }

private:
    const QByteArray &m_bytes;
    int m_pos = 0;
};

template<typename T>
void put(QByteArray *out, T value)
{
    char bytes[sizeof(T)];
    qToBigEndian(value, bytes);
    out->append(bytes, int(sizeof(T)));
}

bool putText(QByteArray *out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() > 0xffff)
        return false;
    put(out, quint16(utf8.size()));
    out->append(utf8);
    return true;
}

} // namespace

MapDigestCache::MapDigestCache(const QString &gameDir)
    : m_prefix(gameDir)
    , m_folder(QDir(gameDir).absolutePath())
    , m_file(fileFor(m_folder))
{
    load();
}

QString MapDigestCache::fileFor(const QString &folder)
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (base.isEmpty())
        return QString();
    const QByteArray name = QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha1).toHex();
    return base + QStringLiteral("/maps/") + QString::fromLatin1(name) + QStringLiteral(".digests");
}

QString MapDigestCache::key(const QString &path) const
{
    // Kept relative to the folder: shorter, and the folder is in the header.
    return path.startsWith(m_prefix) ? path.mid(m_prefix.size()) : path;
}

void MapDigestCache::addListed(const QStringList &paths)
{
    for (const QString &path : paths)
        m_listed.insert(key(path));
}

QString MapDigestCache::digest(const QString &path, qint64 size, qint64 modifiedMs) const
{
    const auto it = m_entries.constFind(key(path));
    if (it == m_entries.cend() || it->size != size || it->modifiedMs != modifiedMs)
        return QString();
    return it->digest;
}

void MapDigestCache::insert(const QString &path, qint64 size, qint64 modifiedMs, const QString &digest)
{
    m_entries.insert(key(path), {size, modifiedMs, digest});
    m_changed = true;
}

bool MapDigestCache::regularFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink();
}

void MapDigestCache::load()
{
    if (m_file.isEmpty() || !QFileInfo::exists(m_file))
        return;
    QFile file(m_file);
    QString reason;
    if (!regularFile(m_file))
        reason = QStringLiteral("not a regular file");
    else if (!file.open(QIODevice::ReadOnly))
        reason = file.errorString();
    else if (file.size() > MaxFileSize)
        reason = QStringLiteral("larger than any cache we write");
    else // no more than the size promised, whatever the name leads to
        decode(file.read(file.size()), m_folder, &m_entries, &reason);
    if (!reason.isEmpty()) {
        m_entries.clear();
        qDebug().noquote() << QStringLiteral("Map digest cache ignored (%1): %2").arg(reason, m_file);
    }
}

void MapDigestCache::save()
{
    if (!m_changed || m_file.isEmpty())
        return;
    m_changed = false;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (m_listed.contains(it.key()))
            ++it;
        else
            it = m_entries.erase(it);
    }
    QDir().mkpath(QFileInfo(m_file).absolutePath());
    // Written aside and renamed over: a crash loses at most this update. A
    // link or a pipe at the cache's place is not ours to replace or follow.
    QSaveFile file(m_file);
    const bool ours = !QFileInfo::exists(m_file) || regularFile(m_file);
    if (!ours || !file.open(QIODevice::WriteOnly) || file.write(encode(m_folder, m_entries)) < 0 || !file.flush()
        || file.error() != QFileDevice::NoError || !file.commit()) {
        file.cancelWriting();
        qDebug().noquote() << QStringLiteral("Cannot write the map digest cache%1: ").arg(ours ? QString() : QStringLiteral(" (not a regular file)")) + m_file;
    }
}

QByteArray MapDigestCache::encode(const QString &folder, const Entries &entries)
{
    QByteArray out = kMagic;
    put(&out, kVersion);
    putText(&out, folder);
    const int countAt = out.size();
    put(&out, quint32(0));
    // Sorted, so an unchanged folder always gives the same bytes.
    QStringList names = entries.keys();
    std::sort(names.begin(), names.end());
    quint32 count = 0;
    for (const QString &name : qAsConst(names)) {
        const Entry &e = entries.value(name);
        const QByteArray sha1 = QByteArray::fromHex(e.digest.toLatin1());
        if (name.isEmpty() || sha1.size() != kDigestBytes || !putText(&out, name))
            continue;
        put(&out, e.size);
        put(&out, e.modifiedMs);
        out.append(sha1);
        ++count;
    }
    qToBigEndian(count, out.data() + countAt);
    return out;
}

bool MapDigestCache::decode(const QByteArray &bytes, const QString &folder, Entries *entries, QString *reason)
{
    Reader in(bytes);
    const char *magic = in.take(kMagic.size());
    quint16 version = 0;
    QString recordedFolder;
    quint32 count = 0;
    if (!magic || QByteArray(magic, kMagic.size()) != kMagic) {
        *reason = QStringLiteral("not a map digest cache");
        return false;
    }
    if (!in.number(&version) || version != kVersion) {
        *reason = QStringLiteral("version %1").arg(version);
        return false;
    }
    if (!in.text(&recordedFolder) || !in.number(&count)) {
        *reason = QStringLiteral("truncated header");
        return false;
    }
    if (recordedFolder != folder) {
        *reason = QStringLiteral("kept for another game folder, ") + recordedFolder;
        return false;
    }
    if (count > quint32(in.left() / kSmallestEntry)) {
        *reason = QStringLiteral("%1 entries cannot fit in %2 bytes").arg(count).arg(in.left());
        return false;
    }
    Entries read;
    read.reserve(int(count));
    for (quint32 i = 0; i < count; ++i) {
        QString name;
        Entry e;
        const bool fields = in.text(&name) && in.number(&e.size) && in.number(&e.modifiedMs);
        const char *sha1 = fields ? in.take(kDigestBytes) : nullptr;
        if (!sha1) {
            *reason = QStringLiteral("entry %1 truncated").arg(i);
            return false;
        }
        if (name.isEmpty() || e.size < 0) {
            *reason = QStringLiteral("entry %1 malformed").arg(i);
            return false;
        }
        e.digest = QString::fromLatin1(QByteArray(sha1, kDigestBytes).toHex());
        read.insert(name, e);
    }
    if (in.left() != 0) {
        *reason = QStringLiteral("%1 bytes after the last entry").arg(in.left());
        return false;
    }
    *entries = read;
    return true;
}
