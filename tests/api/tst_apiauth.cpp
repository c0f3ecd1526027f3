// Login, refresh and list answers that the sandbox does not give (empty
// tokens, odd content types, dropped connections), from a scripted service.
#include "apifixture.h"
#include "logcapture.h"
#include "net/global.h"

#include <QJsonArray>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

class TestApiAuth : public QObject
{
    Q_OBJECT
private slots:
    void init() { f.reset(new ApiFixture); }
    void cleanup() { f.reset(); }

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

    void unreachableServiceReportsApiFailed()
    {
        QSignalSpy required(f->api.data(), &LorvaneAPI::authenticationRequired);
        QSignalSpy apiFailed(f->api.data(), &LorvaneAPI::apiFailed);
        QSignalSpy authFailed(f->api.data(), &LorvaneAPI::authenticationFailed);
        f->api->setURL(ApiFixture::deadUrl());
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
        f->api->setURL(ApiFixture::deadUrl());
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
        QTest::newRow("200 charset") << 200 << QByteArray("application/json; charset=utf-8") << 0 << 0;
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
        const QTimer *refresh = f->api->findChild<QTimer *>("refreshTimer");
        QVERIFY(refresh->isActive());
        QCOMPARE(refresh->interval(), 43200000);
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
        f->service.script("GET", "/api/v1/zantry/ladder/yr/stats", ApiFixture::json({{"recentMatches", 12},
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

private:
    QScopedPointer<ApiFixture> f;
};

QTEST_GUILESS_MAIN(TestApiAuth)
#include "tst_apiauth.moc"
