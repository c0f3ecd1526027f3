#include "util/filedigest.h"

#include <QCryptographicHash>
#include <QFile>

#ifdef ZANTRY_HAVE_OPENSSL
#include <openssl/evp.h>
#endif

namespace FileDigest {

// OpenSSL uses the CPU's SHA instructions where Qt's own SHA-1 does not;
// both give the same bytes.
struct Sha1::Impl
{
#ifdef ZANTRY_HAVE_OPENSSL
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    Impl() { EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr); }
    ~Impl() { EVP_MD_CTX_free(ctx); }
    void add(const char *data, qint64 size) { EVP_DigestUpdate(ctx, data, size_t(size)); }
    QByteArray result()
    {
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int len = 0;
        EVP_DigestFinal_ex(ctx, out, &len);
        return QByteArray(reinterpret_cast<const char *>(out), int(len));
    }
#else
    QCryptographicHash hash{QCryptographicHash::Sha1};
    void add(const char *data, qint64 size) { hash.addData(data, int(size)); }
    QByteArray result() { return hash.result(); }
#endif
};

Sha1::Sha1() : d(new Impl) {}
Sha1::~Sha1() { delete d; }

void Sha1::addData(const char *data, qint64 size)
{
    if (size > 0)
        d->add(data, size);
}

QString Sha1::hexResult()
{
    return QString::fromLatin1(d->result().toHex());
}

QString sha1Hex(QIODevice *device)
{
    Sha1 hash;
    char buffer[BlockSize];
    while (device && device->isReadable()) {
        const qint64 n = device->read(buffer, BlockSize);
        if (n <= 0)
            break;
        hash.addData(buffer, n);
    }
    return hash.hexResult();
}

QString sha1Hex(const QString &filePath)
{
    QFile file(filePath);
    // Unbuffered: each read lands in the block directly instead of being
    // copied through QFile's own buffer first.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return sha1HexOfBytes(QByteArray());
    return sha1Hex(&file);
}

QString sha1HexOfBytes(const QByteArray &bytes)
{
    Sha1 hash;
    hash.addData(bytes.constData(), bytes.size());
    return hash.hexResult();
}

} // namespace FileDigest
