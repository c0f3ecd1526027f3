#include "app/ziparchive.h"
#include "logcapture.h"
#include "maps/mapdownloader.h"
#include "maptestutil.h"
#include "testenv.h"

#include <QtTest>

using MapTest::sha1;

namespace {

QString archivePath(const QString &digest)
{
    return QStringLiteral("/mapdb/yr//") + digest + QStringLiteral(".zip");
}

QString previewPath(const QString &digest)
{
    return QStringLiteral("/images/maps/yr/") + digest + QStringLiteral(".png");
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestMapDownload : public QObject
{
    Q_OBJECT
private:
    // A game folder with two local maps, one name holding two dots.
    struct Game
    {
        TestEnv env;
        HttpStub server;
        QString folder;
        QString custom;
        Game()
        {
            QVERIFY(server.listen());
            env.setEndpoints(TestEnv::sandboxEndpoints(server.url()));
            folder = env.filePath(QStringLiteral("work/game/"));
            custom = folder + QStringLiteral("Maps/Custom/");
            MapTest::writeFile(folder + QStringLiteral("Maps/Standards/have.map"), "have");
            MapTest::writeFile(custom + QStringLiteral("two.dots.map"), "dots");
            MapTest::useGame(folder);
        }
    };

private slots:
    void cleanup() { MapTest::forgetGames(); }

    void fetchesMissingMapsThenPreviews()
    {
        Game game;
        // The database names a map by the digest the service knows, which
        // need not be the digest of the file inside.
        const QString missing = sha1("the map as the service knows it");
        game.server.set(archivePath(missing), {200, ZipArchive::build({{"Fetched Map.map", "fetched"}}), false});
        for (const QString &digest : {sha1("have"), sha1("dots"), missing})
            game.server.set(previewPath(digest), {200, "PNG of " + digest.toLatin1(), false});

        MapDownloader downloader;
        downloader.setMaps({sha1("have"), missing, sha1("dots")});
        QTRY_COMPARE(downloader.state(), 4);
        QCOMPARE(game.server.requests(),
            QStringList(
                {archivePath(missing), previewPath(sha1("have")), previewPath(missing), previewPath(sha1("dots"))}));
        QCOMPARE(game.server.maxInFlight(), 1);
        QCOMPARE(downloader.mapFilePath(missing), game.custom + QStringLiteral("Fetched Map.map"));
        QCOMPARE(readFile(game.custom + QStringLiteral("Fetched Map.map")), QByteArray("fetched"));
        QCOMPARE(
            readFile(game.folder + QStringLiteral("Maps/Standards/have.png")), "PNG of " + sha1("have").toLatin1());
        QCOMPARE(readFile(game.custom + QStringLiteral("Fetched Map.png")), "PNG of " + missing.toLatin1());
        QCOMPARE(readFile(game.custom + QStringLiteral("two.dots.png")), "PNG of " + sha1("dots").toLatin1());

        // Every map in place: no archive is asked for again, but the previews
        // listed by the earlier pass are.
        downloader.setMaps({sha1("have"), missing, sha1("dots")});
        QTRY_COMPARE(downloader.state(), 4);
        QCOMPARE(game.server.requests().mid(4), game.server.requests().mid(1, 3));
    }

    void missingPreviewEndsThePassNormally()
    {
        Game game;
        game.server.set(previewPath(sha1("dots")), {200, "dots png", false});
        LogCapture log;
        MapDownloader downloader;
        downloader.setMaps({sha1("have"), sha1("dots")});
        QTRY_COMPARE(downloader.state(), 4);
        QVERIFY(log.contains(QStringLiteral("Unable to download the image: ") + sha1("have")));
        QVERIFY(!QFile::exists(game.folder + QStringLiteral("Maps/Standards/have.png")));
        QCOMPARE(readFile(game.custom + QStringLiteral("two.dots.png")), QByteArray("dots png"));
    }

    void lastMapFailingSkipsPreviewCollection()
    {
        Game game;
        const QString missing = sha1("nowhere");
        LogCapture log;
        MapDownloader downloader;
        downloader.setMaps({sha1("have"), missing});
        QTRY_COMPARE(downloader.state(), 4);
        QCOMPARE(game.server.requests(), QStringList{archivePath(missing)});
        QVERIFY(log.contains(QStringLiteral("Unable to download the map: ") + missing));
        QVERIFY(log.contains(game.server.url() + archivePath(missing)));

        // A preview listed by an earlier pass is fetched again by the next.
        downloader.setMaps({sha1("have")});
        QTRY_COMPARE(downloader.state(), 4);
        downloader.setMaps({sha1("have"), missing});
        QTRY_COMPARE(downloader.state(), 4);
        QCOMPARE(game.server.requests(),
            QStringList(
                {archivePath(missing), previewPath(sha1("have")), archivePath(missing), previewPath(sha1("have"))}));
    }

    void hostileAndUnreadableArchives()
    {
        Game game;
        // Unsafe names are the extractor's test; here the pass must use it.
        const QString link = sha1("link"), html = sha1("html"), odd = sha1("203");
        const QByteArray outside = game.env.filePath(QStringLiteral("outside")).toUtf8();
        game.server.set(
            archivePath(link), {200, MapTest::buildZip({{"x", outside, 0120777}, {"x/a.map", "evil"}}), false});
        game.server.set(archivePath(html), {200, "<html>maintenance</html>", false});
        game.server.set(archivePath(odd), {203, ZipArchive::build({{"odd.map", "odd"}}), false});
        const QStringList before = MapTest::filesBelow(game.env.path(), {"work/game"});
        LogCapture log;
        MapDownloader downloader;
        downloader.setMaps({link, html, odd});
        QTRY_COMPARE(downloader.state(), 4);
        QCOMPARE(game.server.requests().size(), 3);
        for (const QString &digest : {link, html, odd})
            QVERIFY2(downloader.mapFilePath(digest).isNull(), qPrintable(digest));
        QVERIFY(log.contains(QStringLiteral("Map archive has no readable entry: ") + html));
        QCOMPARE(MapTest::filesBelow(game.env.path(), {"work/game"}), before);
        QCOMPARE(MapTest::filesBelow(game.folder, {"Maps/Custom"}),
            QStringList({"Maps", "Maps/Standards", "Maps/Standards/have.map"}));
        QCOMPARE(MapTest::filesBelow(game.custom), QStringList({"two.dots.map", "x", "x/a.map"}));
    }

    void newListStopsTheRunningChain()
    {
        Game game;
        const QString slow = sha1("slow"), next = sha1("next");
        game.server.set(archivePath(slow), {200, ZipArchive::build({{"slow.map", "slow"}}), true});
        game.server.set(archivePath(next), {200, ZipArchive::build({{"next.map", "next"}}), false});
        LogCapture log;
        MapDownloader downloader;
        downloader.setMaps({slow});
        QTRY_COMPARE(game.server.held(), 1);
        downloader.setMaps({next});
        // A second list before the first chain's step ran: still one chain.
        downloader.setMaps({next});
        QTRY_COMPARE(downloader.state(), 4);
        game.server.release();
        QTest::qWait(100);
        QCOMPARE(game.server.requests(), QStringList({archivePath(slow), archivePath(next), previewPath(next)}));
        QVERIFY(downloader.mapFilePath(slow).isNull());
        QVERIFY(!QFile::exists(game.custom + QStringLiteral("slow.map")));
        QCOMPARE(downloader.mapFilePath(next), game.custom + QStringLiteral("next.map"));
        QVERIFY(log.contains(QStringLiteral("Stopping the running map download")));
    }
};

QTEST_GUILESS_MAIN(TestMapDownload)
#include "tst_mapdownload.moc"
