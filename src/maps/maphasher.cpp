#include "maps/maphasher.h"

void MapHasher::setFiles(const QStringList &files)
{
    m_files = files;
    m_next = 0;
    m_file.reset();
    m_hash.reset();
}

bool MapHasher::hashNext(const QDeadlineTimer &deadline)
{
    if (atEnd())
        return false;
    if (!m_file) {
        m_file.reset(new QFile(m_files.at(m_next)));
        m_hash.reset(new FileDigest::Sha1);
        // Unbuffered: the reads go straight into our block, no second copy.
        // A file that cannot be opened reads as empty.
        if (!m_file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            m_file->close();
    }
    char block[FileDigest::BlockSize];
    int sinceCheck = 0;
    while (m_file->isOpen()) {
        const qint64 n = m_file->read(block, sizeof block);
        if (n <= 0)
            break;
        m_hash->addData(block, n);
        // Looking at the clock every 1 MiB keeps its cost out of the figures.
        if (++sinceCheck == 128) {
            sinceCheck = 0;
            if (deadline.hasExpired())
                return false;
        }
    }
    m_path = m_files.at(m_next);
    m_digest = m_hash->hexResult();
    m_file.reset();
    m_hash.reset();
    ++m_next;
    return true;
}
