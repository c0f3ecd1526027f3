#pragma once

#include <QList>
#include <QString>

namespace Platform {

// One running process as the watcher sees it: id and executable base name,
// "<unknown>" when the name cannot be read.
struct ProcessEntry
{
    quint32 pid = 0;
    QString name;
};

// The running processes in the order the system lists them; empty when the
// listing itself fails.
QList<ProcessEntry> runningProcesses();

QString unknownProcessName();

// The process that started pid, 0 when it cannot be told.
quint32 parentProcessId(quint32 pid);

} // namespace Platform
