#include "watch/processwatcher.h"

#include "platform/processlist.h"
#include "util/settings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTimer>

ProcessWatcher::ProcessWatcher(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(m_interval);
    connect(m_timer, &QTimer::timeout, this, &ProcessWatcher::checkProcs);

    QStringList procs = Settings::watchedProcesses();
    if (procs.isEmpty())
        procs = defaultWatchedProcs();
    setWatchedProcs(QSet<QString>(procs.cbegin(), procs.cend()));
}

QStringList ProcessWatcher::defaultWatchedProcs()
{
    return {QStringLiteral("game.exe"), QStringLiteral("quillon.exe"), QStringLiteral("morvel.exe"),
            QStringLiteral("fennick.exe")};
}

QStringList ProcessWatcher::cheatToolNames()
{
    // Cheat Engine ("cheatengine-x86_64.exe", "Cheat Engine.exe"), ArtMoney,
    // TSearch, and scanmem with its front end GameConqueror.
    static const QStringList names = {QStringLiteral("cheatengine"), QStringLiteral("cheat engine"),
                                      QStringLiteral("artmoney"),    QStringLiteral("tsearch"),
                                      QStringLiteral("scanmem"),     QStringLiteral("gameconqueror")};
    return names;
}

bool ProcessWatcher::matchesAny(const QString &name, const QStringList &entries)
{
    for (const QString &entry : entries) {
        if (name.contains(entry, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool ProcessWatcher::isOwnProcess(quint32 pid)
{
    const quint32 self = quint32(QCoreApplication::applicationPid());
    // Bounded: a parent id reused by a newer process could close a loop.
    for (int depth = 0; depth < 32 && pid > 1; ++depth) {
        pid = Platform::parentProcessId(pid);
        if (pid == self)
            return true;
    }
    return false;
}

void ProcessWatcher::setWatchedProcs(const QSet<QString> &procs)
{
    m_watchedProcs = procs;
    storeWatchedProcs();
}

void ProcessWatcher::addWatchedProc(const QString &name)
{
    m_watchedProcs.insert(name);
    storeWatchedProcs();
}

void ProcessWatcher::removeWatchedProc(const QString &name)
{
    m_watchedProcs.remove(name);
    storeWatchedProcs();
}

void ProcessWatcher::storeWatchedProcs()
{
    // Sorted, so the stored list does not change from run to run.
    QStringList list(m_watchedProcs.cbegin(), m_watchedProcs.cend());
    list.sort();
    Settings::setWatchedProcesses(list);
}

void ProcessWatcher::setInterval(int ms)
{
    m_interval = ms;
    m_timer->setInterval(ms);
}

void ProcessWatcher::start()
{
    m_timer->start(m_interval);
}

void ProcessWatcher::stop()
{
    m_timer->stop();
}

void ProcessWatcher::checkProcs()
{
    const QList<Platform::ProcessEntry> processes = Platform::runningProcesses();
    QStringList names;
    names.reserve(processes.size());
    for (const Platform::ProcessEntry &process : processes)
        names.append(process.name);
    checkCheatTools(names);

    const QStringList watched(m_watchedProcs.cbegin(), m_watchedProcs.cend());
    for (const Platform::ProcessEntry &process : processes) {
        // The ancestry is read only for a match, which is rare.
        if (!matchesAny(process.name, watched) || isOwnProcess(process.pid))
            continue;
        if (!m_isTriggered) {
            qDebug() << "Process watcher triggered for " << process.name;
            m_isTriggered = true;
            emit triggered();
        }
        return;
    }
    if (m_isTriggered) {
        qDebug() << "Process watcher cleared";
        m_isTriggered = false;
        emit cleared();
    }
}

void ProcessWatcher::checkCheatTools(const QStringList &names)
{
    QString found;
    const QStringList tools = cheatToolNames();
    for (const QString &name : names) {
        if (matchesAny(name, tools)) {
            found = name;
            break;
        }
    }
    const bool running = !found.isEmpty();
    if (running == m_cheatToolSeen)
        return;
    if (running)
        qDebug() << "Memory-editing tool running:" << found;
    m_cheatToolSeen = running;
    emit cheatToolRunningChanged(running);
}
