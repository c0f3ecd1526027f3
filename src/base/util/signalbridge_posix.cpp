#include "util/signalbridge.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int s_fds[2] = {-1, -1};

void onSignal(int signum)
{
    const char c = char(signum);
    [[maybe_unused]] ssize_t n = ::write(s_fds[0], &c, 1);
}
} // namespace

SignalBridge::SignalBridge()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, s_fds) != 0)
        return;
    m_notifier = new QSocketNotifier(s_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this]() {
        char c;
        [[maybe_unused]] ssize_t n = ::read(s_fds[1], &c, 1);
        emit quitRequested();
    });
}

SignalBridge *SignalBridge::instance()
{
    static SignalBridge *bridge = new SignalBridge;
    return bridge;
}

void SignalBridge::install()
{
    instance();
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}
