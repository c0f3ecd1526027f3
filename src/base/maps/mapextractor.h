#pragma once

#include "maps/safezip.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Unpacks a map archive held in memory, entry by entry. Archives come from
// the network, so only regular files with relative names that stay inside
// the folder are written, never through a link; everything else is refused
// with a log line.
class MapExtractor
{
public:
    explicit MapExtractor(const QByteArray &archive);

    // Entry names as the archive gives them; empty when the body is not a
    // readable archive (empty, not a ZIP, truncated directory).
    QStringList entryNames() const { return m_names; }
    QString firstEntry() const { return m_names.value(0); }

    // The first entry's bytes, the map the archive was fetched for; empty
    // when it is not a regular file of acceptable size.
    QByteArray firstEntryData() const;

    // Writes every acceptable entry below folder. True when the first entry
    // now exists there as a regular file, the map the archive was fetched for.
    bool extractAll(const QString &folder);

    // The entry's path relative to the folder, or a null string for a name
    // that is absolute, climbs out, or could mean something else on Windows.
    static QString safeRelativePath(const QString &entryName);
    // Largest entry written; map files are a few MiB at most.
    static constexpr qint64 MaxEntrySize = 256 * 1024 * 1024;

private:
    bool writeEntry(const QString &folder, const QString &relative, const QByteArray &data);

    SafeZip m_zip;
    QStringList m_names;
};
