#include "apiroutes.h"

#include "context.h"
#include "dataset.h"
#include "formdecode.h"
#include "httpserver.h"
#include "journal.h"
#include "matchmaker.h"
#include "multipart.h"
#include "options.h"
#include "tokenstore.h"

#include "util/filedigest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString Unauthenticated = QStringLiteral("Unauthenticated.");

QJsonObject message(const QString &text)
{
    return QJsonObject{{QStringLiteral("message"), text}};
}

// Every protected route: the account of the bearer token, or a 401 reply.
const AccountDef *authorize(const httplib::Request &req, httplib::Response &res, SandboxContext &ctx)
{
    const AccountDef *account = ctx.data.account(Http::bearerEmail(req, ctx));
    if (!account)
        Http::replyJson(res, 401, message(Unauthenticated));
    return account;
}

void login(const httplib::Request &req, httplib::Response &res, SandboxContext &ctx)
{
    const FormDecode::Fields fields = FormDecode::parse(Http::body(req));
    const QString email = FormDecode::value(fields, QStringLiteral("email"));
    const AccountDef *account = ctx.data.account(email);
    if (!account || account->password != FormDecode::value(fields, QStringLiteral("password"))) {
        ctx.journal.log(QStringLiteral("login refused for \"%1\"").arg(email));
        Http::replyJson(res, 401, message(QStringLiteral("The Email Address or Password is incorrect")));
        return;
    }
    Http::replyJson(res, 200,
                    QJsonObject{{QStringLiteral("token"), ctx.tokens.issue(account->email)},
                                {QStringLiteral("session"), ctx.tokens.newSession()},
                                {QStringLiteral("user_name"), account->userName},
                                {QStringLiteral("email"), account->email}});
}

void refresh(const httplib::Request &req, httplib::Response &res, SandboxContext &ctx)
{
    const QString mode = Options::RefreshModes.value(ctx.refreshMode.load());
    if (mode == QLatin1String("error")) {
        Http::replyJson(res, 500, message(QStringLiteral("Server Error")));
        return;
    }
    if (mode == QLatin1String("html")) {
        Http::replyText(res, 200, "<html><body>Maintenance</body></html>", "text/html");
        return;
    }
    const AccountDef *account = mode == QLatin1String("unauthorized") ? nullptr : ctx.data.account(Http::bearerEmail(req, ctx));
    if (!account) {
        Http::replyJson(res, 401, message(Unauthenticated));
        return;
    }
    Http::replyJson(res, 200,
                    QJsonObject{{QStringLiteral("token"), ctx.tokens.issue(account->email)},
                                {QStringLiteral("email"), account->email},
                                {QStringLiteral("user_name"), account->userName}});
}

void findMatch(const httplib::Request &req, httplib::Response &res, SandboxContext &ctx)
{
    const AccountDef *account = authorize(req, res, ctx);
    if (!account)
        return;
    const LadderDef *ladder = ctx.data.ladder(Http::match(req, 1));
    const QString username = Http::match(req, 2);
    if (!ladder || !ctx.data.player(*account, ladder->abbreviation, username)) {
        Http::replyJson(res, 403, QJsonObject{{QStringLiteral("type"), QStringLiteral("error")},
                                              {QStringLiteral("message"), QStringLiteral("No such player on this ladder for your account")}});
        return;
    }
    QJsonParseError parseError;
    const QJsonObject request = QJsonDocument::fromJson(Http::body(req), &parseError).object();
    if (parseError.error != QJsonParseError::NoError)
        ctx.journal.log(QStringLiteral("find-match body for %1 is not JSON: %2").arg(username, parseError.errorString()));
    const QString type = request.value(QStringLiteral("type")).toString();
    if (type == QLatin1String("match me up")) {
        const bool flagged = ctx.options.fatalAccounts.contains(account->email.toLower());
        if (!account->fatal.isEmpty() || flagged) {
            const QString text = account->fatal.isEmpty() ? QStringLiteral("Your account may not play on this ladder.") : account->fatal;
            Http::replyJson(res, 200, QJsonObject{{QStringLiteral("type"), QStringLiteral("fatal")}, {QStringLiteral("message"), text}});
            return;
        }
        Http::replyJson(res, 200, ctx.matchmaker.matchMeUp(*ladder, username, account->email, request));
    } else if (type == QLatin1String("update")) {
        ctx.journal.add(Journal::Updates, QJsonObject{{QStringLiteral("ladder"), ladder->abbreviation},
                                                      {QStringLiteral("username"), username},
                                                      {QStringLiteral("status"), request.value(QStringLiteral("status"))},
                                                      {QStringLiteral("seed"), request.value(QStringLiteral("seed"))},
                                                      {QStringLiteral("request"), request}});
        Http::replyJson(res, 200, QJsonObject{{QStringLiteral("type"), QStringLiteral("update")},
                                              {QStringLiteral("message"), QStringLiteral("Status recorded")}});
    } else if (type == QLatin1String("quit")) {
        ctx.journal.add(Journal::Quits, QJsonObject{{QStringLiteral("ladder"), ladder->abbreviation},
                                                    {QStringLiteral("username"), username},
                                                    {QStringLiteral("request"), request}});
        Http::replyJson(res, 200, ctx.matchmaker.quit(ladder->abbreviation, username));
    } else {
        Http::replyJson(res, 400, QJsonObject{{QStringLiteral("type"), QStringLiteral("error")},
                                              {QStringLiteral("message"), QStringLiteral("Unknown request type \"%1\"").arg(type)}});
    }
}

// Both URL forms of the result upload; numbers as the path carries them.
void result(const httplib::Request &req, httplib::Response &res, SandboxContext &ctx, bool longForm)
{
    QJsonObject entry{{QStringLiteral("form"), longForm ? QStringLiteral("long") : QStringLiteral("short")},
                      {QStringLiteral("path"), Http::path(req)},
                      {QStringLiteral("email"), Http::bearerEmail(req, ctx)}};
    if (longForm) {
        entry.insert(QStringLiteral("ladderId"), Http::match(req, 1).toLongLong());
        entry.insert(QStringLiteral("gameId"), double(Http::match(req, 2).toULongLong()));
        entry.insert(QStringLiteral("playerId"), Http::match(req, 3).toLongLong());
        entry.insert(QStringLiteral("pingSent"), Http::match(req, 4).toLongLong());
        entry.insert(QStringLiteral("pingReceived"), Http::match(req, 5).toLongLong());
    } else {
        entry.insert(QStringLiteral("ladder"), Http::match(req, 1));
        entry.insert(QStringLiteral("username"), Http::match(req, 2));
        entry.insert(QStringLiteral("pingSent"), Http::match(req, 3).toLongLong());
        entry.insert(QStringLiteral("pingReceived"), Http::match(req, 4).toLongLong());
    }
    QList<Multipart::Part> parts;
    QString error;
    const bool parsed = Multipart::parse(Http::body(req), Multipart::boundary(Http::contentType(req)), &parts, &error);
    QJsonArray files;
    for (const Multipart::Part &part : qAsConst(parts)) {
        QJsonArray headers;
        for (const auto &h : part.headers)
            headers.append(QString::fromUtf8(h.first + ": " + h.second));
        files.append(QJsonObject{{QStringLiteral("name"), part.name},
                                 {QStringLiteral("fileName"), part.fileName},
                                 {QStringLiteral("contentType"), QString::fromUtf8(part.contentType)},
                                 {QStringLiteral("headers"), headers},
                                 {QStringLiteral("size"), part.body.size()},
                                 {QStringLiteral("sha1"), FileDigest::sha1HexOfBytes(part.body)},
                                 {QStringLiteral("base64"), QString::fromLatin1(part.body.toBase64())}});
    }
    entry.insert(QStringLiteral("parts"), files);
    entry.insert(QStringLiteral("error"), parsed ? QString() : error);
    ctx.journal.add(Journal::Results, entry);
    if (!parsed) {
        ctx.journal.log(QStringLiteral("result upload not multipart: ") + error);
        Http::replyJson(res, 400, message(QStringLiteral("Expected a multipart upload: ") + error));
        return;
    }
    if (!ctx.data.account(entry.value(QStringLiteral("email")).toString())) {
        Http::replyJson(res, 401, message(Unauthenticated));
        return;
    }
    Http::replyJson(res, 200, message(QStringLiteral("Game result received")));
}

} // namespace

namespace ApiRoutes {

void install(httplib::Server &server, SandboxContext &ctx)
{
    using Req = const httplib::Request &;
    using Res = httplib::Response &;
    using Handler = httplib::Server::Handler;
    auto get = [&](const char *pattern, Handler h) { server.Get(pattern, Http::scripted(ctx, h)); };
    auto post = [&](const char *pattern, Handler h) { server.Post(pattern, Http::scripted(ctx, h)); };
    post("/api/v1/auth/login", [&ctx](Req req, Res res) { login(req, res, ctx); });
    get("/api/v1/auth/refresh", [&ctx](Req req, Res res) { refresh(req, res, ctx); });
    get("/api/v1/user/account", [&ctx](Req req, Res res) {
        if (const AccountDef *account = authorize(req, res, ctx))
            Http::replyJson(res, 200, ctx.data.playersJson(*account));
    });
    get("/api/v1/ladder", [&ctx](Req, Res res) { Http::replyJson(res, 200, ctx.data.laddersJson()); });
    get(R"(/api/v1/zantry/ladder/([^/]+)/maps)", [&ctx](Req req, Res res) {
        const LadderDef *ladder = ctx.data.ladder(Http::match(req, 1));
        if (ladder)
            Http::replyJson(res, 200, ctx.data.mapsJson(*ladder));
        else
            Http::replyJson(res, 404, message(QStringLiteral("No such ladder")));
    });
    get(R"(/api/v1/zantry/ladder/([^/]+)/stats)", [&ctx](Req req, Res res) {
        const QString abbr = Http::match(req, 1);
        if (!ctx.data.ladder(abbr)) {
            Http::replyJson(res, 404, message(QStringLiteral("No such ladder")));
            return;
        }
        Http::replyJson(res, 200, QJsonObject{{QStringLiteral("recentMatches"), ctx.matchmaker.matches(abbr)},
                                              {QStringLiteral("queuedPlayers"), ctx.matchmaker.queued(abbr)}});
    });
    post(R"(/api/v1/zantry/([^/]+)/([^/]+))", [&ctx](Req req, Res res) { findMatch(req, res, ctx); });
    post(R"(/api/v1/result/ladder/(\d+)/game/(\d+)/player/(\d+)/pings/(-?\d+)/(-?\d+))",
                [&ctx](Req req, Res res) { result(req, res, ctx, true); });
    post(R"(/api/v1/result/([^/]+)/([^/]+)/(-?\d+)/(-?\d+))", [&ctx](Req req, Res res) { result(req, res, ctx, false); });
}

} // namespace ApiRoutes
