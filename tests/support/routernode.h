#pragma once

#include "net/networkstate.h"
#include "net/router.h"

#include <QByteArray>
#include <QHostAddress>
#include <QThread>
#include <QUdpSocket>

#include <functional>

// A router with its peer socket on a loopback address (and optionally a
// second one for IPv6), on the test's thread or on a thread of its own.
class RouterNode
{
public:
    static Router::Timing fastTiming();
    struct Options;
    // Short timers, on the test's thread or on a thread of its own.
    static Options fast(bool ownThread = false);

    struct Options
    {
        QHostAddress address = QHostAddress(QHostAddress::LocalHost);
        bool ownThread = false;
        Router::Timing timing; // the program's own intervals unless shortened
        QHostAddress v6Address; // when set, a second peer socket there
        NetworkState *network = nullptr; // the node's own when null
    };

    RouterNode();
    explicit RouterNode(const Options &options);
    ~RouterNode();

    bool isValid() const { return m_router != nullptr; }
    Router *router() const { return m_router; }
    // What the router learns of its addresses, and the tunnels it asks.
    NetworkState *network() { return m_networkInUse; }
    IPEndpoint peerEndpoint() const { return m_peer; }
    IPEndpoint peerEndpointV6() const { return m_peerV6; }
    quint16 gamePort() const { return m_router->gamePort(); }
    // Runs f on the router's thread and waits for it.
    void run(const std::function<void()> &f);

    // Joins a match the way the session flow does: my id, INITIAL, the
    // peers, the candidate paths, FLOOD.
    void startMatch(quint32 myId, const QList<quint32> &peers, const QList<QPair<IPEndpoint, int>> &paths);

private:
    void create(const Options &options);
    NetworkState m_network;
    NetworkState *m_networkInUse = &m_network;
    QThread *m_thread = nullptr;
    QObject *m_context = nullptr;
    Router *m_router = nullptr;
    IPEndpoint m_peer;
    IPEndpoint m_peerV6;
};

// A UDP socket on the test's thread: a fake game or a fake peer.
class TestSocket
{
public:
    explicit TestSocket(const QHostAddress &address = QHostAddress(QHostAddress::LocalHost));
    // receive() passes over keep-alives and, unless told otherwise, router
    // control packets, which a router sends on its own timers.
    void setSkipControl(bool skip) { m_skipControl = skip; }
    IPEndpoint endpoint() const;
    void send(const QByteArray &data, const IPEndpoint &to);
    // Waits up to timeoutMs for the next datagram; empty on time-out.
    QByteArray receive(int timeoutMs = 3000, IPEndpoint *from = nullptr);
    // Everything that arrives within ms.
    QList<QByteArray> collect(int ms);
    QUdpSocket &socket() { return m_socket; }

private:
    bool skipped(const QByteArray &d) const;
    QUdpSocket m_socket;
    bool m_skipControl = true;
};

// Wire helpers for tests.
QByteArray gameDatagram(quint16 sender, quint16 receiver, const QByteArray &payload);
QByteArray routedDatagram(quint32 sender, quint32 receiver, const QByteArray &payload);
QByteArray controlPacket(quint32 sender, quint32 receiver, quint32 type, quint32 hops = 2, quint32 time = 1234);
