// The rest of the set-up, on the first turn of the event loop: the session
// is started and the window connected to what it shows and asks.
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "api/lorvaneapi.h"
#include "spawn/gamefolder.h"
#include "spawn/gamecatalogue.h"
#include "maps/mapdownloader.h"
#include "api/matchstate.h"
#include "net/lorvanenetwork.h"
#include "net/portmapper.h"
#include "util/settings.h"
#include "notify/desktopnotifier.h"
#include "ui/busywidget.h"
#include "ui/ladderselection.h"
#include "ui/confirmreadydialog.h"
#include "ui/connectioncheckpanel.h"
#include "ui/password.h"
#include "ui/routeview.h"
#include "ui/waitingdialog.h"

void MainWindow::doRestOfSetup()
{
    m_session->findGames();
    m_session->start();
    m_selection = new LadderSelection(ui, m_session, this);
    // Wine prefix, P2P box, stored account name, address fields, tray and
    // process-watch list.
    setupSettingsTab();
    connectSession();
    setupPortMapping();
    LorvaneAPI *api = m_session->api();
    // The stored account name, for a close while queued before any login.
    api->setAccountName(m_password->emailAddress());
    connect(ui->urlEdit, &QLineEdit::textChanged, api, &LorvaneAPI::setURL);
    // The field already holds the address; setting the same text again would
    // not reach the client, and the first refresh must go out now.
    m_session->connectTo(ui->urlEdit->text());
}

void MainWindow::connectSession()
{
    LorvaneAPI *api = m_session->api();
    MapDownloader *maps = m_session->mapDownloader();
    connect(maps, &MapDownloader::progressChanged, this, [this, maps]() {
        if (m_session->state() & Zantry::MAP_DLSCAN_STARTED)
            m_busyWidget->setText(maps->progressText());
    });
    connect(api, &LorvaneAPI::apiFatal, this, &MainWindow::fatalError);
    connect(m_password, &Password::loginButtonClicked, m_session, &Session::setLoginAttempted);
    connect(m_password, &Password::loginButtonClicked, api, &LorvaneAPI::login);
    connect(m_password, &Password::emailAddressChanged, api, &LorvaneAPI::setAccountName);
    connect(m_password, &Password::passwordChanged, api, &LorvaneAPI::setPassword);
    connect(m_password, &Password::closed, this, &QWidget::close);
    connect(m_waitingDialog, &QDialog::accepted, this, [this]() { minimizeToTray(true); });
    connect(ui->mainButton, &QPushButton::clicked, m_session, &Session::pressMainButton);
    connect(m_busyWidget, &BusyWidget::cancelClicked, m_session, &Session::pressMainButton);
    connect(m_confirmReadyDialog, &QDialog::rejected, m_session, &Session::declineMatch);
    connect(m_confirmReadyDialog, &QDialog::accepted, m_session, &Session::acceptMatch);

    connect(m_session, &Session::readyCheck, this, &MainWindow::showConfirmReady);
    connect(m_session, &Session::closeRequested, this, &QWidget::close);
    connect(m_session, &Session::paused, this, [this]() { minimizeToTray(false); });
    connect(m_session, &Session::gameStarting, this, [this]() { minimizeToTray(false); });
    connect(m_session, &Session::gameEnded, this, [this]() {
        m_routeView->logRoutes();
        bringToFront();
    });
    connect(m_session, &Session::launchFailed, this, &MainWindow::showNotice);
    connect(m_session, &Session::notReached, this, &MainWindow::networkNotReached);
    connect(m_session, &Session::routesChanged, this, &MainWindow::routesChanged);
    connect(m_session, &Session::queueLeftToEnd, this, [this]() {
        if (m_quitAfterLeaving)
            QCoreApplication::quit();
        else
            close();
    }, Qt::QueuedConnection);
    m_notifier->follow(m_session, m_confirmReadyDialog);
}

void MainWindow::setupPortMapping()
{
    auto *checkPanel = new ConnectionCheckPanel(m_session->portMapper());
    m_routeView->addPanel(checkPanel);
    connect(m_session, &Session::stateChanged, checkPanel, &ConnectionCheckPanel::setSessionState);
    checkPanel->setSessionState(m_session->state());
}
