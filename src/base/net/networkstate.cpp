#include "net/networkstate.h"

#include "util/settings.h"

#include <QDebug>
#include <QMutexLocker>

NetworkState::NetworkState(QObject *parent) : QObject(parent), m_allowP2P(Settings::allowP2P()) {}

#define STATE_GET(Type, name, member)                                                                                  \
    Type NetworkState::name() const                                                                                    \
    {                                                                                                                  \
        QMutexLocker lock(&m_mutex);                                                                                   \
        return member;                                                                                                 \
    }

STATE_GET(NetworkState::TunnelTable, tunnelServers, m_tunnelServers)
STATE_GET(QList<quint16>, queryPorts, m_queryPorts)
STATE_GET(QHostAddress, localIP, m_localIP)
STATE_GET(quint16, localPort, m_localPort)
STATE_GET(QHostAddress, localIPv6, m_localIPv6)
STATE_GET(quint16, localIPv6Port, m_localIPv6Port)
STATE_GET(bool, allowP2P, m_allowP2P)
STATE_GET(QHostAddress, publicIP, m_publicIP)
STATE_GET(quint16, publicPort, m_publicPort)
STATE_GET(QHostAddress, mappedIP, m_mappedIP)
STATE_GET(quint16, mappedPort, m_mappedPort)

void NetworkState::setTunnelServers(const TunnelTable &table)
{
    QMutexLocker lock(&m_mutex);
    m_tunnelServers = table;
}

void NetworkState::setQueryPorts(const QList<quint16> &ports)
{
    QMutexLocker lock(&m_mutex);
    m_queryPorts = ports;
}

void NetworkState::setLocalIP(const QHostAddress &localIP)
{
    QMutexLocker lock(&m_mutex);
    m_localIP = localIP;
}

void NetworkState::setPublicIP(const QHostAddress &publicIP)
{
    {
        QMutexLocker lock(&m_mutex);
        m_queriedIP = publicIP;
        // While the home router forwards a port to us, that is where peers
        // reach us; the tunnels' view comes back when the mapping goes.
        if (m_mappedPort != 0)
            return;
    }
    showPublicIP(publicIP);
}

void NetworkState::setMappedAddress(const QHostAddress &ip, quint16 port)
{
    QHostAddress shownIP;
    quint16 shownPort = 0;
    {
        QMutexLocker lock(&m_mutex);
        m_mappedIP = ip;
        m_mappedPort = ip.isNull() ? 0 : port;
        shownIP = m_mappedPort ? m_mappedIP : m_queriedIP;
        shownPort = m_mappedPort ? m_mappedPort : m_queriedPort;
    }
    showPublicIP(shownIP);
    showPublicPort(shownPort);
}

void NetworkState::showPublicIP(const QHostAddress &publicIP)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_publicIP == publicIP)
            return;
        m_publicIP = publicIP;
    }
    qDebug() << "Setting m_publicIP to" << publicIP;
    emit publicIPChanged(publicIP);
    emit publicIPChanged(publicIP.toString());
}

void NetworkState::setPublicIP(const QString &publicIP)
{
    setPublicIP(QHostAddress(publicIP));
}

void NetworkState::setPublicPort(ushort publicPort)
{
    {
        QMutexLocker lock(&m_mutex);
        m_queriedPort = publicPort;
        if (m_mappedPort != 0)
            return;
    }
    showPublicPort(publicPort);
}

void NetworkState::showPublicPort(quint16 publicPort)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_publicPort == publicPort)
            return;
        m_publicPort = publicPort;
    }
    emit publicPortChanged(QString::number(publicPort));
}

void NetworkState::setPublicPort(const QString &portString)
{
    // Typed by the user: an empty field clears the port; anything else but a
    // port number is ignored rather than cut to 16 bits, which would name
    // some other port.
    bool ok = portString.trimmed().isEmpty();
    const uint port = ok ? 0 : portString.trimmed().toUInt(&ok);
    if (!ok || port > 65535) {
        qDebug().noquote() << "Ignoring a public port that is not a port number: " + portString;
        return;
    }
    setPublicPort(ushort(port));
}

void NetworkState::setLocalPort(ushort port)
{
    QMutexLocker lock(&m_mutex);
    m_localPort = port;
}

void NetworkState::setLocalIPv6(const QHostAddress &address)
{
    QMutexLocker lock(&m_mutex);
    m_localIPv6 = address;
}

void NetworkState::setLocalIPv6Port(ushort port)
{
    QMutexLocker lock(&m_mutex);
    m_localIPv6Port = port;
}

void NetworkState::setAllowP2P(bool allowP2P)
{
    Settings::setAllowP2P(allowP2P);
    QMutexLocker lock(&m_mutex);
    m_allowP2P = allowP2P;
}
