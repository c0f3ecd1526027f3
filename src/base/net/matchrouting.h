#pragma once

#include "net/global.h"
#include "net/ipendpoint.h"

#include <QObject>
#include <QString>

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
    explicit MatchRouting(QObject *parent = nullptr);

    // The match is accepted: the spawn file points the game at the router
    // (127.0.0.1, the game port) and is written to gameDir + "/spawn.ini";
    // the router gets the local id and starts at INITIAL. False without a
    // router.
    static bool beginMatch(const QString &gameDir);

    // Whether a candidate from the spawn answer is worth flooding: no path
    // to our own addresses, IPv6 only inside 2000::/3 with a port.
    static bool usableCandidate(const IPEndpoint &endpoint, const QHostAddress &localIP,
                                const QHostAddress &publicIP, const QHostAddress &localIPv6);
    // The INITIAL step: every peer of spawn, its usable candidates (type 0)
    // and every tunnel server (type 1), then FLOOD.
    static void addPeersAndPaths(Router *router, const SpawnInfo &spawn, const Global::TunnelTable &tunnels);

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
    void takeStep(int state);

    int m_lastState = 0; // Router::NOTHING
};
