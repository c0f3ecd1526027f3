#include "app/filedigest.h"
#include "spawn/gamefolder.h"
#include "spawn/spawnablegame.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QtTest>

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString sha1Of(const QByteArray &content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex());
}

QString workDir()
{
    return QDir::currentPath() + QLatin1Char('/');
}

// A new run of the program: the table is rebuilt from the settings alone.
SpawnableGame::Table rediscover()
{
    SpawnableGame::resetTable();
    return SpawnableGame::discoverGames();
}

} // namespace

class TestSpawnableGame : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { SpawnableGame::resetTable(); }

    void lastGameFoundIsLocalAndOnlyOneSaved()
    {
        TestEnv env;
        writeFile(QStringLiteral("morvel.exe"), "yr launcher");
        writeFile(QStringLiteral("fennick.exe"), "ra launcher");
        const auto table = rediscover();
        QCOMPARE(table.keys(), QStringList({"ra", "yr"}));
        QCOMPARE(SpawnableGame::localGame(), QStringLiteral("ra"));
        QSettings settings;
        settings.beginGroup(QStringLiteral("SpawnableGames"));
        QCOMPARE(settings.childKeys(), QStringList{"ra"});
        settings.endGroup();
        QVERIFY(!settings.contains(QStringLiteral("yr/exe")));

        const SpawnableGame *ra = table.value(QStringLiteral("ra"));
        QCOMPARE(ra->workingDir, workDir());
        QCOMPARE(ra->exe, QStringLiteral("fennick.exe"));
        QCOMPARE(ra->exeHash, sha1Of("ra launcher"));
        QCOMPARE(table.value(QStringLiteral("yr"))->exeHash, sha1Of("yr launcher"));
        QCOMPARE(table.value(QStringLiteral("yr"))->exceptionFile, QStringLiteral("EXCEPT_LORVANE.TXT"));
    }

    void ddrawInFolderWinsOverRendererSetting()
    {
        TestEnv env;
        writeFile(QStringLiteral("morvel.exe"), "yr");
        writeFile(QStringLiteral("ddraw.dll"), "local renderer");
        writeFile(QStringLiteral("RA2MD.ini"), "[Compatibility]\nRenderer=CnC\n");
        writeFile(QStringLiteral("Resources/Renderers.ini"), "[CnC]\nDLLName=cnc.dll\nAdditionalFiles=a.dll\n");
        writeFile(QStringLiteral("Resources/cnc.dll"), "cnc renderer");
        const SpawnableGame *yr = rediscover().value(QStringLiteral("yr"));
        QCOMPARE(yr->ddraw, workDir() + QStringLiteral("ddraw.dll"));
        QCOMPARE(yr->ddrawHash, sha1Of("local renderer"));
        QVERIFY(yr->preCopyFiles.isEmpty());
        QVERIFY(yr->postRemoveFiles.isEmpty());
    }

    void rendererSectionAddsCopiesAndRemovals()
    {
        TestEnv env;
        writeFile(QStringLiteral("morvel.exe"), "yr");
        writeFile(QStringLiteral("RA2MD.ini"), "[Compatibility]\nRenderer=TS-DDRAW\n");
        writeFile(QStringLiteral("Resources/Renderers.ini"),
            "[TS-DDRAW]\nDLLName=ts.dll\nConfigFileName=ddraw."
            "ini\nResConfigFileName=ts.ini\n"
            "AdditionalFiles=libwine.dll,dxgi.dll\n");
        writeFile(QStringLiteral("Resources/ts.dll"), "ts renderer");
        const QString res = workDir() + QStringLiteral("Resources/");
        const QList<QPair<QString, QString>> copies = {
            {res + "ts.dll", "ddraw.dll"},
            {res + "ts.ini", "ddraw.ini"},
            {res + "libwine.dll", "libwine.dll"},
            {res + "dxgi.dll", "dxgi.dll"},
        };
        const QStringList removals = {"ddraw.dll", "libwine.dll", "dxgi.dll"};
        for (int run = 0; run < 3; ++run) {
            const SpawnableGame *yr = rediscover().value(QStringLiteral("yr"));
            QCOMPARE(yr->preCopyFiles, copies);
            QCOMPARE(yr->postRemoveFiles, removals); // saved and read back each run
            QCOMPARE(yr->ddraw, res + QStringLiteral("ts.dll"));
            QCOMPARE(yr->ddrawHash, sha1Of("ts renderer"));
        }

        // A match takes away only what it copied in: the player's own
        // "ddraw.dll" is neither replaced nor removed.
        writeFile(res + QStringLiteral("libwine.dll"), "wine");
        writeFile(QStringLiteral("ddraw.dll"), "the player's own");
        const SpawnableGame *yr = SpawnableGame::get(QStringLiteral("yr"));
        QStringList copied;
        GameFolder::prepare(*yr, QString(), &copied);
        QCOMPARE(readFile(QStringLiteral("libwine.dll")), QByteArray("wine"));
        GameFolder::cleanUp(*yr, &copied);
        QVERIFY(!QFile::exists(QStringLiteral("libwine.dll")));
        QCOMPARE(readFile(QStringLiteral("ddraw.dll")), QByteArray("the player's own"));
    }

    void environmentNeverAccumulates()
    {
        TestEnv env;
        writeFile(QStringLiteral("quillon.exe"), "ts");
        for (int run = 0; run < 4; ++run) {
            const SpawnableGame *ts = rediscover().value(QStringLiteral("ts"));
            QCOMPARE(
                ts->executeEnvironment, QStringList{"__COMPAT_LAYER=HIGHDPIAWARE 16BITCOLOR 8And16BitTimedPriSync"});
        }
        QSettings settings;
        QCOMPARE(settings.value(QStringLiteral("ts/executeEnvirontment")).toStringList().size(), 1);
        QVERIFY(!settings.contains(QStringLiteral("ts/executeEnvironment")));
    }

    void missingLauncherGivesDigestOfNothing()
    {
        TestEnv env;
        {
            QSettings settings;
            settings.setValue(QStringLiteral("SpawnableGames/ra"), env.filePath(QStringLiteral("gone/")));
            settings.setValue(QStringLiteral("ra/workingDir"), env.filePath(QStringLiteral("gone/")));
            settings.setValue(QStringLiteral("ra/abbreviation"), QStringLiteral("ra"));
        }
        const SpawnableGame *ra = rediscover().value(QStringLiteral("ra"));
        QVERIFY(ra);
        QCOMPARE(ra->workingDir, env.filePath(QStringLiteral("gone/")));
        QCOMPARE(ra->exeHash, QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709"));
        QCOMPARE(SpawnableGame::localGame(), QStringLiteral("ra"));
    }

    void launcherInParentFolder()
    {
        TestEnv env;
        writeFile(QStringLiteral("fennick.exe"), "ra in parent");
        QDir().mkdir(QStringLiteral("Zantry"));
        const QString parent = workDir();
        QDir::setCurrent(QStringLiteral("Zantry"));
        const SpawnableGame *ra = rediscover().value(QStringLiteral("ra"));
        QCOMPARE(ra->workingDir, parent);
        QVERIFY(QDir::isAbsolutePath(ra->workingDir));
        QVERIFY(!ra->workingDir.contains(QLatin1String("..")));
        QCOMPARE(ra->exeHash, sha1Of("ra in parent"));
    }
};

QTEST_GUILESS_MAIN(TestSpawnableGame)
#include "tst_spawnablegame.moc"
