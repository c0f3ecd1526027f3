// bench_session: the client (build/zantry-demo, offscreen, stored token) against
// the sandbox, a tunnel and a bot. For each round it measures the time from
// the start of the process to the ready state (flag set 0x9c8, read from the
// log) and the peak resident memory over one whole match played by the demo
// switch; the baseline is the bot, which runs the same core without a window,
// started in the same round: its time to "BOT state ready" and its peak.
//
// Then start-up with a large map folder: 1 GiB of map files beside the
// ladder's, one ladder map missing so that every file is looked at. The
// first start hashes them all, the second takes their digests from the
// cache; each against a start from an empty map folder in the same round.
// Only start-up is measured there: the client is stopped once ready.
#include "botprocess.h"
#include "clientprocess.h"
#include "maps/mapdigestcache.h"
#include "sandbox.h"
#include "tunnel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kRounds = 3;
constexpr int kMatchMs = 90000;
constexpr qint64 kFillerBytes = qint64(1) << 30;
constexpr int kMaxFillerFiles = 4096;
constexpr int kStartMs = 180000;

// Peak resident set (VmHWM) of a live process, in KiB; 0 once it is gone.
qint64 peakKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.at(v.size() / 2);
}

struct Round
{
    double clientReadyMs = 0;
    double botReadyMs = 0;
    double matchMs = 0;
    qint64 clientPeakKiB = 0;
    qint64 botPeakKiB = 0;
    bool ok = false;
};

Round playRound(TestEnv &env, const QString &clientDir, const QString &botDir)
{
    Round r;
    // The stored token, and a watch list that the other tests' games on a
    // shared machine never match: one of them running paused the queue.
    ClientProcess::writeSettings(env.settingsFile());
    QFile::remove(clientDir + QStringLiteral("/Zantry/zantry-log.txt"));

    BotProcess bot;
    bot.setEnvironment(env.clientEnvironment());
    QElapsedTimer botClock;
    botClock.start();
    if (!bot.start({QStringLiteral("--token"), QStringLiteral("token-bob"), QStringLiteral("--game-dir"), botDir}))
        return r;
    ClientProcess client(clientDir);
    QElapsedTimer clientClock;
    clientClock.start();
    if (!client.start(env.clientEnvironment()))
        return r;

    QDeadlineTimer deadline(kMatchMs);
    while (!deadline.hasExpired() && client.isRunning()) {
        if (r.botReadyMs == 0 && bot.hasLine(QStringLiteral("BOT state ready")))
            r.botReadyMs = botClock.elapsed();
        if (r.clientReadyMs == 0 && ClientProcess::readyLine().match(client.log()).hasMatch())
            r.clientReadyMs = clientClock.elapsed();
        r.clientPeakKiB = qMax(r.clientPeakKiB, peakKiB(client.processId()));
        r.botPeakKiB = qMax(r.botPeakKiB, peakKiB(bot.process().processId()));
        QTest::qWait(10);
    }
    r.matchMs = clientClock.elapsed();
    r.ok = client.waitForExit(0) == 0 && bot.waitForLine(QStringLiteral("BOT done"), 10000) && r.clientReadyMs > 0
           && r.botReadyMs > 0;
    if (!r.ok)
        std::fprintf(stderr, "bench_session: round failed; bot said:\n%s\n", qPrintable(bot.transcript()));
    return r;
}

// Dated a day back like the maps a player has had for a while: the digest
// cache takes no file written just now.
bool backdate(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly)
        && file.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime);
}

// Random map files of 64 KiB to 2 MiB in folder until bytes are written.
// Returns the number of files, 0 on failure.
int writeFiller(const QString &folder, qint64 bytes)
{
    QDir().mkpath(folder);
    quint64 x = 0x9e3779b97f4a7c15ull;
    QByteArray block;
    qint64 total = 0;
    int files = 0;
    for (; files < kMaxFillerFiles && total < bytes; ++files) {
        block.resize(int((64 << 10) + x % (2 << 20)) & ~7);
        auto *words = reinterpret_cast<quint64 *>(block.data());
        for (int w = 0; w < block.size() / 8; ++w) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            words[w] = x;
        }
        QFile file(QStringLiteral("%1/filler%2.map").arg(folder).arg(files, 4, 10, QLatin1Char('0')));
        const bool written = file.open(QIODevice::WriteOnly) && file.write(block) == block.size();
        file.close();
        if (!written || !backdate(file.fileName()))
            return 0;
        total += block.size();
    }
    return total >= bytes ? files : 0;
}

struct Start
{
    double readyMs = 0; // 0: never got there
    int filesRead = 0;
};

Start startToReady(TestEnv &env, const QString &gameDir)
{
    Start s;
    QFile::remove(gameDir + QStringLiteral("/Zantry/zantry-log.txt"));
    ClientProcess client(gameDir);
    QElapsedTimer clock;
    clock.start();
    if (client.start(env.clientEnvironment(), {}) && client.waitForLog(ClientProcess::readyLine(), kStartMs))
        s.readyMs = clock.elapsed();
    s.filesRead = client.log().count(QStringLiteral(" Hashed to "));
    if (s.readyMs == 0)
        std::fprintf(stderr, "bench_session: no ready state in %s; log ends:\n%s\n", qPrintable(gameDir),
                     qPrintable(client.tail()));
    return s;
}

// What the previous start downloaded goes, so every start finds the same folder.
void removeDownloads(const QString &gameDir, const QString &missingMap)
{
    QFile::remove(missingMap);
    QDirIterator it(gameDir + QStringLiteral("/Maps"), {QStringLiteral("*.png")}, QDir::Files, QDirIterator::Subdirectories);
    for (int i = 0; i < kMaxFillerFiles && it.hasNext(); ++i)
        QFile::remove(it.next());
}

bool mapFolderStarts(TestEnv &env)
{
    const QString emptyDir = env.filePath(QStringLiteral("maps-empty"));
    const QString bigDir = env.filePath(QStringLiteral("maps-big"));
    const QStringList report = Sandbox::makeGameFolder(bigDir, {QStringLiteral("--game-maps"), QStringLiteral("all")});
    QString missingMap;
    bool dated = true;
    for (const QString &line : report) {
        if (!line.startsWith(QLatin1String("MAP present ")))
            continue;
        missingMap = line.section(QLatin1Char(' '), 4); // the last one is taken away before each start
        dated = backdate(missingMap) && dated;
    }
    const int fillerFiles = writeFiller(bigDir + QStringLiteral("/Maps/Custom"), kFillerBytes);
    if (Sandbox::makeGameFolder(emptyDir, {QStringLiteral("--game-maps"), QStringLiteral("none")}).isEmpty()
        || missingMap.isEmpty() || !dated || fillerFiles == 0) {
        std::fprintf(stderr, "bench_session: cannot build the map folders\n");
        return false;
    }
    // Logged in, and not held back by other programs' games on this machine.
    ClientProcess::writeSettings(env.settingsFile());
    const QString cacheFile = MapDigestCache::fileFor(QDir(bigDir).absolutePath());
    QList<double> empty, first, second;
    int firstRead = 0, secondRead = 0;
    for (int i = 0; i < kRounds; ++i) {
        QDir(emptyDir + QStringLiteral("/Maps")).removeRecursively();
        const Start e = startToReady(env, emptyDir);
        QFile::remove(cacheFile);
        removeDownloads(bigDir, missingMap);
        const Start f = startToReady(env, bigDir);
        removeDownloads(bigDir, missingMap);
        const Start s = startToReady(env, bigDir);
        if (e.readyMs == 0 || f.readyMs == 0 || s.readyMs == 0)
            return false;
        std::printf("round %d: empty map folder %.0f ms, first start %.0f ms (%d files read), second start %.0f ms "
                    "(%d files read)\n",
                    i + 1, e.readyMs, f.readyMs, f.filesRead, s.readyMs, s.filesRead);
        empty << e.readyMs;
        first << f.readyMs;
        second << s.readyMs;
        firstRead = qMax(firstRead, f.filesRead);
        secondRead = qMax(secondRead, s.filesRead);
    }
    QDir(bigDir).removeRecursively();
    const double base = median(empty);
    std::printf("start-up to ready with %d MiB of maps in %d files, one ladder map missing (median of %d):\n",
                int(kFillerBytes >> 20), fillerFiles, kRounds);
    std::printf("  empty map folder  %6.0f ms\n", base);
    std::printf("  first start       %6.0f ms  ratio %.2f  files read (most) %d\n", median(first), median(first) / base,
                firstRead);
    std::printf("  second start      %6.0f ms  ratio %.2f  files read (most) %d  (goal <= 1.20)\n", median(second),
                median(second) / base, secondRead);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestEnv env;
    TunnelProcess tunnel;
    Sandbox sandbox;
    const QString error = env.isValid() ? sandbox.startWithTunnel(tunnel, env, {QStringLiteral("--checkback"), QStringLiteral("1")})
                                        : QStringLiteral("no test folder");
    if (!error.isEmpty()) {
        std::fprintf(stderr, "bench_session: the services did not start: %s\n", qPrintable(error));
        return 1;
    }
    const QString clientDir = env.filePath(QStringLiteral("game"));
    const QString botDir = env.filePath(QStringLiteral("bot-game"));
    const QStringList allMaps{QStringLiteral("--game-maps"), QStringLiteral("all")};
    if (Sandbox::makeGameFolder(clientDir, allMaps).isEmpty()
        || Sandbox::makeGameFolder(botDir, allMaps + QStringList{QStringLiteral("--link-launchers")}).isEmpty()) {
        std::fprintf(stderr, "bench_session: no game folders\n");
        return 1;
    }

    QList<double> clientReady, botReady, clientPeak, botPeak, match;
    for (int i = 0; i < kRounds; ++i) {
        const Round r = playRound(env, clientDir, botDir);
        if (!r.ok)
            return 1;
        clientReady << r.clientReadyMs;
        botReady << r.botReadyMs;
        clientPeak << r.clientPeakKiB / 1024.0;
        botPeak << r.botPeakKiB / 1024.0;
        match << r.matchMs;
        std::printf("round %d: client ready %.0f ms, bot ready %.0f ms, client peak %.1f MiB, bot peak %.1f MiB, match %.1f s\n",
                    i + 1, r.clientReadyMs, r.botReadyMs, r.clientPeakKiB / 1024.0, r.botPeakKiB / 1024.0, r.matchMs / 1000.0);
    }
    const double ready = median(clientReady), baseReady = median(botReady);
    const double peak = median(clientPeak), basePeak = median(botPeak);
    std::printf("start-up to ready (median of %d): client %.0f ms, bot %.0f ms, ratio %.2f\n", kRounds, ready, baseReady,
                ready / baseReady);
    std::printf("peak memory over a whole match (median of %d): client %.1f MiB, bot %.1f MiB, ratio %.2f\n", kRounds, peak,
                basePeak, peak / basePeak);
    std::printf("whole match, client start to exit (median): %.1f s\n", median(match) / 1000.0);
    return mapFolderStarts(env) ? 0 : 1;
}
