// What the window shows of each phase of the session; the session has
// already done what the phase asks of it.
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "api/lorvaneapi.h"
#include "maps/mapdownloader.h"
#include "api/matchstate.h"
#include "ui/busywidget.h"
#include "ui/gamefolderquestion.h"
#include "ui/ladderselection.h"
#include "ui/password.h"
#include "ui/traymenu.h"
#include "ui/waitingdialog.h"
#include "ui/warningdialog.h"

#include <QDebug>
#include <QMenu>
#include <QMovie>

#include <algorithm>

using namespace Zantry;
using Phase = Session::Phase;

void MainWindow::showPhase(Phase phase, bool clicked)
{
    // A failing service clears every flag, the missing game's too: the open
    // question still holds the session back.
    if (phase == Phase::NoGame || m_folderQuestion->holds()) {
        // Nothing of the session works without a game: the folder first,
        // before any login form.
        m_password->hide();
        m_busyWidget->hide();
        hide();
        m_folderQuestion->ask();
        return;
    }
    const quint32 s = m_session->state();
    QStringList lines;
    if (s & (LOGIN | LOGIN_FAIL)) {
        lines << QStringLiteral("Logging in");
        showLoginForm(s);
    }
    if (s & LOGIN_ATTEMPTED) {
        lines << QStringLiteral("Loging in");
        m_password->setWarningText(QStringLiteral("The Email Address or Password is incorrect"));
        m_session->api()->setAccountName(m_password->emailAddress());
        m_session->api()->setPassword(m_password->password());
        show();
    }
    if (s & LOGGED_IN) {
        m_password->hide();
        if (!(s & PWATCH_TRIGGERED))
            show();
    }
    if (s & MAP_DLSCAN_STARTED) {
        const QString progress = m_session->mapDownloader()->progressText();
        lines << (progress.isEmpty() ? QStringLiteral("Scanning Maps") : progress);
    }
    showPhaseCase(phase, clicked, lines);
    showWarnings(s, lines);
}

void MainWindow::showLoginForm(quint32 s)
{
    m_password->setWarning(s & LOGIN_FAIL);
    m_password->resize(m_password->minimumSizeHint());
    ui->mainButton->setText(QStringLiteral("Zantry!"));
    ui->mainButton->setEnabled(false);
    m_busyWidget->hide();
    m_password->show();
    hide();
}

void MainWindow::showPhaseCase(Phase phase, bool clicked, QStringList &lines)
{
    switch (phase) {
    case Phase::ServiceFailed:
        m_password->showServiceFault(m_session->api()->fault(), m_session->api()->reconnectIn());
        break;
    case Phase::Loaded:
        if (clicked)
            break; // closing
        show();
        placeBusyWidget();
        setControlsEnabled(true, ui->mapsList->isEnabled());
        ui->mainButton->setEnabled(false);
        break;
    case Phase::Ready:
        showReady(clicked);
        break;
    case Phase::Queued:
        showQueued(clicked, lines);
        break;
    case Phase::Paused:
        lines << QStringLiteral("Process Watcher has detected another game is running.\nZantry has been paused.");
        m_busyWidget->hide();
        ui->userNamesBox->setEnabled(true);
        ui->sideBox->setEnabled(true);
        ui->mainButton->setEnabled(true);
        if (clicked)
            m_pwatchNotice->show();
        break;
    case Phase::Connecting:
    case Phase::Measuring:
    case Phase::Launching:
    case Phase::InGame:
        showMatched(phase, lines);
        break;
    case Phase::GameOver:
        lines << matchMapName() + QStringLiteral("\nGame Finished, Uploading Results.");
        break;
    default:
        showLoading(clicked, lines);
        break;
    }
}

void MainWindow::showReady(bool clicked)
{
    show();
    m_busyWidget->hide();
    m_waitingDialog->hide();
    setControlsEnabled(true, true);
    ui->mainButton->setText(QStringLiteral("Zantry!"));
    // A press the session could not queue (no side) leaves the button alive.
    ui->mainButton->setEnabled(!clicked || !(m_session->state() & MATCHUP_REQUESTED));
    showLoader(false);
    showRoutes(false);
}

void MainWindow::showQueued(bool clicked, QStringList &lines)
{
    lines << QStringLiteral("Waiting in Zantry Queue");
    show();
    setControlsEnabled(false, false);
    ui->mainButton->setEnabled(true);
    ui->mainButton->setText(QStringLiteral("Cancel"));
    showLoader(true);
    if (!clicked)
        maybeShowWaitDialog();
}

// From the accepted ready check to the game in progress.
void MainWindow::showMatched(Phase phase, QStringList &lines)
{
    switch (phase) {
    case Phase::InGame:
        lines << matchMapName() + QStringLiteral("\nGame In Progress.");
        m_pwatchNotice->hide();
        m_busyWidget->hide();
        ui->userNamesBox->setEnabled(true);
        ui->sideBox->setEnabled(true);
        ui->mainButton->setEnabled(false);
        break;
    case Phase::Launching:
        lines << matchMapName() + QStringLiteral("\nSTARTING GAME!!!");
        ui->userNamesBox->setEnabled(false);
        ui->sideBox->setEnabled(false);
        ui->mainButton->setEnabled(false);
        m_selection->selectMap(matchMapName());
        m_pwatchNotice->hide();
        break;
    case Phase::Measuring:
        lines << matchMapName() + QStringLiteral("\nTesting Performance.");
        setControlsEnabled(false, false);
        m_selection->selectMap(matchMapName());
        bringToFront();
        break;
    default:
        lines << QStringLiteral("Matchup Found. Starting Network Connection.");
        showRoutes(true);
        setControlsEnabled(false, false);
        ui->mainButton->setEnabled(true);
        ui->mainButton->setText(QStringLiteral("Cancel"));
        showLoader(true);
        bringToFront();
        m_waitingDialog->hide();
        m_pwatchNotice->hide();
        break;
    }
}

void MainWindow::showLoading(bool clicked, QStringList &lines)
{
    lines << QStringLiteral("Contacting Lorvane");
    if (isVisible() && !clicked)
        placeBusyWidget();
    ui->userNamesBox->setEnabled(true);
    ui->sideBox->setEnabled(true);
    ui->mainButton->setEnabled(false);
}

void MainWindow::showWarnings(quint32 s, const QStringList &lines)
{
    if (!(s & NO_LADDER_ACCN)) {
        QStringList shown = lines;
        shown << QStringLiteral("Contacting Lorvane servers");
        m_busyWidget->setText(shown.constFirst());
        m_tray->setStatusLine(shown.constFirst());
        return;
    }
    m_busyWidget->hide();
    // Modal, not run here: a run of the flow while it is open must not ask
    // again, nor wait for the answer.
    if (!m_signUpQuestion->isVisible())
        m_signUpQuestion->show();
}

void MainWindow::setControlsEnabled(bool accounts, bool maps)
{
    ui->userNamesBox->setEnabled(accounts);
    ui->sideBox->setEnabled(accounts);
    ui->mapsList->setEnabled(maps);
}

void MainWindow::showLoader(bool loading)
{
    if (loading) {
        ui->lorvaneLabel->setMovie(m_loader);
        m_loader->start();
        return;
    }
    ui->lorvaneLabel->setMovie(nullptr);
    ui->lorvaneLabel->setPixmap(
        QPixmap(QStringLiteral(":/images/logo-icon.png")).scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void MainWindow::placeBusyWidget()
{
    m_busyWidget->show();
    QRect frame = m_busyWidget->frameGeometry();
    frame.moveCenter(frameGeometry().center());
    m_busyWidget->move(frame.topLeft());
}

QString MainWindow::matchMapName() const
{
    return m_session->match()->spawnInfo().uiMapName;
}

bool MainWindow::questionOpen() const
{
    const auto dialogs = findChildren<WarningDialog *>(QString(), Qt::FindDirectChildrenOnly);
    return std::any_of(dialogs.cbegin(), dialogs.cend(), [](const WarningDialog *dialog) { return dialog->isVisible(); });
}

void MainWindow::questionClosed()
{
    if (!m_waitDialogHeld || questionOpen())
        return;
    m_waitDialogHeld = false;
    if (m_session->state() & (MATCHUP_REQUESTED | MATCHUP_WAITFOR))
        m_waitingDialog->show();
}

void MainWindow::showNotice(const QString &text)
{
    // Each notice its own dialog: one shown while another is open keeps
    // both texts.
    auto *notice = new WarningDialog(text, QDialogButtonBox::Ok, this);
    notice->setAttribute(Qt::WA_DeleteOnClose);
    connect(notice, &QDialog::finished, this, &MainWindow::questionClosed);
    notice->ask();
}

void MainWindow::fatalError(const QString &message)
{
    if (m_fatalWarning->isVisible()) {
        qDebug().noquote() << "Not shown, another fatal message is open: " + message;
        return;
    }
    m_fatalWarning->setText(message);
    m_fatalWarning->show();
}
