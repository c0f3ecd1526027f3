// The public-address query: which address and port the internet sees for
// the peer socket, asked of the tunnel servers.
#include "net/networkstate.h"
#include "net/router.h"
#include "net/routerpacket.h"

#include <QDebug>
#include <QUdpSocket>

void Router::doFastPublicIPFind()
{
    if (!m_publicServer.isNull()) {
        queryPublicAddress(m_publicServer);
        return;
    }
    const NetworkState::TunnelTable tunnels = m_network->tunnelServers();
    const QList<quint16> ports = m_network->queryPorts();
    for (const TunnelServerInfo &server : tunnels) {
        for (quint16 port : ports)
            queryPublicAddress(IPEndpoint(QHostAddress(server.address), port));
    }
}

void Router::queryPublicAddress(const IPEndpoint &server)
{
    qDebug().noquote() << QStringLiteral("Doing queryPublicIP to %1:%2").arg(server.addr.toString()).arg(server.port);
    // Replies count only from where we asked; the set stays as small as the
    // tunnel list, so a table that churns just starts it over.
    if (m_queried.size() > 4096)
        m_queried.clear();
    m_queried.insert(server);
    if (!m_v4)
        return;
    static const QByteArray query = RouterPacket::publicAddressQuery();
    m_v4->writeDatagram(query, server.addr, server.port);
}

IPEndpoint Router::publicAddressServer() const
{
    QMutexLocker lock(&m_fibMutex);
    return m_publicServer;
}

bool Router::handlePublicAddressReply(const char *data, int size, const IPEndpoint &from)
{
    QHostAddress address;
    quint16 port = 0;
    if (!RouterPacket::parsePublicAddressReply(data, size, &address, &port) || !m_queried.contains(from))
        return false;
    qDebug().noquote() << "My IP " + address.toString() + " port = " + QString::number(port);
    if (m_publicServer.isNull()) {
        QMutexLocker lock(&m_fibMutex);
        m_publicServer = from;
    }
    // Guarded there; its change signals reach the GUI thread queued.
    m_network->setPublicIP(address);
    m_network->setPublicPort(port);
    return true;
}
