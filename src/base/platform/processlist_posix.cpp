#include "platform/processlist.h"

#include <QByteArray>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Platform {

namespace {

// Matches the Windows listing's limit of 2048 ids.
constexpr int kMaxProcesses = 2048;

QString baseName(const char *path, size_t len)
{
    size_t start = 0;
    for (size_t i = 0; i < len; ++i) {
        if (path[i] == '/' || path[i] == '\\')
            start = i + 1;
    }
    return QString::fromUtf8(path + start, int(qMin<size_t>(len - start, 260)));
}

bool endsWithExe(const QString &name)
{
    return name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive);
}

// Under Wine a Windows program runs inside the Wine loader; its first
// argument keeps the program's own path, "C:\\...\\game.exe".
QString wineProgramName(unsigned long pid)
{
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/%lu/cmdline", pid);
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QString();
    char argv0[1024];
    const ssize_t n = ::read(fd, argv0, sizeof(argv0) - 1);
    ::close(fd);
    if (n <= 0)
        return QString();
    argv0[n] = '\0';
    const QString name = baseName(argv0, std::strlen(argv0));
    return endsWithExe(name) ? name : QString();
}

QString executableName(unsigned long pid)
{
    char link[64];
    std::snprintf(link, sizeof(link), "/proc/%lu/exe", pid);
    char target[4096];
    ssize_t n = ::readlink(link, target, sizeof(target) - 1);
    if (n <= 0)
        return QString();
    // A program whose file was replaced or removed while running.
    static const char deleted[] = " (deleted)";
    const ssize_t suffix = ssize_t(sizeof(deleted) - 1);
    if (n > suffix && std::memcmp(target + n - suffix, deleted, size_t(suffix)) == 0)
        n -= suffix;
    return baseName(target, size_t(n));
}

bool isWineLoader(const QString &name)
{
    return name == QLatin1String("wine") || name == QLatin1String("wine64")
           || (name.startsWith(QLatin1String("wine")) && name.endsWith(QLatin1String("-preloader")));
}

// The arguments are only read when needed: that read costs the kernel more
// than the link, and the list is taken every 500 ms.
QString processName(unsigned long pid)
{
    QString name = executableName(pid);
    if (name.isEmpty() || isWineLoader(name)) {
        const QString windowsName = wineProgramName(pid);
        if (!windowsName.isEmpty())
            name = windowsName;
    }
    return name.isEmpty() ? unknownProcessName() : name;
}

} // namespace

QString unknownProcessName()
{
    return QStringLiteral("<unknown>");
}

quint32 parentProcessId(quint32 pid)
{
    char path[64];
    std::snprintf(path, sizeof(path), "/proc/%u/stat", unsigned(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char stat[512];
    const ssize_t n = ::read(fd, stat, sizeof(stat) - 1);
    ::close(fd);
    if (n <= 0)
        return 0;
    stat[n] = '\0';
    // "pid (name) state ppid ...": the name may hold spaces and parentheses.
    const char *close = std::strrchr(stat, ')');
    if (!close)
        return 0;
    char state = 0;
    unsigned long parent = 0;
    if (std::sscanf(close + 1, " %c %lu", &state, &parent) != 2 || parent > 0xffffffffUL)
        return 0;
    return quint32(parent);
}

QList<ProcessEntry> runningProcesses()
{
    QList<ProcessEntry> result;
    DIR *proc = ::opendir("/proc");
    if (!proc)
        return result;
    while (const dirent *entry = ::readdir(proc)) {
        char *end = nullptr;
        const unsigned long pid = std::strtoul(entry->d_name, &end, 10);
        if (pid == 0 || *end != '\0' || pid > 0xffffffffUL)
            continue;
        result.append({quint32(pid), processName(pid)});
        if (result.size() >= kMaxProcesses)
            break;
    }
    ::closedir(proc);
    return result;
}

} // namespace Platform
