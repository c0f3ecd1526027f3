#pragma once

#include "net/peerroute.h"
#include "net/tunnelserverinfo.h"
#include "net/spawninfo.h"
#include "watch/processwatcher.h"

#include <QDir>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QVariant>

class Player;
class QProcess;
class QThread;
class Router;
class SpawnableGame;

// The process-wide registry: addresses, the allow-P2P setting, the tunnel
// table, the detected games and the objects other subsystems park here.
// Written from the GUI and the network thread; every field is guarded.
class Global : public QObject
{
    Q_OBJECT
public:
    static Global *instance();

    using TunnelTable = QMap<QString, TunnelServerInfo>;
    using GameTable = QMap<QString, SpawnableGame *>;
    using Stats = QHash<QString, QVariant>;

    TunnelTable tunnelServers() const;
    void setTunnelServers(const TunnelTable &table);

    QList<quint16> queryPorts() const;
    void setQueryPorts(const QList<quint16> &ports);

    QHostAddress localIP() const;
    quint16 localPort() const;
    QHostAddress localIPv6() const;
    quint16 localIPv6Port() const;
    bool allowP2P() const;
    QHostAddress publicIP() const;
    quint16 publicPort() const;
    // The address and port the home router forwards to the peer socket;
    // while set, they are the public ones (null and 0: no mapping).
    QHostAddress mappedIP() const;
    quint16 mappedPort() const;
    void setMappedAddress(const QHostAddress &ip, quint16 port);

    Player *currentPlayer() const;
    void setCurrentPlayer(Player *player);
    SpawnInfo spawnInfo() const;
    GameTable games() const;
    void setGames(const GameTable &games);
    SpawnableGame *currentGame() const;
    void setCurrentGame(SpawnableGame *game);
    QProcess *gameProcess() const;
    void setGameProcess(QProcess *process);
    QThread *networkThread() const;
    void setNetworkThread(QThread *thread);
    Router *router() const;
    void setRouter(Router *router);
    // The router's forwarding table as the service client reads it; null
    // until the router exists.
    PeerRouteSource *peerRoutes() const;
    void setPeerRoutes(PeerRouteSource *source);
    QDir dataDir() const;
    void setDataDir(const QDir &dir);
    ProcessWatcher *processWatcher() { return &m_processWatcher; }
    bool cheatToolRunning() const;
    void setCheatToolRunning(bool running);
    Stats zantryStats() const;
    void setZantryStats(const Stats &stats);

public slots:
    void setPublicIP(const QHostAddress &publicIP);
    void setPublicIP(const QString &publicIP);
    void setPublicPort(ushort publicPort);
    void setPublicPort(const QString &portString);
    void setLocalIP(const QHostAddress &localIP);
    void setLocalPort(ushort localPort);
    void setLocalIPv6(const QHostAddress &localIPv6);
    void setLocalIPv6Port(ushort localIpv6Port);
    void setSpawnInfo(const SpawnInfo &spawnInfo);
    void setAllowP2P(bool allowP2P);

signals:
    void localIPChanged(QHostAddress ip);
    void localPortChanged(ushort port);
    void localIPv6Changed(QHostAddress ip);
    void localIPv6PortChanged(ushort port);
    void publicIPChanged(QHostAddress ip);
    void publicIPChanged(QString ip);
    void publicPortChanged(ushort port);
    void publicPortChanged(QString port);
    void zantryStatsChanged();

private:
    Global();
    void showPublicIP(const QHostAddress &publicIP);
    void showPublicPort(quint16 publicPort);

    mutable QMutex m_mutex;
    TunnelTable m_tunnelServers;
    QList<quint16> m_queryPorts;
    QHostAddress m_localIP;
    quint16 m_localPort = 0;
    QHostAddress m_localIPv6;
    quint16 m_localIPv6Port = 0;
    bool m_allowP2P = true;
    QHostAddress m_publicIP;
    quint16 m_publicPort = 0;
    QHostAddress m_queriedIP;
    quint16 m_queriedPort = 0;
    QHostAddress m_mappedIP;
    quint16 m_mappedPort = 0;
    Player *m_currentPlayer = nullptr;
    SpawnInfo m_spawnInfo;
    GameTable m_games;
    SpawnableGame *m_currentGame = nullptr;
    QProcess *m_gameProcess = nullptr;
    QThread *m_networkThread = nullptr;
    Router *m_router = nullptr;
    PeerRouteSource *m_peerRoutes = nullptr;
    QDir m_dataDir;
    ProcessWatcher m_processWatcher;
    bool m_cheatToolRunning = false;
    Stats m_zantryStats;
};
