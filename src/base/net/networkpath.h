#pragma once

#include "net/ipendpoint.h"

#include <QObject>
#include <QSharedPointer>
#include <QVector>

// One way to reach a player id: a peer's address, a tunnel server, or the
// game's own address. Shared between owners through NetworkPathPtr.
class NetworkPath : public QObject
{
    Q_OBJECT
public:
    enum Type { Direct = 0, Tunnel = 1, SpawnCandidate = 2 };

    explicit NetworkPath(QObject *parent = nullptr) : QObject(parent) {}
    NetworkPath(const IPEndpoint &ep, int pathType, QObject *parent = nullptr)
        : QObject(parent), endpoint(ep), type(pathType)
    {
    }

    QString toString() const { return endpoint.toString(); }

    IPEndpoint endpoint;
    int type = Direct;
    int pings = 0;
    int pongs = 0;
    // Milliseconds of the router's monotonic clock, -1 until first set; a
    // time of day would make paths look fresh forever across midnight.
    qint64 lastReceived = -1;
    qint64 lastSent = -1;
    qint64 lastPong = -1;
    int rtt = -1;
    int rttSum = 0;

    // A pong counts only on the path whose ping it echoes: replies that come
    // back on another path would otherwise make a dead path look alive and a
    // live one lose more than it sent.
    void notePing(quint32 time)
    {
        if (unanswered.size() >= kMaxUnanswered)
            unanswered.removeFirst();
        unanswered.append(time);
    }
    bool answerPing(quint32 time) { return unanswered.removeOne(time); }
    bool answered() const { return pongs > 0; }

private:
    static constexpr int kMaxUnanswered = 256; // a ping phase to seven peers on a shared path
    QVector<quint32> unanswered;
};

using NetworkPathPtr = QSharedPointer<NetworkPath>;
