#pragma once

#include "net/ipendpoint.h"
#include "net/spawninfo.h"

#include <QObject>
#include <QString>

class NetworkState;
class Router;

// One match's road through the router, shared by the window and the bot so
// both drive it the same way: the spawn file and the router's id when the
// match is accepted, the peers and their candidate paths on INITIAL, and the
// router's later states turned into the session's steps and the service's
// status texts ("Ready", "Reached", "NotReached").
class MatchRouting : public QObject
{
    Q_OBJECT
public:
    // network gives our own addresses and the tunnel servers; it outlives this.
    explicit MatchRouting(NetworkState *network, QObject *parent = nullptr);

    // The router on the network thread, once it is there; it outlives this.
    void setRouter(Router *router) { m_router = router; }
    Router *router() const { return m_router; }

    // The match is accepted: the spawn file points the game at the router
    // (127.0.0.1, the game port) and is written to gameDir + "/spawn.ini";
    // the router gets the local id and starts at INITIAL. False without a
    // router.
    bool beginMatch(const QString &gameDir, const SpawnInfo &spawn);

    // Whether a candidate from the spawn answer is worth flooding: no path
    // to our own addresses, IPv6 only inside 2000::/3 with a port.
    static bool usableCandidate(const IPEndpoint &endpoint, const QHostAddress &localIP,
                                const QHostAddress &publicIP, const QHostAddress &localIPv6);

public slots:
    // Connected (queued) to the router's stateChanged().
    void tunnelStateChanged();

signals:
    // A status for the service client's updateMatchStatus().
    void statusUpdate(QString status);
    void findStarted();  // flooding: NETWORK_FIND_STARTED
    void findFinished(); // every peer heard: NETWORK_FIND_FINISHED
    void perfStarted();  // measuring paths: NETWORK_PERF_STARTED
    void networkReady(); // a best path to every peer: NETWORK_READY
    // Some peer never answered; the router is back at NOTHING.
    void notReached();

private:
    // The INITIAL step: every peer of the match, its usable candidates
    // (type 0) and every tunnel server (type 1), then FLOOD.
    void addPeersAndPaths();
    void takeStep(int state);

    NetworkState *const m_network;
    Router *m_router = nullptr;
    SpawnInfo m_spawn;
    int m_lastState = 0; // Router::NOTHING
};
