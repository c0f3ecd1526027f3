#pragma once

#include "net/ipendpoint.h"

#include <QList>
#include <QMetaType>
#include <QPair>

// One opponent's route as the router sees it, copied out of its table for
// the window: plain values, never a pointer into the router.
struct RouteStatus
{
    quint32 id = 0;
    bool reached = false;    // heard from on some path
    int peerState = 0;       // the router state the peer last reported
    IPEndpoint path;         // the path in use; null while there is none
    int pathType = 0;        // NetworkPath::Type of that path
    int rtt = -1;            // ms over that path, -1 until measured
    int lossPct = -1;        // per cent of pings lost on it, -1 until measured
    QList<QPair<IPEndpoint, int>> tried; // every path held for the opponent, with its type
};

// The router's state and its opponents, as of one moment.
struct RouteReport
{
    int routerState = 0;
    QList<RouteStatus> peers;
};

Q_DECLARE_METATYPE(RouteReport)
