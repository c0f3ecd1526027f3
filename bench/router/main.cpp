// bench_router: two routers on loopback carrying a fake game's datagrams one
// way and back, against a plain recvfrom/sendto relay of the same shape,
// interleaved in one run. Prints rates, added latency, CPU per datagram and
// their ratios; then the same while the GUI thread hashes a file; then the
// memory after a million datagrams from random sender ids.
#include "util/filedigest.h"
#include "net/networkstate.h"
#include "net/router.h"
#include "udpshapes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QUdpSocket>

#include <atomic>
#include <cstdio>
#include <functional>
#include <random>

#include <unistd.h>

using namespace UdpShapes;

namespace {
constexpr quint32 kIdA = 0x00010001, kIdB = 0x00020002;
std::atomic<quint64> s_logLines{0};

void countOnly(QtMsgType, const QMessageLogContext &, const QString &)
{
    ++s_logLines;
}

// A router on a thread of its own, as on the network thread.
class RouterThread
{
public:
    RouterThread()
    {
        m_context.moveToThread(&m_thread);
        m_thread.start(QThread::TimeCriticalPriority);
        run([this]() {
            m_handle = pthread_self();
            auto *socket = new QUdpSocket;
            socket->bind(QHostAddress::LocalHost, 0);
            m_peerPort = socket->localPort();
            Router::Timing t;
            t.sendInterval = 100;
            t.pingTime = 600;
            t.readyTime = 300;
            t.pingDelay = 100;
            router = new Router(&m_network);
            router->setTiming(t);
            router->setSocket(socket);
        });
    }
    ~RouterThread()
    {
        run([this]() { delete router; });
        m_thread.quit();
        m_thread.wait();
    }
    void run(const std::function<void()> &f) { QMetaObject::invokeMethod(&m_context, f, Qt::BlockingQueuedConnection); }
    Router *router = nullptr;
    quint16 peerPort() const { return m_peerPort; }
    pthread_t handle() const { return m_handle; }

private:
    NetworkState m_network;
    QThread m_thread;
    QObject m_context;
    quint16 m_peerPort = 0;
    pthread_t m_handle{};
};

struct Shape
{
    const char *name;
    std::vector<int> sizes;
};

struct Measure
{
    RunResult rate, latency;
    double cpuNsPerDatagram = 0;
    quint64 rcvbufErrors = 0;
};

// Runs f on a driver thread; meanwhile the calling (GUI) thread either waits
// or hashes a map-sized file over and over.
template<typename F> auto onDriver(F f, const QString &hashFile, int *hashes)
{
    decltype(f()) result{};
    std::atomic<bool> done{false};
    std::thread driver([&]() {
        result = f();
        done = true;
    });
    while (!done) {
        if (hashFile.isEmpty()) {
            QThread::msleep(5);
        } else {
            FileDigest::sha1Hex(hashFile);
            ++*hashes;
        }
    }
    driver.join();
    return result;
}

Measure measure(int gameFd, quint16 gamePort, const Shape &shape, pthread_t a, pthread_t b, const QString &hashFile, int *hashes)
{
    Measure m;
    const quint64 errors = udpReceiveBufferErrors();
    const quint64 cpu = threadCpuNs(a) + threadCpuNs(b);
    m.rate = onDriver([&]() { return drive(gameFd, gamePort, 1, 2, shape.sizes, 64, 300000, 1200); }, hashFile, hashes);
    // Four hops per round trip: out of A, into B, out of B, into A.
    m.cpuNsPerDatagram = double(threadCpuNs(a) + threadCpuNs(b) - cpu) / double(qMax<quint64>(1, m.rate.completed * 2));
    m.rcvbufErrors = udpReceiveBufferErrors() - errors;
    m.latency = onDriver([&]() { return drive(gameFd, gamePort, 1, 2, shape.sizes, 1, 5000, 1200); }, hashFile, hashes);
    return m;
}

void report(const char *what, const Measure &base, const Measure &router)
{
    std::printf("  %-9s baseline: %8.0f rt/s  p50 %6.1f us  p99 %6.1f us  cpu %6.0f ns/dgram  rcvbuf errors %llu  lost %llu\n",
                what, base.rate.roundTripsPerSecond, base.latency.p50us, base.latency.p99us, base.cpuNsPerDatagram,
                static_cast<unsigned long long>(base.rcvbufErrors), static_cast<unsigned long long>(base.rate.lost));
    std::printf("  %-9s router:   %8.0f rt/s  p50 %6.1f us  p99 %6.1f us  cpu %6.0f ns/dgram  rcvbuf errors %llu  lost %llu\n",
                what, router.rate.roundTripsPerSecond, router.latency.p50us, router.latency.p99us,
                router.cpuNsPerDatagram, static_cast<unsigned long long>(router.rcvbufErrors),
                static_cast<unsigned long long>(router.rate.lost));
    std::printf("  %-9s ratio router/baseline: rate %.2f  p50 %.2f  p99 %.2f  cpu %.2f\n", what,
                router.rate.roundTripsPerSecond / qMax(1.0, base.rate.roundTripsPerSecond),
                router.latency.p50us / qMax(0.001, base.latency.p50us),
                router.latency.p99us / qMax(0.001, base.latency.p99us),
                router.cpuNsPerDatagram / qMax(1.0, base.cpuNsPerDatagram));
    std::fflush(stdout);
}

void floodMemory(RouterThread &a)
{
    uint16_t port = 0;
    const int fd = openLoopback(&port);
    std::mt19937 random(7);
    const quint64 before = processRssKb();
    const quint64 refusedBefore = a.router->counters().refused;
    QElapsedTimer clock;
    clock.start();
    char datagram[40] = {};
    quint64 sent = 0;
    // A million datagrams from random sender ids, paced so most arrive; at
    // most 30 s.
    for (; sent < 1000000 && clock.elapsed() < 30000; ++sent) {
        const quint32 sender = random();
        for (int i = 0; i < 4; ++i)
            datagram[i] = char(sender >> (24 - 8 * i));
        datagram[7] = 1;
        sendTo(fd, datagram, sizeof datagram, a.peerPort());
        if (sent % 256 == 255)
            QThread::usleep(200);
    }
    QThread::msleep(500);
    std::printf("memory: %llu datagrams from random sender ids in %.1f s: RSS %llu kB -> %llu kB (+%lld kB), "
                "FIB entries %d, refused %llu\n",
                static_cast<unsigned long long>(sent), clock.elapsed() / 1000.0, static_cast<unsigned long long>(before),
                static_cast<unsigned long long>(processRssKb()), static_cast<long long>(processRssKb()) - static_cast<long long>(before),
                a.router->entryCount(), static_cast<unsigned long long>(a.router->counters().refused - refusedBefore));
    ::close(fd);
}
} // namespace

int main(int argc, char *argv[])
{
    // Nothing here reaches a service, but keep every endpoint on loopback.
    for (const char *name : {"ZANTRY_SITE_URL", "ZANTRY_MASTER_LIST_URL", "ZANTRY_MAP_DB_URL", "ZANTRY_LOG_COLLECTOR_URL"})
        qputenv(name, "http://127.0.0.1:9");
    qputenv("ZANTRY_PING_HOST", "ping.sandbox.test");
    qputenv("ZANTRY_DNS_SERVER", "127.0.0.1:9");
    qputenv("ZANTRY_HOME_ROUTER", "127.0.0.1");
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(countOnly);

    RouterThread a, b;
    a.router->setMyId(kIdA);
    a.router->setState(Router::INITIAL);
    a.router->addPeer(kIdB);
    a.router->addFloodPath(IPEndpoint(QHostAddress::LocalHost, b.peerPort()), NetworkPath::Direct);
    b.router->setMyId(kIdB);
    b.router->setState(Router::INITIAL);
    b.router->addPeer(kIdA);
    b.router->addFloodPath(IPEndpoint(QHostAddress::LocalHost, a.peerPort()), NetworkPath::Direct);
    a.router->setState(Router::FLOOD);
    b.router->setState(Router::FLOOD);
    QElapsedTimer clock;
    clock.start();
    while ((a.router->state() != Router::FIB_READY || b.router->state() != Router::FIB_READY) && clock.elapsed() < 15000)
        QThread::msleep(20);
    if (a.router->state() != Router::FIB_READY || b.router->state() != Router::FIB_READY) {
        std::fprintf(stderr, "bench_router: routers did not reach FIB_READY\n");
        return 1;
    }
    EchoGame echoB;
    echoB.start(b.router->gamePort(), 2, 1);

    BaselineRelay relayA(1, kIdA, 2, kIdB), relayB(2, kIdB, 1, kIdA);
    relayA.setRemotePeerPort(relayB.peerPort());
    relayB.setRemotePeerPort(relayA.peerPort());
    relayA.start();
    relayB.start();
    EchoGame echoBaseline;
    echoBaseline.start(relayB.gamePort(), 2, 1);

    QTemporaryDir dir;
    const QString mapFile = dir.filePath(QStringLiteral("map.bin"));
    {
        QFile f(mapFile);
        f.open(QIODevice::WriteOnly);
        std::mt19937 random(1);
        QByteArray block(1 << 20, '\0');
        for (int i = 0; i < 8; ++i) {
            for (char &c : block)
                c = char(random());
            f.write(block);
        }
    }

    std::mt19937 random(3);
    std::uniform_int_distribution<int> realistic(20, 500);
    Shape mixed{"20-500", {}};
    for (int i = 0; i < 997; ++i)
        mixed.sizes.push_back(realistic(random));
    const Shape shapes[] = {mixed, {"64", {64}}, {"1280", {1280}}};

    uint16_t port = 0;
    const int gameA = openLoopback(&port), gameBaseline = openLoopback(&port);
    {
        // The games introduce themselves to their router or relay.
        const char hello[8] = {0, 1, 0, 2, 'h', 'e', 'l', 'o'};
        sendTo(gameA, hello, 8, a.router->gamePort());
        sendTo(gameBaseline, hello, 8, relayA.gamePort());
        QThread::msleep(100);
    }
    std::printf("bench_router: game datagram sizes as sent by the game (routed = +4 bytes); rt = round trip\n");
    for (int busy = 0; busy < 2; ++busy) {
        std::printf(busy ? "GUI thread hashing an 8 MB map in a loop:\n" : "GUI thread idle:\n");
        int hashes = 0;
        const QString hashFile = busy ? mapFile : QString();
        for (const Shape &shape : shapes) {
            Measure base, routed;
            for (int round = 0; round < 3; ++round) { // interleaved; keep the better of three
                Measure mb = measure(gameBaseline, relayA.gamePort(), shape, relayA.threadHandle(), relayB.threadHandle(), hashFile, &hashes);
                Measure mr = measure(gameA, a.router->gamePort(), shape, a.handle(), b.handle(), hashFile, &hashes);
                if (round == 0 || mb.rate.roundTripsPerSecond > base.rate.roundTripsPerSecond)
                    base = mb;
                if (round == 0 || mr.rate.roundTripsPerSecond > routed.rate.roundTripsPerSecond)
                    routed = mr;
            }
            report(shape.name, base, routed);
        }
        if (busy)
            std::printf("  (%d hashes of the map file during the runs)\n", hashes);
    }
    echoB.stop();
    echoBaseline.stop();
    relayA.stop();
    relayB.stop();
    floodMemory(a);
    std::printf("log lines written by the routers: %llu\n", static_cast<unsigned long long>(s_logLines.load()));
    return 0;
}
