#include "siteroutes.h"

#include "context.h"
#include "dataset.h"
#include "httpserver.h"
#include "journal.h"
#include "matchmaker.h"
#include "multipart.h"
#include "options.h"

#include "util/filedigest.h"
#include "util/ziparchive.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>

namespace {

const char *const Pages[][2] = {
    {"/", "Lorvane ladder"},
    {"/ladder", "Ladder standings"},
    {"/auth/register", "Register"},
    {"/password/email", "Reset your password"},
    {"/signup", "Sign up for a ladder account"},
    {"/help", "Help"},
};

QByteArray page(const char *title)
{
    return QByteArray("<!DOCTYPE html>\n<html><head><title>") + title + "</title></head><body><h1>" + title
        + "</h1><p>Sandbox page.</p></body></html>\n";
}

QByteArray masterList(const SandboxOptions &options)
{
    if (!options.masterListFile.isEmpty()) {
        QFile file(options.masterListFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QByteArray out = "address;country;countrycode;name;password;clients;maxclients;official;latitude;longitude;version;distance\r\n";
    int n = 0;
    for (const QString &tunnel : options.tunnels)
        out += tunnel.toUtf8() + ";Sandbox;SB;Sandbox tunnel " + QByteArray::number(++n) + ";;0;200;1;0;0;3;0\r\n";
    return out;
}

QJsonObject partJson(const Multipart::Part &part, bool withBytes)
{
    QJsonArray headers;
    for (const auto &h : part.headers)
        headers.append(QString::fromUtf8(h.first + ": " + h.second));
    QJsonObject out{{QStringLiteral("name"), part.name},
                    {QStringLiteral("headers"), headers},
                    {QStringLiteral("size"), part.body.size()}};
    if (part.hasFileName) {
        out.insert(QStringLiteral("fileName"), part.fileName);
        out.insert(QStringLiteral("contentType"), QString::fromUtf8(part.contentType));
        out.insert(QStringLiteral("sha1"), FileDigest::sha1HexOfBytes(part.body));
    }
    if (withBytes)
        out.insert(QStringLiteral("base64"), QString::fromLatin1(part.body.toBase64()));
    return out;
}

void upload(const httplib::Request &req, httplib::Response &res, SandboxContext &ctx)
{
    QList<Multipart::Part> parts;
    QString error;
    if (!Multipart::parse(Http::body(req), Multipart::boundary(Http::contentType(req)), &parts, &error)) {
        ctx.journal.log(QStringLiteral("upload.php: not a multipart body: ") + error);
        ctx.journal.add(Journal::CrashReports, QJsonObject{{QStringLiteral("error"), error}});
        Http::replyText(res, 400, "Bad upload: " + error.toUtf8() + '\n');
        return;
    }
    QJsonObject fields;
    QJsonArray files;
    for (const Multipart::Part &part : qAsConst(parts)) {
        if (part.hasFileName)
            files.append(partJson(part, true));
        else
            fields.insert(part.name, QString::fromUtf8(part.body));
    }
    QJsonArray all;
    for (const Multipart::Part &part : qAsConst(parts))
        all.append(partJson(part, false));
    ctx.journal.add(Journal::CrashReports, QJsonObject{{QStringLiteral("fields"), fields},
                                                       {QStringLiteral("files"), files},
                                                       {QStringLiteral("parts"), all}});
    Http::replyText(res, 200, "OK\n");
}

// since: only journal entries recorded after that "seq" (the reply's own
// "seq" is the latest), so a test can look at what one step caused.
QJsonObject inspect(SandboxContext &ctx, int since = 0)
{
    QJsonObject out{{QStringLiteral("seq"), ctx.journal.sequence()}};
    for (int k = 0; k < Journal::Kinds; ++k)
        out.insert(Journal::kindName(Journal::Kind(k)), ctx.journal.entries(Journal::Kind(k), since));
    out.insert(QStringLiteral("queue"), ctx.matchmaker.queueJson());
    out.insert(QStringLiteral("pending"), ctx.matchmaker.pendingJson());
    out.insert(QStringLiteral("matches"), ctx.matchmaker.matchesJson());
    out.insert(QStringLiteral("modes"), QJsonObject{{QStringLiteral("dns"), Options::DnsModes.value(ctx.dnsMode.load())},
                                                    {QStringLiteral("refresh"), Options::RefreshModes.value(ctx.refreshMode.load())}});
    return out;
}

// POST /control/<what>?mode=... : switches a behaviour while running.
void control(const httplib::Request &req, httplib::Response &res, SandboxContext &ctx)
{
    const QString what = Http::match(req, 1);
    const QString mode = QString::fromStdString(req.get_param_value("mode"));
    if (what == QLatin1String("dns") && Options::DnsModes.contains(mode)) {
        ctx.dnsMode = int(Options::DnsModes.indexOf(mode));
    } else if (what == QLatin1String("refresh") && Options::RefreshModes.contains(mode)) {
        ctx.refreshMode = int(Options::RefreshModes.indexOf(mode));
    } else if (what == QLatin1String("fail") && req.has_param("path")) {
        bool ok = false;
        const int status = QString::fromStdString(req.get_param_value("status")).toInt(&ok);
        if (!ok || (status != 0 && (status < 400 || status > 599))) {
            Http::replyJson(res, 400, QJsonObject{{QStringLiteral("message"), QStringLiteral("status: 400 to 599, or 0 to clear")}});
            return;
        }
        QMutexLocker lock(&ctx.faultMutex);
        if (status)
            ctx.faults.insert(QString::fromStdString(req.get_param_value("path")), status);
        else
            ctx.faults.remove(QString::fromStdString(req.get_param_value("path")));
    } else if (what == QLatin1String("delay") && req.has_param("ms")) {
        bool ok = false;
        const int ms = QString::fromStdString(req.get_param_value("ms")).toInt(&ok);
        if (!ok || ms < 0 || ms > 60000) {
            Http::replyJson(res, 400, QJsonObject{{QStringLiteral("message"), QStringLiteral("ms: 0 to 60000")}});
            return;
        }
        ctx.delayMs = ms;
    } else if (what == QLatin1String("checkback") && req.has_param("seconds")) {
        bool ok = false;
        const int seconds = QString::fromStdString(req.get_param_value("seconds")).toInt(&ok);
        if (!ok || seconds < -1 || seconds > 3600) {
            Http::replyJson(res, 400, QJsonObject{{QStringLiteral("message"), QStringLiteral("seconds: -1 to 3600")}});
            return;
        }
        ctx.matchmaker.setCheckback(seconds);
    } else {
        ctx.journal.log(QStringLiteral("control: unknown \"%1\" or value \"%2\"").arg(what, mode));
        Http::replyJson(res, 400, QJsonObject{{QStringLiteral("message"), QStringLiteral("unknown control or value")}});
        return;
    }
    ctx.journal.log(QStringLiteral("control %1 set").arg(what));
    Http::replyJson(res, 200, inspect(ctx).value(QStringLiteral("modes")));
}

} // namespace

namespace SiteRoutes {

void prepare(SandboxContext &ctx)
{
    for (const LadderDef &ladder : ctx.data.ladders) {
        for (const MapDef &map : ladder.maps) {
            if (map.hasPreview)
                ctx.previews.insert(ladder.abbreviation + QLatin1Char('/') + map.hash, DataSet::previewPng(map.hash));
            if (map.hasArchive && !ctx.options.missingArchives.contains(map.hash))
                ctx.archives.insert(ladder.abbreviation + QLatin1Char('/') + map.hash,
                                    ZipArchive::build({{map.fileName, map.bytes}}));
        }
    }
    ctx.masterList = masterList(ctx.options);
}

void install(httplib::Server &server, SandboxContext &ctx)
{
    using Req = const httplib::Request &;
    using Res = httplib::Response &;
    using Handler = httplib::Server::Handler;
    auto get = [&](const char *pattern, Handler h) { server.Get(pattern, Http::scripted(ctx, h)); };
    for (const auto &p : Pages) {
        const char *title = p[1];
        get(p[0], [title](Req, Res res) { Http::replyText(res, 200, page(title), "text/html"); });
    }
    get(R"(/images/maps/([^/]+)/([0-9a-f]{40})\.png)", [&ctx](Req req, Res res) {
        const QByteArray png = ctx.previews.value(Http::match(req, 1) + QLatin1Char('/') + Http::match(req, 2));
        if (png.isEmpty())
            Http::replyText(res, 404, "No preview\n");
        else
            Http::replyText(res, 200, png, "image/png");
    });
    get("/master-list", [&ctx](Req, Res res) { Http::replyText(res, 200, ctx.masterList); });
    get(R"(/mapdb/([^/]+)//([0-9a-f]{40})\.zip)", [&ctx](Req req, Res res) {
        const QByteArray zip = ctx.archives.value(Http::match(req, 1) + QLatin1Char('/') + Http::match(req, 2));
        if (zip.isEmpty())
            Http::replyText(res, 404, "No such map\n");
        else
            Http::replyText(res, 200, zip, "application/zip");
    });
    server.Post("/upload.php", Http::scripted(ctx, [&ctx](Req req, Res res) { upload(req, res, ctx); }));
    server.Get("/inspect", [&ctx](Req req, Res res) {
        Http::replyJson(res, 200, inspect(ctx, QString::fromStdString(req.get_param_value("since")).toInt()));
    });
    server.Post("/inspect/reset", [&ctx](Req, Res res) {
        ctx.journal.reset();
        ctx.matchmaker.reset();
        ctx.delayMs = 0;
        QMutexLocker lock(&ctx.faultMutex);
        ctx.faults.clear();
        Http::replyJson(res, 200, QJsonObject{{QStringLiteral("message"), QStringLiteral("reset")}});
    });
    server.Post(R"(/control/([a-z]+))", [&ctx](Req req, Res res) { control(req, res, ctx); });
}

} // namespace SiteRoutes
