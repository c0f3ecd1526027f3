// What the client sends the sandbox service over HTTP on loopback, checked at
// the service's inspection endpoint: the form-encoded login, the find-match
// table, the poll interval, the fatal answer and the result upload's path.
// The plain login and match are played by the flow and end-to-end tests.
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
        Global::instance()->setLocalIP(QHostAddress("127.0.0.1"));
        Global::instance()->setLocalPort(52000);
    }
    void cleanup()
    {
        m_clients.clear();
        m_sandbox.reset();
        m_env.reset();
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

    // Loads the lists and selects the account.
    bool select(LorvaneAPI *api, int playerId)
    {
        QSignalSpy players(api, &LorvaneAPI::playersChanged);
        QSignalSpy maps(api, &LorvaneAPI::currentPlayerMapsChanged);
        QSignalSpy stats(Global::instance(), &Global::zantryStatsChanged);
        api->setURL(Endpoints::instance().apiUrl());
        if (!players.wait(5000))
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
