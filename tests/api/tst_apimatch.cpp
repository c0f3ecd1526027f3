// Answers of the find-match exchange, status updates and uploads that the
// sandbox does not give: odd content types, dropped connections, late answers.
#include "apifixture.h"
#include "logcapture.h"
#include "net/global.h"

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
    }
    void cleanup()
    {
        Global::instance()->setPeerRoutes(nullptr);
        f.reset();
    }

    void brokenExchangeEndsTheSearch_data()
    {
        QTest::addColumn<ScriptedService::Answer>("broken");
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
