#include "netlab.h"

#include "testenv.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const char kPrefix[] = "zl";
const QStringList kSbin{QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/bin")};

QString program(const QString &name)
{
    const QString onPath = QStandardPaths::findExecutable(name);
    return onPath.isEmpty() ? QStandardPaths::findExecutable(name, kSbin) : onPath;
}

QStringList netnsList()
{
    QProcess ip;
    ip.start(program(QStringLiteral("ip")), {QStringLiteral("netns"), QStringLiteral("list")});
    ip.waitForFinished(10000);
    QStringList names;
    for (const QByteArray &line : ip.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            names << QString::fromUtf8(line.split(' ').first());
    return names;
}

int s_labs = 0;

} // namespace

NetLab::NetLab()
    : m_tag(QStringLiteral("%1%2-%3").arg(QLatin1String(kPrefix)).arg(QCoreApplication::applicationPid()).arg(++s_labs))
{
}

NetLab::~NetLab()
{
    m_wires.clear();
    // Whatever still runs inside goes first: a namespace lives on while a
    // process holds it.
    for (const QString &ns : qAsConst(m_made)) {
        QProcess pids;
        pids.start(program(QStringLiteral("ip")), {QStringLiteral("netns"), QStringLiteral("pids"), ns});
        pids.waitForFinished(10000);
        for (const QByteArray &pid : pids.readAllStandardOutput().split('\n'))
            if (pid.toInt() > 1)
                ::kill(pid.toInt(), SIGKILL);
    }
    for (auto it = m_made.crbegin(); it != m_made.crend(); ++it)
        run({QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("delete"), *it});
}

QString NetLab::unavailableReason()
{
    if (::geteuid() != 0)
        return QStringLiteral("network namespaces need root");
    for (const char *tool : {"ip", "nft", "unshare", "sysctl"})
        if (program(QLatin1String(tool)).isEmpty())
            return QStringLiteral("no %1 program").arg(QLatin1String(tool));
    if (!QFileInfo(TestEnv::toolPath(QStringLiteral("netimpair"))).isExecutable())
        return QStringLiteral("tools/netimpair is not built");
    NetLab probe;
    if (probe.makeNs(QStringLiteral("probe")).isEmpty())
        return QStringLiteral("cannot make a network namespace: ") + probe.errorText();
    return QString();
}

bool NetLab::run(const QStringList &command, const QByteArray &input)
{
    QProcess p;
    p.start(program(command.first()), command.mid(1));
    p.write(input);
    p.closeWriteChannel();
    if (p.waitForFinished(15000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    p.kill();
    p.waitForFinished(2000);
    m_error = command.join(QLatin1Char(' ')) + QStringLiteral(": ") + QString::fromUtf8(p.readAllStandardError()).trimmed()
              + p.errorString();
    return false;
}

// Namespaces left by a run that was killed: their process is gone.
void NetLab::removeStale()
{
    for (const QString &name : netnsList()) {
        const QString pid = name.mid(int(sizeof kPrefix) - 1).section(QLatin1Char('-'), 0, 0);
        if (name.startsWith(QLatin1String(kPrefix)) && pid.toInt() > 0 && !QFileInfo::exists(QStringLiteral("/proc/") + pid))
            QProcess::execute(program(QStringLiteral("ip")), {QStringLiteral("netns"), QStringLiteral("delete"), name});
    }
}

QString NetLab::makeNs(const QString &name)
{
    const QString ns = m_tag + QLatin1Char('-') + name;
    if (!run({QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("add"), ns}))
        return QString();
    m_made << ns;
    m_ns.insert(name, ns);
    return run({QStringLiteral("ip"), QStringLiteral("-n"), ns, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("dev"),
                QStringLiteral("lo"), QStringLiteral("up")})
               ? ns
               : QString();
}

bool NetLab::sysctl(const QString &ns, const QStringList &settings)
{
    return run(QStringList{QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), ns, QStringLiteral("sysctl"),
                           QStringLiteral("-qw")}
               + settings);
}

bool NetLab::start()
{
    removeStale();
    m_public = makeNs(QStringLiteral("pub"));
    return !m_public.isEmpty()
           && run({QStringLiteral("ip"), QStringLiteral("-n"), m_public, QStringLiteral("link"), QStringLiteral("add"), QStringLiteral("br0"),
                   QStringLiteral("type"), QStringLiteral("bridge")})
           && run({QStringLiteral("ip"), QStringLiteral("-n"), m_public, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("dev"),
                   QStringLiteral("br0"), QStringLiteral("up")});
}

// The namespace's interface dev joins the bridge, through a wire namespace
// of its own where the link is impaired.
bool NetLab::attach(const QString &name, const QString &dev, const QString &address, const Impairment &link)
{
    const QString ns = m_ns.value(name);
    const QString port = QStringLiteral("p%1").arg(++m_ports);
    auto ip = [this](const QString &in, const QString &args) {
        return run(QStringList{QStringLiteral("ip"), QStringLiteral("-n"), in} + args.split(QLatin1Char(' ')));
    };
    if (!link.any()) {
        if (!ip(m_public, QStringLiteral("link add %1 type veth peer name %2 netns %3").arg(port, dev, ns)))
            return false;
    } else {
        const QString wire = makeNs(name + QStringLiteral("-wire"));
        if (wire.isEmpty() || !ip(wire, QStringLiteral("link add wa type veth peer name %1 netns %2").arg(dev, ns))
            || !ip(wire, QStringLiteral("link add wb type veth peer name %1 netns %2").arg(port, m_public))
            || !ip(wire, QStringLiteral("link set dev wa up")) || !ip(wire, QStringLiteral("link set dev wb up")))
            return false;
        m_wires.emplace_back(new ToolProcess(QStringLiteral("netimpair")));
        m_wires.back()->setLauncher(launcher(wire));
        if (!m_wires.back()->start({QStringLiteral("--a"), QStringLiteral("wa"), QStringLiteral("--b"), QStringLiteral("wb"),
                                    QStringLiteral("--delay"), QString::number(link.delayMs), QStringLiteral("--jitter"),
                                    QString::number(link.jitterMs), QStringLiteral("--loss"), QString::number(link.lossPercent)})) {
            m_error = m_wires.back()->errorText();
            return false;
        }
    }
    return ip(m_public, QStringLiteral("link set dev %1 master br0 up").arg(port))
           && ip(ns, QStringLiteral("addr add %1/24 dev %2").arg(address, dev)) && ip(ns, QStringLiteral("link set dev %1 up").arg(dev));
}

QString NetLab::addHost(const QString &name, const Impairment &link)
{
    const QString address = QStringLiteral("198.51.100.%1").arg(10 + ++m_hosts);
    return !makeNs(name).isEmpty() && attach(name, QStringLiteral("eth0"), address, link) ? address : QString();
}

NetLab::Player NetLab::addPlayer(const QString &name, Nat nat, const Impairment &uplink, int udpTimeoutS)
{
    const int n = ++m_players;
    Player p{makeNs(name), makeNs(name + QStringLiteral("-nat")), QStringLiteral("192.168.%1.2").arg(n),
             QStringLiteral("198.51.100.%1").arg(100 + n)};
    auto ip = [this](const QString &in, const QString &args) {
        return run(QStringList{QStringLiteral("ip"), QStringLiteral("-n"), in} + args.split(QLatin1Char(' ')));
    };
    // Unsolicited datagrams from outside are dropped, to the LAN and to the
    // router alike; what a LAN host started is let back in.
    const QString rules = QStringLiteral("table ip nat {\n"
                                         "  chain postrouting { type nat hook postrouting priority srcnat; oifname \"wan0\" masquerade %1; }\n"
                                         "}\n"
                                         "table inet filter {\n"
                                         "  chain forward { type filter hook forward priority filter;\n"
                                         "    iifname \"wan0\" ct state established,related accept; iifname \"wan0\" drop; }\n"
                                         "  chain input { type filter hook input priority filter;\n"
                                         "    iifname \"wan0\" ct state established,related accept; iifname \"wan0\" drop; }\n"
                                         "}\n")
                              .arg(nat == Nat::Symmetric ? QStringLiteral("random,fully-random") : QString());
    const QString timeout = QString::number(udpTimeoutS);
    const bool ok = !p.lan.isEmpty() && !p.router.isEmpty()
                    && ip(p.router, QStringLiteral("link add lan0 type veth peer name eth0 netns %1").arg(p.lan))
                    && ip(p.router, QStringLiteral("addr add 192.168.%1.1/24 dev lan0").arg(n))
                    && ip(p.router, QStringLiteral("link set dev lan0 up"))
                    && ip(p.lan, QStringLiteral("addr add %1/24 dev eth0").arg(p.lanAddress))
                    && ip(p.lan, QStringLiteral("link set dev eth0 up"))
                    && ip(p.lan, QStringLiteral("route add default via 192.168.%1.1").arg(n))
                    && attach(name + QStringLiteral("-nat"), QStringLiteral("wan0"), p.publicAddress, uplink)
                    && sysctl(p.router, {QStringLiteral("net.ipv4.ip_forward=1")})
                    && run({QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), p.router, QStringLiteral("nft"),
                            QStringLiteral("-f"), QStringLiteral("-")},
                           rules.toUtf8())
                    && (udpTimeoutS <= 0
                        || sysctl(p.router, {QStringLiteral("net.netfilter.nf_conntrack_udp_timeout=") + timeout,
                                             QStringLiteral("net.netfilter.nf_conntrack_udp_timeout_stream=") + timeout}));
    return ok ? p : Player();
}

bool NetLab::cut(const QString &a, const QString &b)
{
    const QString rules = QStringLiteral("table bridge cut {\n"
                                         "  chain forward { type filter hook forward priority filter;\n"
                                         "    ip saddr %1 ip daddr %2 drop; ip saddr %2 ip daddr %1 drop; }\n"
                                         "}\n")
                              .arg(a, b);
    return run({QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), m_public, QStringLiteral("nft"),
                QStringLiteral("-f"), QStringLiteral("-")},
               rules.toUtf8());
}

QStringList NetLab::launcher(const QString &ns)
{
    return {program(QStringLiteral("ip")), QStringLiteral("netns"), QStringLiteral("exec"), ns, program(QStringLiteral("unshare")),
            QStringLiteral("--pid"), QStringLiteral("--fork"), QStringLiteral("--kill-child"), QStringLiteral("--mount-proc"),
            QStringLiteral("--")};
}

// The socket is made by a thread that entered the namespace; the test
// process itself stays where it is.
QByteArray NetLab::httpGet(const QString &ns, const QString &address, quint16 port, const QString &path)
{
    QByteArray body;
    std::thread([&] {
        const int nsFd = ::open(QByteArray("/var/run/netns/" + ns.toUtf8()).constData(), O_RDONLY | O_CLOEXEC);
        const bool entered = nsFd >= 0 && ::setns(nsFd, CLONE_NEWNET) == 0;
        if (nsFd >= 0)
            ::close(nsFd);
        const int fd = entered ? ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
        if (fd < 0)
            return;
        const timeval limit{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, address.toLatin1().constData(), &to.sin_addr);
        const QByteArray request = "GET " + path.toUtf8() + " HTTP/1.0\r\nHost: " + address.toLatin1() + "\r\n\r\n";
        QByteArray reply;
        if (::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0
            && ::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) == request.size()) {
            char buffer[65536];
            ssize_t got;
            const QDeadlineTimer deadline(10000);
            while (reply.size() < (64 << 20) && !deadline.hasExpired() && (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                reply.append(buffer, int(got));
        }
        ::close(fd);
        const int end = reply.indexOf("\r\n\r\n");
        if (reply.startsWith("HTTP/1.") && reply.mid(9, 3) == "200" && end > 0)
            body = reply.mid(end + 4);
    }).join();
    return body;
}
