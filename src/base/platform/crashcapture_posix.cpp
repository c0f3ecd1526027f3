#include "platform/crashcapture.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kPathMax = 4096;

// Filled by installCrashCapture(); only read on the fault path.
char s_dir[kPathMax];
char s_logPath[kPathMax];
char s_version[64];
long s_utcOffset = 0;
int s_inHandler = 0;
alignas(16) char s_altStack[64 * 1024];

// A fixed buffer with the few number formats the record needs; no
// allocation, no locale, no stdio.
template<size_t N>
struct Text
{
    char data[N];
    size_t len = 0;

    void add(const char *s)
    {
        while (*s && len + 1 < N)
            data[len++] = *s++;
        data[len] = '\0';
    }
    void addUnsigned(unsigned long long value, unsigned base, int width = 1)
    {
        char digits[32];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[value % base];
            value /= base;
        } while (value && n < 32);
        while (n < width && n < 32)
            digits[n++] = '0';
        while (n > 0 && len + 1 < N)
            data[len++] = digits[--n];
        data[len] = '\0';
    }
    void addSigned(long long value)
    {
        if (value < 0) {
            add("-");
            addUnsigned(0ULL - static_cast<unsigned long long>(value), 10);
        } else {
            addUnsigned(static_cast<unsigned long long>(value), 10);
        }
    }
};

void writeAll(int fd, const char *data, size_t len)
{
    while (len > 0) {
        const ssize_t n = ::write(fd, data, len);
        if (n <= 0)
            return;
        data += n;
        len -= size_t(n);
    }
}

template<size_t N>
void writeText(int fd, const Text<N> &text)
{
    writeAll(fd, text.data, text.len);
}

struct CivilTime
{
    long long year;
    unsigned month, day, hour, minute, second;
};

// Days since 1970-01-01 to a calendar date (H. Hinnant's algorithm), since
// localtime_r() may take locks and is not safe in a signal handler.
CivilTime civilTime(long long secs)
{
    long long days = secs / 86400;
    long long rem = secs % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    const long long z = days + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const unsigned day = unsigned(doy - (153 * mp + 2) / 5 + 1);
    const unsigned month = unsigned(mp < 10 ? mp + 3 : mp - 9);
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day, unsigned(rem / 3600), unsigned(rem % 3600 / 60), unsigned(rem % 60)};
}

uintptr_t instructionAddress(const siginfo_t *info, void *context)
{
    const auto *uc = static_cast<const ucontext_t *>(context);
#if defined(__x86_64__)
    if (uc)
        return uintptr_t(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    if (uc)
        return uintptr_t(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    if (uc)
        return uintptr_t(uc->uc_mcontext.pc);
#elif defined(__arm__)
    if (uc)
        return uintptr_t(uc->uc_mcontext.arm_pc);
#else
    (void)uc;
#endif
    return uintptr_t(info ? info->si_addr : nullptr);
}

const char *signalName(int sig)
{
    switch (sig) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    default: return "?";
    }
}

void copyFile(const char *from, const char *to)
{
    const int in = ::open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return;
    const int out = ::open(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out >= 0) {
        char buffer[8192];
        ssize_t n;
        while ((n = ::read(in, buffer, sizeof(buffer))) > 0)
            writeAll(out, buffer, size_t(n));
        ::close(out);
    }
    ::close(in);
}

void writeRecord(int fd, int sig, const siginfo_t *info, uintptr_t ip, long tid, const CivilTime &t)
{
    Text<1024> r;
    r.add("Zantry crash record\nversion: ");
    r.add(s_version);
    r.add("\nsignal: ");
    r.addSigned(sig);
    r.add(" (");
    r.add(signalName(sig));
    r.add(")\ncode: ");
    r.addSigned(info ? info->si_code : 0);
    r.add("\nfault address: 0x");
    r.addUnsigned(uintptr_t(info ? info->si_addr : nullptr), 16);
    r.add("\ninstruction address: 0x");
    r.addUnsigned(ip, 16);
    r.add("\nthread: ");
    r.addSigned(tid);
    r.add("\nprocess: ");
    r.addSigned(::getpid());
    r.add("\nlocal time: ");
    r.addSigned(t.year);
    r.add("-");
    r.addUnsigned(t.month, 10, 2);
    r.add("-");
    r.addUnsigned(t.day, 10, 2);
    r.add(" ");
    r.addUnsigned(t.hour, 10, 2);
    r.add(":");
    r.addUnsigned(t.minute, 10, 2);
    r.add(":");
    r.addUnsigned(t.second, 10, 2);
    r.add("\nbacktrace:\n");
    writeText(fd, r);
    void *frames[64];
    const int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);
}

void restoreDefault(int sig)
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    ::sigaction(sig, &sa, nullptr);
}

void onFatalSignal(int sig, siginfo_t *info, void *context)
{
    // A second faulting thread, or a fault inside this handler, goes
    // straight to the default action.
    if (__atomic_exchange_n(&s_inHandler, 1, __ATOMIC_SEQ_CST) == 0) {
        const uintptr_t ip = instructionAddress(info, context);
        struct timespec now;
        ::clock_gettime(CLOCK_REALTIME, &now);
        const CivilTime t = civilTime(static_cast<long long>(now.tv_sec) + s_utcOffset);
        const long tid = long(::syscall(SYS_gettid));

        Text<kPathMax> stem;
        stem.add(s_dir);
        stem.addUnsigned(ip, 16);
        stem.add("-");
        stem.addSigned(t.year);
        stem.addUnsigned(t.month, 10, 2);
        stem.addUnsigned(t.day, 10, 2);
        stem.add("-");
        stem.addUnsigned(t.hour, 10, 2);
        stem.addUnsigned(t.minute, 10, 2);
        stem.addUnsigned(t.second, 10, 2);
        stem.add("-");
        stem.addSigned(tid);
        Text<kPathMax> dump = stem;
        dump.add(".dmp");
        Text<kPathMax> logCopy = stem;
        logCopy.add(".log");

        const int fd = ::open(dump.data, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) {
            writeRecord(fd, sig, info, ip, tid, t);
            ::close(fd);
        }
        copyFile(s_logPath, logCopy.data);
    }
    // The signal stays blocked until the handler returns; then the default
    // action ends the process with the original signal (a hardware fault
    // simply happens again).
    restoreDefault(sig);
    ::raise(sig);
}

bool copyPath(char *to, const QString &path)
{
    const QByteArray bytes = QFile::encodeName(path);
    if (size_t(bytes.size()) + 64 >= kPathMax)
        return false;
    std::memcpy(to, bytes.constData(), size_t(bytes.size()) + 1);
    return true;
}

} // namespace

bool installCrashCapture(const QString &dataDir, const QString &logPath, const QString &version)
{
    if (!copyPath(s_dir, QDir(dataDir).absolutePath() + QLatin1Char('/'))
        || !copyPath(s_logPath, QFileInfo(logPath).absoluteFilePath()))
        return false;
    const QByteArray v = version.toUtf8().left(int(sizeof(s_version)) - 1);
    std::memcpy(s_version, v.constData(), size_t(v.size()) + 1);

    const time_t now = ::time(nullptr);
    struct tm local;
    if (::localtime_r(&now, &local))
        s_utcOffset = local.tm_gmtoff;

    // The first backtrace() loads the unwinder, which allocates.
    void *frames[4];
    ::backtrace(frames, 4);

    // Own stack, so a stack overflow is still recorded.
    stack_t alt;
    std::memset(&alt, 0, sizeof(alt));
    alt.ss_sp = s_altStack;
    alt.ss_size = sizeof(s_altStack);
    ::sigaltstack(&alt, nullptr);

    struct sigaction sa;
    std::memset(&sa, 0, sizeof(sa));
    sa.sa_sigaction = onFatalSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    bool ok = true;
    for (int sig : kFatalSignals)
        ok = ::sigaction(sig, &sa, nullptr) == 0 && ok;
    return ok;
}

} // namespace Platform
