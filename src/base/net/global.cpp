#include "net/global.h"

#include "util/settings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMutexLocker>

Global *Global::instance()
{
    // Created on first use and kept to process exit; the first call is made
    // on the GUI thread during start-up.
    static Global *global = new Global;
    return global;
}

Global::Global()
    : QObject(nullptr)
    , m_dataDir(QString())
{
    m_queryPorts.reserve(2);
    m_queryPorts << 8054 << 3478;
    m_allowP2P = Settings::allowP2P();
    connect(&m_processWatcher, &ProcessWatcher::cheatToolRunningChanged, this, &Global::setCheatToolRunning);
}

#define GLOBAL_GET(Type, name, member)                                                                                 \
    Type Global::name() const                                                                                          \
    {                                                                                                                  \
        QMutexLocker lock(&m_mutex);                                                                                   \
        return member;                                                                                                 \
    }
#define GLOBAL_SET(Type, name, member)                                                                                 \
    void Global::name(Type value)                                                                                      \
    {                                                                                                                  \
        QMutexLocker lock(&m_mutex);                                                                                   \
        member = value;                                                                                                \
    }

GLOBAL_GET(Global::TunnelTable, tunnelServers, m_tunnelServers)
GLOBAL_SET(const Global::TunnelTable &, setTunnelServers, m_tunnelServers)
GLOBAL_GET(QList<quint16>, queryPorts, m_queryPorts)
GLOBAL_GET(QHostAddress, localIP, m_localIP)
GLOBAL_GET(quint16, localPort, m_localPort)
GLOBAL_GET(QHostAddress, localIPv6, m_localIPv6)
GLOBAL_GET(quint16, localIPv6Port, m_localIPv6Port)
GLOBAL_GET(bool, allowP2P, m_allowP2P)
GLOBAL_GET(QHostAddress, publicIP, m_publicIP)
GLOBAL_GET(quint16, publicPort, m_publicPort)
GLOBAL_GET(QHostAddress, mappedIP, m_mappedIP)
GLOBAL_GET(quint16, mappedPort, m_mappedPort)
GLOBAL_GET(Player *, currentPlayer, m_currentPlayer)
GLOBAL_SET(Player *, setCurrentPlayer, m_currentPlayer)
GLOBAL_GET(SpawnInfo, spawnInfo, m_spawnInfo)
GLOBAL_GET(Global::GameTable, games, m_games)
GLOBAL_SET(const Global::GameTable &, setGames, m_games)
GLOBAL_GET(SpawnableGame *, currentGame, m_currentGame)
GLOBAL_SET(SpawnableGame *, setCurrentGame, m_currentGame)
GLOBAL_GET(QProcess *, gameProcess, m_gameProcess)
GLOBAL_SET(QProcess *, setGameProcess, m_gameProcess)
GLOBAL_GET(QThread *, networkThread, m_networkThread)
GLOBAL_SET(QThread *, setNetworkThread, m_networkThread)
GLOBAL_GET(Router *, router, m_router)
GLOBAL_SET(Router *, setRouter, m_router)
GLOBAL_GET(PeerRouteSource *, peerRoutes, m_peerRoutes)
GLOBAL_SET(PeerRouteSource *, setPeerRoutes, m_peerRoutes)
GLOBAL_GET(QDir, dataDir, m_dataDir)
GLOBAL_SET(const QDir &, setDataDir, m_dataDir)
GLOBAL_GET(bool, cheatToolRunning, m_cheatToolRunning)
GLOBAL_SET(bool, setCheatToolRunning, m_cheatToolRunning)
GLOBAL_GET(Global::Stats, zantryStats, m_zantryStats)
GLOBAL_SET(const SpawnInfo &, setSpawnInfo, m_spawnInfo)
GLOBAL_SET(const QHostAddress &, setLocalIP, m_localIP)

void Global::setQueryPorts(const QList<quint16> &ports)
{
    QMutexLocker lock(&m_mutex);
    if (!m_queryPorts.isSharedWith(ports))
        m_queryPorts = ports;
}

void Global::setZantryStats(const Stats &stats)
{
    {
        QMutexLocker lock(&m_mutex);
        m_zantryStats = stats;
    }
    emit zantryStatsChanged();
}

void Global::setPublicIP(const QHostAddress &publicIP)
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

void Global::setMappedAddress(const QHostAddress &ip, quint16 port)
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

void Global::showPublicIP(const QHostAddress &publicIP)
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

void Global::setPublicIP(const QString &publicIP)
{
    setPublicIP(QHostAddress(publicIP));
}

void Global::setPublicPort(ushort publicPort)
{
    {
        QMutexLocker lock(&m_mutex);
        m_queriedPort = publicPort;
        if (m_mappedPort != 0)
            return;
    }
    showPublicPort(publicPort);
}

void Global::showPublicPort(quint16 publicPort)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_publicPort == publicPort)
            return;
        m_publicPort = publicPort;
    }
    emit publicPortChanged(publicPort);
    emit publicPortChanged(QString::number(publicPort));
}

void Global::setPublicPort(const QString &portString)
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

#define GLOBAL_SET_EMIT(Type, name, member, signal)                                                                    \
    void Global::name(Type value)                                                                                      \
    {                                                                                                                  \
        {                                                                                                              \
            QMutexLocker lock(&m_mutex);                                                                               \
            if (member == value)                                                                                       \
                return;                                                                                                \
            member = value;                                                                                            \
        }                                                                                                              \
        emit signal(value);                                                                                            \
    }

GLOBAL_SET_EMIT(ushort, setLocalPort, m_localPort, localPortChanged)
GLOBAL_SET_EMIT(const QHostAddress &, setLocalIPv6, m_localIPv6, localIPv6Changed)
GLOBAL_SET_EMIT(ushort, setLocalIPv6Port, m_localIPv6Port, localIPv6PortChanged)

void Global::setAllowP2P(bool allowP2P)
{
    Settings::setAllowP2P(allowP2P);
    QMutexLocker lock(&m_mutex);
    m_allowP2P = allowP2P;
}
