#pragma once

#include <cstdint>
#include <string>

// What differs between POSIX and Windows, kept out of the game's logic.
namespace Platform {

// SIGTERM and SIGINT, or on Windows Ctrl+C and the console's close, ask the
// run to end in order; the run polls for it.
void installStopHandlers();
bool stopRequested();
// Tells a console close, which ends the process once its handler returns,
// that the stats are written.
void runFinished();

// Ends the process at once, as a crash would: SIGKILL, or on Windows an
// access-violation status.
[[noreturn]] void dieAbruptly();

void sleepMs(int ms);
std::string currentDirectory();
// The last component of a path; on Windows both separators count.
std::string fileName(const std::string &path);

// A UDP socket bound to loopback on an ephemeral port.
class UdpSocket
{
public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket &) = delete;
    UdpSocket &operator=(const UdpSocket &) = delete;

    // False with the system's reason when no socket could be bound.
    bool open(bool ipv6, std::string *error);
    // False when ip is not a numeric address; sends then fail.
    bool setDestination(const std::string &ip, std::uint16_t port);
    bool send(const std::string &datagram);
    // The size of the next waiting datagram, or -1 when none waits.
    int receive(char *buffer, int size);
    // Waits at most ms for a datagram; true when one may be read.
    bool waitReadable(int ms);

private:
    std::intptr_t m_socket = -1;
    std::string m_destination; // the socket address's bytes
};

// Whether ip is a numeric IPv6 address.
bool isIpv6(const std::string &ip);

} // namespace Platform
