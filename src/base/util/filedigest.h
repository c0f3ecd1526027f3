#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// The one SHA-1 of the program: maps, launchers, renderers and the
// executable itself. Read in blocks of 8192 bytes; 40 lower-case hex digits.
namespace FileDigest {

constexpr qint64 BlockSize = 8192;

// Digest of a whole file; a missing or unreadable file gives the digest of
// empty input, as the game detection expects.
QString sha1Hex(const QString &filePath);
QString sha1Hex(QIODevice *device);
QString sha1HexOfBytes(const QByteArray &bytes);

// Incremental form, for hashing one file across several event-loop turns.
class Sha1
{
public:
    Sha1();
    ~Sha1();
    Sha1(const Sha1 &) = delete;
    Sha1 &operator=(const Sha1 &) = delete;
    void addData(const char *data, qint64 size);
    QString hexResult();

private:
    struct Impl;
    Impl *d;
};

} // namespace FileDigest
