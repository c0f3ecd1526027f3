// What a desktop expects around the window: notifications that reach a
// player who looks elsewhere, the tray where there is one, the account
// line, keyboard reach and windows that stay on screen.
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "api/lorvaneapi.h"
#include "notify/desktopnotifier.h"
#include "ui/accountline.h"
#include "ui/confirmreadydialog.h"
#include "ui/password.h"
#include "ui/traymenu.h"

#include <QApplication>
#include <QDebug>
#include <QScrollArea>
#include <QShortcut>

using namespace Zantry;

namespace {
// Fixed, so a longer name neither moves the columns nor the box beside them.
constexpr int kSelectionBoxWidth = 290;

} // namespace

void MainWindow::setupDesktop()
{
    m_notifier = new DesktopNotifier(this, this);
    connect(m_notifier, &DesktopNotifier::activated, this, &MainWindow::bringToFront);

    m_tray = new TrayMenu(this);
    m_trayIcon->setContextMenu(m_tray);
    // Offered while queued only: the same as Cancel on the main button.
    m_leaveQueueAction = new QAction(tr("Leave Queue"), m_tray);
    m_leaveQueueAction->setObjectName(QStringLiteral("leaveQueueAction"));
    m_leaveQueueAction->setVisible(false);
    m_tray->addSessionAction(m_leaveQueueAction);
    connect(m_leaveQueueAction, &QAction::triggered, m_session, &Session::cancelFindMatch);
    connect(m_session, &Session::phaseShown, m_leaveQueueAction,
            [this](Session::Phase phase) { m_leaveQueueAction->setVisible(phase == Session::Phase::Queued); });
    connect(m_tray, &TrayMenu::showRequested, this, &MainWindow::bringToFront);
    connect(m_tray, &TrayMenu::quitRequested, this, [this]() {
        // The close question needs its window on screen.
        bringToFront();
        close();
    });

    m_accountLine = new AccountLine(this);
    m_accountLine->hide();
    ui->bottomLayout->insertWidget(2, m_accountLine);
    connect(m_accountLine, &AccountLine::logOutRequested, this, &MainWindow::logOut);
    connect(m_session, &Session::stateChanged, this, &MainWindow::showAccount);

    // The map table is one stop on the way round; arrows move inside it.
    ui->mapsList->setTabKeyNavigation(false);
    for (QComboBox *box : {ui->ladderBox, ui->userNamesBox, ui->sideBox}) {
        box->setFixedWidth(kSelectionBoxWidth);
        box->setFocusPolicy(Qt::StrongFocus);
    }
    ui->mainButton->setFocusPolicy(Qt::StrongFocus);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter}) {
        new QShortcut(QKeySequence(key), ui->mainButton, [this]() { ui->mainButton->animateClick(); },
                      Qt::WidgetShortcut);
    }
    // On a short screen (1024x600) the settings scroll rather than squeeze.
    const int settingsAt = ui->mapWidget->indexOf(ui->settingsTab);
    ui->mapWidget->removeTab(settingsAt);
    auto *scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("settingsScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(ui->settingsTab);
    ui->mapWidget->insertTab(settingsAt, scroll, tr("Settings"));
    // A preview or a caption of another height must not move the rows above.
    ui->mapViewLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    ui->mapDescriptionLabel->setFixedHeight(2 * ui->mapDescriptionLabel->fontMetrics().lineSpacing() + 8);
}

// The parts that need the started session's service client.
void MainWindow::connectDesktop()
{
    connect(m_session, &Session::readyCheck, this, [this]() {
        m_notifier->readyCheck();
        QApplication::alert(this);
    });
    connect(m_confirmReadyDialog, &QDialog::finished, m_notifier, &DesktopNotifier::withdrawReadyCheck);
    connect(m_session, &Session::gameStarting, this, [this]() { m_notifier->matchFound(matchMapName()); });
    connect(m_session, &Session::paused, m_notifier, &DesktopNotifier::pausedByWatcher);
    LorvaneAPI *api = m_session->api();
    connect(api, &LorvaneAPI::gameStatsPosted, m_notifier, &DesktopNotifier::resultUploaded);
    connect(api, &LorvaneAPI::resultUploadFailed, m_notifier, &DesktopNotifier::resultNotTaken);
}

void MainWindow::showAccount(quint32 state)
{
    LorvaneAPI *api = m_session->api();
    m_accountLine->setEmailAddress((state & LOGGED_IN) && api ? api->accountName() : QString());
    // A queue or a match holds the account.
    m_accountLine->setLogOutEnabled(
        !(state & (MATCHUP_REQUESTED | MATCHUP_WAITFOR | MATCHUP_FOUND | NETWORK_READY | GAME_SPAWNED)));
}

void MainWindow::logOut()
{
    if (!m_session->api())
        return;
    qDebug() << "Logging out";
    // Everything the account brought goes; the game folder's verdict stays.
    m_session->unsetStates(STATE_ALL & ~GAME_NOT_FOUND);
    m_session->api()->logOut();
}
