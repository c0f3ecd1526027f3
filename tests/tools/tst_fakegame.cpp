#include "sandbox.h"

#include "app/filedigest.h"
#include "spawn/spawninfo.h"

#include <QNetworkDatagram>
#include <QSettings>
#include <QUdpSocket>
#include <QtEndian>
#include <QtTest>

// The launcher stand-in and the sandbox game folder: two fake games
// exchange datagrams through a relay that plays the router's part, and the
// scripted failures leave what the client looks for.
class TestFakeGame : public QObject
{
    Q_OBJECT

private slots:
    void twoGamesExchange();
    void crashWritesExceptionFile_data();
    void crashWritesExceptionFile();
    void failuresBeforePlay();
    void gameFolder();

private:
    static QString launcherIn(const QString &dir, const QString &name);
    static void writeSpawn(const QString &dir, const QString &me, const QStringList &others, quint16 tunnelPort);
};

namespace {

// Learns each sender id's endpoint and forwards by receiver id, as a
// router (or tunnel) does for the game.
class Relay : public QObject
{
public:
    Relay()
    {
        m_socket.bind(QHostAddress::LocalHost, 0);
        connect(&m_socket, &QUdpSocket::readyRead, this, [this]() {
            while (m_socket.hasPendingDatagrams()) {
                const QNetworkDatagram d = m_socket.receiveDatagram();
                const QByteArray data = d.data();
                if (data.size() < 4)
                    continue;
                const quint16 from = qFromBigEndian<quint16>(data.constData());
                const quint16 to = qFromBigEndian<quint16>(data.constData() + 2);
                m_seen.insert(from, qMakePair(d.senderAddress(), quint16(d.senderPort())));
                if (m_seen.contains(to)) {
                    m_socket.writeDatagram(data, m_seen.value(to).first, m_seen.value(to).second);
                    ++forwarded;
                }
            }
        });
    }
    quint16 port() const { return m_socket.localPort(); }
    int forwarded = 0;

private:
    QUdpSocket m_socket;
    QHash<quint16, QPair<QHostAddress, quint16>> m_seen;
};

quint16 idOf(const QString &name)
{
    return quint16(nameHash(name) & 0xffff);
}

} // namespace

QString TestFakeGame::launcherIn(const QString &dir, const QString &name)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile::copy(TestEnv::toolPath(QStringLiteral("fakegame")), path);
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
    return path;
}

// The file as the client writes it: opponents at 0.0.0.0 behind the tunnel.
void TestFakeGame::writeSpawn(const QString &dir, const QString &me, const QStringList &others, quint16 tunnelPort)
{
    QSettings ini(dir + QStringLiteral("/spawn.ini"), QSettings::IniFormat);
    ini.setIniCodec("UTF-8");
    ini.setValue(QStringLiteral("Settings/Name"), me);
    ini.setValue(QStringLiteral("Settings/Port"), idOf(me));
    ini.setValue(QStringLiteral("Settings/Scenario"), QStringLiteral("spawnmap.ini"));
    for (int i = 0; i < others.size(); ++i) {
        ini.setValue(QStringLiteral("Other%1/Name").arg(i + 1), others.at(i));
        ini.setValue(QStringLiteral("Other%1/Port").arg(i + 1), idOf(others.at(i)));
        ini.setValue(QStringLiteral("Other%1/IP").arg(i + 1), QStringLiteral("0.0.0.0"));
    }
    ini.setValue(QStringLiteral("Tunnel/IP"), QStringLiteral("127.0.0.1"));
    ini.setValue(QStringLiteral("Tunnel/Port"), tunnelPort);
    ini.sync();
    QFile map(dir + QStringLiteral("/spawnmap.ini"));
    map.open(QIODevice::WriteOnly);
    map.write("[Basic]\nName=Test\n");
}

void TestFakeGame::twoGamesExchange()
{
    Relay relay;
    QTemporaryDir aliceDir, bobDir;
    writeSpawn(aliceDir.path(), QStringLiteral("Alice"), {QStringLiteral("Bob")}, relay.port());
    writeSpawn(bobDir.path(), QStringLiteral("Bob"), {QStringLiteral("Alice")}, relay.port());
    QProcess alice, bob;
    for (QProcess *p : {&alice, &bob}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FAKEGAME_SECONDS"), QStringLiteral("3"));
        env.insert(QStringLiteral("FAKEGAME_INTERVAL_MS"), QStringLiteral("50"));
        p->setProcessEnvironment(env);
    }
    alice.setWorkingDirectory(aliceDir.path());
    bob.setWorkingDirectory(bobDir.path());
    alice.start(launcherIn(aliceDir.path(), QStringLiteral("morvel.exe")), {QStringLiteral("-SPAWN")});
    bob.start(launcherIn(bobDir.path(), QStringLiteral("morvel.exe")), {QStringLiteral("-SPAWN")});
    QTRY_VERIFY_WITH_TIMEOUT(alice.state() == QProcess::NotRunning && bob.state() == QProcess::NotRunning, 15000);
    QCOMPARE(alice.exitCode(), 0);
    QCOMPARE(bob.exitCode(), 0);

    for (const auto &side : {qMakePair(aliceDir.path(), QStringLiteral("Bob")), qMakePair(bobDir.path(), QStringLiteral("Alice"))}) {
        QSettings stats(side.first + QStringLiteral("/stats.dmp"), QSettings::IniFormat);
        const QString peer = QStringLiteral("Peer%1/").arg(idOf(side.second));
        QCOMPARE(stats.value(peer + QStringLiteral("Name")).toString(), side.second);
        const int sent = stats.value(peer + QStringLiteral("Sent")).toInt();
        const int received = stats.value(peer + QStringLiteral("Received")).toInt();
        QVERIFY2(sent >= 20 && sent <= 80, qPrintable(QString::number(sent)));
        // Until the relay has seen both games, and after the other one has
        // ended, datagrams have nowhere to go: the two runs overlap only
        // partly when the machine is busy.
        QVERIFY2(received >= sent / 3 && received <= sent + 5, qPrintable(QStringLiteral("%1 of %2").arg(received).arg(sent)));
        QCOMPARE(stats.value(QStringLiteral("Game/Stray")).toInt(), 0);
        QFile log(side.first + QStringLiteral("/fakegame.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("wrote stats.dmp"));
    }
    QVERIFY(relay.forwarded >= 40);
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

    game.start(launcher, {QStringLiteral("-SPAWN")}); // no spawn.ini
    QVERIFY(game.waitForFinished(10000));
    QCOMPARE(game.exitCode(), 4);

    writeSpawn(dir.path(), QStringLiteral("Alice"), {QStringLiteral("Bob")}, 9);
    QFile::remove(dir.filePath(QStringLiteral("spawnmap.ini")));
    game.start(launcher, {QStringLiteral("-SPAWN")});
    QVERIFY(game.waitForFinished(10000));
    QCOMPARE(game.exitCode(), 4);

    QProcessEnvironment env;
    env.insert(QStringLiteral("FAKEGAME_MODE"), QStringLiteral("nostart"));
    game.setProcessEnvironment(env);
    game.start(launcher, {QStringLiteral("-SPAWN")});
    QVERIFY(game.waitForFinished(10000));
    QCOMPARE(game.exitCode(), 1);

    writeSpawn(dir.path(), QStringLiteral("Alice"), {QStringLiteral("Bob")}, 9);
    env.insert(QStringLiteral("FAKEGAME_MODE"), QStringLiteral("hang"));
    game.setProcessEnvironment(env);
    game.start(launcher, {QStringLiteral("-SPAWN")});
    QVERIFY(game.waitForStarted(5000));
    QVERIFY(!game.waitForFinished(1000));
    game.terminate();
    QVERIFY(game.waitForFinished(5000));
    QCOMPARE(game.exitStatus(), QProcess::NormalExit);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("stats.dmp"))));

    QFile log(dir.filePath(QStringLiteral("fakegame.log")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    log.close();
    QVERIFY(text.contains("no spawn file"));
    QVERIFY(text.contains("no spawnmap.ini"));
    QVERIFY(text.contains("refusing to start"));
    QVERIFY(text.contains("hanging"));
    QVERIFY(text.contains("stopping on SIGTERM"));

    // SIGTERM during the exchange ends it early, stats written.
    QVERIFY(log.remove());
    env.insert(QStringLiteral("FAKEGAME_MODE"), QStringLiteral("normal"));
    env.insert(QStringLiteral("FAKEGAME_SECONDS"), QStringLiteral("60"));
    game.setProcessEnvironment(env);
    game.start(launcher, {QStringLiteral("-SPAWN")});
    QVERIFY(game.waitForStarted(5000));
    auto logText = [&] {
        QFile f(dir.filePath(QStringLiteral("fakegame.log")));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    QTRY_VERIFY_WITH_TIMEOUT(logText().contains("opponents"), 5000);
    game.terminate();
    QVERIFY(game.waitForFinished(5000));
    QCOMPARE(game.exitCode(), 0);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("stats.dmp"))));
}

void TestFakeGame::gameFolder()
{
    QTemporaryDir dir;
    const QStringList report = Sandbox::makeGameFolder(dir.path(), {QStringLiteral("--game"), QStringLiteral("yr")});
    QVERIFY(!report.isEmpty());
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("morvel.exe"))).isExecutable());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("quillon.exe"))));
    int present = 0, missing = 0;
    for (const QString &line : report) {
        const QStringList f = line.split(QLatin1Char(' '));
        if (f.first() != QLatin1String("MAP"))
            continue;
        QCOMPARE(f.size(), 5);
        if (f.at(1) == QLatin1String("present")) {
            QCOMPARE(FileDigest::sha1Hex(f.at(4)), f.at(3));
            ++present;
        } else {
            QVERIFY(!QFile::exists(f.at(4)));
            ++missing;
        }
    }
    QVERIFY(present > 0 && missing > 0);

    // The renderer the game settings name resolves to files that exist.
    const QString renderer = QSettings(dir.filePath(QStringLiteral("RA2MD.ini")), QSettings::IniFormat).value(QStringLiteral("Compatibility/Renderer")).toString();
    QSettings renderers(dir.filePath(QStringLiteral("Resources/Renderers.ini")), QSettings::IniFormat);
    renderers.beginGroup(renderer);
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("Resources/") + renderers.value(QStringLiteral("DLLName")).toString())));
    const QStringList extras = renderers.value(QStringLiteral("AdditionalFiles")).toStringList();
    QCOMPARE(extras.size(), 2);
    for (const QString &extra : extras)
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("Resources/") + extra)));

    QTemporaryDir broken;
    QVERIFY(!Sandbox::makeGameFolder(broken.path(), {QStringLiteral("--game"), QStringLiteral("all"), QStringLiteral("--broken-launcher")}).isEmpty());
    for (const char *name : {"morvel.exe", "quillon.exe", "fennick.exe"}) {
        QVERIFY(QFile::exists(broken.filePath(QLatin1String(name))));
        QVERIFY(!QFileInfo(broken.filePath(QLatin1String(name))).isExecutable());
    }
}

QTEST_MAIN(TestFakeGame)
#include "tst_fakegame.moc"
