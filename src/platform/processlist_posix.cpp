#include "platform/processlist.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <unistd.h>

namespace Platform {

namespace {

// Matches the Windows listing's limit of 2048 ids.
constexpr int kMaxProcesses = 2048;

QString baseName(const QByteArray &path)
{
    const int slash = qMax(path.lastIndexOf('/'), path.lastIndexOf('\\'));
    return QString::fromUtf8(path.mid(slash + 1).left(260));
}

// Under Wine a Windows program runs inside the Wine loader; its first
// argument keeps the program's own path, "C:\\...\\game.exe".
QString wineProgramName(const QString &procDir)
{
    QFile cmdline(procDir + QStringLiteral("/cmdline"));
    if (!cmdline.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray argv0 = cmdline.read(4096).split('\0').value(0);
    const QString name = baseName(argv0);
    return name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive) ? name : QString();
}

QString executableName(const QString &procDir)
{
    char target[4096];
    const QByteArray link = QFile::encodeName(procDir + QStringLiteral("/exe"));
    const ssize_t n = ::readlink(link.constData(), target, sizeof(target) - 1);
    if (n <= 0)
        return QString();
    QByteArray path(target, int(n));
    // A program whose file was replaced or removed while running.
    static const QByteArray deleted(" (deleted)");
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    return baseName(path);
}

} // namespace

QString unknownProcessName()
{
    return QStringLiteral("<unknown>");
}

QList<ProcessEntry> runningProcesses()
{
    QList<ProcessEntry> result;
    QDir proc(QStringLiteral("/proc"));
    const QStringList entries = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QString &entry : entries) {
        bool isPid = false;
        const quint32 pid = entry.toUInt(&isPid);
        if (!isPid || pid == 0)
            continue;
        const QString dir = proc.filePath(entry);
        QString name = wineProgramName(dir);
        if (name.isEmpty())
            name = executableName(dir);
        if (name.isEmpty())
            name = unknownProcessName();
        result.append({pid, name});
        if (result.size() >= kMaxProcesses)
            break;
    }
    return result;
}

} // namespace Platform
