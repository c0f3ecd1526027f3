#pragma once

#include "gameconfig.h"
#include "platform.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

// One game run: sends a datagram to every opponent through the tunnel each
// interval, counts what comes back, and at the end writes "stats.dmp".
class FakeGame
{
public:
    // launcher is argv[0]: its name picks the game.
    FakeGame(const std::string &launcher, const std::vector<std::string> &arguments);
    ~FakeGame();
    FakeGame(const FakeGame &) = delete;
    FakeGame &operator=(const FakeGame &) = delete;

    // The whole run; its exit code. A stop request (SIGTERM) ends a running
    // exchange early with its stats written.
    int run();

private:
    using Clock = std::chrono::steady_clock;

    void log(const std::string &line);
    int crash(bool bySignal);
    // False when a stop request came first.
    bool waitUntil(Clock::time_point until);
    // After the load: the socket and the exchange.
    int play();
    void sendRound();
    void readPending();
    int finish();

    std::string m_launcher;
    std::vector<std::string> m_arguments;
    std::string m_dir;
    std::FILE *m_log;
    GameConfig m_config;
    SpawnFile m_spawn;
    Platform::UdpSocket m_socket;
    std::uint32_t m_sequence = 0;
    std::map<std::uint16_t, int> m_sent;
    std::map<std::uint16_t, int> m_received;
    int m_stray = 0;
};
