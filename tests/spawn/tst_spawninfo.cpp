#include "spawn/spawninfo.h"
#include "testenv.h"

#include <QFile>
#include <QJsonObject>
#include <QSettings>
#include <QtTest>

namespace {

QString fileText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readAll());
}

QStringList sections(const QString &path)
{
    QSettings ini(path, QSettings::IniFormat);
    return ini.childGroups();
}

SpawnInfo sampleMatch()
{
    SpawnInfo info;
    info.myID = nameHash(QStringLiteral("Jörg"));
    info.settings = QJsonObject{
        {"Name", "Jörg"}, {"Port", 4321}, {"Credits", 10000}, {"GameSpeed", 1.5}, {"Ready", true}, {"Bases", false}};
    info.others.insert(QStringLiteral("Other1"),
        QJsonObject{{"Name", "Ana"}, {"IP", "203.0.113.7"}, {"Port", int(nameHash("Ana") % 65536u)}, {"Side", 2}});
    info.others.insert(
        QStringLiteral("Other3"), QJsonObject{{"Name", "Bo"}, {"Port", int(nameHash("Bo") % 65536u)}, {"Color", 3}});
    info.spawnLocations = QJsonObject{{"Multi1", 0}, {"Multi2", 3}};
    info.tunnelIP = QStringLiteral("127.0.0.1");
    info.tunnelPort = 50123;
    return info;
}

} // namespace

class TestSpawnInfo : public QObject
{
    Q_OBJECT
private slots:
    void writesEverySection()
    {
        TestEnv env;
        const QString path = env.filePath(QStringLiteral("spawn.ini"));
        const SpawnInfo info = sampleMatch();
        QVERIFY(info.writeSpawnIni(path));

        QSettings ini(path, QSettings::IniFormat);
        ini.setIniCodec("UTF-8");
        QCOMPARE(ini.childGroups(), QStringList({"Other1", "Other3", "Settings", "SpawnLocations", "Tunnel"}));
        // Our port is the name hash's low half; opponents sit behind the tunnel.
        QCOMPARE(ini.value("Settings/Port").toUInt(), info.myID % 65536u);
        QCOMPARE(ini.value("Settings/Name").toString(), QStringLiteral("Jörg"));
        QCOMPARE(ini.value("Other1/IP").toString(), QStringLiteral("0.0.0.0"));
        QCOMPARE(ini.value("Other1/Port").toUInt(), nameHash("Ana") % 65536u);
        QCOMPARE(ini.value("Other3/IP").toString(), QStringLiteral("0.0.0.0"));
        QCOMPARE(ini.value("Other3/Color").toInt(), 3);
        QCOMPARE(ini.value("SpawnLocations/Multi2").toInt(), 3);

        // What the game's own INI reader sees: UTF-8 bytes and plain numbers.
        const QString text = fileText(path);
        QVERIFY(text.contains(QStringLiteral("Name=J\u00f6rg\n")));
        QVERIFY(text.contains(QStringLiteral("\nCredits=10000\n")));
        QVERIFY(text.contains(QStringLiteral("\nGameSpeed=1.5\n")));
        QVERIFY(text.contains(QStringLiteral("\nReady=true\n")));
        QVERIFY(text.contains(QStringLiteral("\nBases=false\n")));
        QVERIFY(text.contains(QStringLiteral("[Tunnel]\nIP=127.0.0.1\nPort=50123\n")));
        QVERIFY(!text.contains(QStringLiteral("203.0.113.7")));
        QVERIFY(!text.contains(QStringLiteral("4321")));
    }

    void noOpponentsAndPortZero()
    {
        TestEnv env;
        const QString path = env.filePath(QStringLiteral("spawn.ini"));
        SpawnInfo info;
        info.myID = 3u * 65536u; // a name hash whose low half is zero
        info.spawnLocations = QJsonObject{{"Multi1", 2}};
        info.tunnelIP = QStringLiteral("127.0.0.1");
        info.writeSpawnIni(path);
        QCOMPARE(sections(path), QStringList({"Settings", "SpawnLocations", "Tunnel"}));
        QSettings ini(path, QSettings::IniFormat);
        QCOMPARE(ini.value("Settings/Port").toString(), QStringLiteral("0"));
    }

    void rewriteLeavesNothingOfTheFirstMatch()
    {
        TestEnv env;
        const QString path = env.filePath(QStringLiteral("spawn.ini"));
        QVERIFY(sampleMatch().writeSpawnIni(path));
        SpawnInfo second = sampleMatch();
        second.others.remove(QStringLiteral("Other3"));
        second.settings.remove(QStringLiteral("GameSpeed"));
        QVERIFY(second.writeSpawnIni(path));
        QCOMPARE(sections(path), QStringList({"Other1", "Settings", "SpawnLocations", "Tunnel"}));
        QVERIFY(!fileText(path).contains(QStringLiteral("GameSpeed")));
    }

    void unwritableFolderReportsFailure()
    {
        TestEnv env;
        QFile blocker(env.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        QVERIFY(!sampleMatch().writeSpawnIni(env.filePath(QStringLiteral("file/spawn.ini"))));
    }
};

QTEST_GUILESS_MAIN(TestSpawnInfo)
#include "tst_spawninfo.moc"
