#include "util/ziparchive.h"

#include <QDateTime>
#include <QtEndian>

#include <zlib.h>

namespace ZipArchive {

namespace {

void put16(QByteArray &out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void put32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

// Raw deflate, as the format stores it; empty when zlib refuses.
QByteArray deflateRaw(const QByteArray &data)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const bool done = deflate(&stream, Z_FINISH) == Z_STREAM_END;
    out.resize(int(stream.total_out));
    deflateEnd(&stream);
    return done ? out : QByteArray();
}

// MS-DOS date and time, the only stamp the basic format has.
quint32 dosTime(const QDateTime &when)
{
    const QDate d = when.date();
    const QTime t = when.time();
    const quint32 date = quint32(qMax(d.year() - 1980, 0) << 9 | d.month() << 5 | d.day());
    const quint32 time = quint32(t.hour() << 11 | t.minute() << 5 | t.second() / 2);
    return date << 16 | time;
}

} // namespace

QByteArray build(const QList<QPair<QString, QByteArray>> &entries)
{
    const quint32 stamp = dosTime(QDateTime::currentDateTime());
    QByteArray archive;
    QByteArray directory;
    for (const auto &entry : entries) {
        const QByteArray name = entry.first.toUtf8();
        const QByteArray &data = entry.second;
        const quint32 crc = quint32(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(data.constData()),
                                          uInt(data.size())));
        QByteArray packed = deflateRaw(data);
        // Stored when deflate would not make it smaller.
        const bool deflated = !packed.isEmpty() && packed.size() < data.size();
        if (!deflated)
            packed = data;
        const quint32 offset = quint32(archive.size());

        // The fields both headers share, from "version needed" on.
        QByteArray common;
        put16(common, 20);
        put16(common, 0x0800); // names are UTF-8
        put16(common, deflated ? 8 : 0);
        put32(common, stamp);
        put32(common, crc);
        put32(common, quint32(packed.size()));
        put32(common, quint32(data.size()));
        put16(common, quint16(name.size()));
        put16(common, 0); // extra field

        put32(archive, 0x04034b50);
        archive += common + name + packed;

        put32(directory, 0x02014b50);
        put16(directory, 20); // made by
        directory += common;
        put16(directory, 0); // comment
        put16(directory, 0); // disk
        put16(directory, 0); // internal attributes
        put32(directory, 0); // external attributes
        put32(directory, offset);
        directory += name;
    }
    const quint32 directoryOffset = quint32(archive.size());
    archive += directory;
    put32(archive, 0x06054b50);
    put16(archive, 0);
    put16(archive, 0);
    put16(archive, quint16(entries.size()));
    put16(archive, quint16(entries.size()));
    put32(archive, quint32(directory.size()));
    put32(archive, directoryOffset);
    put16(archive, 0);
    return archive;
}

} // namespace ZipArchive
