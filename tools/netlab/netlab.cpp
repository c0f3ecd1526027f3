#include "netlab.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

const QString kPrefix = QStringLiteral("zl");
int s_labs = 0;

// ip and nft live in sbin, which a plain user's PATH may lack.
QString program(const QString &name)
{
    const QString onPath = QStandardPaths::findExecutable(name);
    return onPath.isEmpty() ? QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")}) : onPath;
}

QByteArray output(const QString &command)
{
    const QStringList words = command.split(QLatin1Char(' '));
    QProcess p;
    p.start(program(words.first()), words.mid(1));
    p.waitForFinished(10000);
    return p.readAllStandardOutput();
}

} // namespace

NetLab::NetLab(const QString &netimpair, const QString &publicNet)
    : m_tag(kPrefix + QStringLiteral("%1-%2").arg(QCoreApplication::applicationPid()).arg(++s_labs))
    , m_publicNet(publicNet)
    , m_netimpair(netimpair)
{
}

NetLab::~NetLab()
{
    for (const auto &wire : m_wires) {
        wire->kill();
        wire->waitForFinished(2000);
    }
    m_wires.clear();
    // Whatever still runs inside goes first: a namespace lives on while a
    // process holds it.
    for (const QString &ns : qAsConst(m_made))
        for (const QByteArray &pid : output(QStringLiteral("ip netns pids ") + ns).split('\n'))
            if (pid.toInt() > 1)
                ::kill(pid.toInt(), SIGKILL);
    for (auto it = m_made.crbegin(); it != m_made.crend(); ++it)
        run(QStringLiteral("ip netns delete ") + *it);
}

QString NetLab::unavailableReason(const QString &netimpair)
{
    if (::geteuid() != 0)
        return QStringLiteral("network namespaces need root");
    for (const char *tool : {"ip", "nft", "unshare", "sysctl"})
        if (program(QLatin1String(tool)).isEmpty())
            return QStringLiteral("no %1 program").arg(QLatin1String(tool));
    if (!QFileInfo(netimpair).isExecutable())
        return QStringLiteral("tools/netimpair is not built");
    NetLab probe(netimpair);
    if (probe.makeNs(QStringLiteral("probe")).isEmpty())
        return QStringLiteral("cannot make a network namespace: ") + probe.errorText();
    return QString();
}

bool NetLab::run(const QString &command, const QByteArray &input)
{
    const QStringList words = command.split(QLatin1Char(' '));
    QProcess p;
    p.start(program(words.first()), words.mid(1));
    p.write(input);
    p.closeWriteChannel();
    if (p.waitForFinished(15000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    p.kill();
    p.waitForFinished(2000);
    m_error = command + QStringLiteral(": ") + QString::fromUtf8(p.readAllStandardError()).trimmed() + p.errorString();
    return false;
}

// Namespaces left by a run that was killed: their process is gone.
void NetLab::removeStale()
{
    for (const QByteArray &line : output(QStringLiteral("ip netns list")).split('\n')) {
        const QString name = QString::fromUtf8(line.split(' ').first());
        const QString pid = name.mid(kPrefix.size()).section(QLatin1Char('-'), 0, 0);
        if (name.startsWith(kPrefix) && pid.toInt() > 0 && !QFileInfo::exists(QStringLiteral("/proc/") + pid))
            output(QStringLiteral("ip netns delete ") + name);
    }
}

QString NetLab::makeNs(const QString &name)
{
    const QString ns = m_tag + QLatin1Char('-') + name;
    if (!run(QStringLiteral("ip netns add ") + ns))
        return QString();
    m_made << ns;
    m_ns.insert(name, ns);
    return run(QStringLiteral("ip -n %1 link set dev lo up").arg(ns)) ? ns : QString();
}

bool NetLab::start()
{
    removeStale();
    m_public = makeNs(QStringLiteral("pub"));
    return !m_public.isEmpty() && run(QStringLiteral("ip -n %1 link add br0 type bridge").arg(m_public))
           && run(QStringLiteral("ip -n %1 link set dev br0 up").arg(m_public));
}

// The namespace's interface dev joins the bridge, through a wire namespace
// of its own where the link is impaired.
bool NetLab::attach(const QString &name, const QString &dev, const QString &address, const Impairment &link)
{
    const QString ns = m_ns.value(name), port = QStringLiteral("p%1").arg(++m_ports);
    if (!link.any()) {
        if (!run(QStringLiteral("ip -n %1 link add %2 type veth peer name %3 netns %4").arg(m_public, port, dev, ns)))
            return false;
    } else {
        const QString wire = makeNs(name + QStringLiteral("-wire"));
        if (wire.isEmpty() || !run(QStringLiteral("ip -n %1 link add wa type veth peer name %2 netns %3").arg(wire, dev, ns))
            || !run(QStringLiteral("ip -n %1 link add wb type veth peer name %2 netns %3").arg(wire, port, m_public))
            || !run(QStringLiteral("ip -n %1 link set dev wa up").arg(wire)) || !run(QStringLiteral("ip -n %1 link set dev wb up").arg(wire)))
            return false;
        const QString args = QStringLiteral("--a wa --b wb --delay %1 --jitter %2 --loss %3").arg(link.delayMs).arg(link.jitterMs).arg(link.lossPercent);
        QStringList command = launcher(wire) + QStringList{m_netimpair} + args.split(QLatin1Char(' '));
        m_wires.emplace_back(new QProcess);
        QProcess &p = *m_wires.back();
        p.start(command.takeFirst(), command);
        const QDeadlineTimer deadline(10000);
        while (!p.canReadLine() && p.state() != QProcess::NotRunning && !deadline.hasExpired())
            p.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        if (p.readLine().trimmed() != "READY") {
            m_error = QStringLiteral("netimpair did not start: ") + QString::fromUtf8(p.readAllStandardError()).trimmed();
            return false;
        }
    }
    return run(QStringLiteral("ip -n %1 link set dev %2 master br0 up").arg(m_public, port))
           && run(QStringLiteral("ip -n %1 addr add %2/24 dev %3").arg(ns, address, dev))
           && run(QStringLiteral("ip -n %1 link set dev %2 up").arg(ns, dev));
}

QString NetLab::addHost(const QString &name, const Impairment &link)
{
    const QString address = QStringLiteral("%1.%2").arg(m_publicNet).arg(10 + ++m_hosts);
    return !makeNs(name).isEmpty() && attach(name, QStringLiteral("eth0"), address, link) ? address : QString();
}

NetLab::Player NetLab::addPlayer(const QString &name, Nat nat, const Impairment &uplink, int udpTimeoutS)
{
    const int n = ++m_players;
    const Player p{makeNs(name), makeNs(name + QStringLiteral("-nat")), QStringLiteral("192.168.%1.2").arg(n),
                   QStringLiteral("%1.%2").arg(m_publicNet).arg(100 + n)};
    // Unsolicited datagrams from outside are dropped, to the LAN and to the
    // router alike; what a LAN host started is let back in, and so is what a
    // port mapping forwards.
    const QString rules = QStringLiteral("table ip nat {\n"
                                         "  chain postrouting { type nat hook postrouting priority srcnat; oifname \"wan0\" masquerade %1; }\n"
                                         "}\n"
                                         "table inet filter {\n"
                                         "  chain forward { type filter hook forward priority filter;\n"
                                         "    iifname \"wan0\" ct state established,related accept; iifname \"wan0\" ct status dnat accept;\n"
                                         "    iifname \"wan0\" drop; }\n"
                                         "  chain input { type filter hook input priority filter;\n"
                                         "    iifname \"wan0\" ct state established,related accept; iifname \"wan0\" drop; }\n"
                                         "}\n")
                              .arg(nat == Nat::Symmetric ? QStringLiteral("random,fully-random") : QString());
    const QString inRouter = QStringLiteral("ip netns exec %1 ").arg(p.router);
    const bool ok = !p.lan.isEmpty() && !p.router.isEmpty()
                    && run(QStringLiteral("ip -n %1 link add lan0 type veth peer name eth0 netns %2").arg(p.router, p.lan))
                    && run(QStringLiteral("ip -n %1 addr add 192.168.%2.1/24 dev lan0").arg(p.router).arg(n))
                    && run(QStringLiteral("ip -n %1 link set dev lan0 up").arg(p.router))
                    && run(QStringLiteral("ip -n %1 addr add %2/24 dev eth0").arg(p.lan, p.lanAddress))
                    && run(QStringLiteral("ip -n %1 link set dev eth0 up").arg(p.lan))
                    && run(QStringLiteral("ip -n %1 route add default via 192.168.%2.1").arg(p.lan).arg(n))
                    && attach(name + QStringLiteral("-nat"), QStringLiteral("wan0"), p.publicAddress, uplink)
                    && run(inRouter + QStringLiteral("sysctl -qw net.ipv4.ip_forward=1")) && run(inRouter + QStringLiteral("nft -f -"), rules.toUtf8())
                    && (udpTimeoutS <= 0
                        || run(inRouter
                               + QStringLiteral("sysctl -qw net.netfilter.nf_conntrack_udp_timeout=%1 net.netfilter.nf_conntrack_udp_timeout_stream=%1")
                                     .arg(udpTimeoutS)));
    return ok ? p : Player();
}

bool NetLab::cut(const QString &a, const QString &b)
{
    const QString rules = QStringLiteral("table bridge cut {\n"
                                         "  chain forward { type filter hook forward priority filter;\n"
                                         "    ip saddr %1 ip daddr %2 drop; ip saddr %2 ip daddr %1 drop; }\n"
                                         "}\n")
                              .arg(a, b);
    return run(QStringLiteral("ip netns exec %1 nft -f -").arg(m_public), rules.toUtf8());
}

bool NetLab::blockUdp(const Player &p)
{
    return run(QStringLiteral("ip netns exec %1 nft insert rule inet filter forward iifname lan0 meta l4proto udp drop").arg(p.router));
}

bool NetLab::offerPortMapping(const Player &p, bool natPmp)
{
    if (!m_files)
        m_files.reset(new QTemporaryDir);
    const QString conf = m_files->filePath(p.router + QStringLiteral(".conf"));
    // Its rules go into chains of its own that the router's hooks jump to.
    const QString rules = QStringLiteral("table inet miniupnpd {\n"
                                         "  chain forward { type filter hook forward priority filter; jump miniupnpd; }\n"
                                         "  chain miniupnpd { }\n"
                                         "  chain prerouting { type nat hook prerouting priority dstnat; jump prerouting_miniupnpd; }\n"
                                         "  chain postrouting { type nat hook postrouting priority srcnat; jump postrouting_miniupnpd; }\n"
                                         "  chain prerouting_miniupnpd { }\n"
                                         "  chain postrouting_miniupnpd { }\n"
                                         "}\n");
    QFile file(conf);
    const QByteArray config = QStringLiteral("ext_ifname=wan0\nlistening_ip=lan0\nhttp_port=0\nenable_upnp=yes\nenable_natpmp=%1\n"
                                             "secure_mode=yes\nsystem_uptime=yes\nuuid=3d3cec3a-8cf0-11e0-98ee-%2\n"
                                             "upnp_table_name=miniupnpd\nupnp_nat_table_name=miniupnpd\n"
                                             "allow 1024-65535 192.168.0.0/16 1024-65535\ndeny 0-65535 0.0.0.0/0 0-65535\n")
                                  .arg(natPmp ? QStringLiteral("yes") : QStringLiteral("no"))
                                  .arg(QCoreApplication::applicationPid() % 1000000000000, 12, 10, QLatin1Char('0'))
                                  .toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size()
        || !run(QStringLiteral("ip netns exec %1 nft -f -").arg(p.router), rules.toUtf8())) {
        m_error = m_error.isEmpty() ? QStringLiteral("cannot write ") + conf : m_error;
        return false;
    }
    file.close();
    QStringList command = launcher(p.router)
                          + QStringList{program(QStringLiteral("miniupnpd")), QStringLiteral("-d"), QStringLiteral("-f"), conf,
                                        QStringLiteral("-P"), conf + QStringLiteral(".pid")};
    m_wires.emplace_back(new QProcess);
    QProcess &daemon = *m_wires.back();
    daemon.setProcessChannelMode(QProcess::MergedChannels);
    daemon.setStandardOutputFile(conf + QStringLiteral(".log"));
    daemon.start(command.takeFirst(), command);
    // Ready once it listens for the mapping requests.
    const QDeadlineTimer deadline(10000);
    QFile log(conf + QStringLiteral(".log"));
    while (!deadline.hasExpired() && daemon.state() != QProcess::NotRunning) {
        if (log.open(QIODevice::ReadOnly) && log.readAll().contains("HTTP listening on port"))
            return true;
        log.close();
        daemon.waitForFinished(100);
    }
    m_error = QStringLiteral("miniupnpd did not start: ") + QString::fromUtf8(log.readAll());
    return false;
}

QStringList NetLab::portMappings(const Player &p)
{
    QStringList found;
    const QString rules = QString::fromUtf8(output(QStringLiteral("ip netns exec %1 nft list chain inet miniupnpd prerouting_miniupnpd").arg(p.router)));
    static const QRegularExpression dnat(QStringLiteral("(?:th|udp) dport (\\d+) dnat (?:ip )?to ([\\d.]+:\\d+)"));
    for (auto it = dnat.globalMatch(rules); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        found << m.captured(1) + QStringLiteral(" -> ") + m.captured(2);
    }
    return found;
}

QStringList NetLab::launcher(const QString &ns)
{
    return QStringList{program(QStringLiteral("ip"))} + QStringLiteral("netns exec %1").arg(ns).split(QLatin1Char(' '))
           + QStringList{program(QStringLiteral("unshare"))}
           + QStringLiteral("--pid --fork --kill-child --mount-proc --").split(QLatin1Char(' '));
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
