#include "udpshapes.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace UdpShapes {

namespace {
uint64_t nowNs()
{
    return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

void put16(char *p, uint16_t v)
{
    p[0] = char(v >> 8);
    p[1] = char(v);
}
void put32(char *p, uint32_t v)
{
    put16(p, uint16_t(v >> 16));
    put16(p + 2, uint16_t(v));
}
uint16_t get16(const char *p)
{
    return uint16_t((uint8_t(p[0]) << 8) | uint8_t(p[1]));
}
} // namespace

int openLoopback(uint16_t *port, int bufferBytes)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

void sendTo(int fd, const char *data, int size, uint16_t port)
{
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    ::sendto(fd, data, size_t(size), 0, reinterpret_cast<sockaddr *>(&a), sizeof a);
}

int receive(int fd, char *buffer, int size, int timeoutMs)
{
    const ssize_t n = ::recv(fd, buffer, size_t(size), 0);
    if (n >= 0)
        return int(n);
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0)
        return -1;
    const ssize_t m = ::recv(fd, buffer, size_t(size), 0);
    return m < 0 ? -1 : int(m);
}

BaselineRelay::BaselineRelay(uint16_t myGameId, uint32_t myId, uint16_t peerGameId, uint32_t peerId)
    : m_myGameId(myGameId), m_peerGameId(peerGameId), m_myId(myId), m_peerId(peerId)
{
    m_gameFd = openLoopback(&m_gamePort, 1 << 18);
    m_peerFd = openLoopback(&m_peerPort, 1 << 18);
}

BaselineRelay::~BaselineRelay()
{
    stop();
    ::close(m_gameFd);
    ::close(m_peerFd);
}

void BaselineRelay::start()
{
    m_stop = false;
    m_thread = std::thread([this]() { run(); });
}

void BaselineRelay::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void BaselineRelay::run()
{
    char buffer[1284 + 8];
    pollfd fds[2] = {{m_gameFd, POLLIN, 0}, {m_peerFd, POLLIN, 0}};
    while (!m_stop) {
        if (::poll(fds, 2, 50) <= 0)
            continue;
        for (;;) {
            sockaddr_in from = {};
            socklen_t len = sizeof from;
            const ssize_t n = ::recvfrom(m_gameFd, buffer + 4, 1280, 0, reinterpret_cast<sockaddr *>(&from), &len);
            if (n < 0)
                break;
            m_gameAt = ntohs(from.sin_port);
            const uint16_t s = get16(buffer + 4), r = get16(buffer + 6);
            put32(buffer, s == m_myGameId ? m_myId : 0);
            put32(buffer + 4, r == m_peerGameId ? m_peerId : 0);
            sendTo(m_peerFd, buffer, int(n) + 4, m_remotePeer);
        }
        for (;;) {
            const ssize_t n = ::recv(m_peerFd, buffer, 1284, 0);
            if (n < 0)
                break;
            if (n < 8 || !m_gameAt)
                continue;
            put16(buffer + 4, uint16_t(uint8_t(buffer[2]) << 8 | uint8_t(buffer[3])));
            put16(buffer + 6, uint16_t(uint8_t(buffer[6]) << 8 | uint8_t(buffer[7])));
            sendTo(m_gameFd, buffer + 4, int(n) - 4, m_gameAt);
        }
    }
}

EchoGame::EchoGame() = default;

EchoGame::~EchoGame()
{
    stop();
}

void EchoGame::start(uint16_t routerGamePort, uint16_t myGameId, uint16_t peerGameId)
{
    uint16_t port = 0;
    m_fd = openLoopback(&port);
    char hello[8];
    put16(hello, myGameId);
    put16(hello + 2, peerGameId);
    std::memcpy(hello + 4, "helo", 4);
    sendTo(m_fd, hello, 8, routerGamePort); // the router learns where the game is
    m_stop = false;
    m_thread = std::thread([this, routerGamePort]() {
        char buffer[2048];
        while (!m_stop) {
            const int n = receive(m_fd, buffer, sizeof buffer, 50);
            if (n < 4)
                continue;
            char s[2] = {buffer[0], buffer[1]};
            buffer[0] = buffer[2];
            buffer[1] = buffer[3];
            buffer[2] = s[0];
            buffer[3] = s[1];
            sendTo(m_fd, buffer, n, routerGamePort);
        }
    });
}

void EchoGame::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

RunResult drive(int fd, uint16_t routerGamePort, uint16_t myGameId, uint16_t peerGameId, const std::vector<int> &sizes,
                int window, uint64_t maxCount, int maxMs)
{
    std::vector<char> out(1280, 'p');
    char in[2048];
    std::vector<double> rtts;
    rtts.reserve(size_t(std::min<uint64_t>(maxCount, 2000000)));
    RunResult result;
    uint64_t sent = 0, seq = 0;
    uint64_t start = 0, deadline = 0;
    int inFlight = 0;
    auto sendOne = [&]() {
        const int size = sizes[size_t(seq % sizes.size())];
        put16(out.data(), myGameId);
        put16(out.data() + 2, peerGameId);
        const uint64_t t = nowNs();
        std::memcpy(out.data() + 4, &t, 8);
        sendTo(fd, out.data(), size, routerGamePort);
        ++seq;
        ++sent;
        ++inFlight;
    };
    // Whatever is left of an earlier run goes first.
    while (receive(fd, in, sizeof in, 100) >= 0) {
    }
    start = nowNs();
    deadline = start + uint64_t(maxMs) * 1000000ull;
    while (result.completed < maxCount && nowNs() < deadline) {
        while (inFlight < window && sent < maxCount)
            sendOne();
        const int n = receive(fd, in, sizeof in, 20);
        if (n < 12) {
            result.lost += uint64_t(inFlight); // time-out: refill the window
            inFlight = 0;
            continue;
        }
        uint64_t t = 0;
        std::memcpy(&t, in + 4, 8);
        rtts.push_back(double(nowNs() - t) / 1000.0);
        ++result.completed;
        --inFlight;
    }
    const double seconds = double(nowNs() - start) / 1e9;
    result.roundTripsPerSecond = double(result.completed) / seconds;
    if (!rtts.empty()) {
        std::sort(rtts.begin(), rtts.end());
        result.p50us = rtts[rtts.size() / 2];
        result.p99us = rtts[std::min(rtts.size() - 1, rtts.size() * 99 / 100)];
    }
    return result;
}

uint64_t udpReceiveBufferErrors()
{
    std::ifstream snmp("/proc/net/snmp");
    std::string header, values;
    while (std::getline(snmp, header) && std::getline(snmp, values)) {
        if (header.rfind("Udp:", 0) != 0)
            continue;
        // Columns: InDatagrams NoPorts InErrors OutDatagrams RcvbufErrors ...
        std::vector<std::string> names, nums;
        size_t a = 0, b = 0;
        std::string h = header + ' ', v = values + ' ';
        while ((b = h.find(' ', a)) != std::string::npos) {
            names.push_back(h.substr(a, b - a));
            a = b + 1;
        }
        a = 0;
        while ((b = v.find(' ', a)) != std::string::npos) {
            nums.push_back(v.substr(a, b - a));
            a = b + 1;
        }
        for (size_t i = 0; i < names.size() && i < nums.size(); ++i) {
            if (names[i] == "RcvbufErrors")
                return std::stoull(nums[i]);
        }
    }
    return 0;
}

uint64_t threadCpuNs(pthread_t thread)
{
    clockid_t id;
    if (pthread_getcpuclockid(thread, &id) != 0)
        return 0;
    timespec ts{};
    clock_gettime(id, &ts);
    return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
}

uint64_t processRssKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoull(line.substr(6));
    }
    return 0;
}

} // namespace UdpShapes
