#pragma once

#include "net/router.h"

#include <QByteArray>
#include <QHostAddress>
#include <QThread>
#include <QUdpSocket>

#include <functional>

// A router with its peer socket on a loopback (or namespace) address, on
// the test's thread or on a thread of its own, with short timers.
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
        // Runs first on the router's thread (e.g. to enter a namespace).
        std::function<bool()> threadSetup;
    };

    RouterNode();
    explicit RouterNode(const Options &options);
    ~RouterNode();

    bool isValid() const { return m_router != nullptr; }
    Router *router() const { return m_router; }
    IPEndpoint peerEndpoint() const { return m_peer; }
    quint16 gamePort() const { return m_router->gamePort(); }
    // Runs f on the router's thread and waits for it.
    void run(const std::function<void()> &f);

    // Joins a match the way the session flow does: my id, INITIAL, the
    // peers, the candidate paths, FLOOD.
    void startMatch(quint32 myId, const QList<quint32> &peers, const QList<QPair<IPEndpoint, int>> &paths);

private:
    void create(const Options &options);
    QThread *m_thread = nullptr;
    QObject *m_context = nullptr;
    Router *m_router = nullptr;
    IPEndpoint m_peer;
};

// A UDP socket on the test's thread: a fake game or a fake peer.
class TestSocket
{
public:
    explicit TestSocket(const QHostAddress &address = QHostAddress(QHostAddress::LocalHost));
    // By default receive() passes over keep-alives and router control
    // packets, which a router sends on its own timers.
    void setSkipKeepAlives(bool skip) { m_skipKeepAlives = skip; }
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
    bool m_skipKeepAlives = true;
    bool m_skipControl = true;
};

// Wire helpers for tests.
QByteArray gameDatagram(quint16 sender, quint16 receiver, const QByteArray &payload);
QByteArray routedDatagram(quint32 sender, quint32 receiver, const QByteArray &payload);
QByteArray controlPacket(quint32 sender, quint32 receiver, quint32 type, quint32 hops = 2, quint32 time = 1234);
