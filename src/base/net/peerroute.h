#pragma once

#include <QHostAddress>

// The best known route to one peer, as the service's "Reached" report
// needs it.
struct PeerRoute
{
    quint32 id = 0;
    QHostAddress address;
    quint16 port = 0;
    int rtt = -1;
};

// Implemented by the router; callable from the GUI thread while the router
// works on its own thread.
class PeerRouteSource
{
public:
    virtual ~PeerRouteSource() = default;
    // False when the router has no entry (or no best path) for id.
    virtual bool bestRoute(quint32 id, PeerRoute *route) const = 0;
};
