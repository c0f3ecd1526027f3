#pragma once

#include "net/tunnelserverinfo.h"

#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QObject>

// What the network side knows of this machine's addresses, the allow-P2P
// setting and the tunnel servers. The network thread writes it and the GUI
// thread reads it, so every field is under one mutex; the object itself lives
// on the GUI thread, and its change signals, emitted on the writer's thread,
// reach receivers there queued.
class NetworkState : public QObject
{
    Q_OBJECT
public:
    using TunnelTable = QMap<QString, TunnelServerInfo>;

    explicit NetworkState(QObject *parent = nullptr);

    // The ports the tunnel servers answer public-address queries on.
    static QList<quint16> defaultQueryPorts() { return {8054, 3478}; }

    TunnelTable tunnelServers() const;
    void setTunnelServers(const TunnelTable &table);

    QList<quint16> queryPorts() const;
    void setQueryPorts(const QList<quint16> &ports);

    QHostAddress localIP() const;
    quint16 localPort() const;
    QHostAddress localIPv6() const;
    quint16 localIPv6Port() const;
    bool allowP2P() const;
    // The address peers are offered: the home router's mapping while one
    // holds, else what the tunnel servers saw.
    QHostAddress publicIP() const;
    quint16 publicPort() const;
    // The address and port the home router forwards to the peer socket
    // (null and 0: no mapping).
    QHostAddress mappedIP() const;
    quint16 mappedPort() const;
    void setMappedAddress(const QHostAddress &ip, quint16 port);

public slots:
    void setPublicIP(const QHostAddress &publicIP);
    void setPublicIP(const QString &publicIP);
    void setPublicPort(ushort publicPort);
    void setPublicPort(const QString &portString);
    void setLocalIP(const QHostAddress &localIP);
    void setLocalPort(ushort localPort);
    void setLocalIPv6(const QHostAddress &localIPv6);
    void setLocalIPv6Port(ushort localIpv6Port);
    // Kept in the settings as well.
    void setAllowP2P(bool allowP2P);

signals:
    void publicIPChanged(QHostAddress ip);
    void publicIPChanged(QString ip);
    void publicPortChanged(QString port);

private:
    void showPublicIP(const QHostAddress &publicIP);
    void showPublicPort(quint16 publicPort);

    mutable QMutex m_mutex;
    TunnelTable m_tunnelServers;
    QList<quint16> m_queryPorts = defaultQueryPorts();
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
};
