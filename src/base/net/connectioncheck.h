#pragma once

#include "net/ipendpoint.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

class QNetworkAccessManager;
class QNetworkReply;
class QUdpSocket;

// What the connection check found, and what it means for a match.
struct ConnectionReport
{
    enum class Ports { Unknown, OneForAll, OnePerDestination };
    struct Tunnel
    {
        QString name, address;
        int rttMs = -1; // -1: no answer
    };

    bool serviceReached = false;
    bool secure = false;             // HTTPS
    bool certificateTrusted = false; // meaningful with HTTPS only
    QString serviceText;             // "HTTP 200 in 14 ms" or the error
    QList<Tunnel> tunnels;           // best first, silent ones last
    QHostAddress publicIP;
    QList<quint16> seenPorts;        // the router's port as each query port saw it
    Ports ports = Ports::Unknown;
    QString mapping;                 // the port mapping in force; empty: none
    QString mappingNote;             // why there is none, when known

    int answeredTunnels() const;
    // A match can be played: the service answers and a tunnel carries games.
    bool playable() const { return serviceReached && answeredTunnels() > 0; }
    bool directLikely() const { return ports == Ports::OneForAll || !mapping.isEmpty(); }
    QString verdict() const;
    // One row per finding: what, what was found, what usually helps.
    QList<QStringList> rows() const;
    // The verdict and the rows as a text table (the command line and the log).
    QString table() const;
};

// The check before queueing: the service (and its certificate), every tunnel
// server's round trip, the public address and whether the home router keeps
// one port for every destination. It asks from a socket of its own, so it
// runs beside the router; it never queues and never talks to peers.
class ConnectionCheck : public QObject
{
    Q_OBJECT
public:
    static constexpr int kTimeLimitMs = 4500;
    static constexpr int kProbeMs = 1500;

    explicit ConnectionCheck(QObject *parent = nullptr);
    ~ConnectionCheck() override;

    void start();
    bool isRunning() const { return m_running; }
    // The port of the check's own socket, once started.
    quint16 localPort() const;

signals:
    void finished(const ConnectionReport &report);

private:
    void serviceAnswered(QNetworkReply *reply);
    void listAnswered(QNetworkReply *reply);
    void sendQueries();
    void readAnswers();
    void finishIfDone();
    void finish();

    struct Target
    {
        int tunnel;
        IPEndpoint endpoint;
        qint64 sentAt = -1;
        bool answered = false;
        quint16 seenPort = 0;
    };

    QNetworkAccessManager *m_net;
    QUdpSocket *m_socket;
    QTimer m_deadline, m_resend, m_probeEnd;
    QElapsedTimer m_clock;
    QList<Target> m_targets;
    ConnectionReport m_report;
    int m_rounds = 0;
    bool m_serviceDone = false, m_listDone = false, m_running = false;
};

Q_DECLARE_METATYPE(ConnectionReport)
