#include "journal.h"

#include <QDateTime>
#include <QFile>

#include <cstdio>

Journal::Journal(const QString &logFile)
{
    if (!logFile.isEmpty()) {
        m_log = new QFile(logFile);
        if (!m_log->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            std::fprintf(stderr, "sandbox: cannot open log %s, logging to stderr\n", qPrintable(logFile));
            delete m_log;
            m_log = nullptr;
        }
    }
}

Journal::~Journal()
{
    delete m_log;
}

QString Journal::kindName(Kind kind)
{
    static const char *const names[Kinds] = {"requests", "updates", "quits", "results", "crashReports", "dnsQueries"};
    return QString::fromLatin1(names[kind]);
}

void Journal::add(Kind kind, const QJsonObject &entry)
{
    QMutexLocker lock(&m_mutex);
    QJsonObject e = entry;
    e.insert(QStringLiteral("seq"), ++m_sequence);
    m_entries[kind].append(e);
    if (m_entries[kind].size() > MaxEntries)
        m_entries[kind].removeFirst();
}

void Journal::log(const QString &line)
{
    const QByteArray text = QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz ")).toUtf8()
        + line.toUtf8() + '\n';
    QMutexLocker lock(&m_mutex);
    if (m_log) {
        m_log->write(text);
        m_log->flush();
    } else {
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
        std::fflush(stderr);
    }
}

QJsonArray Journal::entries(Kind kind, int since) const
{
    QMutexLocker lock(&m_mutex);
    if (since <= 0)
        return m_entries[kind];
    QJsonArray out;
    for (const QJsonValue &e : m_entries[kind]) {
        if (e.toObject().value(QStringLiteral("seq")).toInt() > since)
            out.append(e);
    }
    return out;
}

int Journal::sequence() const
{
    QMutexLocker lock(&m_mutex);
    return m_sequence;
}

void Journal::reset()
{
    QMutexLocker lock(&m_mutex);
    for (QJsonArray &list : m_entries)
        list = QJsonArray();
}
