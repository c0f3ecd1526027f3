// What is kept of a found game across runs, the launcher found from the
// client's own folder inside the game folder, and the spawn file as the
// game's own INI reader sees it. The files a match copies in and takes
// away are played in the window's match test.
#include "net/spawninfo.h"
#include "spawn/gamecatalogue.h"
#include "spawn/gamefolder.h"
#include "testenv.h"

#include <QProcess>
#include <QSettings>
#include <QDir>
#include <QFile>
#include <QtTest>

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
}

QString sha1Of(const QByteArray &content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha1).toHex());
}

QString workDir()
{
    return QDir::currentPath() + QLatin1Char('/');
}

// A new run of the program: the catalogue is rebuilt from the settings
// alone; it lives until the next run.
std::unique_ptr<GameCatalogue> s_catalogue;
GameCatalogue::Table rediscover()
{
    s_catalogue = std::make_unique<GameCatalogue>();
    s_catalogue->discover();
    return s_catalogue->games();
}

QByteArray fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

SpawnInfo sampleMatch()
{
    SpawnInfo info;
    info.myID = nameHash(QStringLiteral("J\u00f6rg"));
    info.settings = QJsonObject{{"Name", "J\u00f6rg"}, {"Port", 4321}, {"Credits", 10000}, {"GameSpeed", 1.5}, {"Ready", true}, {"Bases", false}};
    info.others.insert(QStringLiteral("Other1"), QJsonObject{{"Name", "Ana"}, {"IP", "203.0.113.7"}, {"Port", int(nameHash("Ana") % 65536u)}});
    info.others.insert(QStringLiteral("Other3"), QJsonObject{{"Name", "Bo"}, {"Port", int(nameHash("Bo") % 65536u)}, {"Color", 3}});
    info.spawnLocations = QJsonObject{{"Multi1", 0}, {"Multi2", 3}};
    info.tunnelIP = QStringLiteral("127.0.0.1");
    info.tunnelPort = 50123;
    return info;
}

} // namespace

class TestSpawn : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;

private slots:
    void init() { m_env.reset(new TestEnv); }
    void cleanup()
    {
        s_catalogue.reset();
        m_env.reset();
    }

    // Kept under its historic spelling, and never appended to again.
    void environmentNeverAccumulates()
    {
        writeFile(QStringLiteral("quillon.exe"), "ts");
        for (int run = 0; run < 4; ++run)
            QCOMPARE(rediscover().value(QStringLiteral("ts"))->executeEnvironment,
                     QStringList{"__COMPAT_LAYER=HIGHDPIAWARE 16BITCOLOR 8And16BitTimedPriSync"});
        QCOMPARE(QSettings().value(QStringLiteral("ts/executeEnvirontment")).toStringList().size(), 1);
        QVERIFY(!QSettings().contains(QStringLiteral("ts/executeEnvironment")));
    }

    // Started from the Zantry folder inside the game folder: the launcher
    // one folder up gives a clean absolute path.
    void launcherInParentFolder()
    {
        writeFile(QStringLiteral("fennick.exe"), "ra in parent");
        const QString parent = workDir();
        QDir().mkdir(QStringLiteral("Zantry"));
        QDir::setCurrent(QStringLiteral("Zantry"));
        const SpawnableGame *ra = rediscover().value(QStringLiteral("ra"));
        QCOMPARE(ra->workingDir, parent);
        QCOMPARE(ra->exeHash, sha1Of("ra in parent"));
    }

    // Our port is the name hash's low half; opponents sit behind the
    // tunnel; UTF-8 bytes and plain numbers as the game's INI reader wants
    // them; a rewrite leaves nothing of the first match.
    void spawnFileForTheGame()
    {
        const QString path = m_env->filePath(QStringLiteral("spawn.ini"));
        const SpawnInfo info = sampleMatch();
        QVERIFY(info.writeSpawnIni(path));
        QCOMPARE(QSettings(path, QSettings::IniFormat).childGroups(), QStringList({"Other1", "Other3", "Settings", "SpawnLocations", "Tunnel"}));
        const QByteArray text = fileText(path);
        const QByteArrayList lines{"Name=J\xc3\xb6rg\n", "\nCredits=10000\n", "\nGameSpeed=1.5\n", "\nReady=true\n", "\nBases=false\n",
                                   "[Tunnel]\nIP=127.0.0.1\nPort=50123\n", QByteArray("\nPort=") + QByteArray::number(info.myID % 65536u) + '\n',
                                   "[Other1]\nIP=0.0.0.0\n", QByteArray("\nPort=") + QByteArray::number(nameHash("Ana") % 65536u) + '\n',
                                   "\nColor=3\n", "[SpawnLocations]\nMulti1=0\nMulti2=3\n"};
        for (const QByteArray &line : lines)
            QVERIFY2(text.contains(line), line.constData());
        QVERIFY(!text.contains("203.0.113.7") && !text.contains("4321"));

        SpawnInfo second = sampleMatch();
        second.others.remove(QStringLiteral("Other3"));
        second.settings.remove(QStringLiteral("GameSpeed"));
        second.myID = 3u * 65536u; // a name hash whose low half is zero
        QVERIFY(second.writeSpawnIni(path));
        QCOMPARE(QSettings(path, QSettings::IniFormat).childGroups(), QStringList({"Other1", "Settings", "SpawnLocations", "Tunnel"}));
        QVERIFY(!fileText(path).contains("GameSpeed") && fileText(path).contains("\nPort=0\n"));
        QVERIFY(!sampleMatch().writeSpawnIni(path + QStringLiteral("/spawn.ini"))); // a file in the way
    }

    void windowsLauncherStartsThroughWine()
    {
        TestEnv env;
        const QString bin = env.filePath(QStringLiteral("bin"));
        const QString wine = bin + QStringLiteral("/wine");
        writeFile(wine, "#!/bin/sh\n");
        QFile::setPermissions(wine, QFile::ReadOwner | QFile::ExeOwner);
        writeFile(QStringLiteral("quillon.exe"), QByteArray("MZ\x90\0", 4));
        SpawnableGame game(QStringLiteral("ts"));
        game.workingDir = QDir::currentPath() + QLatin1Char('/');
        game.exe = QStringLiteral("quillon.exe");
        game.arguments = QStringLiteral("-SPAWN");
        game.executeEnvironment = QStringList{QStringLiteral("__COMPAT_LAYER=HIGHDPIAWARE")};
        const QByteArray path = qgetenv("PATH");

        // No Wine: the reason, and nothing started.
        qputenv("PATH", QFile::encodeName(env.filePath(QStringLiteral("nothing"))));
        QProcess process;
        QString problem;
        QVERIFY(!GameFolder::launch(&process, game, &problem));
        QVERIFY(problem.contains(QLatin1String("apt install wine")));
        QCOMPARE(process.state(), QProcess::NotRunning);

        // Wine on the path runs the launcher in the chosen prefix, with the
        // user's environment and the game's variables.
        qputenv("PATH", QFile::encodeName(bin) + ':' + path);
        QSettings().setValue(QStringLiteral("winePrefix"), QStringLiteral("/home/me/.wine-lorvane"));
        GameFolder::LaunchCommand command = GameFolder::launchCommand(game);
        qputenv("PATH", path);
        QVERIFY(command.problem.isEmpty());
        QCOMPARE(command.program, wine);
        QCOMPARE(command.arguments, (QStringList{game.workingDir + game.exe, QStringLiteral("-SPAWN")}));
        QCOMPARE(command.environment.value(QStringLiteral("WINEPREFIX")), QStringLiteral("/home/me/.wine-lorvane"));
        QCOMPARE(command.environment.value(QStringLiteral("__COMPAT_LAYER")), QStringLiteral("HIGHDPIAWARE"));
        QCOMPARE(command.environment.value(QStringLiteral("HOME")), qEnvironmentVariable("HOME"));
    }

    // A launcher built for this system starts directly from its folder's
    // path as it stands, quotes, spaces, "$" and backslashes included, with
    // the game's own arguments split on their own; one that can never start
    // is refused before any start, naming it.
    void nativeLauncherFromAnyFolder()
    {
        SpawnableGame game(QStringLiteral("yr"));
        game.workingDir = workDir() + QStringLiteral("Lorvane \"Yuri's\" $HOME \\games/");
        game.exe = QStringLiteral("morvel.exe");
        game.arguments = QStringLiteral("-SPAWN \"two words\"");
        const QString launcher = game.workingDir + game.exe;
        QVERIFY(QDir().mkpath(launcher)); // a folder in its place, then a file that is not a program
        for (const char *why : {"it is a folder, not a program", "it is not executable"}) {
            QProcess process;
            QString problem;
            QVERIFY(!GameFolder::launch(&process, game, &problem));
            QVERIFY2(problem.contains(launcher + QStringLiteral(" cannot be started: ") + QLatin1String(why)), qPrintable(problem));
            QCOMPARE(process.state(), QProcess::NotRunning);
            QDir().rmdir(launcher);
            writeFile(launcher, "#!/bin/sh\n");
        }

        QFile::remove(launcher);
        QVERIFY(QFile::copy(TestEnv::toolPath(QStringLiteral("fakegame")), launcher));
        QProcess process;
        QVERIFY(GameFolder::launch(&process, game));
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.arguments(), (QStringList{QStringLiteral("-SPAWN"), QStringLiteral("two words")}));
        const QByteArray log = fileText(game.workingDir + QStringLiteral("fakegame.log"));
        QVERIFY2(log.contains("started as morvel.exe with \"-SPAWN two words\" in " + QFile::encodeName(QDir::cleanPath(game.workingDir))),
                 log.constData());
    }

    // A match's copies are listed on disk: after a client killed during the
    // game, the next match and the next start know them for the match's and
    // remove them; the player's own file of a listed name is never touched.
    void copiedFilesOutliveAKilledClient()
    {
        const QString dir = workDir();
        writeFile(dir + QStringLiteral("renderer.src"), "renderer");
        writeFile(dir + QStringLiteral("mine.dll"), "mine");
        SpawnableGame game(QStringLiteral("yr"));
        game.workingDir = dir;
        game.preCopyFiles = {{dir + QStringLiteral("renderer.src"), QStringLiteral("ddraw.dll")},
                             {dir + QStringLiteral("renderer.src"), QStringLiteral("mine.dll")}};
        game.postRemoveFiles = QStringList{QStringLiteral("ddraw.dll"), QStringLiteral("mine.dll")};
        for (const bool nextStart : {false, true}) {
            QStringList killed; // its client never cleans up
            GameFolder::prepare(game, QString(), &killed);
            QCOMPARE(killed, QStringList{QStringLiteral("ddraw.dll")});
            QStringList copied;
            if (!nextStart) {
                GameFolder::prepare(game, QString(), &copied);
                QCOMPARE(copied, QStringList{QStringLiteral("ddraw.dll")});
            }
            GameFolder::cleanUp(game, &copied);
            QVERIFY(!QFile::exists(dir + QStringLiteral("ddraw.dll")));
            QCOMPARE(fileText(dir + QStringLiteral("mine.dll")), QByteArray("mine"));
        }
    }
};

QTEST_GUILESS_MAIN(TestSpawn)
#include "tst_spawn.moc"
