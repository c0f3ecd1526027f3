#include "logcapture.h"
#include "maps/mapdigestcache.h"
#include "maps/mapdownloader.h"
#include "maptestutil.h"
#include "testenv.h"

#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h>

using MapTest::sha1;

namespace {

// Maps in two of the scanned folders, listed in this order by the scan.
const QList<QPair<QString, QByteArray>> kMaps = {
    {"Maps/Standards/a.map", "alpha"},
    {"Maps/Standards/B.map", "bravo"},
    {"Maps/Standards/c.map", "charlie"},
    {"Maps/Custom/d.map", "delta"},
    {"Maps/Aftermath/e.map", "echo"},
};

int filesHashed(const LogCapture &log)
{
    return log.count(QStringLiteral(" Hashed to "));
}

// Long enough ago for the digest cache to trust the files; to the millisecond.
const QDateTime kLongAgo = QDateTime::fromMSecsSinceEpoch(Q_INT64_C(1600000000123));

// A game folder holding kMaps (or the same sizes in upper case), made the
// current game; ends with "/".
QString gameWithMaps(TestEnv &env, const QString &folder = QStringLiteral("work/game/"), bool upper = false)
{
    const QString game = env.filePath(folder);
    for (const auto &map : kMaps)
        MapTest::writeFile(game + map.first, upper ? map.second.toUpper() : map.second, kLongAgo);
    MapTest::useGame(game);
    return game;
}

// Every file is looked at, in one turn: none has this digest.
void scanEverything(MapDownloader &downloader)
{
    downloader.setScanSlice(1 << 30);
    downloader.setMaps({sha1("not here")});
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestMapScan : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { MapTest::forgetGames(); }

    void noFileIsHashedTwice()
    {
        TestEnv env;
        const QString game = gameWithMaps(env);
        LogCapture log;
        MapDownloader downloader(MapTest::games());
        // Counted right after each call: one slice must hold the whole scan.
        downloader.setScanSlice(1 << 30);

        downloader.setMaps({sha1("bravo")});
        QCOMPARE(filesHashed(log), 2); // stops at the wanted file
        QCOMPARE(downloader.mapFilePath(sha1("bravo")), game + QStringLiteral("Maps/Standards/B.map"));

        downloader.setMaps({sha1("alpha"), sha1("bravo")});
        QCOMPARE(filesHashed(log), 2); // both known already

        downloader.setMaps({sha1("not here"), sha1("delta")});
        QCOMPARE(filesHashed(log), 5);
        QVERIFY(downloader.mapFilePath(sha1("not here")).isNull());
        QCOMPARE(downloader.mapFilePath(sha1("echo")), game + QStringLiteral("Maps/Aftermath/e.map"));

        downloader.setMaps({sha1("not here"), sha1("charlie")});
        QCOMPARE(filesHashed(log), 5);
        QVERIFY(log.contains(
            QStringLiteral("File: ") + game + QStringLiteral("Maps/Standards/a.map Hashed to ") + sha1("alpha")));
    }

    // With the shortest slice the scan hashes one file per event-loop turn;
    // a new list arriving in between restarts the match without reading any
    // file twice or running two scans.
    void slicedScanResumesAcrossTurns()
    {
        TestEnv env;
        const QString game = gameWithMaps(env);
        MapTest::writeFile(game + QStringLiteral("Maps/Aftermath/z.map"), QByteArray(3 << 20, 'z'));
        LogCapture log;
        MapDownloader downloader(MapTest::games());
        downloader.setScanSlice(0);
        QSignalSpy download(&downloader, &MapDownloader::signalDownload);

        downloader.setMaps({sha1("echo")});
        QCOMPARE(downloader.state(), 2);
        QCOMPARE(filesHashed(log), 1);
        QCoreApplication::processEvents();
        downloader.setMaps({sha1("delta"), sha1(QByteArray(3 << 20, 'z'))});
        QTRY_VERIFY(downloader.state() >= 3);
        QCOMPARE(download.count(), 1);
        QCOMPARE(filesHashed(log), 6);
        QCOMPARE(log.count(QStringLiteral("Maps/Standards/a.map Hashed to")), 1);
        QCOMPARE(downloader.mapFilePath(sha1(QByteArray(3 << 20, 'z'))), game + QStringLiteral("Maps/Aftermath/z.map"));
    }

    // A file unchanged since it was hashed is not read again, even by the
    // next run; one changed since (same size, a millisecond later) or
    // written just now is.
    void digestCacheSparesUnchangedFiles()
    {
        TestEnv env;
        const QString game = gameWithMaps(env);
        const QString bravo = game + kMaps.at(1).first;
        LogCapture log;
        for (int run = 0; run < 2; ++run) {
            MapDownloader downloader(MapTest::games());
            scanEverything(downloader);
            for (const auto &map : kMaps)
                QCOMPARE(downloader.mapFilePath(sha1(map.second)), game + map.first);
        }
        QCOMPARE(filesHashed(log), 5);
        MapTest::writeFile(bravo, "BRAVO", kLongAgo.addMSecs(1));
        MapDownloader changed(MapTest::games());
        scanEverything(changed);
        QCOMPARE(filesHashed(log), 6);
        QCOMPARE(changed.mapFilePath(sha1("BRAVO")), bravo);
        QVERIFY(changed.mapFilePath(sha1("bravo")).isNull());
        MapTest::writeFile(bravo, "bravo");
        for (int run = 0; run < 2; ++run) {
            MapDownloader downloader(MapTest::games());
            scanEverything(downloader);
        }
        QCOMPARE(filesHashed(log), 8);
    }

    // Each game folder has its own digest cache; one damaged or kept for
    // another folder is ignored with one line and written anew.
    void digestCachePerGameFolder()
    {
        TestEnv env;
        const QString other = gameWithMaps(env, QStringLiteral("work/other/"), true);
        MapDownloader otherRun(MapTest::games());
        scanEverything(otherRun);
        const QString game = gameWithMaps(env);
        LogCapture log;
        MapDownloader gameRun(MapTest::games());
        scanEverything(gameRun);
        QCOMPARE(filesHashed(log), 5); // same names, sizes and times as the other folder's
        QCOMPARE(gameRun.mapFilePath(sha1("alpha")), game + kMaps.at(0).first);

        const QString cacheFile = MapDigestCache::fileFor(QDir(game).absolutePath());
        const QByteArray good = readFile(cacheFile);
        const QByteArray foreign = readFile(MapDigestCache::fileFor(QDir(other).absolutePath()));
        QVERIFY(!good.isEmpty() && !foreign.isEmpty());
        const int countAt = 8 + QDir(game).absolutePath().toUtf8().size();
        const QList<QByteArray> damaged{foreign, good.left(good.size() - 1), good + '\0', QByteArray("ZMDC\0\2", 6),
            QByteArray(good).replace(6, 2, "\xff\xff"), QByteArray(good).replace(countAt, 4, QByteArray(4, '\x7f'))};
        for (const QByteArray &bad : damaged) {
            MapTest::writeFile(cacheFile, bad);
            log.clear();
            MapDownloader downloader(MapTest::games());
            scanEverything(downloader);
            QCOMPARE(log.count(QStringLiteral("digest cache")), 1);
            QCOMPARE(filesHashed(log), 5);
            QCOMPARE(downloader.mapFilePath(sha1("echo")), game + kMaps.at(4).first);
            QCOMPARE(readFile(cacheFile), good);
        }
    }

    // Links to a pipe or a device among the maps, and a pipe or a link in the
    // digest cache's place: the scan neither hangs nor reads forever, and
    // nothing is written through the link.
    void specialFilesNeverHangTheScan()
    {
        TestEnv env;
        const QString game = gameWithMaps(env);
        QVERIFY(::mkfifo(QFile::encodeName(env.filePath(QStringLiteral("pipe"))).constData(), 0600) == 0);
        QVERIFY(QFile::link(env.filePath(QStringLiteral("pipe")), game + QStringLiteral("Maps/Standards/pipe.map")));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), game + QStringLiteral("Maps/Standards/zero.map")));
        const QString cacheFile = MapDigestCache::fileFor(QDir(game).absolutePath());
        const QString victim = env.filePath(QStringLiteral("victim"));
        MapTest::writeFile(victim, "keep");
        QDir().mkpath(QFileInfo(cacheFile).absolutePath());
        for (const bool pipe : {true, false}) {
            QFile::remove(cacheFile);
            QVERIFY(pipe ? ::mkfifo(QFile::encodeName(cacheFile).constData(), 0600) == 0 : QFile::link(victim, cacheFile));
            LogCapture log;
            MapDownloader downloader(MapTest::games());
            scanEverything(downloader);
            QCOMPARE(downloader.mapFiles().size(), kMaps.size());
            QCOMPARE(log.count(QStringLiteral("not a regular file")), 4); // two maps, cache read and write
            QCOMPARE(downloader.mapFilePath(sha1("echo")), game + kMaps.at(4).first);
            QCOMPARE(QFileInfo(cacheFile).isSymLink(), !pipe);
        }
        QCOMPARE(readFile(victim), QByteArray("keep"));
    }
};

QTEST_GUILESS_MAIN(TestMapScan)
#include "tst_mapscan.moc"
