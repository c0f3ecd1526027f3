#pragma once

#include "net/networkpath.h"

#include <QHash>

// One player id in the router's forwarding table. Paths are shared: a flood
// path (a tunnel server, say) is one object in the entries of every peer.
struct FibEntry
{
    explicit FibEntry(quint32 peerId, bool peer = true) : id(peerId), isPeer(peer) {}

    quint32 id;
    int peerState = 0; // the last router state the peer reported
    bool isPeer = true;
    bool reached = false;
    NetworkPathPtr bestPath;
    QHash<IPEndpoint, NetworkPathPtr> paths;
    int sentCount = 0;
    int receivedCount = 0;
    int announcements = 0; // FIB_READY packets still to send after moving bestPath
};
