// The rest of the set-up, on the first turn of the event loop: the objects
// the session needs and every connection of the session flow.
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "api/lorvaneapi.h"
#include "api/player.h"
#include "maps/mapdownloader.h"
#include "net/global.h"
#include "net/lorvanenetwork.h"
#include "net/router.h"
#include "spawn/spawnablegame.h"
#include "ui/busywidget.h"
#include "ui/confirmreadydialog.h"
#include "ui/password.h"
#include "ui/waitingdialog.h"
#include "watch/internetdetector.h"
#include "watch/statusbroadcaster.h"

#include <QTimer>

void MainWindow::doRestOfSetup()
{
    m_api = new LorvaneAPI(this);
    m_internetDetector = new InternetDetector(this);
    m_statusBroadcaster = new StatusBroadcaster(this);
    m_statusBroadcaster->setSource(&MainWindow::statusSnapshot);
    Global::instance()->setStatusBroadcaster(m_statusBroadcaster);
    m_statusBroadcaster->start();

    discoverGame();
    // Wine prefix, P2P box, stored account name, address fields, tray and
    // process-watch list.
    setupSettingsTab();

    m_mapDownloader = new MapDownloader(this);
    connect(m_mapDownloader, &MapDownloader::stateChanged, this, &MainWindow::mapDLStateChanged);
    connect(m_mapDownloader, &MapDownloader::progressChanged, this, [this]() {
        if (m_state & Zantry::MAP_DLSCAN_STARTED)
            m_busyWidget->setText(m_mapDownloader->progressText());
    });
    connect(m_mapDownloader, &MapDownloader::previewSaved, this, [this]() {
        setMapView(ui->mapsList->currentItem(), nullptr);
    });
    connectServiceClient();
    // The stored account name, for a close while queued before any login.
    m_api->setAccountName(m_password->emailAddress());

    connect(ui->urlEdit, &QLineEdit::textChanged, m_api, &LorvaneAPI::setURL);
    // The field already holds the address; setting the same text again would
    // not reach the client, and the first refresh must go out now.
    m_api->setURL(ui->urlEdit->text());

    connect(ui->mainButton, &QPushButton::clicked, this, &MainWindow::setMainButtonClicked);
    connect(m_busyWidget, &BusyWidget::cancelClicked, this, &MainWindow::setMainButtonClicked);
    connect(m_api, &LorvaneAPI::authenticationRequired, this, &MainWindow::setLogin);
    connect(m_api, &LorvaneAPI::authenticationFailed, this, &MainWindow::setLoginFailed);
    connect(m_api, &LorvaneAPI::authenticationSuccess, this, &MainWindow::setLoggedIn);
    connect(m_api, &LorvaneAPI::cancelledFindMatch, this, &MainWindow::unsetMatchupRequested);
    connect(m_api, &LorvaneAPI::cancelledFindMatch, this, &MainWindow::queueLeft);
    connect(m_api, &LorvaneAPI::waitForMatchup, this, &MainWindow::setMatchupWaitFor);
    connect(m_api, &LorvaneAPI::matchupFound, this, &MainWindow::showConfirmReady);
    connect(m_api, &LorvaneAPI::gameStatsPosted, this, [this]() { noteResult(QStringLiteral("Result uploaded.")); });
    connect(m_api, &LorvaneAPI::resultUploadFailed, this, [this](bool kept) {
        noteResult(kept ? QStringLiteral("The service did not take the result; it is kept and sent again.")
                        : QStringLiteral("The service did not take the result."));
    });
    connect(m_confirmReadyDialog, &QDialog::rejected, this, &MainWindow::notifyAndCancelFindMatch);
    connect(m_confirmReadyDialog, &QDialog::accepted, this, &MainWindow::doMatchup);

    setupMatchRouting();
    m_network = new LorvaneNetwork(m_firstPeerPort);
    connect(m_network, &LorvaneNetwork::threadStarted, this, &MainWindow::tunnelSetup);
    // The worker thread starts with the object and may have announced itself
    // before the connection existed.
    if (Global::instance()->router())
        tunnelSetup();
    connect(m_network, &LorvaneNetwork::tunnelServersChanged, this, &MainWindow::populateTunnelServers);

    connect(Global::instance(), &Global::zantryStatsChanged, this, &MainWindow::updateZantryStatsLabel);
    connect(m_statusTimer, &QTimer::timeout, this, &MainWindow::updateZantryStatus);
    connect(ui->mapsList, &QTableWidget::currentItemChanged, this, &MainWindow::setMapView);
}

StatusSnapshot MainWindow::statusSnapshot()
{
    Global *global = Global::instance();
    StatusSnapshot s;
    if (const SpawnableGame *game = global->currentGame()) {
        s.gameAbbreviation = game->abbreviation;
        s.gameExe = game->exe;
    }
    if (QProcess *game = global->gameProcess()) {
        const SpawnInfo spawn = global->spawnInfo();
        s.hasGameProcess = true;
        s.mapHash = spawn.mapHash;
        s.uiMapName = spawn.uiMapName;
        s.gameProcessId = qint32(game->processId());
    }
    if (const Player *player = global->currentPlayer()) {
        s.hasPlayer = true;
        s.badges = player->badges;
        s.clanName = player->clanName;
        s.clanShort = player->clanShort;
    }
    return s;
}

void MainWindow::connectServiceClient()
{
    connect(m_api, &LorvaneAPI::apiFailed, this, &MainWindow::setApiFailed);
    connect(m_api, &LorvaneAPI::apiFatal, this, &MainWindow::fatalError);
    connect(m_api, &LorvaneAPI::apiFatal, this, [this]() {
        // Refused to queue: not waiting for an answer any more.
        if (m_state & Zantry::MATCHUP_REQUESTED) {
            unsetStates(Zantry::MATCHUP_REQUESTED);
            emit newStatesSet();
        }
    });
    connect(m_api, &LorvaneAPI::laddersChanged, this, &MainWindow::setLaddersLoaded);
    connect(m_api, &LorvaneAPI::playersChanged, this, &MainWindow::populateLadderBox);
    connect(m_api, &LorvaneAPI::playersChanged, this, &MainWindow::setPlayersLoaded);
    connect(m_api, &LorvaneAPI::currentPlayerMapsChanged, this, &MainWindow::populateMaps);
    connect(m_api, &LorvaneAPI::currentPlayerMapsChanged, this, &MainWindow::setMapsLoaded);
    connect(m_api, &LorvaneAPI::currentPlayerChanged, this, &MainWindow::setMapsLoaded);
    connect(m_password, &Password::loginButtonClicked, this, &MainWindow::setLoginAttempted);
    connect(m_password, &Password::loginButtonClicked, m_api, &LorvaneAPI::login);
    connect(m_password, &Password::emailAddressChanged, m_api, &LorvaneAPI::setAccountName);
    connect(m_password, &Password::passwordChanged, m_api, &LorvaneAPI::setPassword);
    connect(m_password, &Password::closed, this, &QWidget::close);
    connect(m_waitingDialog, &QDialog::accepted, this, qOverload<>(&MainWindow::minimizeToTray));
}

void MainWindow::tunnelSetup()
{
    Router *router = Global::instance()->router();
    if (!router || m_tunnelRouter == router)
        return;
    m_tunnelRouter = router;
    // Queued: the router runs on the network thread. A state it has already
    // left by the time this runs still takes its step there.
    connect(router, &Router::stateChanged, this, &MainWindow::tunnelStateChanged, Qt::QueuedConnection);
    connect(router, &Router::routesChanged, this, &MainWindow::routesChanged, Qt::QueuedConnection);
}
