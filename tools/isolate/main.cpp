// isolate: runs a program in a process namespace of its own, with its own
// /proc, for the tests and the demo; see --help.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

volatile sig_atomic_t g_forwardTo = 0;

void forward(int signal)
{
    if (g_forwardTo > 0)
        ::kill(pid_t(g_forwardTo), signal);
}

// Stopping isolate stops the program: the namespace's first process passes
// no signal on by itself.
void forwardSignalsTo(pid_t pid)
{
    g_forwardTo = pid;
    struct sigaction action {};
    action.sa_handler = forward;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2})
        sigaction(signal, &action, nullptr);
}

int statusOf(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool writeFile(const char *path, const std::string &text)
{
    FILE *file = std::fopen(path, "w");
    const bool written = file && std::fputs(text.c_str(), file) >= 0;
    return file && std::fclose(file) == 0 && written;
}

// As root the namespaces themselves; otherwise inside a user namespace in
// which this user is root.
bool unshareAll(std::string *why)
{
    if (::geteuid() != 0) {
        const std::string uid = std::to_string(::getuid()), gid = std::to_string(::getgid());
        if (::unshare(CLONE_NEWUSER) != 0) {
            *why = std::string("no user namespace: ") + std::strerror(errno);
            return false;
        }
        if (!writeFile("/proc/self/setgroups", "deny") || !writeFile("/proc/self/uid_map", "0 " + uid + " 1")
            || !writeFile("/proc/self/gid_map", "0 " + gid + " 1")) {
            *why = std::string("no user mapping: ") + std::strerror(errno);
            return false;
        }
    }
    if (::unshare(CLONE_NEWPID | CLONE_NEWNS) != 0) {
        *why = std::string("no process namespace: ") + std::strerror(errno);
        return false;
    }
    return true;
}

// The namespace's first process: its end ends every process inside. It ends
// with isolate, even a killed one; the program runs as its child, so that
// orphans come here rather than to the program, and are reaped.
[[noreturn]] void firstProcess(int isolateAlive, char **program)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // isolate may have ended before that: its end of the pipe is then closed.
    pollfd alive{isolateAlive, POLLIN, 0};
    if (::poll(&alive, 1, 0) != 0)
        ::_exit(125);
    ::close(isolateAlive);
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0) {
        std::fprintf(stderr, "isolate: no /proc of its own: %s\n", std::strerror(errno));
        ::_exit(125);
    }
    if (!*program)
        ::_exit(0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp(program[0], program);
        std::fprintf(stderr, "isolate: %s: %s\n", program[0], std::strerror(errno));
        ::_exit(127);
    }
    forwardSignalsTo(child);
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(-1, &status, 0);
        if (ended == child)
            ::_exit(statusOf(status));
        if (ended < 0 && errno != EINTR)
            ::_exit(125);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    const std::string first = argc > 1 ? argv[1] : "";
    if (first == "--help" || argc < 2) {
        std::printf("%s",
                    "Usage: isolate --check | [--] <program> [<argument>...]\n"
                    "Runs the program in a process namespace of its own, with its own /proc: it sees only\n"
                    "the processes started inside, and they all end when isolate ends, even by SIGKILL.\n"
                    "As root, or else through a user namespace. SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1\n"
                    "and SIGUSR2 are passed on to the program. --check makes one and reports.\n"
                    "Exit codes: the program's (128 + signal when it was killed), 125 no namespace here\n"
                    "(the reason on standard error), 127 the program could not be started.\n");
        return argc < 2 ? 2 : 0;
    }
    // Started by a test or the demo script: ends with it, even a killed one.
    if (std::getenv("ZANTRY_DIE_WITH_PARENT"))
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    char **program = argv + 1;
    if (first == "--check" || first == "--")
        ++program;
    if (first == "--check")
        *program = nullptr;
    std::string why;
    if (!unshareAll(&why)) {
        std::fprintf(stderr, "isolate: %s\n", why.c_str());
        return 125;
    }
    int alive[2];
    const pid_t namespaceFirst = ::pipe2(alive, O_CLOEXEC) == 0 ? ::fork() : -1;
    if (namespaceFirst < 0) {
        std::fprintf(stderr, "isolate: %s\n", std::strerror(errno));
        return 125;
    }
    if (namespaceFirst == 0) {
        ::close(alive[1]);
        firstProcess(alive[0], program);
    }
    ::close(alive[0]);
    forwardSignalsTo(namespaceFirst);
    int status = 0;
    while (::waitpid(namespaceFirst, &status, 0) < 0 && errno == EINTR) {
    }
    return statusOf(status);
}
