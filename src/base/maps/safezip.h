#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// A ZIP reader for archives from the network, over bytes held in memory.
// Every offset and size is checked against the buffer before it is used,
// inflation stops at the size the entry declares, and the CRC must match.
// (The framework's reader trusts the headers: a crafted size makes it read
// past its buffer or double its output buffer forever.)
class SafeZip
{
public:
    struct Entry
    {
        QString name; // as stored, separators not yet checked
        bool isDir = false;
        bool isRegular = false; // not a folder, link, device or pipe
        bool encrypted = false;
        quint16 method = 0;
        quint32 crc = 0;
        quint32 compressedSize = 0;
        quint32 size = 0;
        quint32 localOffset = 0;
    };

    explicit SafeZip(const QByteArray &archive);

    // Empty when the bytes hold no readable central directory.
    const QList<Entry> &entries() const { return m_entries; }
    // The entry's content; false (and a log line) when it cannot be read
    // whole and intact or is larger than maxSize.
    bool read(const Entry &entry, qint64 maxSize, QByteArray *out) const;

    static constexpr int MaxEntries = 10000;

private:
    bool parse();
    quint16 u16(qint64 at) const;
    quint32 u32(qint64 at) const;
    bool inRange(qint64 at, qint64 length) const;

    QByteArray m_data;
    QList<Entry> m_entries;
};
