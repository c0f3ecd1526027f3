#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class QTimer;

// Watches the running processes for names on the user's watch list, so
// matchmaking can hold back while such a program runs; the same poll looks
// for known memory-editing tools.
class ProcessWatcher : public QObject
{
    Q_OBJECT
public:
    explicit ProcessWatcher(QObject *parent = nullptr);

    QSet<QString> watchedProcs() const { return m_watchedProcs; }
    void setWatchedProcs(const QSet<QString> &procs);
    void addWatchedProc(const QString &name);
    void removeWatchedProc(const QString &name);

    int interval() const { return m_interval; }
    void setInterval(int ms);
    bool isTriggered() const { return m_isTriggered; }
    bool cheatToolRunning() const { return m_cheatToolSeen; }

    static QStringList defaultWatchedProcs();
    // Names of memory-editing tools, matched like the watch list.
    static QStringList cheatToolNames();
    // Whether name contains any entry, ignoring case.
    static bool matchesAny(const QString &name, const QStringList &entries);
    // Whether pid was started by this program, directly or further down:
    // the game it launched itself is no reason to pause.
    static bool isOwnProcess(quint32 pid);

public slots:
    void start();
    void stop();
    void checkProcs();

signals:
    void triggered();
    void cleared();
    // A memory-editing tool started or ended (the find-match request reports it).
    void cheatToolRunningChanged(bool running);

private:
    void storeWatchedProcs();
    void checkCheatTools(const QStringList &names);

    QSet<QString> m_watchedProcs;
    QTimer *m_timer;
    int m_interval = 500;
    bool m_isTriggered = false;
    bool m_cheatToolSeen = false;
};
