// Map hashing: about 1 GB of synthetic map files (a thousand files of
// 50 KB to 2 MB) matched by MapDownloader, against sha1sum and
// `openssl dgst -sha1` over the same files in the same run. Prints the
// best of three rounds for each, the ratios, and the longest time the
// event loop went without a turn while MapDownloader hashed. The digest
// cache lives in the temporary folder and is emptied before each hashing
// run; one more run per round reads every digest from it.
#include "maps/mapdownloader.h"
#include "spawn/gamecatalogue.h"
#include "spawn/spawnablegame.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &) { }

quint64 s_state = 0x9e3779b97f4a7c15ull;
quint64 next()
{
    s_state ^= s_state << 13;
    s_state ^= s_state >> 7;
    s_state ^= s_state << 17;
    return s_state;
}

QStringList makeFiles(const QString &dir, int count, qint64 *total)
{
    QStringList paths;
    QDir().mkpath(dir);
    QByteArray block;
    for (int i = 0; i < count; ++i) {
        const int size = 50 * 1024 + int(next() % (2 * 1024 * 1024 - 50 * 1024));
        block.resize(size);
        auto *words = reinterpret_cast<quint64 *>(block.data());
        for (int w = 0; w < size / 8; ++w)
            words[w] = next();
        const QString path = QStringLiteral("%1/map%2.map").arg(dir).arg(i, 4, 10, QLatin1Char('0'));
        QFile file(path);
        // Dated back, as a player's maps are: the cache takes no file written just now.
        if (!file.open(QIODevice::WriteOnly) || file.write(block) != size || !file.flush()
            || !file.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime))
            return {};
        paths.append(path);
        *total += size;
    }
    return paths;
}

// Digest per path from the tool's output, and the wall time of the run.
double runTool(
    const QString &program, const QStringList &args, const QStringList &files, QHash<QString, QString> *digests)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(program, args + files);
    process.waitForFinished(-1);
    const double seconds = timer.nsecsElapsed() / 1e9;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        if (line.startsWith("SHA1(")) { // openssl: SHA1(path)= digest
            const int close = line.lastIndexOf(")= ");
            digests->insert(QString::fromLocal8Bit(line.mid(5, close - 5)), QString::fromLatin1(line.mid(close + 3)));
        } else if (line.size() > 42) { // sha1sum: digest, two spaces, path
            digests->insert(QString::fromLocal8Bit(line.mid(42)), QString::fromLatin1(line.left(40)));
        }
    }
    return seconds;
}

struct Run
{
    double seconds = 0;
    double longestStallMs = 0;
    int wrong = 0;
};

Run runDownloader(GameCatalogue *games, const QStringList &files, const QHash<QString, QString> &expected, int sliceMs)
{
    Run run;
    QEventLoop loop;
    QElapsedTimer timer, sinceTick;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        run.longestStallMs = std::max(run.longestStallMs, sinceTick.nsecsElapsed() / 1e6);
        sinceTick.start();
    });
    timer.start();
    sinceTick.start();
    ticker.start();
    MapDownloader downloader(games);
    if (sliceMs >= 0)
        downloader.setScanSlice(sliceMs);
    QObject::connect(&downloader, &MapDownloader::stateChanged, &loop, [&] {
        if (downloader.state() == MapDownloader::Downloading)
            loop.quit();
    });
    // A digest no file has: every file is read once.
    downloader.setMaps({QString(40, QLatin1Char('0'))});
    if (downloader.state() != MapDownloader::Downloading)
        loop.exec();
    run.longestStallMs = std::max(run.longestStallMs, sinceTick.nsecsElapsed() / 1e6);
    run.seconds = timer.nsecsElapsed() / 1e9;
    for (const QString &path : files) {
        if (downloader.mapFilePath(expected.value(path)) != path)
            ++run.wrong;
    }
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    // Nothing here may reach a real host: every endpoint is a closed port.
    for (const char *name :
        {"ZANTRY_SITE_URL", "ZANTRY_MASTER_LIST_URL", "ZANTRY_MAP_DB_URL", "ZANTRY_LOG_COLLECTOR_URL"})
        qputenv(name, "http://127.0.0.1:9");
    qputenv("ZANTRY_PING_HOST", "ping.sandbox.test");
    qputenv("ZANTRY_DNS_SERVER", "127.0.0.1:9");
    qputenv("ZANTRY_HOME_ROUTER", "127.0.0.1");
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption filesOption(QStringLiteral("files"), QStringLiteral("Number of map files (1000)."),
        QStringLiteral("n"), QStringLiteral("1000"));
    const QCommandLineOption roundsOption(
        QStringLiteral("rounds"), QStringLiteral("Rounds, best counts (3)."), QStringLiteral("n"), QStringLiteral("3"));
    parser.addOptions({filesOption, roundsOption});
    parser.process(app);
    qInstallMessageHandler(quiet);

    QTemporaryDir temp;
    const QString cacheHome = temp.path() + QStringLiteral("/cache");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome));
    const QString game = temp.path() + QStringLiteral("/game/");
    qint64 total = 0;
    const QStringList files
        = makeFiles(game + QStringLiteral("Maps/Custom"), parser.value(filesOption).toInt(), &total);
    if (files.isEmpty()) {
        std::fprintf(stderr, "maphash: cannot write the map files under %s\n", qPrintable(temp.path()));
        return 1;
    }
    GameCatalogue games;
    SpawnableGame *yr = games.add(QStringLiteral("yr"));
    yr->workingDir = game;
    games.setCurrent(yr);

    const QString sha1sum = QStandardPaths::findExecutable(QStringLiteral("sha1sum"));
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    double bestSha1sum = 1e9, bestOpenssl = 1e9;
    Run sliced{1e9, 0, 0}, blocking{1e9, 0, 0}, cached{1e9, 0, 0};
    QHash<QString, QString> expected;
    const int rounds = std::max(1, parser.value(roundsOption).toInt());
    for (int round = 0; round < rounds; ++round) {
        if (!sha1sum.isEmpty())
            bestSha1sum = std::min(bestSha1sum, runTool(sha1sum, {}, files, &expected));
        if (!openssl.isEmpty())
            bestOpenssl = std::min(
                bestOpenssl, runTool(openssl, {QStringLiteral("dgst"), QStringLiteral("-sha1")}, files, &expected));
        QDir(cacheHome).removeRecursively();
        const Run s = runDownloader(&games, files, expected, -1);
        if (s.seconds < sliced.seconds)
            sliced = s;
        const Run c = runDownloader(&games, files, expected, -1);
        if (c.seconds < cached.seconds)
            cached = c;
        // The whole scan in one turn, as a scan without slices would run.
        QDir(cacheHome).removeRecursively();
        const Run b = runDownloader(&games, files, expected, 1 << 30);
        if (b.seconds < blocking.seconds)
            blocking = b;
    }

    std::printf("maphash: %d files, %.0f MiB, best of %d rounds\n", int(files.size()), total / 1048576.0, rounds);
    std::printf("  sha1sum                      %7.3f s\n", bestSha1sum);
    std::printf("  openssl dgst -sha1           %7.3f s\n", bestOpenssl);
    std::printf("  MapDownloader (10 ms slices) %7.3f s  longest event-loop stall %6.1f ms  wrong %d\n", sliced.seconds,
        sliced.longestStallMs, sliced.wrong);
    std::printf("  MapDownloader (one slice)    %7.3f s  longest event-loop stall %6.1f ms  wrong %d\n",
        blocking.seconds, blocking.longestStallMs, blocking.wrong);
    std::printf("  MapDownloader (from cache)   %7.3f s  longest event-loop stall %6.1f ms  wrong %d\n", cached.seconds,
        cached.longestStallMs, cached.wrong);
    std::printf("  ratio MapDownloader / openssl  %.2f (goal <= 1.20)\n", sliced.seconds / bestOpenssl);
    std::printf("  ratio MapDownloader / sha1sum  %.2f\n", sliced.seconds / bestSha1sum);
    std::printf("  ratio from cache / hashing     %.3f\n", cached.seconds / sliced.seconds);
    return sliced.wrong || blocking.wrong || cached.wrong || expected.isEmpty() ? 1 : 0;
}
