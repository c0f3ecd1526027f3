#include "api/resultoutbox.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {
constexpr qint64 kExpectationMs = 24 * 3600 * 1000;

bool writeText(const QString &path, const QByteArray &text)
{
    if (QFileInfo(path).isSymLink())
        return false;
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

QByteArray readText(const QString &path)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || QFileInfo(path).isSymLink() || !file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(4096).trimmed();
}
} // namespace

ResultOutbox::ResultOutbox(const QString &gameDir)
    : m_gameDir(gameDir)
    , m_dir(gameDir + QStringLiteral("Zantry/Outbox/"))
{
}

bool ResultOutbox::keep(const QString &resultFile, const QString &uploadPath, Entry *entry)
{
    if (!QDir().mkpath(m_dir) || !QFileInfo(resultFile).isFile())
        return false;
    const QString base = m_dir + QString::number(QDateTime::currentMSecsSinceEpoch());
    QString name = base;
    for (int n = 1; QFileInfo::exists(name + QStringLiteral(".dmp")) && n < 1000; ++n)
        name = base + QLatin1Char('-') + QString::number(n);
    entry->file = name + QStringLiteral(".dmp");
    entry->path = uploadPath;
    // The path first: a result without one could never be sent.
    if (!writeText(name + QStringLiteral(".path"), uploadPath.toUtf8())) {
        qDebug().noquote() << "Cannot keep the game result in " + m_dir;
        return false;
    }
    if (!QFile::rename(resultFile, entry->file)
        && !(QFile::copy(resultFile, entry->file) && QFile::remove(resultFile))) {
        QFile::remove(name + QStringLiteral(".path"));
        qDebug().noquote() << "Cannot move the game result into " + m_dir;
        return false;
    }
    qDebug().noquote() << "Game result kept until the service has it: " + entry->file;
    return true;
}

QList<ResultOutbox::Entry> ResultOutbox::entries() const
{
    QList<Entry> list;
    const QStringList names = QDir(m_dir).entryList({QStringLiteral("*.dmp")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        Entry e{m_dir + name, QString::fromUtf8(readText(m_dir + name.chopped(4) + QStringLiteral(".path")))};
        if (QFileInfo(e.file).isFile() && !QFileInfo(e.file).isSymLink() && e.path.startsWith(QLatin1Char('/')))
            list.append(e);
    }
    // Numbered by the time they were kept: a longer number is later.
    std::sort(list.begin(), list.end(), [](const Entry &a, const Entry &b) {
        return a.file.size() != b.file.size() ? a.file.size() < b.file.size() : a.file < b.file;
    });
    return list;
}

void ResultOutbox::remove(const Entry &entry)
{
    QFile::remove(entry.file);
    QFile::remove(entry.file.chopped(4) + QStringLiteral(".path"));
}

QString ResultOutbox::expectedFile() const
{
    return m_dir + QStringLiteral("expected.path");
}

void ResultOutbox::expect(const QString &uploadPath)
{
    if (!QDir().mkpath(m_dir) || !writeText(expectedFile(), uploadPath.toUtf8()))
        qDebug().noquote() << "Cannot note the game's upload in " + m_dir;
}

void ResultOutbox::forget()
{
    QFile::remove(expectedFile());
}

bool ResultOutbox::expecting() const
{
    return QFileInfo::exists(expectedFile());
}

bool ResultOutbox::takeExpected(Entry *entry)
{
    const QFileInfo expected(expectedFile());
    if (!expected.exists())
        return false;
    const QString path = QString::fromUtf8(readText(expectedFile()));
    const QFileInfo result(m_gameDir + QStringLiteral("stats.dmp"));
    // Only a result written after the game was launched is that game's.
    if (path.startsWith(QLatin1Char('/')) && result.isFile() && result.lastModified() >= expected.lastModified()
        && keep(result.filePath(), path, entry)) {
        forget();
        return true;
    }
    if (!path.startsWith(QLatin1Char('/')) || expected.lastModified().msecsTo(QDateTime::currentDateTime()) > kExpectationMs)
        forget();
    return false;
}
