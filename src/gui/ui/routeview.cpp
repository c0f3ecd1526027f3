#include "ui/routeview.h"

#include "net/networkpath.h"
#include "net/router.h"

#include <QDebug>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

RouteView::RouteView(QWidget *parent)
    : QWidget(parent)
    , m_caption(new QLabel(tr("No match yet: the route to each opponent shows here once a match is found.")))
    , m_table(new QTableWidget(0, 5))
{
    setObjectName(QStringLiteral("routeView"));
    m_caption->setObjectName(QStringLiteral("routeCaption"));
    m_caption->setWordWrap(true);
    m_table->setObjectName(QStringLiteral("routeTable"));
    m_table->setHorizontalHeaderLabels({tr("Opponent"), tr("Route"), tr("Path"), tr("RTT"), tr("Loss")});
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setFocusPolicy(Qt::NoFocus);
    QHeaderView *header = m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(2, QHeaderView::Stretch);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_caption);
    layout->addWidget(m_table, 1);
}

void RouteView::addPanel(QWidget *panel)
{
    // Before the first match the routes are empty: the room goes to the panel.
    m_table->hide();
    static_cast<QVBoxLayout *>(layout())->addWidget(panel, 3);
}

QString RouteView::opponentName(quint32 id, const SpawnInfo &spawn)
{
    for (const QJsonObject &other : spawn.others) {
        const QString name = other.value(QLatin1String("Name")).toString();
        if (nameHash(name) == id)
            return name;
    }
    return QString::number(id);
}

QString RouteView::describePath(const IPEndpoint &path, int type, const NetworkState::TunnelTable &tunnels)
{
    if (path.isNull())
        return tr("none yet");
    const QString address = path.toString();
    for (const TunnelServerInfo &server : tunnels) {
        if (QHostAddress(server.address) == path.addr && server.port == path.port)
            return tr("tunnel %1 (%2)").arg(server.name, address);
    }
    if (type == NetworkPath::Tunnel)
        return tr("tunnel %1").arg(address);
    return path.protocol() == QAbstractSocket::IPv6Protocol ? tr("direct IPv6 %1").arg(address)
                                                            : tr("direct IPv4 %1").arg(address);
}

QString RouteView::stateText(int routerState, const RouteStatus &route)
{
    switch (routerState) {
    case Router::INITIAL:
    case Router::FLOOD:
        return route.reached ? tr("reached") : tr("searching");
    case Router::REACHED:
        return tr("reached");
    case Router::PING:
        return tr("measuring");
    case Router::READY:
    case Router::FIB_READY:
        return tr("ready");
    case Router::NOT_REACHED:
        return route.reached ? tr("reached") : tr("not reached");
    default:
        return QString();
    }
}

QString RouteView::quality(const RouteStatus &route)
{
    const QString rtt = route.rtt < 0 ? tr("rtt not measured") : tr("rtt %1 ms").arg(route.rtt);
    const QString loss = route.lossPct < 0 ? tr("loss not measured") : tr("loss %1 %").arg(route.lossPct);
    return rtt + QStringLiteral(", ") + loss;
}

void RouteView::showReport(const RouteReport &report, const SpawnInfo &spawn, const NetworkState::TunnelTable &tunnels)
{
    m_report = report;
    m_spawn = spawn;
    m_tunnels = tunnels;
    m_caption->setText(tr("Route to each opponent of the match on %1:").arg(spawn.uiMapName));
    m_table->show();
    m_table->setRowCount(report.peers.size());
    // Partial figures of a measurement under way read as a bad or perfect
    // route; they are shown once the measurement is over.
    const bool measured = report.routerState == Router::READY || report.routerState == Router::FIB_READY;
    const QString kNotMeasured = QStringLiteral("\u2014");
    int row = 0;
    for (const RouteStatus &route : report.peers) {
        const QString cells[] = {opponentName(route.id, spawn), stateText(report.routerState, route),
                                 describePath(route.path, route.pathType, tunnels),
                                 measured && route.rtt >= 0 ? tr("%1 ms").arg(route.rtt) : kNotMeasured,
                                 measured && route.lossPct >= 0 ? tr("%1 %").arg(route.lossPct) : kNotMeasured};
        for (int column = 0; column < 5; ++column) {
            QTableWidgetItem *item = m_table->item(row, column);
            if (!item)
                m_table->setItem(row, column, item = new QTableWidgetItem);
            item->setText(cells[column]);
        }
        ++row;
    }
}

void RouteView::logRoutes() const
{
    for (const RouteStatus &route : m_report.peers) {
        qDebug().noquote() << QStringLiteral("Route to %1: %2, %3")
                                  .arg(opponentName(route.id, m_spawn),
                                       describePath(route.path, route.pathType, m_tunnels),
                                       quality(route));
    }
}

QString RouteView::unreachedDetails() const
{
    QString details;
    for (const RouteStatus &route : m_report.peers) {
        // Heard from, and it heard from us: not the one missing.
        if (route.reached && route.peerState > Router::FLOOD)
            continue;
        QStringList tried;
        for (const auto &path : route.tried)
            tried << describePath(path.first, path.second, m_tunnels);
        details += tr("\n%1 and this client did not reach each other. Tried: %2.")
                       .arg(opponentName(route.id, m_spawn),
                            tried.isEmpty() ? tr("no path at all") : tried.join(QStringLiteral(", ")));
    }
    if (!details.isEmpty())
        details += tr("\nThis is most often UDP blocked by a firewall; with peer-to-peer off (Settings) every path "
                      "goes through the tunnel servers.");
    return details;
}
