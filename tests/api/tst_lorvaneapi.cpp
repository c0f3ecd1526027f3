// The service client against a scripted loopback service: what goes on the
// wire, and every kind of answer a real service gives, the broken ones too.
#include "api/lorvaneapi.h"
#include "api/resultoutbox.h"
#include "logcapture.h"
#include "api/matchstate.h"
#include "net/networkstate.h"
#include "net/peerroute.h"
#include "scriptedservice.h"
#include "spawn/gamecatalogue.h"
#include "testenv.h"

#include <QtTest>

namespace {

using Answer = ScriptedService::Answer;
const QByteArray kMatchPath = "/api/v1/zantry/yr/neo";
const QByteArray kRefresh = "/api/v1/auth/refresh";

QByteArray json(const QJsonObject &object) { return QJsonDocument(object).toJson(); }
QByteArray json(const QJsonArray &array) { return QJsonDocument(array).toJson(); }
QJsonObject bodyOf(const ScriptedService::Request &request) { return QJsonDocument::fromJson(request.body).object(); }
QJsonObject wait(int checkback = 30) { return {{"type", "please wait"}, {"checkback", checkback}}; }
Answer answer(const QJsonObject &object) { return Answer{200, "application/json", json(object), false}; }

bool writeAll(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// Completes TLS handshakes with a self-signed certificate and keeps what
// arrives through them.
class TlsListener : public QTcpServer
{
public:
    TlsListener(const QString &certFile, const QString &keyFile)
    {
        QFile cert(certFile), key(keyFile);
        if (cert.open(QIODevice::ReadOnly) && key.open(QIODevice::ReadOnly)) {
            m_cert = QSslCertificate(cert.readAll());
            m_key = QSslKey(key.readAll(), QSsl::Rsa);
        }
    }
    int handshakes = 0;
    QByteArray received;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QSslSocket(this);
        socket->setSocketDescriptor(descriptor);
        socket->setLocalCertificate(m_cert);
        socket->setPrivateKey(m_key);
        ++handshakes;
        connect(socket, &QSslSocket::readyRead, socket, [this, socket] { received += socket->readAll(); });
        socket->startServerEncryption();
    }

private:
    QSslCertificate m_cert;
    QSslKey m_key;
};

struct FakeRoutes : PeerRouteSource
{
    bool bestRoute(quint32 id, PeerRoute *route) const override
    {
        *route = routes.value(id);
        return routes.contains(id);
    }
    QMap<quint32, PeerRoute> routes;
};

} // namespace

class TestLorvaneApi : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<ScriptedService> m_service;
    std::unique_ptr<NetworkState> m_network;
    std::unique_ptr<MatchState> m_match;
    std::unique_ptr<GameCatalogue> m_games;
    std::unique_ptr<LorvaneAPI> m_api;

    LorvaneAPI *newApi() { return new LorvaneAPI(m_network.get(), m_match.get(), m_games.get()); }

    int count(const QByteArray &path) const { return m_service->requestsTo(path).size(); }
    QTimer *timer(const char *name) const { return m_api->findChild<QTimer *>(QLatin1String(name)); }
    void restart(const QString &storedToken)
    {
        QSettings().setValue(QStringLiteral("accessToken"), storedToken);
        m_api.reset(newApi());
    }

    // The ladder "yr" (id 1; sides 10 "Allies" local 0, 11 "Soviet" local 1)
    // and the account 42 "neo" on it, selected, Soviet.
    bool loginAs()
    {
        m_service->script("GET", kRefresh, json(QJsonObject{{"token", "tok"}, {"email", "neo@example.org"}}));
        const QJsonArray sides{QJsonObject{{"id", 11}, {"local_id", 1}, {"name", "Soviet"}},
                               QJsonObject{{"id", 10}, {"local_id", 0}, {"name", "Allies"}}};
        m_service->script("GET", "/api/v1/ladder", json(QJsonArray{QJsonObject{{"id", 1}, {"abbreviation", "yr"}, {"sides", sides}}}));
        m_service->script("GET", "/api/v1/user/account", json(QJsonArray{QJsonObject{{"id", 42}, {"username", "neo"}, {"ladder_id", 1}}}));
        m_service->script("GET", "/api/v1/zantry/ladder/yr/maps", json(QJsonArray{QJsonObject{{"id", 5}, {"bit_idx", 0}}}));
        m_service->script("GET", "/api/v1/zantry/ladder/yr/stats", json(QJsonObject{{"recentMatches", 12}}));
        QSignalSpy players(m_api.get(), &LorvaneAPI::playersChanged);
        QSignalSpy stats(m_match.get(), &MatchState::zantryStatsChanged);
        m_api->setURL(m_service->baseUrl());
        if (!players.wait(5000))
            return false;
        m_api->setCurrentPlayer(42);
        m_api->currentPlayer()->setSide(11);
        return stats.count() || stats.wait(5000);
    }

private slots:
    void init()
    {
        m_env.reset(new TestEnv);
        m_service.reset(new ScriptedService);
        QVERIFY(m_service->listen());
        m_network.reset(new NetworkState);
        m_network->setAllowP2P(true);
        m_match.reset(new MatchState);
        m_games.reset(new GameCatalogue);
        m_api.reset(newApi());
    }
    void cleanup()
    {
        m_api.reset();
        m_games.reset();
        m_match.reset();
        m_network.reset();
        m_service.reset();
        m_env.reset();
    }

    // Reserved characters reach the service as typed; the token is stored,
    // never logged (the log travels with crash reports).
    void passwordLoginFormEncodedNeverKept()
    {
        const QString email = QStringLiteral("zoe+tag@example.org"), password = QStringLiteral("a+b&c=d%e f");
        m_service->script("POST", "/api/v1/auth/login", QByteArray(R"({"token": "sekret-77", "session": "sess-31"})"));
        m_api->setURL(m_service->baseUrl());
        m_api->setAccountName(email);
        m_api->setPassword(password);
        QSignalSpy success(m_api.get(), &LorvaneAPI::authenticationSuccess);
        LogCapture log;
        m_api->login();
        QVERIFY(success.wait(5000));
        const ScriptedService::Request sent = m_service->requestsTo("/api/v1/auth/login").value(0);
        QCOMPARE(sent.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
        const QUrlQuery form(QString::fromLatin1(sent.body));
        QCOMPARE(form.queryItemValue(QStringLiteral("email"), QUrl::FullyDecoded), email);
        QCOMPARE(form.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded), password);
        QCOMPARE(QSettings().value(QStringLiteral("accessToken")).toString(), QStringLiteral("sekret-77"));
        QVERIFY(!log.contains(QStringLiteral("sekret-77")) && !log.contains(QStringLiteral("sess-31")));
    }

    // At start a service that cannot be used is named, the stored login
    // kept, and the refresh tried again by itself until the service is back.
    void startFaultsNamedAndRetried_data()
    {
        QTest::addColumn<Answer>("fault");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("detail");
        QTest::newRow("maintenance page") << Answer{500, "text/html", "<html>down</html>", false} << int(ServiceFault::Unexpected) << "HTTP 500, text/html";
        QTest::newRow("200 not json") << Answer{200, "text/html", "<html>portal</html>", false} << int(ServiceFault::Unexpected) << "HTTP 200, text/html";
        QTest::newRow("silent") << Answer{200, "application/json", "{}", false, 5000} << int(ServiceFault::Unreachable) << "no answer within 1 s";
    }
    void startFaultsNamedAndRetried()
    {
        QFETCH(Answer, fault);
        QFETCH(int, kind);
        QFETCH(QString, detail);
        restart(QStringLiteral("stored"));
        m_api->setTransferTimeout(400);
        m_service->script("GET", kRefresh, fault);
        m_service->then("GET", kRefresh, answer({{"token", "fresh"}, {"email", "neo@example.org"}}));
        m_service->script("GET", "/api/v1/ladder", QByteArray("[]"));
        QSignalSpy failed(m_api.get(), &LorvaneAPI::apiFailed);
        QSignalSpy succeeded(m_api.get(), &LorvaneAPI::authenticationSuccess);
        QSignalSpy asked(m_api.get(), &LorvaneAPI::authenticationRequired);
        m_api->setURL(m_service->baseUrl());
        QVERIFY(failed.wait(5000));
        QCOMPARE(int(m_api->fault().kind), kind);
        QVERIFY2(m_api->fault().detail.contains(detail, Qt::CaseInsensitive), qPrintable(m_api->fault().detail));
        QVERIFY(m_api->reconnectIn() > 0 && m_api->reconnectIn() <= 2100);
        QCOMPARE(QSettings().value(QStringLiteral("accessToken")).toString(), QStringLiteral("stored"));
        QVERIFY(succeeded.wait(5000));
        QCOMPARE(count(kRefresh), 2);
        QCOMPARE(asked.count(), 0);
        QCOMPARE(m_api->reconnectIn(), -1);
        QVERIFY(!m_api->fault().isFault());
    }

    // Only the service's refusal means a wrong password; a redirect is not
    // followed, so the password goes nowhere else.
    void loginAnswersNamed_data()
    {
        QTest::addColumn<Answer>("reply");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("detail");
        QTest::newRow("refused") << Answer{401, "application/json", R"({"message": "no"})", false} << true << QString();
        QTest::newRow("no token") << Answer{200, "application/json", "{}", false} << true << QString();
        QTest::newRow("redirect") << Answer{302, "text/html", "", false, 0} << false << "redirect (HTTP 302) to http://127.0.0.1";
        QTest::newRow("server error") << Answer{502, "text/html", "<html/>", false} << false << "HTTP 502, text/html";
    }
    void loginAnswersNamed()
    {
        QFETCH(Answer, reply);
        QFETCH(bool, refused);
        QFETCH(QString, detail);
        if (reply.status == 302)
            m_service->redirect("POST", "/api/v1/auth/login", 302, "/elsewhere/login");
        else
            m_service->script("POST", "/api/v1/auth/login", reply);
        m_service->script("GET", kRefresh, Answer{401, "application/json", "{}", false});
        m_api->setURL(m_service->baseUrl());
        m_api->setAccountName(QStringLiteral("neo@example.org"));
        m_api->setPassword(QStringLiteral("hunter2"));
        QSignalSpy wrong(m_api.get(), &LorvaneAPI::authenticationFailed);
        QSignalSpy failed(m_api.get(), &LorvaneAPI::apiFailed);
        QSignalSpy asked(m_api.get(), &LorvaneAPI::authenticationRequired);
        QVERIFY(asked.wait(5000)); // the refresh's 401 in JSON asks for the login
        m_api->login();
        QTRY_COMPARE(wrong.count() + failed.count(), 1);
        QCOMPARE(wrong.count(), int(refused));
        if (!refused)
            QVERIFY2(m_api->fault().detail.startsWith(detail), qPrintable(m_api->fault().detail));
        QTest::qWait(100);
        QCOMPARE(count("/elsewhere/login"), 0);
    }

    // A certificate nobody vouches for: said so, and nothing of the login
    // crosses the connection.
    void untrustedCertificateNamed()
    {
        const QString key = m_env->filePath(QStringLiteral("key.pem")), cert = m_env->filePath(QStringLiteral("cert.pem"));
        if (QProcess::execute(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                                                         "-subj", "/CN=127.0.0.1", "-days", "2"}) != 0)
            QSKIP("openssl cannot make a certificate here");
        TlsListener tls(cert, key);
        QVERIFY(tls.listen(QHostAddress::LocalHost));
        m_api->setURL(QStringLiteral("https://127.0.0.1:%1/api/v1").arg(tls.serverPort()));
        m_api->setAccountName(QStringLiteral("neo@example.org"));
        m_api->setPassword(QStringLiteral("hunter2"));
        QSignalSpy failed(m_api.get(), &LorvaneAPI::apiFailed);
        QVERIFY(failed.wait(5000));
        QCOMPARE(int(m_api->fault().kind), int(ServiceFault::Certificate));
        m_api->login();
        QVERIFY(failed.wait(5000));
        QCOMPARE(int(m_api->fault().kind), int(ServiceFault::Certificate));
        QVERIFY2(m_api->fault().message().contains(QStringLiteral("certificate is not trusted")), qPrintable(m_api->fault().message()));
        QVERIFY(tls.handshakes > 0);
        QCOMPARE(tls.received, QByteArray());
    }

    // Every 12 hours for the rest of the run, each refresh with the token
    // the one before handed out.
    void tokenRefreshedEveryTwelveHours()
    {
        QVERIFY(loginAs());
        QVERIFY(timer("refreshTimer")->isActive());
        QCOMPARE(timer("refreshTimer")->interval(), 12 * 3600 * 1000);
        const int before = count(kRefresh);
        m_service->script("GET", kRefresh, json(QJsonObject{{"token", "second"}}));
        timer("refreshTimer")->start(50);
        QTRY_VERIFY(count(kRefresh) >= before + 2);
        QCOMPARE(m_service->requestsTo(kRefresh).last().headers.value("authorization"), QByteArray("Bearer:second"));
        QCOMPARE(QSettings().value(QStringLiteral("accessToken")).toString(), QStringLiteral("second"));
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
        NetworkState *g = m_network.get();
        g->setLocalIP(QHostAddress(QStringLiteral("127.0.0.1")));
        g->setLocalPort(52000);
        g->setLocalIPv6(QHostAddress(QStringLiteral("::1")));
        g->setLocalIPv6Port(52001);
        g->setPublicIP(QHostAddress(QStringLiteral("127.0.0.2")));
        g->setPublicPort(52002);
        SpawnableGame &game = *m_games->add(QStringLiteral("yr"));
        game.exeHash = QStringLiteral("0123456789abcdef0123456789abcdef01234567");
        game.ddrawHash = QStringLiteral("89abcdef0123456789abcdef0123456789abcdef");
        m_games->setCurrent(&game);
        QVERIFY(loginAs());
        g->setAllowP2P(p2p);
        m_api->currentPlayer()->setMapSide(2, -2);
        // A name outside ASCII reaches the path percent-encoded as UTF-8.
        m_api->currentPlayer()->username = QStringLiteral("Zo\u00eb");
        const QByteArray path = "/api/v1/zantry/yr/Zo%C3%AB";
        m_service->script("POST", path, json(wait()));
        QSignalSpy waiting(m_api.get(), &LorvaneAPI::waitForMatchup);
        m_api->findMatch();
        QVERIFY(waiting.wait(5000));
        const ScriptedService::Request sent = m_service->requestsTo(path).value(0);
        QCOMPARE(sent.headers.value("content-type"), QByteArray("application/json"));
        const QString none;
        const QJsonObject expected{{"type", "match me up"}, {"lan_ip", p2p ? "127.0.0.1" : none}, {"lan_port", 52000},
                                   {"ipv6_address", p2p ? "::1" : none}, {"ipv6_port", 52001},
                                   {"ip_address", p2p ? "127.0.0.2" : none}, {"ip_port", 52002}, {"side", 1},
                                   {"map_bitfield", 0x7FFFFFFF}, {"version", "1.62"}, {"platform", "win32"},
                                   {"map_sides", m_api->currentPlayer()->mapSides()}, {"ai_dat", false},
                                   {"exe_hash", game.exeHash}, {"ddraw", game.ddrawHash}, {"session", ""}};
        QCOMPARE(bodyOf(sent), expected);
        QCOMPARE(bodyOf(sent).value("map_sides").toArray().at(2).toInt(), -2);
    }

    // With tunnel servers to ask, the first request of a queue waits for the
    // public address (an opponent waiting already would otherwise get only
    // a LAN address), and goes without it once the wait is over; a cancel
    // during the wait sends no request.
    void firstRequestWaitsForThePublicAddress()
    {
        TunnelServerInfo tunnel;
        tunnel.address = QStringLiteral("127.0.0.1");
        m_network->setTunnelServers({{tunnel.address, tunnel}});
        m_network->setPublicIP(QHostAddress());
        QVERIFY(loginAs());
        m_service->script("POST", kMatchPath, json(wait()));
        QSignalSpy waiting(m_api.get(), &LorvaneAPI::waitForMatchup);
        m_api->findMatch();
        QTest::qWait(300);
        QCOMPARE(m_service->requestsTo(kMatchPath).size(), 0);
        m_network->setPublicIP(QHostAddress(QStringLiteral("203.0.113.7")));
        QVERIFY(waiting.wait(5000));
        QCOMPARE(bodyOf(m_service->requestsTo(kMatchPath).last()).value("ip_address").toString(), QStringLiteral("203.0.113.7"));

        m_api->cancelFindMatch();
        QTRY_VERIFY(!timer("findMatchTimer")->isActive());
        m_network->setPublicIP(QHostAddress());
        m_api->findMatch();
        m_api->cancelFindMatch();
        QTRY_COMPARE(m_service->requestsTo(kMatchPath).size(), 3); // the two quits
        QTest::qWait(timer("publicAddressWait")->interval() + 200);
        QCOMPARE(bodyOf(m_service->requestsTo(kMatchPath).last()).value("type").toString(), QStringLiteral("quit"));

        timer("publicAddressWait")->setInterval(200);
        m_api->findMatch();
        QVERIFY(waiting.wait(5000));
        QCOMPARE(bodyOf(m_service->requestsTo(kMatchPath).last()).value("ip_address").toString(), QString());
    }

    void pollFollowsCheckbackUntilQuit()
    {
        QVERIFY(loginAs());
        QSignalSpy waiting(m_api.get(), &LorvaneAPI::waitForMatchup);
        QSignalSpy cancelled(m_api.get(), &LorvaneAPI::cancelledFindMatch);
        for (const int checkback : {10, 5, -1}) {
            QJsonObject reply = wait(checkback);
            if (checkback < 0)
                reply.remove(QStringLiteral("checkback"));
            m_service->script("POST", kMatchPath, Answer{200, "application/json; charset=utf-8", json(reply), false});
            m_api->findMatch();
            QVERIFY(waiting.wait(5000));
            QCOMPARE(timer("findMatchTimer")->interval(), checkback < 0 ? 10000 : checkback * 1000);
        }
        m_service->script("POST", kMatchPath, Answer{200, "application/json", "{}", false, 200});
        m_api->cancelFindMatch();
        QVERIFY(timer("findMatchTimer")->isActive()); // until the service answers
        QVERIFY(cancelled.wait(5000));
        QVERIFY(!timer("findMatchTimer")->isActive());
        QCOMPARE(bodyOf(m_service->requestsTo(kMatchPath).last()), (QJsonObject{{"type", "quit"}, {"version", "1.62"}}));
    }

    void brokenExchangeEndsTheSearch_data()
    {
        QTest::addColumn<Answer>("broken");
        QTest::newRow("html charset") << Answer{200, "text/html; charset=utf-8", "{}", false};
        QTest::newRow("dropped") << Answer{200, "", "", true};
    }
    void brokenExchangeEndsTheSearch()
    {
        QFETCH(Answer, broken);
        QVERIFY(loginAs());
        m_service->script("POST", kMatchPath, json(wait()));
        m_service->then("POST", kMatchPath, broken);
        QSignalSpy cancelled(m_api.get(), &LorvaneAPI::cancelledFindMatch);
        QSignalSpy waiting(m_api.get(), &LorvaneAPI::waitForMatchup);
        m_api->findMatch();
        QVERIFY(waiting.wait(5000));
        m_api->findMatch();
        QVERIFY(cancelled.wait(5000));
        QCOMPARE(cancelled.count(), 1);
        QVERIFY(!timer("findMatchTimer")->isActive());
        // Queueing again works as the first time did.
        m_service->script("POST", kMatchPath, json(wait()));
        m_api->findMatch();
        QVERIFY(waiting.wait(5000));
        QVERIFY(timer("findMatchTimer")->isActive());
    }

    // A poll already on its way when the match forms comes back broken.
    void lateBrokenAnswerLeavesAFormedMatch()
    {
        QVERIFY(loginAs());
        m_service->script("POST", kMatchPath, Answer{502, "text/html", "timeout", false, 300});
        m_service->then("POST", kMatchPath, answer({{"type", "spawn"}, {"spawn", QJsonObject()}}));
        QSignalSpy found(m_api.get(), &LorvaneAPI::matchupFound);
        QSignalSpy cancelled(m_api.get(), &LorvaneAPI::cancelledFindMatch);
        m_api->findMatch();
        QTRY_COMPARE(count(kMatchPath), 1);
        m_api->findMatch();
        QVERIFY(found.wait(5000));
        QTest::qWait(500);
        QCOMPARE(cancelled.count(), 0);
    }

    void updatesCarryPeersOnlyWhenReached()
    {
        QVERIFY(loginAs());
        SpawnInfo info;
        info.seed = 4242;
        for (quint32 id : {300, 300, 100, 200})
            info.paths.insert(id, NetworkPathPtr::create());
        m_match->setSpawnInfo(info);
        m_service->script("POST", kMatchPath, QByteArray("ok"));
        // One at a time: parallel requests may arrive in any order.
        m_api->updateMatchStatus(QStringLiteral("Ready"));
        QTRY_COMPARE(count(kMatchPath), 1);
        m_api->updateMatchStatus(QStringLiteral("Reached")); // no router yet
        QTRY_COMPARE(count(kMatchPath), 2);
        FakeRoutes routes;
        routes.routes.insert(300, PeerRoute{300, QHostAddress(QStringLiteral("198.51.100.3")), 7000, 31});
        routes.routes.insert(100, PeerRoute{100, QHostAddress(QStringLiteral("2001:db8::1")), 7001, 12});
        m_api->setPeerRoutes(&routes);
        m_api->updateMatchStatus(QStringLiteral("Reached"));
        QTRY_COMPARE(count(kMatchPath), 3);
        const QList<ScriptedService::Request> sent = m_service->requestsTo(kMatchPath);
        QCOMPARE(bodyOf(sent[0]), (QJsonObject{{"type", "update"}, {"status", "Ready"}, {"seed", 4242}, {"version", "1.62"}}));
        QCOMPARE(bodyOf(sent[1]).value("peers"), QJsonValue(QJsonArray()));
        const QJsonArray peers = bodyOf(sent[2]).value("peers").toArray();
        QCOMPARE(peers.size(), 2);
        QCOMPARE(peers[0].toObject(), (QJsonObject{{"id", "100"}, {"address", "2001:db8::1"}, {"port", 7001}, {"rtt", 12}}));
        QCOMPARE(peers[1].toObject().value("id").toString(), QStringLiteral("300"));
    }

    void resultUpload_data()
    {
        QTest::addColumn<uint>("gameID");
        QTest::addColumn<bool>("haveFile");
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("game 0") << 0u << true << QByteArray("/api/v1/result/yr/neo/9/8");
        QTest::newRow("game 3e9") << 3000000000u << true << QByteArray("/api/v1/result/ladder/1/game/3000000000/player/42/pings/9/8");
        QTest::newRow("no file") << 7u << false << QByteArray("/api/v1/result/ladder/1/game/7/player/42/pings/9/8");
    }
    // The file as sent, kept aside until the service took it.
    void resultUpload()
    {
        QFETCH(uint, gameID);
        QFETCH(bool, haveFile);
        QFETCH(QByteArray, path);
        QVERIFY(loginAs());
        const QByteArray content("\x00\x01stats\xff\r\n--", 12);
        const QString file = m_env->filePath(QStringLiteral("stats.dmp"));
        QFile stats(file);
        QVERIFY(!haveFile || (stats.open(QIODevice::WriteOnly) && stats.write(content) == content.size()));
        stats.close();
        m_service->script("POST", path, QByteArray("taken"));
        QSignalSpy posted(m_api.get(), &LorvaneAPI::gameStatsPosted);
        m_api->postGameStats(file, gameID, 9, 8);
        QVERIFY(posted.wait(5000));
        const ScriptedService::Request sent = m_service->requestsTo(path).value(0);
        QVERIFY(sent.headers.value("content-type").startsWith("multipart/form-data; boundary="));
        QVERIFY(sent.body.contains("form-data; name=\"file\"; filename=\"stats.dmp\"\r\n"));
        QVERIFY(sent.body.contains("\r\n\r\n" + (haveFile ? content : QByteArray()) + "\r\n--"));
        QVERIFY(!QFile::exists(file) && ResultOutbox(m_env->path() + QLatin1Char('/')).entries().isEmpty());
    }

    // A result the service does not take waits in the game folder's outbox
    // and goes again; a client killed during its game leaves its result to
    // the next run, which sends it once logged in.
    void resultKeptUntilTheServiceHasIt()
    {
        QVERIFY(loginAs());
        const QString dir = m_env->path() + QLatin1Char('/');
        const QByteArray path = "/api/v1/result/ladder/1/game/7/player/42/pings/9/8";
        QVERIFY(writeAll(dir + QStringLiteral("stats.dmp"), "first"));
        m_service->script("POST", path, Answer{500, "text/html", "<h1>down</h1>", false});
        QSignalSpy failed(m_api.get(), &LorvaneAPI::resultUploadFailed);
        QSignalSpy posted(m_api.get(), &LorvaneAPI::gameStatsPosted);
        m_api->postGameStats(dir + QStringLiteral("stats.dmp"), 7, 9, 8);
        QVERIFY(failed.wait(5000) && failed.first().first().toBool());
        QVERIFY(!QFile::exists(dir + QStringLiteral("stats.dmp")) && ResultOutbox(dir).entries().size() == 1);
        m_service->script("POST", path, QByteArray("taken"));
        timer("resultRetryTimer")->start(50);
        QVERIFY(posted.wait(5000));
        QVERIFY(m_service->requestsTo(path).last().body.contains("\r\n\r\nfirst\r\n"));
        QVERIFY(ResultOutbox(dir).entries().isEmpty());

        m_api->expectResult(dir, 9);
        m_api->noResult(dir); // a game that ended without one leaves nothing to wait for
        QVERIFY(!ResultOutbox(dir).expecting());
        m_api->expectResult(dir, 8);
        QVERIFY(writeAll(dir + QStringLiteral("stats.dmp"), "second"));
        const QByteArray killed = "/api/v1/result/ladder/1/game/8/player/42/pings/0/0";
        m_service->script("POST", killed, QByteArray("taken"));
        m_api.reset(newApi());
        SpawnableGame &game = *m_games->add(QStringLiteral("yr"));
        game.workingDir = dir;
        m_games->setCurrent(&game);
        QVERIFY(loginAs());
        QTRY_COMPARE(count(killed), 1);
        QVERIFY(m_service->requestsTo(killed).first().body.contains("\r\n\r\nsecond\r\n"));
        QTRY_VERIFY(ResultOutbox(dir).entries().isEmpty() && !ResultOutbox(dir).expecting());
    }
};

QTEST_GUILESS_MAIN(TestLorvaneApi)
#include "tst_lorvaneapi.moc"
