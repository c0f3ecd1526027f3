#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

// Digests of one game folder's map files from earlier runs, so a file left
// unchanged (same path, size and modification time to the millisecond) is
// never read again. One file per game folder in the user's cache folder,
// named after the folder, which is also recorded inside: two clients on two
// game folders never share entries. The file is checked like any input from
// outside; one that does not read back whole is ignored and rebuilt.
class MapDigestCache
{
public:
    struct Entry
    {
        qint64 size = 0;
        qint64 modifiedMs = 0;
        QString digest;
    };
    using Entries = QHash<QString, Entry>;

    // gameDir: the game's working directory, as the listed map paths begin
    // with it. Reads the cache file at once.
    explicit MapDigestCache(const QString &gameDir);

    QString folder() const { return m_folder; }
    // Where the cache of an absolute game folder is kept.
    static QString fileFor(const QString &folder);

    // Files listed under this folder; entries of any other file are left
    // out when the cache is written back.
    void addListed(const QStringList &paths);
    // The digest recorded for a file of this size and time, or null.
    QString digest(const QString &path, qint64 size, qint64 modifiedMs) const;
    void insert(const QString &path, qint64 size, qint64 modifiedMs, const QString &digest);
    // Writes the file back (atomically) if anything was inserted since the
    // last write.
    void save();

    static QByteArray encode(const QString &folder, const Entries &entries);
    // False with a reason for anything but a whole cache of this folder.
    static bool decode(const QByteArray &bytes, const QString &folder, Entries *entries, QString *reason);

    // Larger files are not ours: about half a million maps.
    static constexpr qint64 MaxFileSize = 32 * 1024 * 1024;

private:
    // A regular file, not a link, pipe or device.
    static bool regularFile(const QString &path);
    QString key(const QString &path) const;
    void load();

    QString m_prefix;
    QString m_folder;
    QString m_file;
    Entries m_entries;
    QSet<QString> m_listed;
    bool m_changed = false;
};
