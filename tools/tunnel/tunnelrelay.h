#pragma once

#include <QHash>
#include <QHostAddress>
#include <QObject>

class QFile;
class QUdpSocket;

// Relays routed datagrams (sender id, receiver id, payload) to the endpoint
// last seen sending with the receiver's id, and answers the 48-byte
// public-address query on the query sockets with the 40-byte reply.
class TunnelRelay : public QObject
{
    Q_OBJECT
public:
    struct Counters
    {
        quint64 received = 0;  // datagrams on the relay socket
        quint64 relayed = 0;   // passed on to a known receiver
        quint64 unknown = 0;   // receiver id never seen (or 0: keep-alives)
        quint64 tooShort = 0;  // shorter than the 8-byte routed header
        quint64 queries = 0;   // public-address queries answered
        quint64 bad = 0;       // other datagrams on a query port
    };

    explicit TunnelRelay(QObject *parent = nullptr);

    // Binds the relay socket and the query sockets; false with errorText().
    bool bind(const QHostAddress &address, quint16 relayPort, const QList<quint16> &queryPorts);
    // One line per received datagram goes here when set.
    void setLog(QFile *log) { m_log = log; }

    QString errorText() const { return m_error; }
    quint16 relayPort() const;
    QList<quint16> queryPorts() const;
    QString statsLine() const;

private:
    void readRelay();
    void readQuery(QUdpSocket *socket);
    void log(const QString &line);

    struct Endpoint
    {
        QHostAddress address;
        quint16 port = 0;
    };

    QUdpSocket *m_relay = nullptr;
    QList<QUdpSocket *> m_query;
    QHash<quint32, Endpoint> m_seen;
    Counters m_counters;
    QFile *m_log = nullptr;
    QString m_error;
};
