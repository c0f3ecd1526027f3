// A settings file written by earlier versions (their literal key names and
// value formats) reads back unchanged, and an unusable stored value reads as
// the default without being overwritten until the player sets the value.
#include "logcapture.h"
#include "testenv.h"
#include "util/settings.h"

#include <QJsonArray>
#include <QSettings>
#include <QtTest>

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void readsFileOfEarlierVersions()
    {
        TestEnv env;
        {
            QSettings old;
            old.setValue(QStringLiteral("accessToken"), QStringLiteral("tok"));
            old.setValue(QStringLiteral("accountName"), QStringLiteral("a@b.test"));
            old.setValue(QStringLiteral("gameFolder"), QStringLiteral("/games/yr"));
            old.setValue(QStringLiteral("winePrefix"), QStringLiteral("/home/me/.wine,2"));
            old.setValue(QStringLiteral("wineProgram"), QStringLiteral("/opt/wine"));
            old.setValue(QStringLiteral("AllowP2P"), false);
            old.setValue(QStringLiteral("ProcessWatcherEnabled"), false);
            old.setValue(QStringLiteral("WatchedProcesses"), QStringList{"a.exe", "b.exe"});
            old.setValue(QStringLiteral("ZantryVolume"), 30);
            old.setValue(QStringLiteral("mainWindowGeometry"), QByteArray("g\0\1", 3));
            old.setValue(QStringLiteral("yr/lastPlayer"), 101);
            old.setValue(QStringLiteral("Player101/Side"), 2);
            old.setValue(QStringLiteral("Allies101"), QByteArray("[\n    1,\n    -2\n]\n"));
        }
        QCOMPARE(Settings::accessToken(), QStringLiteral("tok"));
        QCOMPARE(Settings::accountName(), QStringLiteral("a@b.test"));
        QCOMPARE(Settings::gameFolder(), QStringLiteral("/games/yr"));
        QCOMPARE(Settings::winePrefix(), QStringLiteral("/home/me/.wine,2"));
        QCOMPARE(Settings::wineProgram(), QStringLiteral("/opt/wine"));
        QVERIFY(!Settings::allowP2P() && !Settings::processWatcherEnabled());
        QCOMPARE(Settings::watchedProcesses(), (QStringList{"a.exe", "b.exe"}));
        QCOMPARE(Settings::volume(), 30);
        QCOMPARE(Settings::placement()->window, QByteArray("g\0\1", 3));
        QCOMPARE(Settings::lastPlayer(QStringLiteral("yr")), 101);
        QCOMPARE(Settings::side(101), 2);
        QCOMPARE(Settings::mapSides(QStringLiteral("Allies"), 101, {}), (QJsonArray{1, -2}));

        // Written back under the same names, in the same form.
        Settings::setMapSides(QStringLiteral("Allies"), 101, QJsonArray{3});
        Settings::setSide(101, 4);
        QCOMPARE(QSettings().value(QStringLiteral("Allies101")).toByteArray(), QByteArray("[\n    3\n]\n"));
        QCOMPARE(QSettings().value(QStringLiteral("Player101/Side")).toInt(), 4);
    }

    void unusableValuesReadAsDefaultsAndStay()
    {
        TestEnv env;
        const QList<QPair<QString, QVariant>> stored = {{"ZantryVolume", 250},   {"AllowP2P", "maybe"},
                                                        {"yr/lastPlayer", "abc"}, {"Player7/Side", -5},
                                                        {"wineProgram", ""},      {"Allies7", "not json"}};
        for (const auto &entry : stored)
            QSettings().setValue(entry.first, entry.second);
        LogCapture log;
        QCOMPARE(Settings::volume(), 75);
        QCOMPARE(Settings::allowP2P(), true);
        QCOMPARE(Settings::lastPlayer(QStringLiteral("yr")), -1);
        QCOMPARE(Settings::side(7), -1);
        QCOMPARE(Settings::wineProgram(), QStringLiteral("wine"));
        QCOMPARE(Settings::mapSides(QStringLiteral("Allies"), 7, {-3}), QJsonArray{-3});
        for (const auto &entry : stored)
            QVERIFY2(log.contains(QStringLiteral("Setting %1: stored value").arg(entry.first)), qPrintable(entry.first));

        // The window shows the defaults and stores them back: not a change.
        Settings::setVolume(75);
        Settings::setAllowP2P(true);
        Settings::setSide(7, -1);
        Settings::setVolume(101);
        for (const auto &entry : stored)
            QCOMPARE(QSettings().value(entry.first).toString(), entry.second.toString());

        Settings::setVolume(40);
        Settings::setAllowP2P(false);
        QCOMPARE(QSettings().value(QStringLiteral("ZantryVolume")).toInt(), 40);
        QCOMPARE(QSettings().value(QStringLiteral("AllowP2P")).toString(), QStringLiteral("false"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
