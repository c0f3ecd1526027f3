// bench_session: the client (build/zantry, offscreen, stored token) against
// the sandbox, a tunnel and a bot. For each round it measures the time from
// the start of the process to the ready state (flag set 0x9c8, read from the
// log) and the peak resident memory over one whole match played by the demo
// switch; the baseline is the bot, which runs the same core without a window,
// started in the same round: its time to "BOT state ready" and its peak.
#include "botprocess.h"
#include "clientprocess.h"
#include "sandbox.h"
#include "tunnel.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kRounds = 3;
constexpr int kMatchMs = 90000;

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
    QSettings(env.settingsFile(), QSettings::IniFormat).setValue(QStringLiteral("accessToken"), QStringLiteral("token-alice"));
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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestEnv env;
    TunnelProcess tunnel;
    Sandbox sandbox;
    if (!env.isValid() || !tunnel.start()) {
        std::fprintf(stderr, "bench_session: no tunnel: %s\n", qPrintable(tunnel.errorText()));
        return 1;
    }
    if (!sandbox.start({QStringLiteral("--tunnel"), QStringLiteral("%1:%2").arg(tunnel.address()).arg(tunnel.relayPort()),
                        QStringLiteral("--checkback"), QStringLiteral("1")})) {
        std::fprintf(stderr, "bench_session: no sandbox: %s\n", qPrintable(sandbox.errorText()));
        return 1;
    }
    env.setEndpoints(sandbox.endpoints());
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
    return 0;
}
