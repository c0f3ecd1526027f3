// Map archives from the map database are untrusted: names, links, lying
// headers and bodies that are no archive must never write outside the
// folder, hang or read past the body.
#include "maps/mapextractor.h"
#include "maptestutil.h"
#include "testenv.h"
#include "util/ziparchive.h"

#include <QtEndian>
#include <QtTest>

using MapTest::ZipEntry;

class TestMapExtractor : public QObject
{
    Q_OBJECT
private slots:
    // Each archive tries to put something outside the folder; the whole
    // test folder is listed afterwards, so a write anywhere shows.
    void hostileArchives_data()
    {
        const QByteArray outside = qgetenv("TMPDIR") + "/../outside";
        QTest::addColumn<QByteArray>("zip");
        QTest::addColumn<bool>("firstSaved");
        QTest::addColumn<QStringList>("inside");
        QTest::newRow("link then write through it")
            << MapTest::buildZip({{"x", outside, 0120777}, {"x/evil.map", "evil"}, {"ok.map", "ok"}}) << false
            << QStringList({"ok.map", "x", "x/evil.map"});
        QTest::newRow("link to a file") << MapTest::buildZip({{"a.map", "real"}, {"b.map", outside + "/b", 0120777}})
                                        << true << QStringList({"a.map"});
        QTest::newRow("parent") << MapTest::buildZip({{"sub/../../outside/evil.map", "evil"}, {"ok.map", "ok"}})
                                << false << QStringList({"ok.map"});
        QTest::newRow("leading parent") << MapTest::buildZip({{"../outside/evil.map", "evil"}}) << false
                                        << QStringList();
        QTest::newRow("absolute") << MapTest::buildZip({{outside + "/evil.map", "evil"}}) << false << QStringList();
        QTest::newRow("folder first") << MapTest::buildZip({{"dir/", "", 040755}, {"dir/a.map", "a"}}) << false
                                      << QStringList({"dir", "dir/a.map"});
        QTest::newRow("pipe") << MapTest::buildZip({{"fifo.map", "", 010644}}) << false << QStringList();
    }
    void hostileArchives()
    {
        QFETCH(QByteArray, zip);
        QFETCH(bool, firstSaved);
        QFETCH(QStringList, inside);
        TestEnv env;
        const QString game = env.filePath(QStringLiteral("work/game/"));
        const QString folder = game + QStringLiteral("Maps/Custom");
        const QStringList before = MapTest::filesBelow(env.path(), {"work/game"});
        MapExtractor archive(zip);
        QCOMPARE(archive.extractAll(folder), firstSaved);
        QCOMPARE(MapTest::filesBelow(env.path(), {"work/game"}), before);
        QCOMPARE(MapTest::filesBelow(game, {"Maps/Custom"}), QStringList{"Maps"});
        QCOMPARE(MapTest::filesBelow(folder), inside);
        for (const QString &name : inside)
            QVERIFY2(!QFileInfo(folder + QLatin1Char('/') + name).isSymLink(), qPrintable(name));
    }

    void linksAlreadyInTheFolderAreNotFollowed()
    {
        TestEnv env;
        const QString folder = env.filePath(QStringLiteral("work/game/Maps/Custom/"));
        const QString outside = env.filePath(QStringLiteral("work/outside"));
        QDir().mkpath(folder);
        QDir().mkpath(outside);
        QVERIFY(QFile::link(outside, folder + QStringLiteral("planted")));
        QVERIFY(QFile::link(outside + QStringLiteral("/target.map"), folder + QStringLiteral("dangling.map")));
        MapExtractor archive(ZipArchive::build({{"planted/evil.map", "evil"}, {"dangling.map", "evil"}}));
        QVERIFY(!archive.extractAll(folder));
        QCOMPARE(MapTest::filesBelow(outside), QStringList());
    }

    // Headers that lie about sizes, offsets or content, and bodies that are
    // no archive: the entry is refused, nothing is written, and nothing
    // hangs or reads past the body.
    void damagedArchives_data()
    {
        const QByteArray content = QByteArray(50000, 'a') + "tail";
        const QByteArray good = ZipArchive::build({{"a.map", content}});
        const int central = good.indexOf(QByteArray("PK\x01\x02", 4));
        auto patched = [&](int field, quint32 value) {
            QByteArray zip = good;
            qToLittleEndian(value, zip.data() + central + field);
            return zip;
        };
        const quint32 size = qFromLittleEndian<quint32>(good.constData() + central + 24);
        const quint32 crc = qFromLittleEndian<quint32>(good.constData() + central + 16);
        const QByteArray two = ZipArchive::build({{"a.map", QByteArray(5000, 'a')}, {"b.map", "b"}});
        const QStringList a{"a.map"}, none;
        QTest::addColumn<QByteArray>("zip");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("saved");
        QTest::newRow("intact, deflated") << good << a << true;
        QTest::newRow("checksum") << patched(16, crc ^ 1) << a << false;
        QTest::newRow("size too large") << patched(24, size + 1) << a << false;
        QTest::newRow("size too small") << patched(24, size - 1) << a << false;
        QTest::newRow("size beyond any ratio") << patched(24, 200u << 20) << a << false;
        QTest::newRow("data beyond the body") << patched(20, 0x7fffffff) << a << false;
        QTest::newRow("header beyond the body") << patched(42, 0x00ffffff) << a << false;
        QTest::newRow("unknown method") << patched(10, 99) << a << false;
        QTest::newRow("empty") << QByteArray() << none << false;
        QTest::newRow("not a zip") << QByteArray("<html>404 Not Found</html>") << none << false;
        QTest::newRow("truncated") << two.left(two.size() / 2) << none << false;
        QTest::newRow("directory only") << two.right(40) << none << false;
        QTest::newRow("no entries") << ZipArchive::build({}) << none << false;
    }
    void damagedArchives()
    {
        QFETCH(QByteArray, zip);
        QFETCH(QStringList, names);
        QFETCH(bool, saved);
        TestEnv env;
        const QString folder = env.filePath(QStringLiteral("work/game/Maps/Custom/"));
        MapExtractor archive(zip);
        QCOMPARE(archive.entryNames(), names);
        QCOMPARE(archive.extractAll(folder), saved);
        QCOMPARE(MapTest::filesBelow(folder), saved ? names : QStringList());
        if (saved) {
            QFile file(folder + QStringLiteral("a.map"));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArray(50000, 'a') + "tail");
        }
    }
};

QTEST_GUILESS_MAIN(TestMapExtractor)
#include "tst_mapextractor.moc"
