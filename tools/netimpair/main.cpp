// netimpair: a two-port Ethernet wire with delay, jitter and loss, for
// kernels without netem. Frames read on one interface are written, unchanged,
// to the other once their delay has passed.
#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <queue>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// struct virtio_net_hdr; the kernel's header does not build as C++.
struct VnetHeader
{
    uint8_t flags, gsoType;
    uint16_t headerLength, gsoSize, csumStart, csumOffset;
};
constexpr uint8_t kNeedsChecksum = 1;

// Room for a GSO frame of up to 64 KiB behind its virtio header.
constexpr size_t kMaxFrame = sizeof(VnetHeader) + 65536 + 64;
// A wire that holds more than this drops new frames, like a full queue would.
constexpr size_t kMaxQueuedBytes = 16u << 20;
constexpr int kBurst = 64;

volatile sig_atomic_t s_stop = 0;
void onStop(int) { s_stop = 1; }

struct Options
{
    std::string a, b;
    int delayMs = 0, jitterMs = 0;
    double lossPercent = 0;
    unsigned seed = std::random_device{}();
};

struct Frame
{
    Clock::time_point due;
    unsigned long long seq;
    int out;
    std::vector<char> bytes;
    bool operator>(const Frame &o) const { return due != o.due ? due > o.due : seq > o.seq; }
};

const char kHelp[] =
    "Usage: netimpair --a IF --b IF [--delay MS] [--jitter MS] [--loss PERCENT] [--seed N]\n"
    "Bridges two interfaces with raw packet sockets (promiscuous): every frame received on one is sent,\n"
    "unchanged, on the other after a delay of MS +- jitter (uniform) milliseconds, or dropped with the\n"
    "given per-cent chance; each direction alike. Frames leave in the order of their release times (jitter\n"
    "reorders them), from a queue of at most 16 MiB. Prints \"READY\" once both interfaces are bound;\n"
    "SIGTERM or SIGINT ends it (exit 0). Run it where the two interfaces are not otherwise used, e.g. in a\n"
    "namespace of their own. Needs CAP_NET_RAW.\n";

bool parse(int argc, char **argv, Options *o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "netimpair: %s needs a value\n", arg.c_str());
            return false;
        }
        const char *value = argv[++i];
        char *end = nullptr;
        const double number = std::strtod(value, &end);
        const bool isNumber = end != value && *end == '\0' && number >= 0;
        if (arg == "--a")
            o->a = value;
        else if (arg == "--b")
            o->b = value;
        else if (arg == "--delay" && isNumber && number <= 60000)
            o->delayMs = int(number);
        else if (arg == "--jitter" && isNumber && number <= 60000)
            o->jitterMs = int(number);
        else if (arg == "--loss" && isNumber && number <= 100)
            o->lossPercent = number;
        else if (arg == "--seed" && isNumber)
            o->seed = unsigned(number);
        else {
            std::fprintf(stderr, "netimpair: bad option %s %s (see --help)\n", arg.c_str(), value);
            return false;
        }
    }
    if (o->a.empty() || o->b.empty() || o->a == o->b) {
        std::fprintf(stderr, "netimpair: give two different interfaces, --a and --b (see --help)\n");
        return false;
    }
    return true;
}

// The virtio header carries the frame's checksum and segmentation state, so
// a frame whose checksum the sender left to the hardware leaves complete.
int openPort(const std::string &name)
{
    const unsigned index = if_nametoindex(name.c_str());
    if (index == 0) {
        std::fprintf(stderr, "netimpair: no interface %s\n", name.c_str());
        return -1;
    }
    const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL));
    const int one = 1;
    sockaddr_ll at = {};
    at.sll_family = AF_PACKET;
    at.sll_protocol = htons(ETH_P_ALL);
    at.sll_ifindex = int(index);
    packet_mreq promisc = {};
    promisc.mr_ifindex = int(index);
    promisc.mr_type = PACKET_MR_PROMISC;
    if (fd < 0 || setsockopt(fd, SOL_PACKET, PACKET_VNET_HDR, &one, sizeof one) != 0
        || setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one) != 0
        || setsockopt(fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promisc, sizeof promisc) != 0
        || bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) != 0) {
        std::fprintf(stderr, "netimpair: %s: %s\n", name.c_str(), std::strerror(errno));
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    if (!parse(argc, argv, &o))
        return 2;
    const int fds[2] = {openPort(o.a), openPort(o.b)};
    if (fds[0] < 0 || fds[1] < 0)
        return 1;

    // Blocked but for the wait, so a stop request never slips in between.
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    struct sigaction sa = {};
    sa.sa_handler = onStop;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::puts("READY");
    std::fflush(stdout);

    std::mt19937 random(o.seed);
    std::uniform_real_distribution<double> percent(0, 100);
    std::uniform_int_distribution<int> jitter(-o.jitterMs, o.jitterMs);
    std::priority_queue<Frame, std::vector<Frame>, std::greater<Frame>> wire;
    size_t queuedBytes = 0;
    unsigned long long seq = 0, dropped = 0;
    std::vector<char> buffer(kMaxFrame);

    while (!s_stop) {
        const Clock::time_point now = Clock::now();
        while (!wire.empty() && wire.top().due <= now) {
            const Frame &f = wire.top();
            // A full device queue loses the frame, as a wire would.
            if (send(f.out, f.bytes.data(), f.bytes.size(), MSG_DONTWAIT) < 0)
                ++dropped;
            queuedBytes -= f.bytes.size();
            wire.pop();
        }
        timespec wait = {};
        timespec *timeout = nullptr;
        if (!wire.empty()) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wire.top().due - Clock::now()).count();
            wait.tv_sec = ns > 0 ? ns / 1000000000 : 0;
            wait.tv_nsec = ns > 0 ? ns % 1000000000 : 0;
            timeout = &wait;
        }
        pollfd polled[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
        if (ppoll(polled, 2, timeout, &waitMask) < 0) {
            if (errno == EINTR)
                continue;
            std::perror("netimpair: ppoll");
            return 1;
        }
        for (int side = 0; side < 2; ++side) {
            for (int n = 0; n < kBurst && (polled[side].revents & POLLIN); ++n) {
                const ssize_t got = recv(fds[side], buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
                if (got < 0)
                    break;
                if (size_t(got) > buffer.size() || size_t(got) <= sizeof(VnetHeader)
                    || percent(random) < o.lossPercent || queuedBytes + size_t(got) > kMaxQueuedBytes) {
                    ++dropped;
                    continue;
                }
                auto *header = reinterpret_cast<VnetHeader *>(buffer.data());
                header->flags &= kNeedsChecksum; // the rest only means something on receive
                const int delay = std::max(0, o.delayMs + (o.jitterMs ? jitter(random) : 0));
                wire.push(Frame{Clock::now() + std::chrono::milliseconds(delay), seq++, fds[1 - side],
                                std::vector<char>(buffer.begin(), buffer.begin() + got)});
                queuedBytes += size_t(got);
            }
        }
    }
    std::fprintf(stderr, "netimpair: stopped, %llu frames taken, %llu dropped\n", seq, dropped);
    return 0;
}
