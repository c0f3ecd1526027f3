#include "logcapture.h"
#include "maps/mapdownloader.h"
#include "maptestutil.h"
#include "testenv.h"

#include <QSignalSpy>
#include <QtTest>

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

// A game folder holding kMaps, made the current game; ends with "/".
QString gameWithMaps(TestEnv &env)
{
    const QString game = env.filePath(QStringLiteral("work/game/"));
    for (const auto &map : kMaps)
        MapTest::writeFile(game + map.first, map.second);
    MapTest::useGame(game);
    return game;
}

} // namespace

class TestMapScan : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { MapTest::forgetGames(); }

    void listsEveryMapFolderInOrder()
    {
        TestEnv env;
        const QString game = gameWithMaps(env);
        MapTest::writeFile(game + QStringLiteral("Maps/Standards/.hidden"), "x");
        MapTest::writeFile(game + QStringLiteral("Maps/Standards/sub/f.map"), "x");
        MapDownloader downloader;
        QStringList expected;
        for (const auto &map : kMaps)
            expected.append(game + map.first);
        QCOMPARE(downloader.mapFiles(), expected);
        QCOMPARE(downloader.state(), 1);
    }

    void noFileIsHashedTwice()
    {
        TestEnv env;
        const QString game = gameWithMaps(env);
        LogCapture log;
        MapDownloader downloader;

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

    // Digests are compared as lower-case text; of two identical files the
    // later one scanned is kept.
    void digestMatching()
    {
        TestEnv env;
        const QString game = env.filePath(QStringLiteral("work/game/"));
        MapTest::writeFile(game + QStringLiteral("Maps/Standards/one.map"), "same");
        MapTest::writeFile(game + QStringLiteral("Maps/Custom/two.map"), "same");
        MapTest::writeFile(game + QStringLiteral("Maps/Custom/a.map"), "alpha");
        MapTest::useGame(game);
        MapDownloader downloader;
        downloader.setMaps({sha1("alpha").toUpper()});
        QVERIFY(downloader.mapFilePath(sha1("alpha").toUpper()).isNull());
        QCOMPARE(downloader.mapFilePath(sha1("alpha")), game + QStringLiteral("Maps/Custom/a.map"));
        QCOMPARE(downloader.mapFilePath(sha1("same")), game + QStringLiteral("Maps/Custom/two.map"));
    }

    void emptyListStillSignals()
    {
        TestEnv env;
        MapTest::useGame(env.filePath(QStringLiteral("work/game/")));
        MapDownloader downloader;
        QList<int> states;
        connect(&downloader, &MapDownloader::stateChanged, this, [&] { states.append(downloader.state()); });
        QSignalSpy download(&downloader, &MapDownloader::signalDownload);
        downloader.setMaps({});
        QCOMPARE(states, QList<int>({2, 3}));
        QCOMPARE(download.count(), 1);
        // Nothing wanted and no previews listed: the chain ends at once.
        QTRY_COMPARE(downloader.state(), 4);
        QCOMPARE(states, QList<int>({2, 3, 4}));
        downloader.setMaps({});
        QCOMPARE(states, QList<int>({2, 3, 4, 2, 3}));
    }

    void noGamesMeansNoFiles()
    {
        TestEnv env;
        LogCapture log;
        MapDownloader downloader;
        QVERIFY(downloader.mapFiles().isEmpty());
        downloader.setMaps({sha1("alpha")});
        QCOMPARE(downloader.state(), 3);
        QCOMPARE(filesHashed(log), 0);
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
        MapDownloader downloader;
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
};

QTEST_GUILESS_MAIN(TestMapScan)
#include "tst_mapscan.moc"
