// The client against a scripted loopback service, for the answers the
// sandbox does not give: empty tokens, odd content types, dropped
// connections, late answers, lists that change under a selection.
#include "api/lorvaneapi.h"
#include "logcapture.h"
#include "net/global.h"
#include "scriptedservice.h"
#include "testenv.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

namespace {

const QByteArray kMatchPath = "/api/v1/zantry/yr/neo";

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson();
}

ScriptedService::Answer answer(const QJsonObject &object)
{
    return ScriptedService::Answer{200, "application/json", json(object), false};
}

// A loopback port nobody listens on.
QString deadUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QStringLiteral("http://127.0.0.1:%1/api/v1").arg(probe.serverPort());
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

// A client and a scripted service in an isolated environment. loginAs()
// scripts the ladder "yr" (id 1, sides 10 "Allies" and 11 "Soviet") and
// selects its account 42 "neo".
struct ApiFixture
{
    ApiFixture()
        : env(new TestEnv)
    {
        service.listen();
        Global *global = Global::instance();
        global->setAllowP2P(true);
        global->setSpawnInfo(SpawnInfo());
        global->setPeerRoutes(nullptr);
        global->setZantryStats(Global::Stats());
        api.reset(new LorvaneAPI);
    }
    ~ApiFixture()
    {
        api.reset();
        env.reset();
    }

    bool loginAs()
    {
        service.script("GET", "/api/v1/auth/refresh", json({{"token", "tok"}, {"email", "neo@example.org"}}));
        const QJsonArray sides{QJsonObject{{"id", 11}, {"local_id", 1}, {"name", "Soviet"}},
                               QJsonObject{{"id", 10}, {"local_id", 0}, {"name", "Allies"}}};
        const QJsonArray ladders{QJsonObject{{"id", 1}, {"abbreviation", "yr"}, {"game", "yr"}, {"sides", sides}}};
        service.script("GET", "/api/v1/ladder", QJsonDocument(ladders).toJson());
        const QJsonArray players{QJsonObject{{"id", 42}, {"username", "neo"}, {"ladder_id", 1}}};
        service.script("GET", "/api/v1/user/account", QJsonDocument(players).toJson());
        const QJsonArray maps{QJsonObject{{"id", 5}, {"bit_idx", 0}, {"hash", "aa"}}};
        service.script("GET", "/api/v1/zantry/ladder/yr/maps", QJsonDocument(maps).toJson());
        service.script("GET", "/api/v1/zantry/ladder/yr/stats", json({{"recentMatches", 12}}));

        QSignalSpy players_(api.data(), &LorvaneAPI::playersChanged);
        QSignalSpy maps_(api.data(), &LorvaneAPI::currentPlayerMapsChanged);
        api->setURL(service.baseUrl());
        if (!players_.wait(5000))
            return false;
        QSignalSpy stats(Global::instance(), &Global::zantryStatsChanged);
        api->setCurrentPlayer(42);
        return maps_.wait(5000) && (stats.count() || stats.wait(5000));
    }
    int requestCount(const QByteArray &path) const { return service.requestsTo(path).size(); }

    QScopedPointer<TestEnv> env;
    ScriptedService service;
    QScopedPointer<LorvaneAPI> api;
};

} // namespace

class TestApiScripted : public QObject
{
    Q_OBJECT
private slots:
    void init() { f.reset(new ApiFixture); }
    void cleanup()
    {
        Global::instance()->setPeerRoutes(nullptr);
        f.reset();
    }

    void refusedLoginKeepsTheToken_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("empty token") << QByteArray(R"({"token": "", "session": "s"})");
        QTest::newRow("no json") << QByteArray("<html>busy</html>");
    }
    void refusedLoginKeepsTheToken()
    {
        QFETCH(QByteArray, body);
        QSettings().setValue("accessToken", "old");
        f->api.reset(new LorvaneAPI);
        f->service.script("POST", "/api/v1/auth/login", body);
        f->service.script("GET", "/api/v1/auth/refresh", ScriptedService::Answer{500, "text/plain", "down", false});
        f->api->setURL(f->service.baseUrl());
        QSignalSpy failed(f->api.data(), &LorvaneAPI::authenticationFailed);
        QSignalSpy apiFailed(f->api.data(), &LorvaneAPI::apiFailed);
        f->api->login();
        QVERIFY(failed.wait(5000));
        QCOMPARE(apiFailed.count(), 0);
        QCOMPARE(QSettings().value("accessToken").toString(), QStringLiteral("old"));
        f->api->fetchLadders();
        QTRY_COMPARE(f->requestCount("/api/v1/ladder"), 1);
        QCOMPARE(f->service.requestsTo("/api/v1/ladder").value(0).headers.value("authorization"),
                 QByteArray("Bearer:old"));
    }

    void loginStoresTheTokenButNeverLogsIt()
    {
        f->service.script("POST", "/api/v1/auth/login", QByteArray(R"({"token": "sekret-77", "session": "s", "user_name": "neo"})"));
        f->api->setURL(f->service.baseUrl());
        QSignalSpy success(f->api.data(), &LorvaneAPI::authenticationSuccess);
        LogCapture log;
        f->api->login();
        QVERIFY(success.wait(5000));
        QCOMPARE(QSettings().value("accessToken").toString(), QStringLiteral("sekret-77"));
        QVERIFY(log.contains("slotAuthRequestFinished(): "));
        QVERIFY(!log.contains("sekret-77"));
    }

    void unreachableServiceReportsApiFailed()
    {
        QSignalSpy required(f->api.data(), &LorvaneAPI::authenticationRequired);
        QSignalSpy apiFailed(f->api.data(), &LorvaneAPI::apiFailed);
        QSignalSpy authFailed(f->api.data(), &LorvaneAPI::authenticationFailed);
        f->api->setURL(deadUrl());
        QCOMPARE(required.count(), 1); // empty token: asked at once
        QVERIFY(apiFailed.wait(5000));

        f->api->login();
        QTRY_COMPARE(apiFailed.count(), 2);
        QCOMPARE(authFailed.count(), 0);
    }

    void refreshFailureAfterLoginLeavesTheSession()
    {
        QVERIFY(f->loginAs());
        QSignalSpy apiFailed(f->api.data(), &LorvaneAPI::apiFailed);
        QSignalSpy required(f->api.data(), &LorvaneAPI::authenticationRequired);
        LogCapture log;
        f->api->setURL(deadUrl());
        QTRY_VERIFY(log.contains("Token refresh failed: "));
        QCOMPARE(apiFailed.count(), 0);
        QCOMPARE(required.count(), 0);
        QVERIFY(f->api->currentPlayer());
    }

    void refreshAnswers_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<int>("successes");
        QTest::addColumn<int>("required");
        QTest::newRow("200 json") << 200 << QByteArray("application/json") << 1 << 0;
        QTest::newRow("200 charset") << 200 << QByteArray("Application/JSON; charset=utf-8") << 1 << 0;
        QTest::newRow("401 json") << 401 << QByteArray("application/json") << 0 << 1;
        QTest::newRow("401 html") << 401 << QByteArray("text/html") << 0 << 0;
        QTest::newRow("500 json") << 500 << QByteArray("application/json") << 0 << 0;
    }
    void refreshAnswers()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(int, successes);
        QFETCH(int, required);
        QSettings().setValue("accessToken", "stored");
        f->api.reset(new LorvaneAPI);
        f->service.script("GET", "/api/v1/auth/refresh",
                          ScriptedService::Answer{status, contentType,
                                                  R"({"token": "fresh", "email": "neo@example.org"})", false});
        f->service.then("GET", "/api/v1/auth/refresh", ScriptedService::Answer{500, "text/plain", "", false});
        f->service.script("GET", "/api/v1/ladder", QByteArray("[]"));
        QSignalSpy success(f->api.data(), &LorvaneAPI::authenticationSuccess);
        QSignalSpy req(f->api.data(), &LorvaneAPI::authenticationRequired);
        QSignalSpy apiFailed(f->api.data(), &LorvaneAPI::apiFailed);
        // The same URL twice sends two refreshes; the second is answered 500.
        f->api->setURL(f->service.baseUrl());
        f->api->setURL(f->service.baseUrl());
        QTRY_COMPARE(f->requestCount("/api/v1/auth/refresh"), 2);
        QTest::qWait(100);
        QCOMPARE(success.count(), successes);
        QCOMPARE(req.count(), required);
        QCOMPARE(apiFailed.count(), 0);
        QCOMPARE(f->service.requestsTo("/api/v1/auth/refresh").value(0).headers.value("authorization"),
                 QByteArray("Bearer:stored"));
        QCOMPARE(QSettings().value("accessToken").toString(), successes ? "fresh" : "stored");
        QCOMPARE(f->api->accountName(), successes ? QStringLiteral("neo@example.org") : QString());
        QCOMPARE(f->api->findChild<QTimer *>("statsTimer")->isActive(), required == 0);
        QVERIFY(f->api->findChild<QTimer *>("refreshTimer")->isActive());
    }

    void reloadedListsReplaceTheRecords()
    {
        QVERIFY(f->loginAs());
        QPointer<Player> old = f->api->currentPlayer();
        const QJsonArray ladders{QJsonObject{{"id", 1}, {"abbreviation", "ts"}},
                                 QJsonObject{{"id", 1}, {"abbreviation", "ra"}}};
        f->service.script("GET", "/api/v1/ladder", QJsonDocument(ladders).toJson());
        const QJsonArray players{QJsonObject{{"id", 42}, {"username", "neo"}, {"ladder_id", 1}},
                                 QJsonObject{{"id", 43}, {"username", "trin"}, {"ladder_id", 9}}};
        f->service.script("GET", "/api/v1/user/account", QJsonDocument(players).toJson());
        f->service.script("GET", "/api/v1/zantry/ladder/yr/stats", json({{"recentMatches", 12},
                                                                                     {"queuedPlayers", "3"}}));
        f->api->fetchZantryStats();
        QTRY_COMPARE(Global::instance()->zantryStats().value("queuedPlayers"), QVariant(0));

        QSignalSpy players_(f->api.data(), &LorvaneAPI::playersChanged);
        f->api->fetchLadders();
        QVERIFY(players_.wait(5000));
        QCOMPARE(f->api->ladders().size(), 1);
        QCOMPARE(f->api->ladders().value(1)->abbreviation, QStringLiteral("ra"));
        QVERIFY(!old);
        QVERIFY(!f->api->currentPlayer());
        QVERIFY(!Global::instance()->currentPlayer());
        QCOMPARE(f->api->players().value(42)->ladder->abbreviation, QStringLiteral("ra"));
        QVERIFY(!f->api->players().value(43)->ladder);

        // An account on an unknown ladder fetches nothing and queues nowhere.
        f->api->setCurrentPlayer(43);
        const int before = f->service.requests.size();
        f->api->fetchMaps();
        f->api->fetchZantryStats();
        f->api->findMatch();
        QTest::qWait(100);
        QCOMPARE(f->service.requests.size(), before);
    }

    void emptyAnswersEmptyTheLists()
    {
        QVERIFY(f->loginAs());
        f->service.script("GET", "/api/v1/ladder", ScriptedService::Answer{200, "application/json", "", true});
        f->service.script("GET", "/api/v1/user/account", QByteArray("{\"not\": \"an array\"}"));
        QSignalSpy players(f->api.data(), &LorvaneAPI::playersChanged);
        f->api->fetchLadders();
        QVERIFY(players.wait(5000));
        QVERIFY(f->api->ladders().isEmpty());
        QVERIFY(f->api->players().isEmpty());
    }

    void brokenExchangeEndsTheSearch_data()
    {
        QTest::addColumn<ScriptedService::Answer>("broken");
        QTest::newRow("html charset") << ScriptedService::Answer{200, "text/html; charset=utf-8", "{}", false};
        QTest::newRow("dropped") << ScriptedService::Answer{200, "", "", true};
    }
    void brokenExchangeEndsTheSearch()
    {
        QVERIFY(f->loginAs());
        QFETCH(ScriptedService::Answer, broken);
        LogCapture log;
        const QByteArray wait = json({{"type", "please wait"}, {"checkback", 30}});
        f->service.script("POST", kMatchPath, ScriptedService::Answer{200, "application/json; charset=utf-8", wait, false});
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
        f->service.script("POST", kMatchPath, answer({{"type", "please wait"}}));
        f->api->findMatch();
        QVERIFY(waiting.wait(5000));
        QVERIFY(f->api->findChild<QTimer *>("findMatchTimer")->isActive());
    }

    void lateBrokenAnswerLeavesAFormedMatch()
    {
        QVERIFY(f->loginAs());
        // A poll already on its way when the match forms comes back broken.
        ScriptedService::Answer late{502, "text/html", "timeout", false, 300};
        f->service.script("POST", kMatchPath, late);
        f->service.then("POST", kMatchPath, answer({{"type", "spawn"}, {"spawn", QJsonObject()}}));
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
        QVERIFY(f->loginAs());
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

    void noPlayerSendsNothing()
    {
        QVERIFY(f->loginAs());
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

    void onlyTheLastUploadIsLogged()
    {
        QVERIFY(f->loginAs());
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

QTEST_GUILESS_MAIN(TestApiScripted)
#include "tst_apiscripted.moc"
