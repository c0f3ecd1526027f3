// A whole session of the client with the sandbox service over HTTP on
// loopback, checked at the service's inspection endpoint.
#include "api/lorvaneapi.h"
#include "app/endpoints.h"
#include "logcapture.h"
#include "net/global.h"
#include "sandbox.h"
#include "spawn/spawnablegame.h"

#include <QFile>
#include <QJsonArray>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

namespace {

class FakeRoutes : public PeerRouteSource
{
public:
    bool bestRoute(quint32 id, PeerRoute *route) const override
    {
        if (id != nameHash("Bob"))
            return false;
        *route = PeerRoute{id, QHostAddress("127.0.0.1"), 4321, 17};
        return true;
    }
};

QTimer *pollTimer(LorvaneAPI *api)
{
    return api->findChild<QTimer *>("findMatchTimer");
}

} // namespace

class TestApiSandbox : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_env.reset(new TestEnv);
        m_sandbox.reset(new Sandbox);
        QVERIFY2(m_sandbox->start(), qPrintable(m_sandbox->errorText()));
        m_env->setEndpoints(m_sandbox->endpoints());
        Global::instance()->setAllowP2P(true);
        Global::instance()->setPeerRoutes(nullptr);
        Global::instance()->setLocalIP(QHostAddress("127.0.0.1"));
        Global::instance()->setLocalPort(52000);
    }
    void cleanup()
    {
        m_clients.clear();
        Global::instance()->setPeerRoutes(nullptr);
        m_sandbox.reset();
        m_env.reset();
    }

    void storedTokenRunsTheWholeChain()
    {
        LorvaneAPI *api = client("token-alice");
        QSignalSpy changed(api, &LorvaneAPI::currentPlayerChanged);
        QVERIFY(select(api, 101, 2));
        api->setCurrentPlayer(101);
        QCOMPARE(changed.count(), 1);

        const QStringList expected{"GET /api/v1/auth/refresh",        "GET /api/v1/auth/refresh",
                                   "GET /api/v1/ladder",              "GET /api/v1/ladder",
                                   "GET /api/v1/user/account",        "GET /api/v1/user/account",
                                   "GET /api/v1/zantry/ladder/yr/maps", "GET /api/v1/zantry/ladder/yr/stats"};
        QStringList seen;
        for (const QJsonValue &r : m_sandbox->inspect().value("requests").toArray()) {
            const QJsonObject o = r.toObject();
            seen << o.value("method").toString() + ' ' + o.value("path").toString();
            const QString bearer = o.value("headers").toObject().value("Authorization").toString();
            // Both refreshes leave before an answer; later requests use the refreshed token.
            if (o.value("path").toString().endsWith("/refresh"))
                QCOMPARE(bearer, QStringLiteral("Bearer:token-alice"));
            else
                QVERIFY2(bearer.startsWith("Bearer:") && bearer.size() > 7 && !bearer.contains(' '), qPrintable(bearer));
        }
        seen.sort();
        QCOMPARE(seen, expected);

        QCOMPARE(api->ladders().size(), 3);
        QCOMPARE(api->ladders().value(1)->sides.size(), 10); // Yuri (local id 9) not allowed
        QVERIFY(!api->ladders().value(1)->sides.contains(11));
        QCOMPARE(api->ladders().value(3)->sides.keys(), (QList<int>{15, 16, 17})); // Ukraine not allowed
        QCOMPARE(api->players().size(), 3);
        Player *alice = api->currentPlayer();
        QCOMPARE(alice->username, QStringLiteral("Alice"));
        QCOMPARE(alice->currentSide()->id, 1); // smallest side id
        QCOMPARE(alice->ladder->maps.size(), 4);
        QCOMPARE(Global::instance()->currentPlayer(), alice);
        QTRY_VERIFY(Global::instance()->zantryStats().contains("queuedPlayers"));

        api->setCurrentPlayer(999);
        QVERIFY(!api->currentPlayer());
        QCOMPARE(changed.count(), 1);
    }

    void missingOrRefusedTokenAsksForLogin_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("refused") << QByteArray("token-nobody");
    }
    void missingOrRefusedTokenAsksForLogin()
    {
        QFETCH(QByteArray, token);
        LorvaneAPI *api = client(token);
        QSignalSpy required(api, &LorvaneAPI::authenticationRequired);
        QSignalSpy success(api, &LorvaneAPI::authenticationSuccess);
        api->setURL(Endpoints::instance().apiUrl());
        QCOMPARE(required.count(), token.isEmpty() ? 1 : 0); // an empty token asks at once
        // ...and the refresh goes out all the same, refused with 401.
        QTRY_COMPARE(required.count(), token.isEmpty() ? 2 : 1);
        QCOMPARE(requests("/api/v1/auth/refresh").size(), 1);
        QCOMPARE(success.count(), 0);
        QVERIFY(!api->findChild<QTimer *>("statsTimer")->isActive());
    }

    void passwordLoginSurvivesFormEncoding()
    {
        const QString password = QStringLiteral("a+b&c=d%e f");
        LorvaneAPI *api = client("stale");
        QSignalSpy success(api, &LorvaneAPI::authenticationSuccess);
        QSignalSpy failed(api, &LorvaneAPI::authenticationFailed);
        QSignalSpy players(api, &LorvaneAPI::playersChanged);
        api->setURL(Endpoints::instance().apiUrl());
        api->setAccountName("zoe+tag@sandbox.test");
        api->setPassword("wrong");
        api->login();
        QVERIFY(failed.wait(5000));
        QCOMPARE(QSettings().value("accessToken").toString(), QStringLiteral("stale"));

        api->setPassword(password);
        api->login();
        QVERIFY(success.wait(5000));
        QVERIFY(players.wait(5000));
        QCOMPARE(api->players().value(501)->username, QStringLiteral("Zoë"));
        QVERIFY(QSettings().value("accessToken").toString() != QLatin1String("stale"));

        // The non-ASCII name reaches the service intact in the path.
        QSignalSpy waiting(api, &LorvaneAPI::waitForMatchup);
        api->setCurrentPlayer(501);
        api->findMatch();
        QVERIFY(waiting.wait(5000));

        QCOMPARE(requests("/api/v1/auth/login").value(0).value("headers").toObject().value("Content-Type").toString(),
                 QStringLiteral("application/x-www-form-urlencoded"));
        QSettings().sync();
        QFile conf(m_env->settingsFile());
        QVERIFY(conf.open(QIODevice::ReadOnly));
        const QByteArray stored = conf.readAll();
        QVERIFY(stored.contains("zoe+tag@sandbox.test"));
        QVERIFY(!stored.contains("d%e") && !stored.contains("d%25e") && !stored.contains("password"));
    }

    void twoClientsAreMatchedWithEachOther()
    {
        LorvaneAPI *alice = client("token-alice");
        LorvaneAPI *bob = client("token-bob");
        QVERIFY(select(alice, 101));
        QVERIFY(select(bob, 201));
        SpawnInfo aliceInfo, bobInfo;
        connect(alice, &LorvaneAPI::matchupFound, this, [&] { aliceInfo = Global::instance()->spawnInfo(); });
        connect(bob, &LorvaneAPI::matchupFound, this, [&] { bobInfo = Global::instance()->spawnInfo(); });
        QSignalSpy aliceFound(alice, &LorvaneAPI::matchupFound);
        QSignalSpy bobFound(bob, &LorvaneAPI::matchupFound);
        alice->findMatch();
        QTRY_COMPARE(m_sandbox->inspect().value("queue").toArray().size(), 1);
        bob->findMatch();
        QTRY_VERIFY_WITH_TIMEOUT(aliceFound.count() == 1 && bobFound.count() == 1, 15000);
        QVERIFY(!pollTimer(alice)->isActive() && !pollTimer(bob)->isActive());

        QCOMPARE(aliceInfo.myID, nameHash("Alice"));
        QCOMPARE(aliceInfo.paths.uniqueKeys(), QList<quint32>{nameHash("Bob")});
        QCOMPARE(bobInfo.paths.uniqueKeys(), QList<quint32>{nameHash("Alice")});
        QCOMPARE(aliceInfo.others.value("Other1").value("Port").toInt(), int(nameHash("Bob") & 0xffff));
        QCOMPARE(bobInfo.others.value("Other1").value("Port").toInt(), int(nameHash("Alice") & 0xffff));
        QCOMPARE(aliceInfo.others.value("Other1").value("Name").toString(), QStringLiteral("Bob"));
        QCOMPARE(aliceInfo.seed, bobInfo.seed);
        QCOMPARE(aliceInfo.gameID, bobInfo.gameID);
        QVERIFY(aliceInfo.gameID != 0);
        QCOMPARE(aliceInfo.paths.value(nameHash("Bob"))->endpoint.port, quint16(52000));

        // Status reports during set-up; peers only with "Reached".
        Global::instance()->setSpawnInfo(aliceInfo);
        FakeRoutes routes;
        Global::instance()->setPeerRoutes(&routes);
        alice->updateMatchStatus("Ready");
        QTRY_COMPARE(m_sandbox->inspect().value("updates").toArray().size(), 1);
        alice->updateMatchStatus("Reached");
        QTRY_COMPARE(m_sandbox->inspect().value("updates").toArray().size(), 2);
        const QJsonArray updates = m_sandbox->inspect().value("updates").toArray();
        const QJsonObject ready = updates[0].toObject().value("request").toObject();
        QCOMPARE(ready.value("status").toString(), QStringLiteral("Ready"));
        QCOMPARE(ready.value("seed").toInt(), aliceInfo.seed);
        QVERIFY(!ready.contains("peers"));
        const QJsonArray peers = updates[1].toObject().value("request").toObject().value("peers").toArray();
        QCOMPARE(peers, (QJsonArray{QJsonObject{{"id", QString::number(nameHash("Bob"))},
                                                {"address", "127.0.0.1"}, {"port", 4321}, {"rtt", 17}}}));
    }

    void findMatchRequestHoldsTheTable_data()
    {
        QTest::addColumn<bool>("p2p");
        QTest::newRow("p2p") << true;
        QTest::newRow("no p2p") << false;
    }
    void findMatchRequestHoldsTheTable()
    {
        QFETCH(bool, p2p);
        Global *g = Global::instance();
        g->setAllowP2P(p2p);
        g->setLocalIPv6(QHostAddress("::1"));
        g->setLocalIPv6Port(52001);
        g->setPublicIP(QHostAddress("127.0.0.2"));
        g->setPublicPort(52002);
        g->setCheatToolRunning(false);
        SpawnableGame game(QStringLiteral("yr"));
        game.exeHash = QStringLiteral("0123456789abcdef0123456789abcdef01234567");
        game.ddrawHash = QStringLiteral("89abcdef0123456789abcdef0123456789abcdef");
        g->setCurrentGame(&game);
        auto noGame = qScopeGuard([g] { g->setCurrentGame(nullptr); });
        LorvaneAPI *api = client("token-alice");
        QVERIFY(select(api, 101));
        api->currentPlayer()->setSide(3); // Korea, local id 1
        api->currentPlayer()->setMapSide(2, -2);
        QSignalSpy waiting(api, &LorvaneAPI::waitForMatchup);
        api->findMatch();
        QVERIFY(waiting.wait(5000));

        const QJsonObject sent = requests("/api/v1/zantry/yr/Alice").value(0);
        QCOMPARE(sent.value("headers").toObject().value("Content-Type").toString(), QStringLiteral("application/json"));
        const QJsonObject r = QJsonDocument::fromJson(sent.value("body").toString().toUtf8()).object();
        const QString none;
        const QJsonObject expected{{"type", "match me up"},
                                   {"lan_ip", p2p ? "127.0.0.1" : none},
                                   {"lan_port", 52000},
                                   {"ipv6_address", p2p ? "::1" : none},
                                   {"ipv6_port", 52001},
                                   {"ip_address", p2p ? "127.0.0.2" : none},
                                   {"ip_port", 52002},
                                   {"side", 1},
                                   {"map_bitfield", 0x7FFFFFFF},
                                   {"version", "1.62"},
                                   {"platform", "win32"},
                                   {"map_sides", api->currentPlayer()->mapSides()},
                                   {"ai_dat", false},
                                   {"exe_hash", game.exeHash},
                                   {"ddraw", game.ddrawHash},
                                   {"session", ""}};
        QCOMPARE(r, expected);
        QCOMPARE(r.value("map_sides").toArray().at(2).toInt(), -2);
        QVERIFY(sent.value("body").toString().contains("\n    \"type\": \"match me up\""));
    }

    void pollFollowsCheckbackUntilQuit()
    {
        LorvaneAPI *api = client("token-alice");
        QVERIFY(select(api, 101));
        QSignalSpy waiting(api, &LorvaneAPI::waitForMatchup);
        QSignalSpy cancelled(api, &LorvaneAPI::cancelledFindMatch);
        for (const int checkback : {10, 5, -1}) {
            QVERIFY(m_sandbox->control("checkback", QStringLiteral("seconds=%1").arg(checkback)));
            api->findMatch();
            QVERIFY(waiting.wait(5000));
            QCOMPARE(pollTimer(api)->interval(), checkback < 0 ? 10000 : checkback * 1000);
        }
        QVERIFY(pollTimer(api)->isActive());
        api->cancelFindMatch();
        QVERIFY(pollTimer(api)->isActive()); // until the service answers
        QVERIFY(cancelled.wait(5000));
        QVERIFY(!pollTimer(api)->isActive());
        const QJsonArray quits = m_sandbox->inspect().value("quits").toArray();
        QCOMPARE(quits.size(), 1);
        QCOMPARE(quits[0].toObject().value("request").toObject(), (QJsonObject{{"type", "quit"}, {"version", "1.62"}}));
        QVERIFY(m_sandbox->inspect().value("queue").toArray().isEmpty());
    }

    void fatalReachesTheUser()
    {
        LorvaneAPI *api = client("token-banned");
        QVERIFY(select(api, 601));
        QSignalSpy fatal(api, &LorvaneAPI::apiFatal);
        api->findMatch();
        QVERIFY(fatal.wait(5000));
        QCOMPARE(fatal.value(0).value(0).toString(), QStringLiteral("Your account is suspended from the ladder."));
        QVERIFY(!pollTimer(api)->isActive());
    }

    void brokenExchangeReturnsToIdle()
    {
        LorvaneAPI *api = client("token-alice");
        QVERIFY(select(api, 101));
        QSignalSpy waiting(api, &LorvaneAPI::waitForMatchup);
        QSignalSpy cancelled(api, &LorvaneAPI::cancelledFindMatch);
        LogCapture log;
        api->findMatch();
        QVERIFY(waiting.wait(5000));
        QVERIFY(m_sandbox->control("fail", "path=/api/v1/zantry/yr/Alice&status=502"));
        QVERIFY(cancelled.wait(15000)); // the next poll meets the fault
        QVERIFY(!pollTimer(api)->isActive());
        QVERIFY(log.contains("findMatch went wrong: "));

        QVERIFY(m_sandbox->control("fail", "path=/api/v1/zantry/yr/Alice&status=0"));
        api->findMatch();
        QVERIFY(waiting.wait(5000));
        QVERIFY(pollTimer(api)->isActive());
    }

    void resultUpload_data()
    {
        QTest::addColumn<uint>("gameID");
        QTest::addColumn<bool>("haveFile");
        QTest::addColumn<QString>("path");
        QTest::newRow("game 0") << 0u << true << "/api/v1/result/yr/Alice/9/8";
        QTest::newRow("game 3e9") << 3000000000u << true
                                  << "/api/v1/result/ladder/1/game/3000000000/player/101/pings/9/8";
        QTest::newRow("no file") << 7u << false << "/api/v1/result/ladder/1/game/7/player/101/pings/9/8";
    }
    void resultUpload()
    {
        QFETCH(uint, gameID);
        QFETCH(bool, haveFile);
        QFETCH(QString, path);
        LorvaneAPI *api = client("token-alice");
        QVERIFY(select(api, 101));
        const QByteArray content("\x00\x01stats\xff\r\n--", 12);
        if (haveFile) {
            QFile file("stats.dmp");
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        LogCapture log;
        api->postGameStats(m_env->filePath("work/stats.dmp"), gameID, 9, 8);
        QTRY_VERIFY(log.contains("Game Result posted"));
        const QJsonArray results = m_sandbox->inspect().value("results").toArray();
        QCOMPARE(results.size(), 1);
        const QJsonObject result = results[0].toObject();
        QCOMPARE(result.value("path").toString(), path);
        QCOMPARE(result.value("email").toString(), QStringLiteral("alice@sandbox.test"));
        QCOMPARE(result.value("error").toString(), QString());
        const QJsonArray parts = result.value("parts").toArray();
        QCOMPARE(parts.size(), 1);
        const QJsonObject part = parts[0].toObject();
        QVERIFY(part.value("headers").toArray().contains(
            "Content-Disposition: form-data; name=\"file\"; filename=\"stats.dmp\""));
        QCOMPARE(part.value("contentType").toString(), QStringLiteral("application/octet-stream"));
        QCOMPARE(QByteArray::fromBase64(part.value("base64").toString().toLatin1()), haveFile ? content : QByteArray());
    }

private:
    LorvaneAPI *client(const QByteArray &token)
    {
        QSettings().setValue("accessToken", QString::fromUtf8(token));
        m_clients.append(QSharedPointer<LorvaneAPI>::create());
        return m_clients.last().data();
    }

    // Loads the lists (setting the URL `urls` times) and selects the account.
    bool select(LorvaneAPI *api, int playerId, int urls = 1)
    {
        QSignalSpy players(api, &LorvaneAPI::playersChanged);
        QSignalSpy maps(api, &LorvaneAPI::currentPlayerMapsChanged);
        QSignalSpy stats(Global::instance(), &Global::zantryStatsChanged);
        for (int i = 0; i < urls; ++i)
            api->setURL(Endpoints::instance().apiUrl());
        for (int i = 0; i < 100 && players.count() < urls; ++i)
            players.wait(100);
        if (players.count() != urls)
            return false;
        api->setCurrentPlayer(playerId);
        return maps.wait(5000) && (stats.count() || stats.wait(5000));
    }

    QList<QJsonObject> requests(const QString &path) const
    {
        QList<QJsonObject> found;
        for (const QJsonValue &r : m_sandbox->inspect().value("requests").toArray()) {
            if (r.toObject().value("path").toString() == path)
                found.append(r.toObject());
        }
        return found;
    }

    QScopedPointer<TestEnv> m_env;
    QScopedPointer<Sandbox> m_sandbox;
    QList<QSharedPointer<LorvaneAPI>> m_clients;
};

QTEST_GUILESS_MAIN(TestApiSandbox)
#include "tst_apisandbox.moc"
