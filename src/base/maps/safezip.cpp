#include "maps/safezip.h"

#include <QDebug>

#include <zlib.h>

namespace {

constexpr quint32 kLocalSignature = 0x04034b50;
constexpr quint32 kCentralSignature = 0x02014b50;
constexpr quint32 kEndSignature = 0x06054b50;
constexpr int kLocalSize = 30;
constexpr int kCentralSize = 46;
constexpr int kEndSize = 22;
constexpr quint16 kStored = 0;
constexpr quint16 kDeflated = 8;
constexpr int kHostUnix = 3;
constexpr quint32 kUnixTypeMask = 0170000;
constexpr quint32 kUnixRegular = 0100000;
constexpr quint32 kUnixDir = 0040000;
constexpr quint32 kDosDirectory = 0x10;

} // namespace

SafeZip::SafeZip(const QByteArray &archive)
    : m_data(archive)
{
    if (!parse())
        m_entries.clear();
}

bool SafeZip::inRange(qint64 at, qint64 length) const
{
    return at >= 0 && length >= 0 && at <= m_data.size() && length <= m_data.size() - at;
}

quint16 SafeZip::u16(qint64 at) const
{
    const auto *p = reinterpret_cast<const uchar *>(m_data.constData()) + at;
    return quint16(p[0] | (p[1] << 8));
}

quint32 SafeZip::u32(qint64 at) const
{
    return quint32(u16(at)) | (quint32(u16(at + 2)) << 16);
}

bool SafeZip::parse()
{
    // The end record sits in the last 22 + 65535 bytes (its comment).
    qint64 end = -1;
    for (qint64 at = m_data.size() - kEndSize; at >= 0 && at >= m_data.size() - kEndSize - 0xffff; --at) {
        if (u32(at) == kEndSignature) {
            end = at;
            break;
        }
    }
    if (end < 0)
        return false;
    const int count = u16(end + 10);
    const quint32 dirSize = u32(end + 12);
    const quint32 dirOffset = u32(end + 16);
    // Multi-disk and ZIP64 archives are not map archives.
    if (u16(end + 4) != 0 || u16(end + 6) != 0 || count == 0xffff || dirOffset == 0xffffffffu
        || !inRange(dirOffset, dirSize) || qint64(dirOffset) + dirSize > end || count > MaxEntries)
        return false;

    qint64 at = dirOffset;
    for (int i = 0; i < count; ++i) {
        if (!inRange(at, kCentralSize) || u32(at) != kCentralSignature)
            return false;
        const quint16 madeBy = u16(at + 4);
        const quint16 flags = u16(at + 8);
        Entry e;
        e.method = u16(at + 10);
        e.crc = u32(at + 16);
        e.compressedSize = u32(at + 20);
        e.size = u32(at + 24);
        const int nameLength = u16(at + 28);
        const int extraLength = u16(at + 30);
        const int commentLength = u16(at + 32);
        const quint32 attributes = u32(at + 38);
        e.localOffset = u32(at + 42);
        if (!inRange(at + kCentralSize, qint64(nameLength) + extraLength + commentLength))
            return false;
        const QByteArray rawName = m_data.mid(int(at + kCentralSize), nameLength);
        e.name = (flags & 0x800) ? QString::fromUtf8(rawName) : QString::fromLocal8Bit(rawName);
        e.encrypted = flags & 0x1;
        e.isDir = e.name.endsWith(QLatin1Char('/'));
        if ((madeBy >> 8) == kHostUnix && (attributes >> 16) != 0) {
            const quint32 type = (attributes >> 16) & kUnixTypeMask;
            e.isDir = e.isDir || type == kUnixDir;
            e.isRegular = !e.isDir && type == kUnixRegular;
        } else {
            e.isDir = e.isDir || (attributes & kDosDirectory);
            e.isRegular = !e.isDir;
        }
        m_entries.append(e);
        at += kCentralSize + nameLength + extraLength + commentLength;
    }
    return true;
}

bool SafeZip::read(const Entry &entry, qint64 maxSize, QByteArray *out) const
{
    out->clear();
    const qint64 local = entry.localOffset;
    if (entry.encrypted || entry.size > maxSize || !inRange(local, kLocalSize) || u32(local) != kLocalSignature) {
        qDebug().noquote() << "Unreadable map archive entry" << entry.name;
        return false;
    }
    const qint64 start = local + kLocalSize + u16(local + 26) + u16(local + 28);
    if (!inRange(start, entry.compressedSize)) {
        qDebug().noquote() << "Truncated map archive entry" << entry.name;
        return false;
    }
    // Deflate cannot expand more than about 1032 to 1; a larger size is a lie
    // meant to make us allocate.
    if (entry.size > qint64(entry.compressedSize) * 1032 + 1024) {
        qDebug().noquote() << "Implausible size of map archive entry" << entry.name;
        return false;
    }
    const auto *input = reinterpret_cast<const Bytef *>(m_data.constData() + start);
    if (entry.method == kStored) {
        if (entry.compressedSize != entry.size)
            return false;
        *out = QByteArray(reinterpret_cast<const char *>(input), int(entry.size));
    } else if (entry.method == kDeflated) {
        // Exactly the declared size: a stream that would write more, or
        // ends sooner, is refused rather than followed.
        out->resize(int(entry.size));
        z_stream stream{};
        if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
            return false;
        stream.next_in = const_cast<Bytef *>(input);
        stream.avail_in = entry.compressedSize;
        stream.next_out = reinterpret_cast<Bytef *>(out->data());
        stream.avail_out = entry.size;
        int result = inflate(&stream, Z_FINISH);
        if (result == Z_BUF_ERROR && stream.avail_out == 0 && entry.size == 0) {
            // An empty entry may still hold an empty final block.
            Bytef spare;
            stream.next_out = &spare;
            stream.avail_out = 1;
            result = inflate(&stream, Z_FINISH);
            if (stream.avail_out == 0)
                result = Z_DATA_ERROR;
        }
        const bool whole = result == Z_STREAM_END && stream.total_out == entry.size;
        inflateEnd(&stream);
        if (!whole) {
            qDebug().noquote() << "Corrupt map archive entry" << entry.name;
            out->clear();
            return false;
        }
    } else {
        qDebug().noquote() << "Unsupported compression in map archive entry" << entry.name;
        return false;
    }
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(out->constData()), uInt(out->size()));
    if (crc != entry.crc) {
        qDebug().noquote() << "Checksum mismatch in map archive entry" << entry.name;
        out->clear();
        return false;
    }
    return true;
}
