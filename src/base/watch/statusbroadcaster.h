#pragma once

#include "watch/statusdatagram.h"

#include <QObject>

#include <functional>

class QTimer;
class QUdpSocket;

// Tells local companion programs what the client is doing: one datagram
// every 500 ms to 127.0.0.1, ports 3450 to 3469.
class StatusBroadcaster : public QObject
{
    Q_OBJECT
public:
    explicit StatusBroadcaster(QObject *parent = nullptr);
    ~StatusBroadcaster() override;

    static constexpr quint16 kFirstPort = 3450;
    static constexpr quint16 kLastPort = 3469;

    int interval() const { return m_interval; }
    void setInterval(int ms);
    bool inGame() const { return m_inGame; }
    bool inQueue() const { return m_inQueue; }

    // What the session looks like (game, match, player); the owner knows,
    // this object only tells it on.
    using Source = std::function<StatusSnapshot()>;
    void setSource(Source source) { m_source = std::move(source); }

    // The source's state with this program's id and the two flags.
    StatusSnapshot snapshot() const;

public slots:
    void start();
    void stop();
    void setInGame(bool inGame);
    void setInQueue(bool inQueue);
    void broadcastUpdate();

private:
    int m_interval = 500;
    QTimer *m_timer;
    QUdpSocket *m_socket;
    bool m_inGame = false;
    bool m_inQueue = false;
    Source m_source;
};
