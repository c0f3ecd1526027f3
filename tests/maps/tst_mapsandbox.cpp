#include "logcapture.h"
#include "maps/mapdownloader.h"
#include "maptestutil.h"
#include "sandbox.h"
#include "testenv.h"

#include <QtTest>

// The whole map pass against the sandbox's map database and previews, over
// a game folder built by the sandbox with every other map missing. The
// failing archive is played against the stub in tst_mapdownload.
class TestMapSandbox : public QObject
{
    Q_OBJECT
private:
    struct Map
    {
        bool present;
        QString digest;
        QString path;
    };

    static QList<Map> makeFolder(const QString &dir)
    {
        QList<Map> maps;
        const QStringList report = Sandbox::makeGameFolder(dir,
            {QStringLiteral("--game"), QStringLiteral("yr"), QStringLiteral("--game-maps"), QStringLiteral("some")});
        for (const QString &line : report) {
            const QStringList f = line.split(QLatin1Char(' '));
            if (f.size() >= 5 && f.at(0) == QLatin1String("MAP"))
                maps.append({f.at(1) == QLatin1String("present"), f.at(3), f.mid(4).join(QLatin1Char(' '))});
        }
        return maps;
    }

    static QStringList digests(const QList<Map> &maps)
    {
        QStringList out;
        for (const Map &m : maps)
            out.append(m.digest);
        return out;
    }

private slots:
    void cleanup() { MapTest::forgetGames(); }

    void missingMapsAndPreviewsArriveInPlace()
    {
        TestEnv env;
        const QString dir = env.filePath(QStringLiteral("work/game"));
        const QList<Map> maps = makeFolder(dir);
        QVERIFY(maps.size() >= 3);
        QVERIFY(maps.first().present);
        QVERIFY(!maps.last().present);
        Sandbox sandbox;
        QVERIFY2(sandbox.start(), qPrintable(sandbox.errorText()));
        env.setEndpoints(sandbox.endpoints());
        MapTest::useGame(dir);

        LogCapture log;
        MapDownloader downloader;
        downloader.setMaps(digests(maps));
        QTRY_COMPARE_WITH_TIMEOUT(downloader.state(), 4, 20000);
        int missing = 0;
        for (const Map &map : maps) {
            missing += map.present ? 0 : 1;
            QCOMPARE(downloader.mapFilePath(map.digest), map.path);
            QVERIFY2(QFileInfo(map.path).isFile(), qPrintable(map.path));
        }
        QCOMPARE(log.count(QStringLiteral("Downloading map: ")), missing);
        // Every map has a preview but the ladder's last one, whose 404 ends
        // the pass like any other answer.
        for (int i = 0; i < maps.size() - 1; ++i)
            QVERIFY2(QFileInfo::exists(MapDownloader::previewPath(maps.at(i).path)), qPrintable(maps.at(i).path));
        QVERIFY(!QFileInfo::exists(MapDownloader::previewPath(maps.last().path)));
        QVERIFY(log.contains(QStringLiteral("Unable to download the image: ") + maps.last().digest));
    }
};

QTEST_GUILESS_MAIN(TestMapSandbox)
#include "tst_mapsandbox.moc"
