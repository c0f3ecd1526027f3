#include "fakegame.h"

#include "ini.h"

#include <algorithm>
#include <ctime>

namespace {

constexpr std::size_t PayloadSize = 48;
constexpr int ExitBadFiles = 4;
constexpr int ExitNoStart = 1;
constexpr int ExitCrash = 3;
// How soon a stop request is noticed.
constexpr int StopPollMs = 50;
// A hanging game still ends some time, so a forgotten one does not linger.
constexpr int HangSeconds = 3600;

std::string header(std::uint16_t from, std::uint16_t to)
{
    return {char(from >> 8), char(from & 0xFF), char(to >> 8), char(to & 0xFF)};
}

std::uint16_t bigEndian16(const char *data)
{
    return std::uint16_t((static_cast<unsigned char>(data[0]) << 8) | static_cast<unsigned char>(data[1]));
}

std::string number(long long value)
{
    return std::to_string(value);
}

} // namespace

FakeGame::FakeGame(const std::string &launcher, const std::vector<std::string> &arguments)
    : m_launcher(Platform::fileName(launcher))
    , m_arguments(arguments)
    , m_dir(Platform::currentDirectory())
    , m_log(std::fopen("fakegame.log", "a"))
{
}

FakeGame::~FakeGame()
{
    if (m_log)
        std::fclose(m_log);
}

void FakeGame::log(const std::string &line)
{
    if (!m_log)
        return;
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    char stamp[32] = "";
    if (const std::tm *local = std::localtime(&seconds))
        std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03lld ", local->tm_hour, local->tm_min, local->tm_sec, ms);
    std::fprintf(m_log, "%s%s\n", stamp, line.c_str());
    std::fflush(m_log);
}

int FakeGame::run()
{
    m_config = GameFiles::readConfig();
    std::string joined;
    for (const std::string &argument : m_arguments)
        joined += (joined.empty() ? "" : " ") + argument;
    log("started as " + m_launcher + " with \"" + joined + "\" in " + m_dir + ", mode " + m_config.mode + ", "
        + number(m_config.seconds) + " s");
    if (!m_config.problem.empty())
        log("config: " + m_config.problem);
    if (std::find(m_arguments.begin(), m_arguments.end(), "-SPAWN") == m_arguments.end())
        log("warning: no -SPAWN argument");
    if (m_config.mode == "nostart") {
        log("refusing to start");
        return ExitNoStart;
    }
    if (m_config.mode.compare(0, 5, "crash") == 0)
        return crash(m_config.mode == "crash-signal");
    std::string error;
    if (!GameFiles::readSpawn(m_dir, &m_spawn, &error)) {
        log(error);
        return ExitBadFiles;
    }
    if (!GameFiles::isFile("spawnmap.ini")) {
        log("no spawnmap.ini");
        return ExitBadFiles;
    }
    log("I am " + m_spawn.name + " (id " + number(m_spawn.myId) + "); tunnel " + m_spawn.tunnelIp + ":"
        + number(m_spawn.tunnelPort) + "; " + number(static_cast<long long>(m_spawn.opponents.size())) + " opponents");
    for (const Opponent &o : m_spawn.opponents) {
        log(o.section + ": " + o.name + " id " + number(o.id));
        m_sent[o.id] = 0;
        m_received[o.id] = 0;
    }
    if (m_config.mode == "hang") {
        log("hanging");
        if (waitUntil(Clock::now() + std::chrono::seconds(HangSeconds))) {
            log("still hanging after " + number(HangSeconds) + " s; ending");
            return 0;
        }
        log("stopping on SIGTERM");
        return 0;
    }
    if (m_config.loadSeconds > 0) {
        // No socket yet: nothing is sent, and the router keeps what arrives
        // for us until our first datagram, as with a real game's load.
        log("loading for " + number(m_config.loadSeconds) + " s");
        if (!waitUntil(Clock::now() + std::chrono::seconds(m_config.loadSeconds))) {
            log("stopping on SIGTERM");
            return 0;
        }
    }
    return play();
}

bool FakeGame::waitUntil(Clock::time_point until)
{
    // Bounded by until; each pass sleeps at most StopPollMs.
    while (!Platform::stopRequested()) {
        const Clock::time_point now = Clock::now();
        if (now >= until)
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
        Platform::sleepMs(int(std::min<long long>(left, StopPollMs)));
    }
    return false;
}

int FakeGame::play()
{
    std::string error;
    if (!m_socket.open(Platform::isIpv6(m_spawn.tunnelIp), &error)) {
        log("cannot bind a UDP socket: " + error);
        return ExitBadFiles;
    }
    // An address that is no number leaves every send failing, uncounted.
    m_socket.setDestination(m_spawn.tunnelIp, m_spawn.tunnelPort);
    const auto interval = std::chrono::milliseconds(m_config.intervalMs);
    const Clock::time_point begin = Clock::now();
    const Clock::time_point end = begin + std::chrono::seconds(m_config.seconds);
    Clock::time_point nextSend = begin + interval;
    sendRound();
    // Bounded by end; each pass waits at most StopPollMs.
    for (;;) {
        if (Platform::stopRequested()) {
            log("stopping on SIGTERM");
            break;
        }
        const Clock::time_point now = Clock::now();
        if (now >= end)
            break;
        if (now >= nextSend) {
            sendRound();
            nextSend += interval;
            if (nextSend <= now) // after a stall, no burst to catch up
                nextSend = now + interval;
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(std::min(nextSend, end) - now).count() + 1;
        if (m_socket.waitReadable(int(std::min<long long>(left, StopPollMs))))
            readPending();
    }
    return finish();
}

int FakeGame::crash(bool bySignal)
{
    const std::string name = GameFiles::exceptionFileFor(m_launcher);
    if (name.empty()) {
        log("crashing; this game writes no exception file");
    } else {
        if (std::FILE *file = std::fopen(name.c_str(), "wb")) {
            const std::string report = "Sandbox game exception report\r\n"
                                       "Exception:\tc0000005\tACCESS_VIOLATION\r\n"
                                       "Eip:" + m_config.eip + "\tEsp:0019FA3C\tEbp:0019FA60\tEflags:00010246\r\n"
                                       "Eax:00000000\tEbx:7EFDE000\tEcx:00000001\tEdx:00000000\r\n";
            std::fwrite(report.data(), 1, report.size(), file);
            std::fclose(file);
        }
        log("crashing; wrote " + name);
    }
    if (bySignal) {
        log("killing myself");
        Platform::dieAbruptly();
    }
    return ExitCrash;
}

void FakeGame::sendRound()
{
    for (const Opponent &o : m_spawn.opponents) {
        std::string payload = "FAKEGAME seq=" + number(++m_sequence) + " from=" + m_spawn.name;
        payload.resize(PayloadSize, '.');
        if (m_socket.send(header(m_spawn.myId, o.id) + payload))
            ++m_sent[o.id];
    }
}

void FakeGame::readPending()
{
    static char buffer[65536];
    for (int i = 0; i < 512; ++i) {
        const int size = m_socket.receive(buffer, int(sizeof buffer));
        if (size < 0)
            break;
        if (size < 4) {
            ++m_stray;
            continue;
        }
        const std::uint16_t from = bigEndian16(buffer);
        const std::uint16_t to = bigEndian16(buffer + 2);
        const auto known = m_received.find(from);
        if (to == m_spawn.myId && known != m_received.end())
            ++known->second;
        else
            ++m_stray;
    }
}

int FakeGame::finish()
{
    std::remove("stats.dmp");
    IniFile stats;
    long long sent = 0;
    long long received = 0;
    stats.setValue("Game/Name", m_spawn.name);
    stats.setValue("Game/Id", number(m_spawn.myId));
    stats.setValue("Game/Seconds", number(m_config.seconds));
    for (const Opponent &o : m_spawn.opponents) {
        const std::string group = "Peer" + number(o.id) + "/";
        stats.setValue(group + "Name", o.name);
        stats.setValue(group + "Sent", number(m_sent[o.id]));
        stats.setValue(group + "Received", number(m_received[o.id]));
        sent += m_sent[o.id];
        received += m_received[o.id];
        log(o.name + " (id " + number(o.id) + "): sent " + number(m_sent[o.id]) + ", received "
            + number(m_received[o.id]));
    }
    stats.setValue("Game/Sent", number(sent));
    stats.setValue("Game/Received", number(received));
    stats.setValue("Game/Stray", number(m_stray));
    const bool written = stats.write("stats.dmp");
    log("wrote stats.dmp: sent " + number(sent) + ", received " + number(received) + ", stray " + number(m_stray));
    return written ? 0 : ExitBadFiles;
}
