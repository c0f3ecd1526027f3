#include "api/lorvaneapi.h"

#include "net/networkstate.h"
#include "util/settings.h"

#include <QDebug>
#include <QJsonDocument>
#include <QNetworkReply>

namespace {
constexpr int kStatsInterval = 60000;
constexpr int kPublicAddressWaitMs = 3000;
constexpr int kFirstReconnectMs = 2000;
constexpr int kLastReconnectMs = 60000;
} // namespace

LorvaneAPI::LorvaneAPI(NetworkState *network, MatchState *match, GameCatalogue *games, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_match(match)
    , m_games(games)
    , m_loginPath(QStringLiteral("/auth/login"))
    , m_refreshPath(QStringLiteral("/auth/refresh"))
    , m_accountPath(QStringLiteral("/user/account"))
    , m_resultShortPath(QStringLiteral("/result/%1/%2/%3/%4"))
    , m_resultPath(QStringLiteral("/result/ladder/%1/game/%2/player/%3/pings/%4/%5"))
    , m_laddersPath(QStringLiteral("/ladder"))
    , m_mapsPath(QStringLiteral("/zantry/ladder/%1/maps"))
    , m_matchPath(QStringLiteral("/zantry/%1/%2"))
    , m_statsPath(QStringLiteral("/zantry/ladder/%1/stats"))
    , m_findMatchTimer(new QTimer(this))
    , m_addressWait(new QTimer(this))
    , m_statsTimer(new QTimer(this))
    , m_refreshTimer(new QTimer(this))
    , m_resultRetryTimer(new QTimer(this))
    , m_reconnectTimer(new QTimer(this))
{
    // Named so tests can read the intervals without a test-only interface.
    m_findMatchTimer->setObjectName(QStringLiteral("findMatchTimer"));
    m_statsTimer->setObjectName(QStringLiteral("statsTimer"));
    m_refreshTimer->setObjectName(QStringLiteral("refreshTimer"));

    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    connect(&m_manager, &QNetworkAccessManager::networkAccessibleChanged, this,
            [this](QNetworkAccessManager::NetworkAccessibility access) { slotNetworkAccessChanged(int(access)); });
    QT_WARNING_POP
    connect(this, &LorvaneAPI::authenticationSuccess, this, &LorvaneAPI::fetchLadders);
    connect(this, &LorvaneAPI::laddersChanged, this, &LorvaneAPI::fetchPlayers);
    connect(this, &LorvaneAPI::currentPlayerChanged, this, &LorvaneAPI::fetchMaps);
    connect(m_findMatchTimer, &QTimer::timeout, this, &LorvaneAPI::findMatch);
    m_addressWait->setObjectName(QStringLiteral("publicAddressWait"));
    m_addressWait->setSingleShot(true);
    m_addressWait->setInterval(kPublicAddressWaitMs);
    connect(m_addressWait, &QTimer::timeout, this, [this]() {
        qDebug().noquote() << QStringLiteral("findMatch: no public address after %1 ms; queueing with the local addresses only")
                                  .arg(m_addressWait->interval());
        sendFindMatch();
    });
    // Told from the network thread; queued to this one.
    connect(m_network, qOverload<QHostAddress>(&NetworkState::publicIPChanged), this, [this](const QHostAddress &ip) {
        if (!m_addressWait->isActive() || ip.isNull())
            return;
        m_addressWait->stop();
        sendFindMatch();
    });
    connect(m_statsTimer, &QTimer::timeout, this, &LorvaneAPI::fetchZantryStats);
    m_statsTimer->start(kStatsInterval);
    connect(this, &LorvaneAPI::currentPlayerMapsChanged, this, &LorvaneAPI::fetchZantryStats);
    connect(m_refreshTimer, &QTimer::timeout, this, &LorvaneAPI::refreshToken);
    m_resultRetryTimer->setObjectName(QStringLiteral("resultRetryTimer"));
    m_resultRetryTimer->setSingleShot(true);
    connect(m_resultRetryTimer, &QTimer::timeout, this, [this]() { resumeResults(m_outboxDir); });
    m_reconnectTimer->setObjectName(QStringLiteral("reconnectTimer"));
    m_reconnectTimer->setSingleShot(true);
    connect(m_reconnectTimer, &QTimer::timeout, this, &LorvaneAPI::refreshToken);
    m_token = Settings::accessToken();
}

LorvaneAPI::~LorvaneAPI() = default;

QNetworkRequest LorvaneAPI::makeRequest(const QString &url) const
{
    QNetworkRequest request{QUrl(url)};
    request.setTransferTimeout(m_transferTimeoutMs);
    // A password or token is never sent on to wherever a redirect points.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setRawHeader("Authorization", QString(QStringLiteral("Bearer:") + m_token).toUtf8());
    qDebug().noquote() << "Making new request: " + url;
    return request;
}

QNetworkReply *LorvaneAPI::get(const QString &path, void (LorvaneAPI::*handler)())
{
    QNetworkReply *reply = m_manager.get(makeRequest(m_url + path));
    connect(reply, &QNetworkReply::finished, this, handler);
    return reply;
}

QNetworkReply *LorvaneAPI::post(const QString &path, const QString &contentType, const QByteArray &body,
                                void (LorvaneAPI::*handler)())
{
    QNetworkRequest request = makeRequest(m_url + path);
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    QNetworkReply *reply = m_manager.post(request, body);
    connect(reply, &QNetworkReply::finished, this, handler);
    return reply;
}

QNetworkReply *LorvaneAPI::postJson(const QString &path, const QJsonObject &body, void (LorvaneAPI::*handler)())
{
    return post(path, QStringLiteral("application/json"), QJsonDocument(body).toJson(QJsonDocument::Indented),
                handler);
}

QNetworkReply *LorvaneAPI::senderReply() const
{
    return qobject_cast<QNetworkReply *>(sender());
}

// The log travels with crash reports and forum posts: never a credential.
QJsonObject LorvaneAPI::forLog(QJsonObject object)
{
    for (const char *key : {"token", "session"}) {
        if (!object.value(QLatin1String(key)).toString().isEmpty())
            object.insert(QLatin1String(key), QStringLiteral("(hidden)"));
    }
    return object;
}

QByteArray LorvaneAPI::takeBody(QNetworkReply *reply)
{
    const QByteArray body = reply->readAll();
    reply->close();
    reply->deleteLater();
    return body;
}

bool LorvaneAPI::isJson(const QNetworkReply *reply)
{
    return ServiceFault::isJson(reply);
}

void LorvaneAPI::slotNetworkAccessChanged(int access)
{
    qDebug() << "Network access changed:" << access;
}

void LorvaneAPI::setURL(QString URL)
{
    m_url = URL;
    m_refreshTimer->start(m_refreshInterval);
    refreshToken();
}

void LorvaneAPI::setAccountName(QString accountName)
{
    if (accountName == m_accountName)
        return;
    m_accountName = accountName;
    Settings::setAccountName(m_accountName);
}

void LorvaneAPI::setPassword(QString password)
{
    if (password != m_password)
        m_password = password;
}

void LorvaneAPI::setTunnelServers(QList<TunnelServerInfo *> tunnelServers)
{
    if (tunnelServers != m_tunnelServers)
        m_tunnelServers = tunnelServers;
}

void LorvaneAPI::login()
{
    qDebug().noquote() << "Logging in with accountName = " + m_accountName;
    // Percent-encode every reserved character: a form decoder reads a bare
    // "+" as a space and "&", "=" as separators.
    auto formValue = [](const QString &value) { return QUrl::toPercentEncoding(value); };
    const QByteArray body = "email=" + formValue(m_accountName) + "&password=" + formValue(m_password);
    post(m_loginPath, QStringLiteral("application/x-www-form-urlencoded"), body, &LorvaneAPI::slotAuthRequestFinished);
}

void LorvaneAPI::slotAuthRequestFinished()
{
    QNetworkReply *reply = senderReply();
    if (!reply)
        return;
    const ServiceFault transport = ServiceFault::ofTransport(reply);
    const ServiceFault answer = ServiceFault::ofAnswer(reply);
    if (transport.isFault())
        qDebug().noquote() << "Login failed: " + transport.detail;
    const QJsonObject object = QJsonDocument::fromJson(takeBody(reply)).object();
    qDebug().noquote() << "slotAuthRequestFinished(): " + QString::fromUtf8(QJsonDocument(forLog(object)).toJson());
    // Only the service's own refusal means a wrong password; a redirect, a
    // proxy's page or a server error says nothing about it.
    const bool refused = answer.status == 401 || answer.status == 403 || answer.status == 422;
    if (transport.isFault() || (answer.isFault() && !refused)) {
        m_fault = transport.isFault() ? transport : answer;
        qDebug().noquote() << "Login not possible: " + m_fault.detail;
        emit apiFailed();
        return;
    }
    const QString token = object.value(QLatin1String("token")).toString();
    if (token.isEmpty()) {
        emit authenticationFailed();
        qDebug() << "Authentication failed";
        return;
    }
    m_session = object.value(QLatin1String("session")).toString();
    m_userName = object.value(QLatin1String("user_name")).toString();
    storeToken(token);
    // A fresh token: the next refresh is due a full interval from now.
    m_refreshTimer->start(m_refreshInterval);
    onAuthenticated();
}

void LorvaneAPI::refreshToken()
{
    if (m_token.isEmpty())
        emit authenticationRequired();
    get(m_refreshPath, &LorvaneAPI::slotRefreshToken);
}

void LorvaneAPI::slotRefreshToken()
{
    QNetworkReply *reply = senderReply();
    if (!reply)
        return;
    const ServiceFault transport = ServiceFault::ofTransport(reply);
    const ServiceFault answer = ServiceFault::ofAnswer(reply);
    const bool json = isJson(reply);
    const QByteArray body = takeBody(reply);
    if (transport.isFault()) {
        qDebug().noquote() << "Token refresh failed: " + transport.detail;
        startFailed(transport);
        return;
    }
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    if (answer.status == 401 && json) {
        qDebug() << "emit authenticationRequired()";
        m_reconnectTimer->stop();
        m_statsTimer->stop();
        emit authenticationRequired();
    } else if (answer.status == 200 && !answer.isFault() && !object.value(QLatin1String("token")).toString().isEmpty()) {
        storeToken(object.value(QLatin1String("token")).toString());
        setAccountName(object.value(QLatin1String("email")).toString());
        onAuthenticated();
    } else {
        // The stored login is kept: the answer did not say it is wrong.
        const ServiceFault fault = answer.isFault() ? answer : ServiceFault{ServiceFault::Unexpected, QStringLiteral("HTTP %1 without a token").arg(answer.status), answer.status};
        qDebug().noquote() << "Token refresh not possible: " + fault.detail;
        startFailed(fault);
    }
}

void LorvaneAPI::startFailed(const ServiceFault &fault)
{
    // Before the first success nothing is on screen but what this answer
    // decides; afterwards the session in progress is left alone.
    if (m_authenticated)
        return;
    m_fault = fault;
    if (!m_token.isEmpty()) {
        const int pause = std::min(kLastReconnectMs, kFirstReconnectMs << std::min(m_reconnects, 5));
        ++m_reconnects;
        m_reconnectTimer->start(pause);
        qDebug().noquote() << QStringLiteral("Trying the stored login again in %1 ms").arg(pause);
    }
    emit apiFailed();
}

int LorvaneAPI::reconnectIn() const
{
    return m_reconnectTimer->isActive() ? m_reconnectTimer->remainingTime() : -1;
}

void LorvaneAPI::logOut()
{
    m_token.clear();
    m_session.clear();
    m_password.clear();
    m_authenticated = false;
    m_refreshTimer->stop();
    m_reconnectTimer->stop();
    m_statsTimer->stop();
    Settings::removeAccessToken();
    emit authenticationRequired();
}

void LorvaneAPI::storeToken(const QString &token)
{
    m_token = token;
    Settings::setAccessToken(m_token);
}

void LorvaneAPI::onAuthenticated()
{
    m_authenticated = true;
    m_fault = ServiceFault();
    m_reconnects = 0;
    m_reconnectTimer->stop();
    if (!m_statsTimer->isActive())
        m_statsTimer->start(kStatsInterval);
    emit authenticationSuccess();
    // Results an earlier run could not deliver.
    resumeCurrentGameResults();
}
