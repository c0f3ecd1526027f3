#pragma once

#include "net/networkstate.h"
#include "net/spawninfo.h"
#include "net/routereport.h"

#include <QWidget>

class QLabel;
class QTableWidget;

// How the player is connected to each opponent during a match: the route's
// state, the path in use (a direct address or a tunnel server), round-trip
// time and loss, from the router's reports (copies, about once a second).
class RouteView : public QWidget
{
    Q_OBJECT
public:
    explicit RouteView(QWidget *parent = nullptr);

    // The router's latest report; shown with the match's names and the
    // tunnel servers' names.
    void showReport(const RouteReport &report, const SpawnInfo &spawn, const NetworkState::TunnelTable &tunnels);

    // "Bob" for the opponent's id, from the match; the id itself otherwise.
    static QString opponentName(quint32 id, const SpawnInfo &spawn);
    // "direct IPv4 192.0.2.5:51143", "tunnel Sandbox 1 (127.0.0.1:50000)".
    static QString describePath(const IPEndpoint &path, int type, const NetworkState::TunnelTable &tunnels);
    static QString stateText(int routerState, const RouteStatus &route);
    // "rtt 12 ms, loss 0 %", or what is not measured yet.
    static QString quality(const RouteStatus &route);
    // A widget of its own below the routes (the connection check).
    void addPanel(QWidget *panel);

    // The last report shown, one log line per opponent.
    void logRoutes() const;
    // For the "not reached" warning: who was not reached over which paths.
    QString unreachedDetails() const;

private:
    QLabel *m_caption;
    QTableWidget *m_table;
    RouteReport m_report;
    SpawnInfo m_spawn;
    NetworkState::TunnelTable m_tunnels;
};
