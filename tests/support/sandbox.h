#pragma once

#include "testenv.h"
#include "toolprocess.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

// tools/sandbox on an ephemeral loopback port: the ladder web service,
// master list, map database, log collector and DNS responder. A test starts
// one, points TestEnv at it (setEndpoints(sandbox.endpoints())) and asserts
// on inspect(): every request, queue, match, update, result and crash report
// it received. Built-in accounts: alice@sandbox.test / alice-pass (token
// "token-alice"), bob@, carol@, dave@ likewise; see the tool's --help.
class TunnelProcess;

class Sandbox
{
public:
    Sandbox();

    // Extra tool arguments, e.g. {"--tunnel", "127.0.0.1:50000", "--seed", "7"}.
    // Starts with "--addresses loopback" (see the tool's --help).
    bool start(const QStringList &args = QStringList());
    // What a client's match needs on loopback: the tunnel server started,
    // this sandbox naming it in its master list, env pointed at the sandbox.
    // Empty, or what failed.
    QString startWithTunnel(TunnelProcess &tunnel, TestEnv &env, const QStringList &args = QStringList());
    void stop() { m_tool.stop(); }
    QString errorText() const { return m_tool.errorText(); }

    QString baseUrl() const;                 // http://127.0.0.1:<port>
    QString dnsAddress() const;              // "127.0.0.1:<port>"
    TestEnv::Endpoints endpoints() const;    // every endpoint, DNS included

    struct Reply
    {
        int status = 0; // 0: no answer
        QByteArray body;
        QByteArray contentType;
        QJsonDocument json() const { return QJsonDocument::fromJson(body); }
    };
    // A blocking request (bounded by 10 s) against baseUrl + path; a
    // non-empty token is sent the client's way, "Authorization: Bearer:<token>".
    Reply post(const QString &path, const QByteArray &body, const QByteArray &contentType,
               const QByteArray &token = QByteArray()) const;

    // Everything received; with since (an earlier reply's "seq"), only the
    // requests, updates, uploads and DNS queries recorded after it.
    QJsonObject inspect(int since = 0) const;
    // A player's status updates in order, the "touch" keep-alives left out.
    static QStringList statuses(const QJsonObject &seen, const QString &user);
    // "Received" of the [Game] section of the result a player uploaded (the
    // stand-in game's stats.dmp); -1 when none arrived.
    static int uploadedReceived(const QJsonObject &seen, int playerId);
    bool reset() const; // forgets requests, queue, matches and uploads
    // POST /control/<what>?<query>, e.g. control("dns", "mode=silent").
    bool control(const QString &what, const QString &query) const;

    // Runs the sandbox's game folder builder; returns its report lines
    // ("LAUNCHER <abbr> <path>", "MAP present|missing <abbr> <digest> <path>"),
    // empty on failure.
    static QStringList makeGameFolder(const QString &dir, const QStringList &args = QStringList());

private:
    Reply send(const QByteArray &verb, const QString &path, const QByteArray &body, const QByteArray &contentType,
               const QByteArray &token) const;
    ToolProcess m_tool;
};
