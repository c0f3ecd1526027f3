#include "net/matchrouting.h"

#include "net/networkstate.h"
#include "net/router.h"

#include <QDebug>
#include <QDir>
#include <QSet>

#include <algorithm>

namespace {

// The router's road through one match, in order; a step the queued
// stateChanged() skipped (the router moved on before we ran) is still taken.
const QList<int> kRoad = {Router::FLOOD, Router::REACHED, Router::PING, Router::READY, Router::FIB_READY};

} // namespace

MatchRouting::MatchRouting(NetworkState *network, QObject *parent) : QObject(parent), m_network(network) {}

bool MatchRouting::beginMatch(const QString &gameDir, const SpawnInfo &spawn)
{
    if (!m_router)
        return false;
    m_spawn = spawn;
    m_spawn.tunnelIP = QStringLiteral("127.0.0.1");
    m_spawn.tunnelPort = m_router->gamePort();
    m_spawn.writeSpawnIni(QDir::cleanPath(gameDir + QStringLiteral("/spawn.ini")));
    qDebug().noquote() << "spawn.myID = " + QString::number(m_spawn.myID);
    m_router->setMyId(m_spawn.myID);
    m_router->setState(Router::INITIAL);
    return true;
}

bool MatchRouting::usableCandidate(const IPEndpoint &endpoint, const QHostAddress &localIP, const QHostAddress &publicIP,
                                   const QHostAddress &localIPv6)
{
    static const QPair<QHostAddress, int> global6(QHostAddress(QStringLiteral("2600::")), 3);
    switch (endpoint.protocol()) {
    case QAbstractSocket::IPv4Protocol:
        return endpoint.addr != localIP && endpoint.addr != publicIP;
    case QAbstractSocket::IPv6Protocol:
        return endpoint.addr != localIPv6 && endpoint.port != 0 && endpoint.addr.isInSubnet(global6);
    default:
        qDebug() << "Not ipv4 or ipv6";
        return false;
    }
}

void MatchRouting::addPeersAndPaths()
{
    Router *router = m_router;
    const SpawnInfo &spawn = m_spawn;
    const QHostAddress localIP = m_network->localIP(), publicIP = m_network->publicIP(),
                       localIPv6 = m_network->localIPv6();
    const QList<quint32> peers = spawn.paths.uniqueKeys();
    for (quint32 id : peers)
        router->addPeer(id);
    for (quint32 id : peers) {
        qDebug().noquote() << QStringLiteral("Adding paths for peer %1").arg(id);
        // QMultiMap::values() lists the latest insertion first.
        QList<NetworkPathPtr> candidates = spawn.paths.values(id);
        std::reverse(candidates.begin(), candidates.end());
        for (const NetworkPathPtr &path : qAsConst(candidates)) {
            if (!path || path->endpoint.isNull())
                continue;
            qDebug().noquote() << "adding path " + path->toString();
            // A player's own address is a path to that player alone.
            if (usableCandidate(path->endpoint, localIP, publicIP, localIPv6))
                router->addPeerPath(id, path->endpoint, NetworkPath::Direct);
        }
    }
    const NetworkState::TunnelTable tunnels = m_network->tunnelServers();
    for (const TunnelServerInfo &server : tunnels) {
        const IPEndpoint endpoint(QHostAddress(server.address), quint16(server.port));
        qDebug().noquote() << "adding path " + endpoint.toString();
        router->addFloodPath(endpoint, NetworkPath::Tunnel);
    }
    router->setState(Router::FLOOD);
}

void MatchRouting::tunnelStateChanged()
{
    if (!m_router)
        return;
    const int state = m_router->state();
    qDebug().noquote() << "Tunnelstate changed to: " + QString::number(state);
    if (state == m_lastState)
        return; // a second queued signal for a state already handled
    const int from = kRoad.indexOf(m_lastState);
    const int to = kRoad.indexOf(state);
    m_lastState = state;
    if (to >= 0) {
        for (int i = qMax(from + 1, 0); i <= to; ++i)
            takeStep(kRoad.at(i));
        return;
    }
    switch (state) {
    case Router::INITIAL:
        addPeersAndPaths();
        emit findStarted();
        break;
    case Router::NOT_REACHED:
        emit statusUpdate(QStringLiteral("NotReached"));
        m_router->setState(Router::NOTHING);
        emit notReached();
        break;
    default:
        break;
    }
}

void MatchRouting::takeStep(int state)
{
    switch (state) {
    case Router::FLOOD:
        emit statusUpdate(QStringLiteral("Ready"));
        break;
    case Router::REACHED:
        emit findFinished();
        break;
    case Router::PING:
        emit perfStarted();
        break;
    case Router::READY:
        emit statusUpdate(QStringLiteral("Reached"));
        break;
    case Router::FIB_READY:
        emit networkReady();
        break;
    default:
        break;
    }
}
