#include "apifixture.h"

#include "net/global.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTcpServer>

ApiFixture::ApiFixture()
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

ApiFixture::~ApiFixture()
{
    api.reset();
    env.reset();
}

bool ApiFixture::loginAs(const QByteArray &token)
{
    service.script("GET", "/api/v1/auth/refresh", json({{"token", QString::fromUtf8(token)}, {"email", "neo@example.org"}}));
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

QJsonObject ApiFixture::lastJson(const QByteArray &path) const
{
    const QList<ScriptedService::Request> found = service.requestsTo(path);
    return found.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(found.last().body).object();
}

QString ApiFixture::deadUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/api/v1").arg(port);
}
