#include "maps/mapextractor.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

MapExtractor::MapExtractor(const QByteArray &archive)
    : m_zip(archive)
{
    for (const SafeZip::Entry &entry : m_zip.entries())
        m_names.append(entry.name);
}

QString MapExtractor::safeRelativePath(const QString &entryName)
{
    QString name = entryName;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    for (const QChar c : qAsConst(name)) {
        // Control characters, and ':' which names a drive or a stream on Windows.
        if (c.unicode() < 0x20 || c == QLatin1Char(':'))
            return QString();
    }
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')))
        return QString();
    const QString clean = QDir::cleanPath(name);
    if (clean.isEmpty() || clean == QLatin1String(".") || clean == QLatin1String("..")
        || clean.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(clean))
        return QString();
    return clean;
}

QByteArray MapExtractor::firstEntryData() const
{
    QByteArray data;
    const auto &entries = m_zip.entries();
    if (entries.isEmpty() || !entries.first().isRegular || !m_zip.read(entries.first(), MaxEntrySize, &data))
        return QByteArray();
    return data;
}

bool MapExtractor::extractAll(const QString &folder)
{
    QDir().mkpath(folder);
    const QString root = QFileInfo(folder).canonicalFilePath();
    if (root.isEmpty()) {
        qDebug().noquote() << "Cannot create the map folder" << folder;
        return false;
    }
    QString first;
    const auto &entries = m_zip.entries();
    for (int i = 0; i < entries.size(); ++i) {
        const SafeZip::Entry &entry = entries.at(i);
        if (entry.isDir)
            continue; // folders are made as files need them
        const QString relative = safeRelativePath(entry.name);
        if (!entry.isRegular || relative.isNull()) {
            qDebug().noquote() << "Refusing map archive entry" << entry.name;
            continue;
        }
        QByteArray data;
        if (m_zip.read(entry, MaxEntrySize, &data) && writeEntry(root, relative, data) && i == 0)
            first = relative;
    }
    if (first.isNull())
        return false;
    const QFileInfo saved(root + QLatin1Char('/') + first);
    return saved.isFile() && !saved.isSymLink() && saved.canonicalFilePath().startsWith(root + QLatin1Char('/'));
}

bool MapExtractor::writeEntry(const QString &root, const QString &relative, const QByteArray &data)
{
    // Every folder on the way must be a real folder below root, not a link
    // someone left there to lead the write elsewhere.
    QString path = root;
    const QStringList parts = relative.split(QLatin1Char('/'));
    for (int i = 0; i < parts.size() - 1; ++i) {
        path += QLatin1Char('/') + parts.at(i);
        const QFileInfo info(path);
        if (info.isSymLink() || (info.exists() && !info.isDir()) || (!info.exists() && !QDir().mkdir(path))) {
            qDebug().noquote() << "Refusing map archive entry" << relative;
            return false;
        }
    }
    path += QLatin1Char('/') + parts.last();
    // QSaveFile would follow a link at the target; a folder cannot be replaced.
    const QFileInfo target(path);
    if (target.isSymLink() || target.isDir()) {
        qDebug().noquote() << "Refusing map archive entry" << relative;
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        qDebug().noquote() << "Cannot write map file" << path;
        return false;
    }
    return true;
}
