#pragma once

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

// Plain POSIX UDP pieces for the benchmark: sockets, a fake game on each
// end, and the baseline relay (two sockets, ids widened one way and
// narrowed the other, nothing else).
namespace UdpShapes {

int openLoopback(uint16_t *port, int bufferBytes = 4 << 20);
void sendTo(int fd, const char *data, int size, uint16_t port);
// Waits up to timeoutMs; returns the size or -1.
int receive(int fd, char *buffer, int size, int timeoutMs);

// One end of a match relay: the game-side socket and the peer-side socket.
class BaselineRelay
{
public:
    BaselineRelay(uint16_t myGameId, uint32_t myId, uint16_t peerGameId, uint32_t peerId);
    ~BaselineRelay();
    uint16_t gamePort() const { return m_gamePort; }
    uint16_t peerPort() const { return m_peerPort; }
    void setRemotePeerPort(uint16_t port) { m_remotePeer = port; }
    void start();
    void stop();
    pthread_t threadHandle() { return m_thread.native_handle(); }

private:
    void run();
    int m_gameFd = -1, m_peerFd = -1;
    uint16_t m_gamePort = 0, m_peerPort = 0, m_remotePeer = 0, m_gameAt = 0;
    uint16_t m_myGameId, m_peerGameId;
    uint32_t m_myId, m_peerId;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Echoes every game datagram back with sender and receiver swapped.
class EchoGame
{
public:
    EchoGame();
    ~EchoGame();
    void start(uint16_t routerGamePort, uint16_t myGameId, uint16_t peerGameId);
    void stop();

private:
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct RunResult
{
    double roundTripsPerSecond = 0;
    double p50us = 0;
    double p99us = 0;
    uint64_t completed = 0;
    uint64_t lost = 0;
};

// Game A (socket fd, kept for the whole run as a game keeps its socket):
// sends datagrams of the given sizes (id header + payload) towards
// its router's game port and waits for their echoes. window 1 measures
// latency; a larger window measures rate. Bounded by count and time.
RunResult drive(int fd, uint16_t routerGamePort, uint16_t myGameId, uint16_t peerGameId, const std::vector<int> &sizes,
                int window, uint64_t maxCount, int maxMs);

uint64_t udpReceiveBufferErrors();
uint64_t threadCpuNs(pthread_t thread);
uint64_t processRssKb();

} // namespace UdpShapes
