// Crash reports as the log collector receives them: the sandbox records
// every multipart post, and the archive inside is opened again here.
#include "logcapture.h"
#include "sandbox.h"
#include "testenv.h"

#include "api/player.h"
#include "app/crashhandler.h"
#include "net/global.h"
#include "spawn/spawnablegame.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QSettings>
#include <QtTest>
#include <private/qzipreader_p.h>

namespace {

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QJsonArray reports(const Sandbox &sandbox)
{
    return sandbox.inspect().value(QStringLiteral("crashReports")).toArray();
}

QJsonObject reportFor(const Sandbox &sandbox, const QString &zipName)
{
    const QJsonArray all = reports(sandbox);
    for (const auto &r : all) {
        const QJsonArray files = r.toObject().value(QStringLiteral("files")).toArray();
        if (!files.isEmpty() && files.first().toObject().value(QStringLiteral("fileName")).toString() == zipName)
            return r.toObject();
    }
    return QJsonObject();
}

// Entry names with their contents, in archive order.
QList<QPair<QString, QByteArray>> zipEntries(const QJsonObject &report)
{
    QList<QPair<QString, QByteArray>> entries;
    const QJsonObject file = report.value(QStringLiteral("files")).toArray().first().toObject();
    QBuffer buffer;
    buffer.setData(QByteArray::fromBase64(file.value(QStringLiteral("base64")).toString().toLatin1()));
    buffer.open(QIODevice::ReadOnly);
    QZipReader zip(&buffer);
    for (const auto &info : zip.fileInfoList())
        entries.append({info.filePath, zip.fileData(info.filePath)});
    return entries;
}

QJsonObject fields(const QJsonObject &report)
{
    return report.value(QStringLiteral("fields")).toObject();
}

// The expected form: exactly these six text fields.
QJsonObject expectedFields(const QString &game, const QString &gameId, const QString &nickname, const QString &address)
{
    return QJsonObject {{QStringLiteral("game"), game},
                        {QStringLiteral("gameid"), gameId},
                        {QStringLiteral("logtype"), QStringLiteral("crash")},
                        {QStringLiteral("nickname"), nickname},
                        {QStringLiteral("exceptionAddress"), address},
                        {QStringLiteral("clientVersion"), QStringLiteral("1.62")}};
}

// One sandbox for the whole run; each case has its own folder and a fresh
// collector journal.
struct Collector
{
    explicit Collector(Sandbox &sandbox)
        : sandbox(sandbox)
    {
        env.setEndpoints(sandbox.endpoints());
        ready = sandbox.reset();
        QDir().mkpath(QStringLiteral("Zantry"));
        Global::instance()->setDataDir(QDir(QStringLiteral("Zantry")));
    }
    TestEnv env;
    Sandbox &sandbox;
    bool ready = false;
};

} // namespace

class TestCrashUpload : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_env.reset(new TestEnv);
        m_sandbox.reset(new Sandbox);
        QVERIFY2(m_sandbox->start(), qPrintable(m_sandbox->errorText()));
    }

    void cleanupTestCase()
    {
        m_sandbox.reset();
        m_env.reset();
    }

    void oldCrashPairUploadedAndArchived()
    {
        Collector c(*m_sandbox);
        QVERIFY(c.ready);
        QSettings().setValue(QStringLiteral("accountName"), QStringLiteral("Alice Nick"));
        const QString dump = QStringLiteral("55d0c0ffee12-20261206-101010-4242.dmp");
        const QString logName = QStringLiteral("55d0c0ffee12-20261206-101010-4242.log");
        QVERIFY(writeFile(QStringLiteral("Zantry/") + dump, "crash record"));
        QVERIFY(writeFile(QStringLiteral("Zantry/") + logName, "log of the crashed run"));
        LogCapture log;

        CrashHandler::instance()->uploadOldCrashFiles();
        // Archived at once, whatever the upload's outcome.
        QVERIFY(!QFile::exists(QStringLiteral("Zantry/") + dump));
        QVERIFY(!QFile::exists(QStringLiteral("Zantry/") + logName));
        QCOMPARE(readAll(QStringLiteral("Zantry/Archives/") + dump), QByteArray("crash record"));
        QCOMPARE(readAll(QStringLiteral("Zantry/Archives/") + logName), QByteArray("log of the crashed run"));

        QTRY_VERIFY_WITH_TIMEOUT(log.contains(QStringLiteral("postLogs finished")), 10000);
        QCOMPARE(reports(c.sandbox).size(), 1);
        const QJsonObject report = reportFor(c.sandbox, dump + QStringLiteral(".zip"));
        QCOMPARE(fields(report),
                 expectedFields(QStringLiteral("zantry"), QStringLiteral("12345"), QStringLiteral("Alice Nick"),
                                QStringLiteral("55d0c0ffee12")));
        const QJsonObject file = report.value(QStringLiteral("files")).toArray().first().toObject();
        QCOMPARE(file.value(QStringLiteral("name")).toString(), dump + QStringLiteral(".zip"));
        QCOMPARE(file.value(QStringLiteral("contentType")).toString(), QStringLiteral("application/octet-stream"));
        const auto entries = zipEntries(report);
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0], qMakePair(dump, QByteArray("crash record")));
        QCOMPARE(entries[1], qMakePair(logName, QByteArray("log of the crashed run")));

        // Text parts carry the header with its closing semicolon.
        bool seen = false;
        for (const auto &part : report.value(QStringLiteral("parts")).toArray()) {
            const QJsonArray headers = part.toObject().value(QStringLiteral("headers")).toArray();
            for (const auto &h : headers)
                seen |= h.toString().endsWith(QLatin1String("form-data; name=\"gameid\";"));
        }
        QVERIFY(seen);

        // The next start finds nothing left to send.
        CrashHandler::instance()->uploadOldCrashFiles();
        QTest::qWait(200);
        QCOMPARE(reports(c.sandbox).size(), 1);
    }

    void dumpWithoutLogAndNameWithoutDash()
    {
        Collector c(*m_sandbox);
        QVERIFY(c.ready);
        QVERIFY(writeFile(QStringLiteral("Zantry/nodash.dmp"), "first"));
        QVERIFY(writeFile(QStringLiteral("Zantry/abc-20261206-101010-7.dmp"), "second"));
        LogCapture log;
        CrashHandler::instance()->uploadOldCrashFiles();
        QTRY_COMPARE_WITH_TIMEOUT(reports(c.sandbox).size(), 2, 10000);

        const QJsonObject noDash = reportFor(c.sandbox, QStringLiteral("nodash.dmp.zip"));
        QCOMPARE(fields(noDash),
                 expectedFields(QStringLiteral("zantry"), QStringLiteral("12345"), QStringLiteral("unknown"),
                                QStringLiteral("nodash.dmp")));
        const auto entries = zipEntries(noDash);
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[1], qMakePair(QStringLiteral("nodash.log"), QByteArray()));

        const QJsonObject other = reportFor(c.sandbox, QStringLiteral("abc-20261206-101010-7.dmp.zip"));
        QCOMPARE(fields(other).value(QStringLiteral("exceptionAddress")).toString(), QStringLiteral("abc"));
        QCOMPARE(zipEntries(other).value(1).second, QByteArray());
        QCOMPARE(QDir(QStringLiteral("Zantry/Archives")).entryList(QDir::Files).size(), 2);
        QCOMPARE(QDir(QStringLiteral("Zantry")).entryList({QStringLiteral("*.dmp")}).size(), 0);
    }

    void gameCrashReport_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("address");
        QTest::newRow("last wins") << QByteArray("Eip:00000001\ta\r\n\r\nEip:7FFE0304\tb\r\n") << "7FFE0304";
        QTest::newRow("no eip") << QByteArray("Exception 0xC0000005\nEsp:0019FF00\tstack\n") << "";
        QTest::newRow("no tab") << QByteArray("Eip:0041A2B3\n") << "";
        QTest::newRow("lower case") << QByteArray("eip:0041A2B3\tx\n") << "";
        // The fake game's line; a short address keeps part of its label.
        QTest::newRow("short field") << QByteArray("Eip:12\tEsp:0019FA3C\tEbp:0019FA60\r\n") << "Eip:12";
    }

    void gameCrashReport()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, address);
        Collector c(*m_sandbox);
        QVERIFY(c.ready);
        const QString dir = c.env.filePath(QStringLiteral("game/"));
        QDir().mkpath(dir);
        QVERIFY(writeFile(dir + QStringLiteral("EXCEPT_LORVANE.TXT"), content));
        QVERIFY(writeFile(dir + QStringLiteral("spawn.ini"), "[Settings]\nSeed=7\n"));
        LogCapture log;

        const GameCrashInfo info {QStringLiteral("yr"), dir, QStringLiteral("EXCEPT_LORVANE.TXT"),
                                  QStringLiteral("alice"), 4711};
        QVERIFY(CrashHandler::instance()->uploadGameCrash(info));
        QVERIFY(log.contains(QStringLiteral("Game crashed at:")));
        QTRY_COMPARE_WITH_TIMEOUT(reports(c.sandbox).size(), 1, 10000);
        const QJsonObject report = reportFor(c.sandbox, QStringLiteral("EXCEPT_LORVANE.TXT.zip"));
        QCOMPARE(fields(report),
                 expectedFields(QStringLiteral("yr"), QStringLiteral("4711"), QStringLiteral("alice"), address));
        const auto entries = zipEntries(report);
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries[0], qMakePair(QStringLiteral("EXCEPT_LORVANE.TXT"), content));
        QCOMPARE(entries[1], qMakePair(QStringLiteral("spawn.ini"), QByteArray("[Settings]\nSeed=7\n")));
        QCOMPARE(entries[2], qMakePair(QStringLiteral("spawnmap.ini"),
                                       QByteArray())); // missing: empty entry
        QVERIFY(QFile::exists(dir + QStringLiteral("EXCEPT_LORVANE.TXT"))); // left for the next launch
    }

    // What the session flow calls after a game: the values come from Global.
    void gameCrashFromCurrentGameAndPlayer()
    {
        Collector c(*m_sandbox);
        QVERIFY(c.ready);
        SpawnableGame ts(QStringLiteral("ts"));
        ts.workingDir = c.env.filePath(QStringLiteral("ts/"));
        ts.exceptionFile = QStringLiteral("except.txt");
        QDir().mkpath(ts.workingDir);
        QVERIFY(writeFile(ts.workingDir + ts.exceptionFile, "Eip:00401000\tQUILLON.EXE\r\n"));
        Player player(QJsonObject{{QStringLiteral("username"), QStringLiteral("carol")}}, nullptr);
        SpawnInfo spawn;
        spawn.settings.insert(QStringLiteral("WOLGameID"), 31337);
        Global *global = Global::instance();
        global->setSpawnInfo(spawn);
        global->setCurrentGame(&ts);
        QVERIFY(!CrashHandler::instance()->uploadGameCrashFiles()); // no player yet
        global->setCurrentPlayer(&player);
        const bool sent = CrashHandler::instance()->uploadGameCrashFiles();
        global->setCurrentGame(nullptr);
        global->setCurrentPlayer(nullptr);
        global->setSpawnInfo(SpawnInfo());
        QVERIFY(sent);
        QTRY_COMPARE_WITH_TIMEOUT(reports(c.sandbox).size(), 1, 10000);
        QCOMPARE(fields(reportFor(c.sandbox, QStringLiteral("except.txt.zip"))),
                 expectedFields(QStringLiteral("ts"), QStringLiteral("31337"), QStringLiteral("carol"),
                                QStringLiteral("00401000")));
    }

    void noExceptionFileNoReport()
    {
        Collector c(*m_sandbox);
        QVERIFY(c.ready);
        const QString dir = c.env.filePath(QStringLiteral("game/"));
        LogCapture log;
        QVERIFY(!CrashHandler::instance()->uploadGameCrash(
            {QStringLiteral("yr"), dir, QStringLiteral("EXCEPT_LORVANE.TXT"), QStringLiteral("alice"), 1}));
        QVERIFY(
            log.contains(QStringLiteral("No exception file found at ") + dir + QStringLiteral("EXCEPT_LORVANE.TXT")));
        QVERIFY(!CrashHandler::instance()->uploadGameCrash(
            {QStringLiteral("ts"), dir, QString(), QStringLiteral("alice"), 1}));
        QTest::qWait(200);
        QCOMPARE(reports(c.sandbox).size(), 0);
    }

private:
    QScopedPointer<TestEnv> m_env;
    QScopedPointer<Sandbox> m_sandbox;
};

QTEST_GUILESS_MAIN(TestCrashUpload)
#include "tst_crashupload.moc"
