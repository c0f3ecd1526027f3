// The find-match exchange: queue, poll, spawn, status updates and quit.
#include "api/lorvaneapi.h"
#include "api/spawnreply.h"
#include "api/matchstate.h"
#include "net/networkstate.h"
#include "net/peerroute.h"
#include "spawn/gamecatalogue.h"
#include "spawn/spawnablegame.h"
#include "zantryversion.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>

namespace {
const QString kVersion = QStringLiteral(ZANTRY_VERSION);
constexpr int kDefaultCheckback = 10;

QString addressText(const QHostAddress &address, bool allowP2P)
{
    return allowP2P && !address.isNull() ? address.toString() : QString();
}
} // namespace

bool LorvaneAPI::haveMatchPlayer() const
{
    if (m_currentPlayer && m_currentPlayer->ladder)
        return true;
    qDebug() << "player or ladder not set";
    return false;
}

QString LorvaneAPI::matchPath() const
{
    return m_matchPath.arg(m_currentPlayer->ladder->abbreviation, m_currentPlayer->username);
}

QJsonObject LorvaneAPI::findMatchRequest() const
{
    const NetworkState *network = m_network;
    const bool p2p = network->allowP2P();
    const SpawnableGame *game = m_games->current();
    const Side *side = m_currentPlayer->currentSide();
    QJsonObject request;
    request.insert(QStringLiteral("type"), QStringLiteral("match me up"));
    request.insert(QStringLiteral("lan_ip"), addressText(network->localIP(), p2p));
    request.insert(QStringLiteral("lan_port"), network->localPort());
    request.insert(QStringLiteral("ipv6_address"), addressText(network->localIPv6(), p2p));
    request.insert(QStringLiteral("ipv6_port"), network->localIPv6Port());
    request.insert(QStringLiteral("ip_address"), addressText(network->publicIP(), p2p));
    request.insert(QStringLiteral("ip_port"), network->publicPort());
    request.insert(QStringLiteral("side"), side->localId);
    request.insert(QStringLiteral("map_bitfield"), m_currentPlayer->mapBitfield);
    request.insert(QStringLiteral("version"), kVersion);
    request.insert(QStringLiteral("platform"), QStringLiteral("win32"));
    request.insert(QStringLiteral("map_sides"), m_currentPlayer->mapSides());
    request.insert(QStringLiteral("ai_dat"), m_match->cheatToolRunning());
    request.insert(QStringLiteral("exe_hash"), game ? game->exeHash : QString());
    request.insert(QStringLiteral("ddraw"), game ? game->ddrawHash : QString());
    request.insert(QStringLiteral("session"), m_session);
    return request;
}

void LorvaneAPI::findMatch()
{
    // Without a side there is nothing to queue with; the session flow only
    // asks once one is selected, so this is a stray call.
    if (!haveMatchPlayer() || !m_currentPlayer->currentSide()) {
        qDebug() << "findMatch: no side selected";
        return;
    }
    m_matchPending = true;
    if (m_addressWait->isActive())
        return;
    // Polls go out at once, with the address when it has come meanwhile.
    if (!m_findMatchTimer->isActive() && m_network->allowP2P() && m_network->publicIP().isNull()
        && !m_network->tunnelServers().isEmpty()) {
        qDebug().noquote() << QStringLiteral("findMatch: waiting up to %1 ms for the public address").arg(m_addressWait->interval());
        m_addressWait->start();
        return;
    }
    sendFindMatch();
}

void LorvaneAPI::sendFindMatch()
{
    if (!haveMatchPlayer() || !m_currentPlayer->currentSide())
        return;
    const QJsonObject request = findMatchRequest();
    qDebug().noquote() << "Sending findMatch request with: " + QString::fromUtf8(QJsonDocument(forLog(request)).toJson());
    m_findReply = postJson(matchPath(), request, &LorvaneAPI::slotFindMatchFinished);
}

void LorvaneAPI::slotFindMatchFinished()
{
    QNetworkReply *reply = senderReply();
    if (!reply)
        return;
    m_findReply = nullptr;
    const bool json = isJson(reply);
    const QByteArray body = takeBody(reply);
    if (m_quitAfterAnswer) {
        m_quitAfterAnswer = false;
        sendQuit();
        return;
    }
    if (!json) {
        abandonFindMatch(body);
        return;
    }
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    qDebug().noquote() << "findMatch returned: " + QString::fromUtf8(QJsonDocument(object).toJson());
    const QString type = object.value(QLatin1String("type")).toString();
    if (type == QLatin1String("please wait")) {
        const int checkback = object.value(QLatin1String("checkback")).toInt(kDefaultCheckback);
        m_findMatchTimer->start(qBound(0, checkback, INT_MAX / 1000) * 1000);
        emit waitForMatchup();
    } else if (type == QLatin1String("spawn")) {
        m_findMatchTimer->stop();
        m_matchPending = false;
        const QString userName = m_currentPlayer ? m_currentPlayer->username : QString();
        m_match->setSpawnInfo(spawnInfoFromReply(object, userName, m_network->allowP2P()));
        emit matchupFound();
    } else if (type == QLatin1String("fatal")) {
        m_findMatchTimer->stop();
        m_matchPending = false;
        emit apiFatal(object.value(QLatin1String("message")).toString());
    }
}

void LorvaneAPI::abandonFindMatch(const QByteArray &body)
{
    m_findMatchTimer->stop();
    qDebug().noquote() << "findMatch went wrong: " + QString::fromUtf8(body);
    // Without a word the window would keep "Searching for a matchup..." with
    // nothing polling; the cancel signal takes it back to where the user can
    // queue again. A match already formed is not touched.
    if (m_matchPending) {
        m_matchPending = false;
        emit cancelledFindMatch();
    }
}

void LorvaneAPI::cancelFindMatch()
{
    m_addressWait->stop();
    if (!haveMatchPlayer())
        return;
    // A quit that overtook the request on another connection would leave
    // the player queued: it goes once the request has its answer.
    if (m_findReply) {
        qDebug() << "Leaving the queue once the request in flight is answered";
        m_quitAfterAnswer = true;
        return;
    }
    sendQuit();
}

void LorvaneAPI::sendQuit()
{
    QJsonObject request;
    request.insert(QStringLiteral("type"), QStringLiteral("quit"));
    request.insert(QStringLiteral("version"), kVersion);
    qDebug().noquote() << "Sending quit request with" << QString::fromUtf8(QJsonDocument(request).toJson());
    postJson(matchPath(), request, &LorvaneAPI::slotCancelMatchFinished);
}

void LorvaneAPI::slotCancelMatchFinished()
{
    QNetworkReply *reply = senderReply();
    if (!reply)
        return;
    reply->deleteLater();
    m_findMatchTimer->stop();
    m_matchPending = false;
    emit cancelledFindMatch();
}

QJsonObject LorvaneAPI::updateRequest(const QString &status) const
{
    const SpawnInfo spawnInfo = m_match->spawnInfo();
    QJsonObject request;
    request.insert(QStringLiteral("type"), QStringLiteral("update"));
    request.insert(QStringLiteral("version"), kVersion);
    request.insert(QStringLiteral("status"), status);
    request.insert(QStringLiteral("seed"), spawnInfo.seed);
    if (status != QLatin1String("Reached"))
        return request;
    QJsonArray peers;
    if (const PeerRouteSource *routes = m_peerRoutes) {
        for (quint32 id : spawnInfo.paths.uniqueKeys()) {
            PeerRoute route;
            if (!routes->bestRoute(id, &route))
                continue;
            QJsonObject peer;
            peer.insert(QStringLiteral("id"), QString::number(id));
            peer.insert(QStringLiteral("address"), route.address.toString());
            peer.insert(QStringLiteral("port"), route.port);
            peer.insert(QStringLiteral("rtt"), route.rtt);
            peers.append(peer);
        }
    }
    request.insert(QStringLiteral("peers"), peers);
    return request;
}

void LorvaneAPI::updateMatchStatus(QString status)
{
    if (!haveMatchPlayer())
        return;
    const QJsonObject request = updateRequest(status);
    qDebug().noquote() << QStringLiteral("Sending update message with seed:%1, status:%2")
                              .arg(request.value(QLatin1String("seed")).toInt())
                              .arg(status);
    postJson(matchPath(), request, &LorvaneAPI::slotUpdateMatchFinished);
}

void LorvaneAPI::slotUpdateMatchFinished()
{
    QNetworkReply *reply = senderReply();
    if (!reply)
        return;
    qDebug().noquote() << "updateMatch finished with: " + QString::fromUtf8(takeBody(reply));
}
