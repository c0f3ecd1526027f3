// From the accepted ready check to a path to every player: the spawn file,
// the router's peers and candidate paths, and the router's progress.
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "api/lorvaneapi.h"
#include "net/global.h"
#include "net/matchrouting.h"
#include "net/router.h"
#include "spawn/spawnablegame.h"
#include "ui/routeview.h"
#include "ui/warningdialog.h"

#include <QDebug>
#include <QDesktopServices>
#include <QTimer>
#include <QUrl>

using namespace Zantry;

void MainWindow::setupMatchRouting()
{
    // The router's road through a match is the bot's too; only what the
    // window shows and asks is decided here.
    m_routing = new MatchRouting(this);
    connect(m_routing, &MatchRouting::statusUpdate, m_api, &LorvaneAPI::updateMatchStatus);
    connect(m_routing, &MatchRouting::findStarted, this, &MainWindow::setNetworkFindStarted);
    connect(m_routing, &MatchRouting::findFinished, this, &MainWindow::setNetworkFindFinished);
    connect(m_routing, &MatchRouting::perfStarted, this, &MainWindow::setNetworkPerfStarted);
    connect(m_routing, &MatchRouting::networkReady, this, &MainWindow::setNetworkReady);
    connect(m_routing, &MatchRouting::notReached, this, &MainWindow::networkNotReached);
}

void MainWindow::doMatchup()
{
    SpawnableGame *game = Global::instance()->currentGame();
    if (!game || !MatchRouting::beginMatch(game->workingDir)) {
        // Without a router or a game there is no match to play; tell the
        // service rather than leave the other player waiting.
        qDebug() << "doMatchup: no router or no game";
        notifyAndCancelFindMatch();
        return;
    }
    unsetStates(MATCHUP_REQUESTED | MATCHUP_WAITFOR);
    setStates(MATCHUP_FOUND);
}

void MainWindow::tunnelStateChanged()
{
    if (m_routing)
        m_routing->tunnelStateChanged();
}

void MainWindow::networkNotReached()
{
    unsetStates(MATCHUP_FOUND | NETWORK_FIND_STARTED | NETWORK_FIND_FINISHED | NETWORK_PERF_STARTED);
    emit newStatesSet();
    logRoutes();
    if (m_notReachedWarning->isVisible())
        return; // the open one's answer decides
    m_notReachedWarning->setText(QStringLiteral("The other player wasn't ready!") + unreachedDetails());
    // Dismissing this warning declines the next match, not the program.
    if (m_notReachedWarning->ask() == QDialog::Accepted)
        m_api->findMatch();
    else
        m_api->updateMatchStatus(QStringLiteral("NotReady"));
}

void MainWindow::routesChanged(const RouteReport &report)
{
    // Back at NOTHING the table is empty; the last match stays on view.
    if (report.routerState == Router::NOTHING)
        return;
    m_lastRoutes = report;
    const Global *global = Global::instance();
    m_routeView->showReport(report, global->spawnInfo(), global->tunnelServers());
}

void MainWindow::showRoutes(bool forMatch)
{
    if (forMatch && !m_routeTabShown) {
        m_routeTabShown = true;
        ui->mapWidget->setCurrentWidget(m_routeView);
    } else if (!forMatch && m_routeTabShown) {
        m_routeTabShown = false;
        ui->mapWidget->setCurrentWidget(ui->mapTab);
    }
}

void MainWindow::logRoutes() const
{
    const Global *global = Global::instance();
    const SpawnInfo spawn = global->spawnInfo();
    const Global::TunnelTable tunnels = global->tunnelServers();
    for (const RouteStatus &route : m_lastRoutes.peers) {
        qDebug().noquote() << QStringLiteral("Route to %1: %2, %3")
                                  .arg(RouteView::opponentName(route.id, spawn),
                                       RouteView::describePath(route.path, route.pathType, tunnels),
                                       RouteView::quality(route));
    }
}

QString MainWindow::unreachedDetails() const
{
    const Global *global = Global::instance();
    const SpawnInfo spawn = global->spawnInfo();
    const Global::TunnelTable tunnels = global->tunnelServers();
    QString details;
    for (const RouteStatus &route : m_lastRoutes.peers) {
        // Heard from, and it heard from us: not the one missing.
        if (route.reached && route.peerState > Router::FLOOD)
            continue;
        QStringList tried;
        for (const auto &path : route.tried)
            tried << RouteView::describePath(path.first, path.second, tunnels);
        details += tr("\n%1 and this client did not reach each other. Tried: %2.")
                       .arg(RouteView::opponentName(route.id, spawn),
                            tried.isEmpty() ? tr("no path at all") : tried.join(QStringLiteral(", ")));
    }
    if (!details.isEmpty())
        details += tr("\nThis is most often UDP blocked by a firewall; with peer-to-peer off (Settings) every path "
                      "goes through the tunnel servers.");
    return details;
}

void MainWindow::warningAccepted()
{
    if (m_state & NO_LADDER_ACCN) {
        QDesktopServices::openUrl(QUrl(m_siteUrl + QStringLiteral("/account?tutorial=true")));
        qDebug() << "Closing 4";
        closeAfterWarning();
    } else if (m_state & PWATCH_TRIGGERED) {
        unsetStates(PWATCH_TRIGGERED);
        emit newStatesSet();
    } else if (m_state & API_FAILED) {
        qDebug() << "Closing 5";
        closeAfterWarning();
    }
}

void MainWindow::closeDueToWarn()
{
    qDebug() << "Closing 6";
    closeAfterWarning();
}

void MainWindow::closeAfterWarning()
{
    // The warning is still inside its own exec() here; closing at once would
    // ask the close question through the same dialog, which refuses a second
    // exec() and so refuses the close.
    QTimer::singleShot(0, this, &QWidget::close);
}
