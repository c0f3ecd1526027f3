#include "platform.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <csignal>
#include <ctime>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace Platform {

namespace {

std::atomic<bool> g_stop{false};
std::atomic<bool> g_finished{false};
#ifndef _WIN32
// The test or demo this game belongs to; 0 when none was named or it was not
// to be seen at the start (another process namespace).
pid_t g_run = 0;
#endif

#ifdef _WIN32

using Socket = SOCKET;
using AddressLength = int;

std::string lastSocketError()
{
    return "error " + std::to_string(WSAGetLastError());
}

void closeSocket(Socket s)
{
    closesocket(s);
}

BOOL WINAPI onConsoleEvent(DWORD event)
{
    g_stop = true;
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The process ends when this returns; Windows allows about 5 s.
        for (int i = 0; i < 80 && !g_finished; ++i)
            Sleep(50);
    }
    return TRUE;
}

bool startSockets()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

#else

using Socket = int;
using AddressLength = socklen_t;

std::string lastSocketError()
{
    return std::strerror(errno);
}

void closeSocket(Socket s)
{
    ::close(s);
}

void onSignal(int)
{
    g_stop = true;
}

bool startSockets()
{
    return true;
}

#endif

// Fills storage with the socket address of a numeric ip; its length, or 0.
int numericAddress(const std::string &ip, std::uint16_t port, sockaddr_storage *storage)
{
    if (!startSockets())
        return 0;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo *found = nullptr;
    if (ip.empty() || getaddrinfo(ip.c_str(), nullptr, &hints, &found) != 0 || !found)
        return 0;
    int length = 0;
    if (found->ai_addrlen <= sizeof(sockaddr_storage)) {
        std::memcpy(storage, found->ai_addr, found->ai_addrlen);
        length = int(found->ai_addrlen);
        if (storage->ss_family == AF_INET)
            reinterpret_cast<sockaddr_in *>(storage)->sin_port = htons(port);
        else
            reinterpret_cast<sockaddr_in6 *>(storage)->sin6_port = htons(port);
    }
    freeaddrinfo(found);
    return length;
}

} // namespace

void installStopHandlers()
{
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    if (const char *run = std::getenv("ZANTRY_RUN_PID")) {
        const long pid = std::strtol(run, nullptr, 10);
        if (pid > 0 && ::kill(pid_t(pid), 0) == 0)
            g_run = pid_t(pid);
    }
#endif
}

bool stopRequested()
{
#ifndef _WIN32
    // A run killed without a word leaves no game behind.
    if (g_run > 0 && ::kill(g_run, 0) != 0 && errno == ESRCH)
        g_stop = true;
#endif
    return g_stop;
}

void runFinished()
{
    g_finished = true;
}

void dieAbruptly()
{
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), 0xC0000005u);
#else
    ::raise(SIGKILL);
#endif
    std::abort();
}

void sleepMs(int ms)
{
#ifdef _WIN32
    Sleep(DWORD(ms));
#else
    const timespec wait{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&wait, nullptr);
#endif
}

std::string currentDirectory()
{
#ifdef _WIN32
    wchar_t wide[MAX_PATH * 4];
    const DWORD length = GetCurrentDirectoryW(DWORD(sizeof wide / sizeof *wide), wide);
    if (length == 0 || length >= sizeof wide / sizeof *wide)
        return ".";
    char utf8[MAX_PATH * 16];
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, int(length), utf8, int(sizeof utf8), nullptr, nullptr);
    std::string path = bytes > 0 ? std::string(utf8, std::size_t(bytes)) : std::string(".");
    // Forward slashes, as the client's framework writes Windows paths.
    for (char &c : path)
        c = c == '\\' ? '/' : c;
    return path;
#else
    char path[4096];
    return getcwd(path, sizeof path) ? std::string(path) : std::string(".");
#endif
}

std::string fileName(const std::string &path)
{
#ifdef _WIN32
    const std::size_t slash = path.find_last_of("/\\");
#else
    const std::size_t slash = path.rfind('/');
#endif
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isIpv6(const std::string &ip)
{
    sockaddr_storage address{};
    return numericAddress(ip, 0, &address) > 0 && address.ss_family == AF_INET6;
}

UdpSocket::~UdpSocket()
{
    if (m_socket != -1)
        closeSocket(Socket(m_socket));
}

bool UdpSocket::open(bool ipv6, std::string *error)
{
    if (!startSockets()) {
        *error = "the socket library did not start";
        return false;
    }
    const Socket s = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == Socket(-1)) {
        *error = lastSocketError();
        return false;
    }
    sockaddr_storage local{};
    const int length = numericAddress(ipv6 ? "::1" : "127.0.0.1", 0, &local);
    if (length == 0 || bind(s, reinterpret_cast<const sockaddr *>(&local), AddressLength(length)) != 0) {
        *error = lastSocketError();
        closeSocket(s);
        return false;
    }
#ifdef _WIN32
    // Otherwise an ICMP "port unreachable" for an earlier datagram fails the
    // next receive with WSAECONNRESET.
    BOOL report = FALSE;
    DWORD returned = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
#endif
    m_socket = std::intptr_t(s);
    return true;
}

bool UdpSocket::setDestination(const std::string &ip, std::uint16_t port)
{
    sockaddr_storage address{};
    const int length = numericAddress(ip, port, &address);
    m_destination.assign(reinterpret_cast<const char *>(&address), std::size_t(length));
    return length > 0;
}

bool UdpSocket::send(const std::string &datagram)
{
    if (m_socket == -1 || m_destination.empty())
        return false;
    sockaddr_storage to{};
    std::memcpy(&to, m_destination.data(), m_destination.size());
    const auto sent = sendto(Socket(m_socket), datagram.data(), int(datagram.size()), 0,
                             reinterpret_cast<const sockaddr *>(&to), AddressLength(m_destination.size()));
    return sent > 0;
}

int UdpSocket::receive(char *buffer, int size)
{
    if (m_socket == -1)
        return -1;
#ifdef _WIN32
    const int flags = 0;
#else
    const int flags = MSG_DONTWAIT;
#endif
    const auto got = recvfrom(Socket(m_socket), buffer, size, flags, nullptr, nullptr);
    return got < 0 ? -1 : int(got);
}

bool UdpSocket::waitReadable(int ms)
{
    if (m_socket == -1)
        return false;
#ifdef _WIN32
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Socket(m_socket), &readable);
    timeval wait{ms / 1000, (ms % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, &wait) > 0;
#else
    pollfd entry{Socket(m_socket), POLLIN, 0};
    return poll(&entry, 1, ms) > 0;
#endif
}

} // namespace Platform
