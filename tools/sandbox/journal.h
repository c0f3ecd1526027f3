#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QString>

class QFile;

// Everything the sandbox received, in order, for /inspect and the log.
// Shared by the HTTP threads and the DNS responder.
class Journal
{
public:
    explicit Journal(const QString &logFile = QString());
    ~Journal();

    enum Kind { Requests, Updates, Quits, Results, CrashReports, DnsQueries, Kinds };

    // Keeps the latest MaxEntries of each kind, so a long demo run stays small.
    static constexpr int MaxEntries = 5000;
    void add(Kind kind, const QJsonObject &entry);
    void log(const QString &line); // stderr or the --log file, flushed
    QJsonArray entries(Kind kind, int since = 0) const; // those with "seq" above since
    int sequence() const;
    void reset();

    static QString kindName(Kind kind);

private:
    mutable QMutex m_mutex;
    QJsonArray m_entries[Kinds];
    QFile *m_log = nullptr;
    int m_sequence = 0;
};
