#include "sandbox.h"

#include <QSettings>
#include <QtTest>

// The launcher stand-in's scripted failures: what each leaves behind is what
// the client looks for. Its normal play is exercised by the end-to-end tests.
class TestFakeGame : public QObject
{
    Q_OBJECT

private slots:
    void crashWritesExceptionFile_data();
    void crashWritesExceptionFile();
    void failuresBeforePlay();

private:
    static QString launcherIn(const QString &dir, const QString &name);
    static void writeSpawn(const QString &dir);
};

QString TestFakeGame::launcherIn(const QString &dir, const QString &name)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile::copy(TestEnv::toolPath(QStringLiteral("fakegame")), path);
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    return path;
}

// One opponent behind a tunnel at the discard port: nothing ever answers.
void TestFakeGame::writeSpawn(const QString &dir)
{
    QSettings ini(dir + QStringLiteral("/spawn.ini"), QSettings::IniFormat);
    ini.setValue(QStringLiteral("Settings/Name"), QStringLiteral("Alice"));
    ini.setValue(QStringLiteral("Settings/Port"), 1);
    ini.setValue(QStringLiteral("Settings/Scenario"), QStringLiteral("spawnmap.ini"));
    ini.setValue(QStringLiteral("Other1/Name"), QStringLiteral("Bob"));
    ini.setValue(QStringLiteral("Other1/Port"), 2);
    ini.setValue(QStringLiteral("Other1/IP"), QStringLiteral("0.0.0.0"));
    ini.setValue(QStringLiteral("Tunnel/IP"), QStringLiteral("127.0.0.1"));
    ini.setValue(QStringLiteral("Tunnel/Port"), 9);
    ini.sync();
    QFile map(dir + QStringLiteral("/spawnmap.ini"));
    map.open(QIODevice::WriteOnly);
    map.write("[Basic]\nName=Test\n");
}

void TestFakeGame::crashWritesExceptionFile_data()
{
    QTest::addColumn<QString>("launcher");
    QTest::addColumn<QString>("exceptionFile");
    QTest::addColumn<bool>("byControlFile");
    QTest::newRow("yr, environment") << "morvel.exe" << "EXCEPT_LORVANE.TXT" << false;
    QTest::newRow("ts, control file") << "quillon.exe" << "except.txt" << true;
    QTest::newRow("ra writes none") << "fennick.exe" << "" << true;
}

void TestFakeGame::crashWritesExceptionFile()
{
    QFETCH(QString, launcher);
    QFETCH(QString, exceptionFile);
    QFETCH(bool, byControlFile);
    QTemporaryDir dir;
    QProcess game;
    QProcessEnvironment env;
    if (byControlFile) {
        // The client gives "ts" and "ra" launchers an environment of their own.
        QSettings control(dir.filePath(QStringLiteral("fakegame.ini")), QSettings::IniFormat);
        control.setValue(QStringLiteral("FakeGame/Mode"), QStringLiteral("crash"));
        control.setValue(QStringLiteral("FakeGame/Eip"), QStringLiteral("00ABCDEF"));
        control.sync();
        env.insert(QStringLiteral("__COMPAT_LAYER"), QStringLiteral("HIGHDPIAWARE"));
    } else {
        env.insert(QStringLiteral("FAKEGAME_MODE"), QStringLiteral("crash"));
        env.insert(QStringLiteral("FAKEGAME_EIP"), QStringLiteral("00ABCDEF"));
    }
    game.setProcessEnvironment(env);
    game.setWorkingDirectory(dir.path());
    game.start(launcherIn(dir.path(), launcher), {QStringLiteral("-SPAWN")});
    QVERIFY(game.waitForFinished(10000));
    QVERIFY(game.exitCode() != 0);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("stats.dmp"))));
    if (exceptionFile.isEmpty()) {
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.txt"), QStringLiteral("*.TXT")}), QStringList());
        return;
    }
    QFile file(dir.filePath(exceptionFile));
    QVERIFY(file.open(QIODevice::ReadOnly));
    // Read the way the crash upload does: lines at CR*LF, fields at tabs.
    QString address;
    for (const QString &line : QString::fromLatin1(file.readAll()).split(QRegularExpression(QStringLiteral("\r*\n")))) {
        const QStringList parts = line.split(QLatin1Char('\t'));
        if (parts.size() >= 2 && parts.first().startsWith(QLatin1String("Eip:")))
            address = parts.first().right(8);
    }
    QCOMPARE(address, QStringLiteral("00ABCDEF"));
}

void TestFakeGame::failuresBeforePlay()
{
    QTemporaryDir dir;
    const QString launcher = launcherIn(dir.path(), QStringLiteral("morvel.exe"));
    QProcess game;
    game.setWorkingDirectory(dir.path());
    QProcessEnvironment env;
    auto run = [&](const char *mode, int waitMs = 10000) {
        env.insert(QStringLiteral("FAKEGAME_MODE"), QLatin1String(mode));
        game.setProcessEnvironment(env);
        game.start(launcher, {QStringLiteral("-SPAWN")});
        return game.waitForFinished(waitMs) ? game.exitCode() : -1;
    };
    QCOMPARE(run("normal"), 4); // no spawn.ini
    writeSpawn(dir.path());
    QFile::remove(dir.filePath(QStringLiteral("spawnmap.ini")));
    QCOMPARE(run("normal"), 4);
    QCOMPARE(run("nostart"), 1);

    writeSpawn(dir.path());
    QCOMPARE(run("hang", 1000), -1);
    QCOMPARE(game.state(), QProcess::Running);
    game.terminate();
    QVERIFY(game.waitForFinished(5000));
    QCOMPARE(game.exitStatus(), QProcess::NormalExit);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("stats.dmp"))));

    auto logText = [&] {
        QFile f(dir.filePath(QStringLiteral("fakegame.log")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    for (const char *said : {"no spawn file", "no spawnmap.ini", "refusing to start", "hanging", "stopping on SIGTERM"})
        QVERIFY2(logText().contains(said), said);

    // SIGTERM during the exchange ends it early, stats written.
    env.insert(QStringLiteral("FAKEGAME_SECONDS"), QStringLiteral("60"));
    env.insert(QStringLiteral("FAKEGAME_MODE"), QStringLiteral("normal"));
    game.setProcessEnvironment(env);
    QFile::remove(dir.filePath(QStringLiteral("fakegame.log")));
    game.start(launcher, {QStringLiteral("-SPAWN")});
    QTRY_VERIFY_WITH_TIMEOUT(logText().contains("opponents"), 5000);
    game.terminate();
    QVERIFY(game.waitForFinished(5000));
    QCOMPARE(game.exitCode(), 0);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("stats.dmp"))));
}

QTEST_MAIN(TestFakeGame)
#include "tst_fakegame.moc"
