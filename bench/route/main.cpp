// bench_route: path choice and failover on a network of namespaces. Two bots,
// each behind an endpoint-independent NAT router, can reach each other
// directly or through either of two tunnel servers whose links are slower.
// It prints the round trip of the path the routers chose against the best
// available one (goal: at most 1.1 times), then cuts that path in the middle
// of the game and prints how long until the games' datagrams flow again in
// both directions on another path (goal: under 5 s). Needs root.
#include "botprocess.h"
#include "netlab.h"
#include "sandbox.h"
#include "testenv.h"
#include "tunnel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <mutex>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kUplinkMs = 10, kNearMs = 30, kFarMs = 80; // one way
constexpr int kGameSeconds = 40;
constexpr int kCutAfterMs = 8000; // of game datagrams
constexpr int kRecoverMs = 20000;

// Game datagrams crossing the public bridge, told apart from the routers'
// own packets by the stand-in game's payload.
class GameSniffer
{
public:
    struct Seen
    {
        qint64 ms;
        quint32 from, to;
    };

    bool start(const QString &ns)
    {
        std::atomic<int> state{0};
        m_thread = std::thread([this, ns, &state] {
            const int nsFd = ::open(QByteArray("/var/run/netns/" + ns.toUtf8()).constData(), O_RDONLY | O_CLOEXEC);
            const bool entered = nsFd >= 0 && ::setns(nsFd, CLONE_NEWNET) == 0;
            if (nsFd >= 0)
                ::close(nsFd);
            const int fd = entered ? ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_IP)) : -1;
            sockaddr_ll at = {};
            at.sll_family = AF_PACKET;
            at.sll_protocol = htons(ETH_P_IP);
            at.sll_ifindex = int(if_nametoindex("br0"));
            packet_mreq promisc = {};
            promisc.mr_ifindex = at.sll_ifindex;
            promisc.mr_type = PACKET_MR_PROMISC;
            const timeval wake{0, 200000};
            const bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0
                            && ::setsockopt(fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promisc, sizeof promisc) == 0
                            && ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wake, sizeof wake) == 0;
            state = ok ? 1 : 2;
            unsigned char frame[2048];
            while (ok && !m_stop) {
                const ssize_t n = ::recv(fd, frame, sizeof frame, 0);
                const unsigned char *ip = frame + 14;
                if (n < 14 + 28 || ip[9] != IPPROTO_UDP)
                    continue;
                const size_t udp = 14 + size_t(ip[0] & 0x0f) * 4 + 8;
                static const char kMark[] = "FAKEGAME seq=";
                if (size_t(n) <= udp || !memmem(frame + udp, size_t(n) - udp, kMark, sizeof kMark - 1))
                    continue;
                quint32 from, to;
                std::memcpy(&from, ip + 12, 4);
                std::memcpy(&to, ip + 16, 4);
                std::lock_guard<std::mutex> lock(m_mutex);
                if (m_seen.size() < 1000000)
                    m_seen.push_back({m_clock.elapsed(), ntohl(from), ntohl(to)});
            }
            if (fd >= 0)
                ::close(fd);
        });
        m_clock.start();
        while (state == 0)
            std::this_thread::yield();
        return state == 1;
    }
    ~GameSniffer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    qint64 now() const { return m_clock.elapsed(); }
    std::vector<Seen> since(qint64 ms)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Seen> out;
        for (const Seen &s : m_seen)
            if (s.ms >= ms)
                out.push_back(s);
        return out;
    }

private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<Seen> m_seen;
    QElapsedTimer m_clock;
};

quint32 ip4(const QString &address)
{
    return QHostAddress(address).toIPv4Address();
}

// scripts/bench reports this exit status as skipped, not failed.
constexpr int kSkipped = 77;

int fail(const QString &why)
{
    std::fprintf(stderr, "bench_route: %s\n", qPrintable(why));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString unavailable = NetLab::unavailableReason(TestEnv::toolPath(QStringLiteral("netimpair")));
    if (!unavailable.isEmpty()) {
        fail(QStringLiteral("skipped: ") + unavailable);
        return kSkipped;
    }
    TestEnv env;
    NetLab lab(TestEnv::toolPath(QStringLiteral("netimpair")));
    if (!lab.start())
        return fail(lab.errorText());
    const QString site = lab.addHost(QStringLiteral("site"));
    const QString near = lab.addHost(QStringLiteral("near"), {kNearMs, 0, 0});
    const QString far = lab.addHost(QStringLiteral("far"), {kFarMs, 0, 0});
    const NetLab::Player a = lab.addPlayer(QStringLiteral("a"), NetLab::Nat::EndpointIndependent, {kUplinkMs, 0, 0});
    const NetLab::Player b = lab.addPlayer(QStringLiteral("b"), NetLab::Nat::EndpointIndependent, {kUplinkMs, 0, 0});
    if (far.isEmpty() || b.lan.isEmpty())
        return fail(lab.errorText());

    TunnelProcess tunnels[2];
    QStringList sandboxArgs{"--bind", site, "--addresses", "all", "--checkback", "1"};
    for (int i = 0; i < 2; ++i) {
        tunnels[i].setLauncher(NetLab::launcher(lab.ns(i ? QStringLiteral("far") : QStringLiteral("near"))));
        if (!tunnels[i].start(i ? far : near, {"--port", "50000", "--query-ports", "8054,3478"}))
            return fail(tunnels[i].errorText());
        sandboxArgs += tunnels[i].sandboxArgs();
    }
    ToolProcess sandbox(QStringLiteral("sandbox"));
    sandbox.setLauncher(NetLab::launcher(lab.ns(QStringLiteral("site"))));
    if (!sandbox.start(sandboxArgs))
        return fail(sandbox.errorText());
    env.setEndpoints(TestEnv::sandboxEndpoints(sandbox.url(), QStringLiteral("%1:%2").arg(site).arg(sandbox.port("dns"))));
    GameSniffer sniffer;
    if (!sniffer.start(lab.ns(QStringLiteral("pub"))))
        return fail(QStringLiteral("no packet socket on the public bridge"));

    QProcessEnvironment botEnv = env.clientEnvironment();
    botEnv.insert(QStringLiteral("FAKEGAME_SECONDS"), QString::number(kGameSeconds));
    BotProcess bots[2];
    const NetLab::Player *players[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        const QString dir = env.filePath(QStringLiteral("game%1").arg(i));
        if (Sandbox::makeGameFolder(dir, {QStringLiteral("--game-maps"), QStringLiteral("all")}).isEmpty())
            return fail(QStringLiteral("no game folder"));
        bots[i].setLauncher(NetLab::launcher(players[i]->lan));
        bots[i].setEnvironment(botEnv);
        if (!bots[i].start({QStringLiteral("--token"), i ? QStringLiteral("token-bob") : QStringLiteral("token-alice"),
                            QStringLiteral("--game-dir"), dir, QStringLiteral("--bind"), players[i]->lanAddress}))
            return fail(QStringLiteral("a bot did not start"));
    }
    for (BotProcess &bot : bots)
        if (!bot.waitForLine(QStringLiteral("BOT state game"), 120000))
            return fail(QStringLiteral("no game:\n") + bot.transcript());

    // Round trips: each uplink and tunnel link is crossed twice per way.
    struct Path
    {
        QString name;
        quint32 address;
        int rtt;
    };
    const QList<Path> paths{{QStringLiteral("direct"), 0, 4 * kUplinkMs},
                            {QStringLiteral("tunnel near"), ip4(near), 4 * (kUplinkMs + kNearMs)},
                            {QStringLiteral("tunnel far"), ip4(far), 4 * (kUplinkMs + kFarMs)}};
    const auto pathOf = [&](const GameSniffer::Seen &s) {
        for (const Path &p : paths)
            if (p.address && (s.from == p.address || s.to == p.address))
                return p;
        return paths.first();
    };
    const quint32 pubA = ip4(a.publicAddress), pubB = ip4(b.publicAddress);
    QTest::qWait(kCutAfterMs);
    const QJsonObject seen = QJsonDocument::fromJson(NetLab::httpGet(lab.ns(QStringLiteral("site")), site, sandbox.port("http"), "/inspect")).object();
    std::printf("bench_route: round trips available: direct %d ms, tunnel near %d ms, tunnel far %d ms\n", paths[0].rtt, paths[1].rtt,
                paths[2].rtt);
    int reported = 0; // the worse side's
    for (const QJsonValue &v : seen.value(QStringLiteral("updates")).toArray()) {
        const QJsonObject u = v.toObject();
        if (u.value(QStringLiteral("status")).toString() != QLatin1String("Reached"))
            continue;
        const QJsonObject peer = u.value(QStringLiteral("request")).toObject().value(QStringLiteral("peers")).toArray().first().toObject();
        std::printf("  %s reported %s, rtt %d ms\n", qPrintable(u.value(QStringLiteral("username")).toString()),
                    qPrintable(peer.value(QStringLiteral("address")).toString()), peer.value(QStringLiteral("rtt")).toInt());
        reported = std::max(reported, peer.value(QStringLiteral("rtt")).toInt());
    }
    const std::vector<GameSniffer::Seen> before = sniffer.since(sniffer.now() - 1000);
    if (before.empty())
        return fail(QStringLiteral("no game datagrams on the public network"));
    // Each direction may have settled on a path of its own.
    QList<Path> inUse;
    QStringList chosen;
    for (const GameSniffer::Seen &s : before) {
        if (!chosen.contains(pathOf(s).name)) {
            inUse << pathOf(s);
            chosen << inUse.last().name;
        }
    }

    const double ratio = double(reported) / paths[0].rtt;
    std::printf("chosen path (game datagrams on the wire): %s; measured %d ms against the best available %d ms: %.2fx "
                "(goal <= 1.10: %s)\n",
                qPrintable(chosen.join(QStringLiteral(" and "))), reported, paths[0].rtt, ratio, ratio <= 1.1 ? "met" : "missed");

    // The chosen paths go: between the two routers, or from both to the tunnel.
    const qint64 cutAt = sniffer.now();
    for (const Path &p : qAsConst(inUse)) {
        const QString tunnel = QHostAddress(p.address).toString();
        if (!(p.address ? lab.cut(a.publicAddress, tunnel) && lab.cut(b.publicAddress, tunnel) : lab.cut(a.publicAddress, b.publicAddress)))
            return fail(lab.errorText());
    }
    qint64 back[2] = {-1, -1}; // towards a, towards b
    QString via[2];
    QElapsedTimer waited;
    waited.start();
    while ((back[0] < 0 || back[1] < 0) && waited.elapsed() < kRecoverMs) {
        QTest::qWait(100);
        for (const GameSniffer::Seen &s : sniffer.since(cutAt)) {
            const Path p = pathOf(s);
            const int towards = s.to == pubA ? 0 : s.to == pubB ? 1 : -1;
            if (towards >= 0 && !chosen.contains(p.name) && back[towards] < 0) {
                back[towards] = s.ms - cutAt;
                via[towards] = p.name;
            }
        }
    }
    if (back[0] < 0 || back[1] < 0) {
        std::printf("after cutting %s: game datagrams did not flow again in both directions within %d s (to a: %s, to b: %s)\n",
                    qPrintable(chosen.join(QStringLiteral(" and "))), kRecoverMs / 1000, back[0] < 0 ? "no" : "yes", back[1] < 0 ? "no" : "yes");
    } else {
        const qint64 both = std::max(back[0], back[1]);
        std::printf("after cutting %s: game datagrams again to a after %.2f s (%s), to b after %.2f s (%s); both %.2f s (goal < 5 s: %s)\n",
                    qPrintable(chosen.join(QStringLiteral(" and "))), back[0] / 1000.0, qPrintable(via[0]), back[1] / 1000.0, qPrintable(via[1]), both / 1000.0,
                    both < 5000 ? "met" : "missed");
    }
    for (BotProcess &bot : bots)
        bot.stop();
    return 0;
}
