#pragma once

#include "app/filedigest.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStringList>

#include <memory>

// Walks a fixed list of files once, in order, and hashes them a slice of
// time at a time, so a first scan of large map folders never freezes the
// window. A file is never read twice.
class MapHasher
{
public:
    void setFiles(const QStringList &files);
    bool atEnd() const { return m_next >= m_files.size(); }

    // Feeds the current file until it ends (true: path() and digest() hold
    // the result and the walk has moved on) or the deadline passes (false:
    // call again later to go on where it stopped).
    bool hashNext(const QDeadlineTimer &deadline);
    QString path() const { return m_path; }
    QString digest() const { return m_digest; }

private:
    QStringList m_files;
    int m_next = 0;
    std::unique_ptr<QFile> m_file;
    std::unique_ptr<FileDigest::Sha1> m_hash;
    QString m_path;
    QString m_digest;
};
