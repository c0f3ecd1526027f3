#pragma once

#include "util/filedigest.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStringList>
#include <QVector>

#include <memory>

class MapDigestCache;

// Walks a fixed list of files once, in order, and hashes them a slice of
// time at a time, so a first scan of large map folders never freezes the
// window. A file is never read twice, nor read at all when its folder's
// digest cache already knows it as it is.
class MapHasher
{
public:
    // Appends the files of one game folder; cache may be null.
    void addFiles(const QStringList &files, MapDigestCache *cache);
    bool atEnd() const { return m_next >= m_files.size(); }

    // Feeds the current file until it ends (true: path() and digest() hold
    // the result and the walk has moved on) or the deadline passes (false:
    // call again later to go on where it stopped).
    bool hashNext(const QDeadlineTimer &deadline);
    QString path() const { return m_path; }
    QString digest() const { return m_digest; }
    // The result was the cache's: the file was not read.
    bool fromCache() const { return m_fromCache; }

    // A file modified this close to the moment it is read may change again
    // within the same tick of a coarse file-system clock without its time
    // moving: it is not cached.
    static constexpr qint64 SettleMs = 3000;

private:
    // Begins the current file: true when the cache answered for it.
    bool startFile();
    void finishFile();

    QStringList m_files;
    QVector<MapDigestCache *> m_caches;
    int m_next = 0;
    std::unique_ptr<QFile> m_file;
    std::unique_ptr<FileDigest::Sha1> m_hash;
    qint64 m_size = -1;
    qint64 m_modifiedMs = 0;
    qint64 m_readAtMs = 0;
    qint64 m_bytesRead = 0;
    QString m_path;
    QString m_digest;
    bool m_fromCache = false;
};
