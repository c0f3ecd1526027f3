// From the accepted ready check to a path to every player: the spawn file,
// the router's peers and candidate paths, and the router's progress.
#include "ui/mainwindow.h"

#include "api/lorvaneapi.h"
#include "net/global.h"
#include "net/router.h"
#include "spawn/spawnablegame.h"
#include "ui/warningdialog.h"

#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QTimer>
#include <QUrl>

using namespace Zantry;

void MainWindow::doMatchup()
{
    Global *global = Global::instance();
    Router *router = global->router();
    SpawnableGame *game = global->currentGame();
    if (!router || !game) {
        // Without a router or a game there is no match to play; tell the
        // service rather than leave the other player waiting.
        qDebug() << "doMatchup: no router or no game";
        notifyAndCancelFindMatch();
        return;
    }
    SpawnInfo spawn = global->spawnInfo();
    spawn.tunnelIP = QStringLiteral("127.0.0.1");
    spawn.tunnelPort = router->gamePort();
    global->setSpawnInfo(spawn);
    spawn.writeSpawnIni(QDir::cleanPath(game->workingDir + QStringLiteral("/spawn.ini")));
    qDebug().noquote() << "spawn.myID = " + QString::number(spawn.myID);
    router->setMyId(spawn.myID);
    router->setState(Router::INITIAL);
    unsetStates(MATCHUP_REQUESTED | MATCHUP_WAITFOR);
    setStates(MATCHUP_FOUND);
}

void MainWindow::addPeerPaths(quint32 peer)
{
    Global *global = Global::instance();
    Router *router = global->router();
    const QPair<QHostAddress, int> global6 = QHostAddress::parseSubnet(QStringLiteral("2600::/3"));
    qDebug().noquote() << QStringLiteral("Adding paths for peer %1").arg(peer);
    const QList<NetworkPathPtr> paths = global->spawnInfo().paths.values(peer);
    for (const NetworkPathPtr &path : paths) {
        const IPEndpoint &endpoint = path->endpoint;
        if (endpoint.addr.isNull())
            continue;
        qDebug().noquote() << "adding path " + path->toString();
        bool use = false;
        if (endpoint.protocol() == QAbstractSocket::IPv4Protocol) {
            // No path to oneself.
            use = endpoint.addr != global->localIP() && endpoint.addr != global->publicIP();
        } else if (endpoint.protocol() == QAbstractSocket::IPv6Protocol) {
            use = endpoint.addr != global->localIPv6() && endpoint.port != 0 && endpoint.addr.isInSubnet(global6);
        } else {
            qDebug() << "Not ipv4 or ipv6";
        }
        if (use)
            router->addFloodPath(endpoint, path->type);
    }
}

void MainWindow::tunnelStateChanged()
{
    if (Router *router = Global::instance()->router())
        handleTunnelState(router->state());
}

void MainWindow::handleTunnelState(int state)
{
    Global *global = Global::instance();
    Router *router = global->router();
    if (!router)
        return;
    qDebug().noquote() << "Tunnelstate changed to: " + QString::number(state);
    switch (state) {
    case Router::INITIAL: {
        const QList<quint32> peers = global->spawnInfo().paths.uniqueKeys();
        for (quint32 peer : peers)
            router->addPeer(peer);
        for (quint32 peer : peers)
            addPeerPaths(peer);
        const Global::TunnelTable tunnels = global->tunnelServers();
        for (const TunnelServerInfo &tunnel : tunnels) {
            const IPEndpoint endpoint(QHostAddress(tunnel.address), quint16(tunnel.port));
            qDebug().noquote() << "adding path " + endpoint.toString();
            router->addFloodPath(endpoint, NetworkPath::Tunnel);
        }
        router->setState(Router::FLOOD);
        setStates(NETWORK_FIND_STARTED);
        break;
    }
    case Router::FLOOD:
        m_api->updateMatchStatus(QStringLiteral("Ready"));
        break;
    case Router::REACHED:
        setNetworkFindFinished();
        break;
    case Router::PING:
        setNetworkPerfStarted();
        break;
    case Router::READY:
        m_api->updateMatchStatus(QStringLiteral("Reached"));
        break;
    case Router::FIB_READY:
        setNetworkReady();
        break;
    case Router::NOT_REACHED:
        m_api->updateMatchStatus(QStringLiteral("NotReached"));
        router->setState(Router::NOTHING);
        unsetStates(MATCHUP_FOUND | NETWORK_FIND_STARTED | NETWORK_FIND_FINISHED | NETWORK_PERF_STARTED);
        emit newStatesSet();
        m_warningDialog->setText(QStringLiteral("The other player wasn't ready!"));
        m_warningDialog->setButtons(QDialogButtonBox::Ok);
        if (m_warningDialog->exec() == QDialog::Accepted)
            m_api->findMatch();
        else
            m_api->updateMatchStatus(QStringLiteral("NotReady"));
        break;
    default:
        break;
    }
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
