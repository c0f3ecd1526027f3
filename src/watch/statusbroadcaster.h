#pragma once

#include "watch/statusdatagram.h"

#include <QObject>

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

    // The current state as read from Global and the two flags.
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
};
