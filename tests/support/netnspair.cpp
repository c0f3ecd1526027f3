#include "netnspair.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

const QString NetnsPair::kSubnet = QStringLiteral("10.213.77.");

namespace {

bool ip(const QStringList &args, QString *error)
{
    QProcess p;
    p.start(QStringLiteral("ip"), args);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error)
            *error = QStringLiteral("ip %1: %2").arg(args.join(QLatin1Char(' ')), QString::fromUtf8(p.readAllStandardError()).trimmed());
        return false;
    }
    return true;
}

bool setNamespace(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::setns(fd, CLONE_NEWNET) == 0;
    ::close(fd);
    return ok;
}

// The namespace the process started in, opened before any thread moved.
int homeNamespace()
{
    static const int fd = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    return fd;
}

} // namespace

NetnsPair::NetnsPair()
{
    homeNamespace();
    const QString tag = QString::number(QCoreApplication::applicationPid());
    m_a = QStringLiteral("zantry-a-") + tag;
    m_b = QStringLiteral("zantry-b-") + tag;
}

NetnsPair::~NetnsPair()
{
    if (!m_made)
        return;
    ip({QStringLiteral("netns"), QStringLiteral("del"), m_a}, nullptr);
    ip({QStringLiteral("netns"), QStringLiteral("del"), m_b}, nullptr);
}

bool NetnsPair::make(QString *why)
{
    if (::geteuid() != 0) {
        *why = QStringLiteral("network namespaces need root; not root here");
        return false;
    }
    QString error;
    if (!ip({QStringLiteral("netns"), QStringLiteral("add"), m_a}, &error)) {
        *why = QStringLiteral("network namespaces cannot be made here: ") + error;
        return false;
    }
    m_made = true;
    const QString tag = QString::number(QCoreApplication::applicationPid());
    const QString vethA = QStringLiteral("zva") + tag, vethB = QStringLiteral("zvb") + tag;
    const QList<QStringList> steps = {
        {QStringLiteral("netns"), QStringLiteral("add"), m_b},
        {QStringLiteral("link"), QStringLiteral("add"), vethA, QStringLiteral("type"), QStringLiteral("veth"),
         QStringLiteral("peer"), QStringLiteral("name"), vethB},
        {QStringLiteral("link"), QStringLiteral("set"), vethA, QStringLiteral("netns"), m_a},
        {QStringLiteral("link"), QStringLiteral("set"), vethB, QStringLiteral("netns"), m_b},
        {QStringLiteral("-n"), m_a, QStringLiteral("addr"), QStringLiteral("add"), addressA() + QStringLiteral("/24"), QStringLiteral("dev"), vethA},
        {QStringLiteral("-n"), m_b, QStringLiteral("addr"), QStringLiteral("add"), addressB() + QStringLiteral("/24"), QStringLiteral("dev"), vethB},
        {QStringLiteral("-n"), m_a, QStringLiteral("link"), QStringLiteral("set"), vethA, QStringLiteral("up")},
        {QStringLiteral("-n"), m_b, QStringLiteral("link"), QStringLiteral("set"), vethB, QStringLiteral("up")},
        {QStringLiteral("-n"), m_a, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")},
        {QStringLiteral("-n"), m_b, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")},
    };
    for (const QStringList &step : steps) {
        if (!ip(step, &error)) {
            *why = QStringLiteral("cannot build the namespace link: ") + error;
            return false;
        }
    }
    return true;
}

bool NetnsPair::enter(const QString &name)
{
    return setNamespace(QByteArrayLiteral("/var/run/netns/") + name.toLocal8Bit());
}

bool NetnsPair::leave()
{
    return homeNamespace() >= 0 && ::setns(homeNamespace(), CLONE_NEWNET) == 0;
}

bool NetnsPair::runIn(const QString &name, const std::function<void()> &fn)
{
    // Back to where this thread was, which need not be the process's start.
    const int here = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (here < 0)
        return false;
    const bool entered = enter(name);
    if (entered)
        fn();
    const bool back = ::setns(here, CLONE_NEWNET) == 0;
    ::close(here);
    return entered && back;
}
