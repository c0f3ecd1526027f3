#pragma once

#include "api/lorvaneapi.h"
#include "scriptedservice.h"
#include "testenv.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QScopedPointer>

// A client talking to a scripted service in an isolated environment. The
// ladder "yr" (id 1, sides 10 "Allies" and 11 "Soviet") and the account 42
// "neo" on it are scripted by loginAs().
struct ApiFixture
{
    ApiFixture();
    ~ApiFixture();

    // Scripts the refresh, the lists, the maps and statistics, sets the URL and
    // waits for the accounts; then selects account 42.
    bool loginAs(const QByteArray &token = "tok");
    QJsonObject lastJson(const QByteArray &path) const;
    int requestCount(const QByteArray &path) const { return service.requestsTo(path).size(); }

    static QByteArray json(const QJsonObject &object) { return QJsonDocument(object).toJson(); }
    static QString deadUrl(); // a loopback port nobody listens on

    QScopedPointer<TestEnv> env;
    ScriptedService service;
    QScopedPointer<LorvaneAPI> api;
};
