#include "util/ziparchive.h"
#include "maps/mapdownloader.h"
#include "maptestutil.h"
#include "scriptedservice.h"
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
        ScriptedService server; // answers the map database's paths
        QString folder;
        QString custom;
        Game()
        {
            QVERIFY(server.listen());
            env.setEndpoints(TestEnv::sandboxEndpoints(url()));
            folder = env.filePath(QStringLiteral("work/game/"));
            custom = folder + QStringLiteral("Maps/Custom/");
            MapTest::writeFile(folder + QStringLiteral("Maps/Standards/have.map"), "have");
            MapTest::writeFile(custom + QStringLiteral("two.dots.map"), "dots");
            MapTest::useGame(folder);
        }
        QString url() const { return server.baseUrl().chopped(int(strlen("/api/v1"))); }
        void set(const QString &path, const QByteArray &body, int status = 200, int delayMs = 0)
        {
            server.script("GET", path.toUtf8(), ScriptedService::Answer{status, QByteArray(), body, false, delayMs});
        }
        QStringList requests() const
        {
            QStringList paths;
            for (const ScriptedService::Request &r : server.requests)
                paths << QString::fromUtf8(r.path);
            return paths;
        }
    };

private slots:
    void cleanup() { MapTest::forgetGames(); }

    void fetchesMissingMapsThenPreviews()
    {
        Game game;
        const QString missing = sha1("fetched");
        game.set(archivePath(missing), ZipArchive::build({{"Fetched Map.map", "fetched"}}));
        for (const QString &digest : {sha1("have"), sha1("dots"), missing})
            game.set(previewPath(digest), "PNG of " + digest.toLatin1(), 200, digest == sha1("have") ? 500 : 0);

        MapDownloader downloader(MapTest::games());
        downloader.setMaps({sha1("have"), missing, sha1("dots")});
        // The maps are settled before their pictures arrive.
        QTRY_COMPARE(downloader.state(), MapDownloader::Previews);
        QVERIFY(!QFile::exists(game.folder + QStringLiteral("Maps/Standards/have.png")));
        QTRY_COMPARE(downloader.state(), MapDownloader::Done);
        QCOMPARE(game.requests(),
            QStringList(
                {archivePath(missing), previewPath(sha1("have")), previewPath(missing), previewPath(sha1("dots"))}));
        QCOMPARE(downloader.mapFilePath(missing), game.custom + QStringLiteral("Fetched Map.map"));
        QCOMPARE(readFile(game.custom + QStringLiteral("Fetched Map.map")), QByteArray("fetched"));
        QCOMPARE(
            readFile(game.folder + QStringLiteral("Maps/Standards/have.png")), "PNG of " + sha1("have").toLatin1());
        QCOMPARE(readFile(game.custom + QStringLiteral("Fetched Map.png")), "PNG of " + missing.toLatin1());
        QCOMPARE(readFile(game.custom + QStringLiteral("two.dots.png")), "PNG of " + sha1("dots").toLatin1());

        // Every map in place: no archive is asked for again, but the previews
        // listed by the earlier pass are.
        downloader.setMaps({sha1("have"), missing, sha1("dots")});
        QTRY_COMPARE(downloader.state(), MapDownloader::Done);
        QCOMPARE(game.requests().mid(4), game.requests().mid(1, 3));
    }

    void lastMapFailingSkipsPreviewCollection()
    {
        Game game;
        const QString missing = sha1("nowhere");
        MapDownloader downloader(MapTest::games());
        downloader.setMaps({sha1("have"), missing});
        QTRY_COMPARE(downloader.state(), MapDownloader::Done);
        QCOMPARE(game.requests(), QStringList{archivePath(missing)});
        QVERIFY(downloader.mapFilePath(missing).isNull());

        // A preview listed by an earlier pass is fetched again by the next.
        downloader.setMaps({sha1("have")});
        QTRY_COMPARE(downloader.state(), MapDownloader::Done);
        downloader.setMaps({sha1("have"), missing});
        QTRY_COMPARE(downloader.state(), MapDownloader::Done);
        QCOMPARE(game.requests(),
            QStringList(
                {archivePath(missing), previewPath(sha1("have")), archivePath(missing), previewPath(sha1("have"))}));
    }

    void hostileAndUnreadableArchives()
    {
        Game game;
        // Unsafe names are the extractor's test; here the pass must use it.
        const QString link = sha1("link"), html = sha1("html"), odd = sha1("203");
        const QByteArray outside = game.env.filePath(QStringLiteral("outside")).toUtf8();
        game.set(archivePath(link), MapTest::buildZip({{"link.map", "link"}, {"x", outside, 0120777}, {"x/a.map", "evil"}}));
        game.set(archivePath(html), "<html>maintenance</html>");
        game.set(archivePath(odd), ZipArchive::build({{"odd.map", "odd"}}), 203);
        const QStringList before = MapTest::filesBelow(game.env.path(), {"work/game"});
        MapDownloader downloader(MapTest::games());
        downloader.setMaps({link, html, odd});
        QTRY_COMPARE(downloader.state(), MapDownloader::Done);
        QCOMPARE(game.requests(), QStringList({archivePath(link), archivePath(html), archivePath(odd), previewPath(link)}));
        for (const QString &digest : {html, odd})
            QVERIFY2(downloader.mapFilePath(digest).isNull(), qPrintable(digest));
        QCOMPARE(downloader.mapFilePath(link), game.custom + QStringLiteral("link.map"));
        QCOMPARE(MapTest::filesBelow(game.env.path(), {"work/game"}), before);
        QCOMPARE(MapTest::filesBelow(game.folder, {"Maps/Custom"}),
            QStringList({"Maps", "Maps/Standards", "Maps/Standards/have.map"}));
        QCOMPARE(MapTest::filesBelow(game.custom), QStringList({"link.map", "two.dots.map", "x", "x/a.map"}));
    }

    // Every map that cannot be had is named with its reason, none holds
    // the others up, and only the map asked for is ever kept.
    void failuresNamed()
    {
        Game game;
        const QString swapped = sha1("asked for"), silent = sha1("silent"), absent = sha1("absent"), good = sha1("good");
        game.set(archivePath(swapped), ZipArchive::build({{"swapped.map", "something else"}}));
        game.set(archivePath(silent), ZipArchive::build({{"silent.map", "silent"}}), 200, 3000);
        game.set(archivePath(good), ZipArchive::build({{"good.map", "good"}}));
        MapDownloader downloader(MapTest::games());
        downloader.setTimeouts(300, 300);
        QSignalSpy progress(&downloader, &MapDownloader::progressChanged);
        downloader.setMaps({swapped, silent, good, absent});
        QTRY_VERIFY(downloader.mapsSettled());
        QCOMPARE(downloader.failures(), (QHash<QString, QString>{{swapped, "the archive holds a different map"},
                                                                 {silent, "no answer within 1 s"},
                                                                 {absent, "the map database answered HTTP 404"}}));
        QCOMPARE(progress.count(), 4);
        QCOMPARE(MapTest::filesBelow(game.custom), QStringList({"good.map", "two.dots.map"}));
        QCOMPARE(downloader.mapFilePath(good), game.custom + QStringLiteral("good.map"));

        // A custom map folder that cannot be written is a reason too.
        QVERIFY(QDir(game.custom).removeRecursively());
        MapTest::writeFile(game.folder + QStringLiteral("Maps/Custom"), "not a folder");
        game.set(archivePath(absent), ZipArchive::build({{"absent.map", "absent"}}));
        downloader.setMaps({absent});
        QTRY_VERIFY(downloader.mapsSettled());
        QVERIFY2(downloader.failures().value(absent).startsWith("it could not be saved in "),
                 qPrintable(downloader.failures().value(absent)));
        QVERIFY(downloader.mapFilePath(absent).isNull());
    }

    void newListStopsTheRunningChain()
    {
        Game game;
        const QString slow = sha1("slow"), next = sha1("next");
        game.set(archivePath(slow), ZipArchive::build({{"slow.map", "slow"}}), 200, 500);
        game.set(archivePath(next), ZipArchive::build({{"next.map", "next"}}));
        MapDownloader downloader(MapTest::games());
        downloader.setMaps({slow});
        QTRY_COMPARE(game.requests().size(), 1); // answered only after 500 ms
        downloader.setMaps({next});
        // A second list before the first chain's step ran: still one chain.
        downloader.setMaps({next});
        QTRY_COMPARE(downloader.state(), MapDownloader::Done);
        QTest::qWait(600);
        QCOMPARE(game.requests(), QStringList({archivePath(slow), archivePath(next), previewPath(next)}));
        QVERIFY(downloader.mapFilePath(slow).isNull());
        QVERIFY(!QFile::exists(game.custom + QStringLiteral("slow.map")));
        QCOMPARE(downloader.mapFilePath(next), game.custom + QStringLiteral("next.map"));
    }
};

QTEST_GUILESS_MAIN(TestMapDownload)
#include "tst_mapdownload.moc"
