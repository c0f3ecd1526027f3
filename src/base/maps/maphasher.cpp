#include "maps/maphasher.h"

#include "maps/mapdigestcache.h"

#include <QDateTime>
#include <QFileInfo>

void MapHasher::addFiles(const QStringList &files, MapDigestCache *cache)
{
    m_files += files;
    m_caches.insert(m_caches.size(), files.size(), cache);
    if (cache)
        cache->addListed(files);
}

bool MapHasher::startFile()
{
    const QString &path = m_files.at(m_next);
    MapDigestCache *cache = m_caches.at(m_next);
    m_size = -1;
    if (cache) {
        const QFileInfo info(path);
        if (info.exists()) {
            m_size = info.size();
            m_modifiedMs = info.lastModified().toMSecsSinceEpoch();
            const QString known = cache->digest(path, m_size, m_modifiedMs);
            if (!known.isNull()) {
                m_path = path;
                m_digest = known;
                m_fromCache = true;
                ++m_next;
                return true;
            }
            m_readAtMs = QDateTime::currentMSecsSinceEpoch();
        }
    }
    m_file.reset(new QFile(path));
    m_hash.reset(new FileDigest::Sha1);
    m_bytesRead = 0;
    // Unbuffered: the reads go straight into our block, no second copy.
    // A file that cannot be opened reads as empty, and so does one that
    // became a pipe or a device since it was listed.
    if (!QFileInfo(path).isFile() || !m_file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        m_file->close();
    return false;
}

bool MapHasher::hashNext(const QDeadlineTimer &deadline)
{
    if (atEnd())
        return false;
    if (!m_file && startFile())
        return true;
    char block[FileDigest::BlockSize];
    int sinceCheck = 0;
    while (m_file->isOpen()) {
        const qint64 n = m_file->read(block, sizeof block);
        if (n <= 0)
            break;
        m_hash->addData(block, n);
        m_bytesRead += n;
        // Looking at the clock every 1 MiB keeps its cost out of the figures.
        if (++sinceCheck == 128) {
            sinceCheck = 0;
            if (deadline.hasExpired())
                return false;
        }
    }
    finishFile();
    return true;
}

void MapHasher::finishFile()
{
    m_path = m_files.at(m_next);
    m_digest = m_hash->hexResult();
    m_fromCache = false;
    // Only a whole read of the file as it was seen: an unreadable file, or
    // one that grew or shrank meanwhile, is read again next time.
    MapDigestCache *cache = m_caches.at(m_next);
    if (cache && m_size >= 0 && m_file->isOpen() && m_bytesRead == m_size
        && qAbs(m_readAtMs - m_modifiedMs) >= SettleMs)
        cache->insert(m_path, m_size, m_modifiedMs, m_digest);
    m_file.reset();
    m_hash.reset();
    ++m_next;
}
