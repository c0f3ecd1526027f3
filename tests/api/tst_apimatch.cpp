// The find-match exchange, status updates, quit and the result upload,
// against a scripted service on loopback.
#include "apifixture.h"
#include "logcapture.h"
#include "net/global.h"

#include <QFile>
#include <QJsonArray>
#include <QSignalSpy>
#include <QtTest>

namespace {

const QByteArray kMatchPath = "/api/v1/zantry/yr/neo";

ScriptedService::Answer json(const QJsonObject &object)
{
    return ScriptedService::Answer{200, "application/json", ApiFixture::json(object), false};
}

class FakeRoutes : public PeerRouteSource
{
public:
    bool bestRoute(quint32 id, PeerRoute *route) const override
    {
        if (!routes.contains(id))
            return false;
        *route = routes.value(id);
        return true;
    }
    QMap<quint32, PeerRoute> routes;
};

} // namespace

class TestApiMatch : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        f.reset(new ApiFixture);
        QVERIFY(f->loginAs());
        Global *g = Global::instance();
        g->setLocalIP(QHostAddress("192.168.1.5"));
        g->setLocalPort(51000);
        g->setLocalIPv6(QHostAddress("2001:db8::5"));
        g->setLocalIPv6Port(51001);
        g->setPublicIP(QHostAddress("203.0.113.5"));
        g->setPublicPort(51002);
        g->setCheatToolRunning(true);
    }
    void cleanup()
    {
        Global::instance()->setPeerRoutes(nullptr);
        f.reset();
    }

    void requestCarriesTheTable_data()
    {
        QTest::addColumn<bool>("p2p");
        QTest::newRow("p2p") << true;
        QTest::newRow("no p2p") << false;
    }
    void requestCarriesTheTable()
    {
        QFETCH(bool, p2p);
        Global::instance()->setAllowP2P(p2p);
        f->api->currentPlayer()->setMapSide(3, -2);
        f->service.script("POST", kMatchPath, json({{"type", "please wait"}}));
        QSignalSpy waiting(f->api.data(), &LorvaneAPI::waitForMatchup);
        f->api->findMatch();
        QVERIFY(waiting.wait(5000));
        const ScriptedService::Request sent = f->service.requestsTo(kMatchPath).value(0);
        QCOMPARE(sent.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(sent.headers.value("authorization"), QByteArray("Bearer:tok"));
        const QJsonObject r = QJsonDocument::fromJson(sent.body).object();
        QCOMPARE(r.keys().size(), 16);
        QCOMPARE(r.value("type").toString(), QStringLiteral("match me up"));
        QCOMPARE(r.value("lan_ip").toString(), p2p ? QStringLiteral("192.168.1.5") : QString());
        QCOMPARE(r.value("ipv6_address").toString(), p2p ? QStringLiteral("2001:db8::5") : QString());
        QCOMPARE(r.value("ip_address").toString(), p2p ? QStringLiteral("203.0.113.5") : QString());
        QCOMPARE(r.value("lan_port").toInt(), 51000);
        QCOMPARE(r.value("ipv6_port").toInt(), 51001);
        QCOMPARE(r.value("ip_port").toInt(), 51002);
        QCOMPARE(r.value("side").toInt(), 0);
        QCOMPARE(r.value("map_bitfield").toInt(), 0x7FFFFFFF);
        QCOMPARE(r.value("version").toString(), QStringLiteral("1.62"));
        QCOMPARE(r.value("platform").toString(), QStringLiteral("win32"));
        QCOMPARE(r.value("map_sides").toArray().size(), 128);
        QCOMPARE(r.value("map_sides").toArray().at(3).toInt(), -2);
        QCOMPARE(r.value("ai_dat").toBool(), true);
        QVERIFY(r.value("exe_hash").isString() && r.value("ddraw").isString());
        QCOMPARE(r.value("session").toString(), QString()); // refreshed, never logged in
        QVERIFY(sent.body.contains("\n    \"")); // indented text
    }

    void pollIntervalFollowsCheckback()
    {
        f->service.script("POST", kMatchPath, json({{"type", "please wait"}, {"checkback", 10}}));
        f->service.then("POST", kMatchPath, json({{"type", "please wait"}, {"checkback", 5}}));
        f->service.then("POST", kMatchPath, json({{"type", "please wait"}}));
        f->service.then("POST", kMatchPath, json({{"type", "something new"}}));
        const QTimer *timer = f->api->findChild<QTimer *>("findMatchTimer");
        QSignalSpy waiting(f->api.data(), &LorvaneAPI::waitForMatchup);
        f->api->findMatch();
        QVERIFY(waiting.wait(5000));
        QCOMPARE(timer->interval(), 10000);
        f->api->findMatch();
        QVERIFY(waiting.wait(5000));
        QCOMPARE(timer->interval(), 5000);
        QVERIFY(timer->isActive() && !timer->isSingleShot());
        f->api->findMatch();
        QVERIFY(waiting.wait(5000));
        QCOMPARE(timer->interval(), 10000); // no checkback: the default
        f->api->findMatch();
        QTRY_COMPARE(f->requestCount(kMatchPath), 4);
        QTest::qWait(100);
        QVERIFY(timer->isActive()); // an unknown type leaves the poll running
        QCOMPARE(waiting.count(), 3);
    }

    void spawnIsStoredForTheMatch()
    {
        const QJsonObject spawn{{"Settings", QJsonObject{{"Seed", 77}, {"UIMapName", "Lake"}}},
                                {"Other1", QJsonObject{{"Name", "abc"}, {"IP", "198.51.100.2"}, {"Port", 9000}}}};
        f->service.script("POST", kMatchPath, json({{"type", "please wait"}, {"checkback", 1}}));
        f->service.then("POST", kMatchPath, json({{"type", "spawn"}, {"gameID", 88}, {"spawn", spawn}}));
        QSignalSpy found(f->api.data(), &LorvaneAPI::matchupFound);
        f->api->findMatch();
        QVERIFY(found.wait(5000)); // the second request is the timer's
        QVERIFY(!f->api->findChild<QTimer *>("findMatchTimer")->isActive());
        const SpawnInfo info = Global::instance()->spawnInfo();
        QCOMPARE(info.seed, 77);
        QCOMPARE(info.gameID, 88);
        QCOMPARE(info.myID, nameHash("neo"));
        QCOMPARE(info.others.value("Other1").value("Port").toInt(), 63586);
    }

    void fatalReachesTheUser()
    {
        f->service.script("POST", kMatchPath, json({{"type", "please wait"}, {"checkback", 30}}));
        f->service.then("POST", kMatchPath, json({{"type", "fatal"}, {"message", "Banned for a day"}}));
        QSignalSpy fatal(f->api.data(), &LorvaneAPI::apiFatal);
        QSignalSpy cancelled(f->api.data(), &LorvaneAPI::cancelledFindMatch);
        f->api->findMatch();
        QTRY_COMPARE(f->requestCount(kMatchPath), 1);
        f->api->findMatch();
        QVERIFY(fatal.wait(5000));
        QCOMPARE(fatal.value(0).value(0).toString(), QStringLiteral("Banned for a day"));
        QVERIFY(!f->api->findChild<QTimer *>("findMatchTimer")->isActive());
        QCOMPARE(cancelled.count(), 0);
    }

    void brokenExchangeEndsTheSearch_data()
    {
        QTest::addColumn<ScriptedService::Answer>("broken");
        QTest::newRow("html") << ScriptedService::Answer{502, "text/html", "<h1>Bad gateway</h1>", false};
        QTest::newRow("json charset") << ScriptedService::Answer{200, "application/json; charset=utf-8", "{}", false};
        QTest::newRow("dropped") << ScriptedService::Answer{200, "", "", true};
    }
    void brokenExchangeEndsTheSearch()
    {
        QFETCH(ScriptedService::Answer, broken);
        LogCapture log;
        f->service.script("POST", kMatchPath, json({{"type", "please wait"}, {"checkback", 30}}));
        f->service.then("POST", kMatchPath, broken);
        QSignalSpy cancelled(f->api.data(), &LorvaneAPI::cancelledFindMatch);
        QSignalSpy waiting(f->api.data(), &LorvaneAPI::waitForMatchup);
        f->api->findMatch();
        QVERIFY(waiting.wait(5000));
        f->api->findMatch();
        QVERIFY(cancelled.wait(5000));
        QCOMPARE(cancelled.count(), 1);
        QVERIFY(!f->api->findChild<QTimer *>("findMatchTimer")->isActive());
        QVERIFY(log.contains("findMatch went wrong: "));

        // Queueing again works as the first time did.
        f->service.script("POST", kMatchPath, json({{"type", "please wait"}}));
        f->api->findMatch();
        QVERIFY(waiting.wait(5000));
        QVERIFY(f->api->findChild<QTimer *>("findMatchTimer")->isActive());
    }

    void lateBrokenAnswerLeavesAFormedMatch()
    {
        // A poll already on its way when the match forms comes back broken.
        ScriptedService::Answer late{502, "text/html", "timeout", false, 300};
        f->service.script("POST", kMatchPath, late);
        f->service.then("POST", kMatchPath, json({{"type", "spawn"}, {"spawn", QJsonObject()}}));
        QSignalSpy found(f->api.data(), &LorvaneAPI::matchupFound);
        QSignalSpy cancelled(f->api.data(), &LorvaneAPI::cancelledFindMatch);
        LogCapture log;
        f->api->findMatch();
        QTRY_COMPARE(f->requestCount(kMatchPath), 1);
        f->api->findMatch();
        QVERIFY(found.wait(5000));
        QTRY_VERIFY(log.contains("findMatch went wrong: timeout"));
        QCOMPARE(cancelled.count(), 0);
    }

    void updatesCarryPeersOnlyWhenReached()
    {
        SpawnInfo info;
        info.seed = 4242;
        info.paths.insert(300, NetworkPathPtr::create());
        info.paths.insert(300, NetworkPathPtr::create());
        info.paths.insert(100, NetworkPathPtr::create());
        info.paths.insert(200, NetworkPathPtr::create());
        Global::instance()->setSpawnInfo(info);
        f->service.script("POST", kMatchPath, QByteArray("ok"));

        // One at a time: parallel requests may arrive in any order.
        f->api->updateMatchStatus("Ready");
        QTRY_COMPARE(f->requestCount(kMatchPath), 1);
        f->api->updateMatchStatus("Reached"); // no router yet
        QTRY_COMPARE(f->requestCount(kMatchPath), 2);
        FakeRoutes routes;
        routes.routes.insert(300, PeerRoute{300, QHostAddress("198.51.100.3"), 7000, 31});
        routes.routes.insert(100, PeerRoute{100, QHostAddress("2001:db8::1"), 7001, 12});
        Global::instance()->setPeerRoutes(&routes);
        LogCapture log;
        f->api->updateMatchStatus("Reached");
        QTRY_COMPARE(f->requestCount(kMatchPath), 3);
        const QList<ScriptedService::Request> sent = f->service.requestsTo(kMatchPath);

        const QJsonObject ready = QJsonDocument::fromJson(sent[0].body).object();
        QCOMPARE(ready.value("type").toString(), QStringLiteral("update"));
        QCOMPARE(ready.value("status").toString(), QStringLiteral("Ready"));
        QCOMPARE(ready.value("seed").toInt(), 4242);
        QCOMPARE(ready.value("version").toString(), QStringLiteral("1.62"));
        QVERIFY(!ready.contains("peers"));
        QCOMPARE(QJsonDocument::fromJson(sent[1].body).object().value("peers"), QJsonValue(QJsonArray()));
        const QJsonArray peers = QJsonDocument::fromJson(sent[2].body).object().value("peers").toArray();
        QCOMPARE(peers.size(), 2);
        QCOMPARE(peers[0].toObject(),
                 (QJsonObject{{"id", "100"}, {"address", "2001:db8::1"}, {"port", 7001}, {"rtt", 12}}));
        QCOMPARE(peers[1].toObject().value("id").toString(), QStringLiteral("300"));
        QVERIFY(log.contains("Sending update message with seed:4242, status:Reached"));
        QTRY_VERIFY(log.contains("updateMatch finished with: ok"));
    }

    void quitStopsThePoll()
    {
        f->service.script("POST", kMatchPath, json({{"type", "please wait"}, {"checkback", 30}}));
        QSignalSpy waiting(f->api.data(), &LorvaneAPI::waitForMatchup);
        QSignalSpy cancelled(f->api.data(), &LorvaneAPI::cancelledFindMatch);
        f->api->findMatch();
        QVERIFY(waiting.wait(5000));
        f->service.script("POST", kMatchPath, ScriptedService::Answer{500, "text/plain", "", false});
        f->api->cancelFindMatch();
        QVERIFY(f->api->findChild<QTimer *>("findMatchTimer")->isActive()); // until the answer
        QVERIFY(cancelled.wait(5000));
        QVERIFY(!f->api->findChild<QTimer *>("findMatchTimer")->isActive());
        QCOMPARE(f->lastJson(kMatchPath), (QJsonObject{{"type", "quit"}, {"version", "1.62"}}));
    }

    void noPlayerSendsNothing()
    {
        f->api->setCurrentPlayer(-1);
        LogCapture log;
        const int before = f->service.requests.size();
        f->api->cancelFindMatch();
        f->api->updateMatchStatus("Ready");
        f->api->findMatch();
        f->api->postGameStats("stats.dmp", 1, 2, 3);
        QTest::qWait(100);
        QCOMPARE(f->service.requests.size(), before);
        QCOMPARE(log.count("player or ladder not set"), 4);
    }

    void resultUploadPaths_data()
    {
        QTest::addColumn<uint>("gameID");
        QTest::addColumn<bool>("haveFile");
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("game 0") << 0u << true << QByteArray("/api/v1/result/yr/neo/17/15");
        QTest::newRow("game 3e9") << 3000000000u << true
                                  << QByteArray("/api/v1/result/ladder/1/game/3000000000/player/42/pings/17/15");
        QTest::newRow("no file") << 5u << false << QByteArray("/api/v1/result/ladder/1/game/5/player/42/pings/17/15");
    }
    void resultUploadPaths()
    {
        QFETCH(uint, gameID);
        QFETCH(bool, haveFile);
        QFETCH(QByteArray, path);
        const QByteArray content("\x00\x01stats\xff\r\n--", 12);
        if (haveFile) {
            QFile file("stats.dmp");
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        f->service.script("POST", path, QByteArray("stored"));
        LogCapture log;
        f->api->postGameStats(f->env->filePath("work/stats.dmp"), gameID, 17, 15);
        QTRY_VERIFY(log.contains("Game Result posted stored"));
        const ScriptedService::Request sent = f->service.requestsTo(path).value(0);
        QCOMPARE(sent.headers.value("authorization"), QByteArray("Bearer:tok"));
        QVERIFY(sent.headers.value("content-type").startsWith("multipart/form-data; boundary="));
        QByteArray boundary = sent.headers.value("content-type").mid(30);
        if (boundary.startsWith('"'))
            boundary = boundary.mid(1, boundary.size() - 2);
        boundary.prepend("--");
        const QByteArray head = "Content-Disposition: form-data; name=\"file\"; filename=\"stats.dmp\"";
        QCOMPARE(sent.body.count(boundary), 2); // one part and the closing line
        QVERIFY(sent.body.contains(head));
        QVERIFY(sent.body.contains("Content-Type: application/octet-stream"));
        const int start = sent.body.indexOf("\r\n\r\n") + 4;
        const int end = sent.body.lastIndexOf("\r\n" + boundary);
        QCOMPARE(sent.body.mid(start, end - start), haveFile ? content : QByteArray());
    }

    void onlyTheLastUploadIsLogged()
    {
        f->service.script("POST", "/api/v1/result/yr/neo/1/1", QByteArray("first"));
        f->service.script("POST", "/api/v1/result/yr/neo/2/2", QByteArray("second"));
        LogCapture log;
        f->api->postGameStats("missing.dmp", 0, 1, 1);
        f->api->postGameStats("missing.dmp", 0, 2, 2);
        QTRY_VERIFY(log.contains("Game Result posted second"));
        QTRY_COMPARE(f->requestCount("/api/v1/result/yr/neo/1/1"), 1);
        QTest::qWait(100);
        QVERIFY(!log.contains("Game Result posted first"));
    }

private:
    QScopedPointer<ApiFixture> f;
};

QTEST_GUILESS_MAIN(TestApiMatch)
#include "tst_apimatch.moc"
