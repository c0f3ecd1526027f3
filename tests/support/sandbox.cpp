#include "sandbox.h"

#include "tunnel.h"

#include <QBuffer>
#include <QJsonArray>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

Sandbox::Sandbox()
    : m_tool(QStringLiteral("sandbox"))
{
}

bool Sandbox::start(const QStringList &args)
{
    // Opponents' addresses off loopback are blanked unless the test asks
    // for "--addresses all": a client under test then never sends there.
    return m_tool.start(QStringList{QStringLiteral("--bind"), QStringLiteral("127.0.0.1"), QStringLiteral("--addresses"),
                                    QStringLiteral("loopback")}
                        + args);
}

QString Sandbox::startWithTunnel(TunnelProcess &tunnel, TestEnv &env, const QStringList &args)
{
    if (!tunnel.start())
        return tunnel.errorText();
    if (!start(tunnel.sandboxArgs() + args))
        return errorText();
    env.setEndpoints(endpoints());
    return QString();
}

QString Sandbox::baseUrl() const
{
    return m_tool.url(QStringLiteral("http"));
}

QString Sandbox::dnsAddress() const
{
    return m_tool.address(QStringLiteral("dns")) + QLatin1Char(':') + QString::number(m_tool.port(QStringLiteral("dns")));
}

QStringList Sandbox::statuses(const QJsonObject &seen, const QString &user)
{
    QStringList out;
    for (const QJsonValue &v : seen.value(QStringLiteral("updates")).toArray()) {
        const QJsonObject u = v.toObject();
        if (u.value(QStringLiteral("username")).toString() == user && u.value(QStringLiteral("status")) != QStringLiteral("touch"))
            out.append(u.value(QStringLiteral("status")).toString());
    }
    return out;
}

TestEnv::Endpoints Sandbox::endpoints() const
{
    return TestEnv::sandboxEndpoints(baseUrl(), dnsAddress());
}

Sandbox::Reply Sandbox::send(const QByteArray &verb, const QString &path, const QByteArray &body,
                             const QByteArray &contentType, const QByteArray &token) const
{
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(baseUrl() + path));
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer:" + token);
    if (!contentType.isEmpty())
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    QBuffer buffer;
    buffer.setData(body);
    QNetworkReply *reply = verb == "GET" ? manager.get(request) : manager.sendCustomRequest(request, verb, &buffer);
    QEventLoop loop;
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    Reply out;
    if (reply->isFinished()) {
        out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        out.body = reply->readAll();
        out.contentType = reply->rawHeader("Content-Type");
    } else {
        reply->abort();
    }
    delete reply;
    return out;
}

Sandbox::Reply Sandbox::post(const QString &path, const QByteArray &body, const QByteArray &contentType,
                             const QByteArray &token) const
{
    return send("POST", path, body, contentType, token);
}

QJsonObject Sandbox::inspect(int since) const
{
    return send("GET", QStringLiteral("/inspect?since=%1").arg(since), QByteArray(), QByteArray(), QByteArray()).json().object();
}

bool Sandbox::reset() const
{
    return post(QStringLiteral("/inspect/reset"), QByteArray(), "text/plain").status == 200;
}

bool Sandbox::control(const QString &what, const QString &query) const
{
    return post(QStringLiteral("/control/%1?%2").arg(what, query), QByteArray(), "text/plain").status == 200;
}

QStringList Sandbox::makeGameFolder(const QString &dir, const QStringList &args)
{
    QProcess process;
    process.start(TestEnv::toolPath(QStringLiteral("sandbox")), QStringList{QStringLiteral("--make-game-folder"), dir} + args);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringList();
    return QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int Sandbox::uploadedReceived(const QJsonObject &seen, int playerId)
{
    for (const QJsonValue &v : seen.value(QStringLiteral("results")).toArray()) {
        const QJsonObject r = v.toObject();
        if (r.value(QStringLiteral("playerId")).toInt() != playerId)
            continue;
        const QByteArray stats = QByteArray::fromBase64(
            r.value(QStringLiteral("parts")).toArray().at(0).toObject().value(QStringLiteral("base64")).toString().toLatin1());
        QByteArray section;
        for (const QByteArray &raw : stats.split('\n')) {
            const QByteArray line = raw.trimmed();
            if (line.startsWith('[') && line.endsWith(']'))
                section = line.mid(1, line.size() - 2);
            else if (section == "Game" && line.startsWith("Received="))
                return line.mid(9).toInt();
        }
    }
    return -1;
}
