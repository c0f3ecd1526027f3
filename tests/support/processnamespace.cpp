#include "processnamespace.h"

#include <QByteArray>
#include <QVector>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

const char *const kState = "ZANTRY_PROCESS_NAMESPACE";

// --kill-child: when unshare ends, so does the namespace's first process,
// and with it every process inside.
QStringList unshare(bool userNamespace)
{
    QStringList args{QStringLiteral("unshare")};
    if (userNamespace)
        args << QStringLiteral("--map-root-user");
    return args << QStringLiteral("--pid") << QStringLiteral("--fork") << QStringLiteral("--mount-proc")
                << QStringLiteral("--kill-child") << QStringLiteral("--");
}

struct Argv
{
    explicit Argv(const QStringList &args)
    {
        for (const QString &arg : args)
            bytes.append(arg.toLocal8Bit());
        for (QByteArray &arg : bytes)
            pointers.append(arg.data());
        pointers.append(nullptr);
    }
    QVector<QByteArray> bytes;
    QVector<char *> pointers;
};

// Before QCoreApplication exists, so no QProcess.
bool succeeds(const QStringList &args)
{
    Argv argv(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv.pointers[0], &actions, nullptr, argv.pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return error == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Probe
{
    QStringList unshare;
    QString why;
};

const Probe &probe()
{
    static const Probe found = [] {
        Probe p;
        for (const bool user : {false, true}) {
            if ((user || ::geteuid() == 0) && succeeds(unshare(user) << QStringLiteral("true"))) {
                p.unshare = unshare(user);
                return p;
            }
        }
        p.why = ::geteuid() == 0 ? QStringLiteral("unshare --pid --mount-proc is refused here")
                                 : QStringLiteral("not root, and user namespaces are refused here");
        return p;
    }();
    return found;
}

// The namespace's first process. The tests run as its child, so that what
// they start "from elsewhere" is not their own (orphans come here, not to
// them); it reaps those orphans and ends with the tests' status.
void runAsFirstProcess()
{
    const pid_t tests = ::fork();
    if (tests <= 0) {
        qputenv(kState, "inside");
        return;
    }
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(-1, &status, 0);
        if (ended == tests)
            ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        if (ended < 0 && errno != EINTR)
            ::_exit(1);
    }
}

} // namespace

namespace ProcessNamespace {

bool available(QString *why)
{
    if (why)
        *why = probe().why;
    return !probe().unshare.isEmpty();
}

QStringList launcher()
{
    if (!available())
        return {};
    // setpriv: unshare itself ends with this process and takes the namespace along.
    return QStringList{QStringLiteral("setpriv"), QStringLiteral("--pdeathsig"), QStringLiteral("KILL"), QStringLiteral("--")}
           + probe().unshare;
}

void enter(char *argv[])
{
    const QByteArray state = qgetenv(kState);
    if (state == "init")
        runAsFirstProcess();
    if (!state.isEmpty())
        return;
    QString why;
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (!available(&why) || n <= 0) {
        std::fprintf(stderr, "No process namespace of its own (%s): other runs' games on this machine may pause this test's client.\n",
                     qPrintable(why));
        return;
    }
    self[n] = '\0';
    QStringList args = probe().unshare;
    args << QString::fromLocal8Bit(self);
    for (int i = 1; argv[i]; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    Argv command(args);
    qputenv(kState, "init");
    std::fflush(nullptr);
    ::execvp(command.pointers[0], command.pointers.data());
    std::fprintf(stderr, "No process namespace of its own: unshare: %s\n", std::strerror(errno));
    qputenv(kState, "off");
}

bool entered()
{
    return qgetenv(kState) == "inside";
}

} // namespace ProcessNamespace
