// The session flow: one slot reads the whole flag set and decides what the
// window shows and what happens next.
#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "api/lorvaneapi.h"
#include "maps/mapdownloader.h"
#include "net/global.h"
#include "net/router.h"
#include "ui/busywidget.h"
#include "ui/confirmreadydialog.h"
#include "ui/password.h"
#include "ui/waitingdialog.h"
#include "ui/warningdialog.h"
#include "watch/statusbroadcaster.h"

#include <QDebug>
#include <QMediaPlayer>
#include <QMenu>
#include <QMovie>

#include <algorithm>

using namespace Zantry;

void MainWindow::slotStatesChanged()
{
    qDebug().noquote() << "Running States changed: " + QString::number(m_state);
    QStringList lines;
    const quint32 seen = m_state;
    // A failing service clears every flag, the missing game's too: the open
    // question still holds the session back.
    if ((seen & GAME_NOT_FOUND) || m_folderQuestion->isVisible() || m_choosingFolder || m_folderChosen) {
        // Nothing of the session works without a game: the folder first,
        // before any login form.
        m_password->hide();
        m_busyWidget->hide();
        hide();
        askForGameFolder();
        return;
    }
    if (seen & (LOGIN | LOGIN_FAIL)) {
        lines << QStringLiteral("Logging in");
        flowLoginForm(seen);
    }
    if (seen & LOGIN_ATTEMPTED) {
        lines << QStringLiteral("Loging in");
        m_password->setWarningText(QStringLiteral("The Email Address or Password is incorrect"));
        if (m_api) {
            m_api->setAccountName(m_password->emailAddress());
            m_api->setPassword(m_password->password());
        }
        show();
    }
    if (seen & LOGGED_IN) {
        m_password->hide();
        if (!(seen & PWATCH_TRIGGERED))
            show();
    }
    // A click is consumed by exactly one run; the cases compare the flag
    // set without it.
    const bool clicked = seen & MAIN_BUTTON_CLICKED;
    if (clicked)
        unsetStates(MAIN_BUTTON_CLICKED);
    const quint32 s = m_state;
    if (s & MAP_DLSCAN_STARTED) {
        const QString progress = m_mapDownloader ? m_mapDownloader->progressText() : QString();
        lines << (progress.isEmpty() ? QStringLiteral("Scanning Maps") : progress);
    }
    flowSessionCase(s, clicked, lines);
    flowWarnings(s, lines);
}

void MainWindow::flowLoginForm(quint32 s)
{
    m_password->setWarning(s & LOGIN_FAIL);
    m_password->resize(m_password->minimumSizeHint());
    ui->mainButton->setText(QStringLiteral("Zantry!"));
    ui->mainButton->setEnabled(false);
    m_busyWidget->hide();
    m_password->show();
    hide();
}

void MainWindow::flowSessionCase(quint32 s, bool clicked, QStringList &lines)
{
    switch (s) {
    case API_FAILED:
        m_password->setWarningText(serviceFaultText());
        unsetStates(API_FAILED | LOGIN_ATTEMPTED);
        setStates(LOGIN_FAIL);
        break;
    case LOGGED_IN | LADDERS_LOADED | PLAYERS_LOADED | MAPS_LOADED:
        if (clicked) {
            qDebug() << "Closing 1";
            close();
            break;
        }
        show();
        placeBusyWidget();
        setControlsEnabled(true, ui->mapsList->isEnabled());
        ui->mainButton->setEnabled(false);
        break;
    case READY_TO_QUEUE: {
        if (clicked) {
            m_queueInterrupted = false;
            m_resultNote.clear();
        } else if (m_queueInterrupted) {
            qDebug() << "Matchmaking was interrupted";
        }
        ui->statusLabel->setText(m_queueInterrupted ? QStringLiteral("Matchmaking was interrupted. Please queue again.")
                                                    : readyNote());
        show();
        m_busyWidget->hide();
        m_waitingDialog->hide();
        setControlsEnabled(true, true);
        ui->mainButton->setText(QStringLiteral("Zantry!"));
        ui->mainButton->setEnabled(!clicked);
        showLoader(false);
        showRoutes(false);
        if (clicked) {
            Player *player = m_api ? m_api->currentPlayer() : nullptr;
            if (player && player->currentSide()) {
                m_api->findMatch();
                // Queued from this moment: a close before the service has
                // answered must still leave its queue.
                setMatchupRequested();
            } else {
                // The client would refuse silently and leave the button dead.
                qDebug() << "findMatch: no side selected";
                ui->mainButton->setEnabled(true);
            }
        }
        setBroadcastFlags(false, false);
        m_statusTimer->stop();
        break;
    }
    case READY_TO_QUEUE | MATCHUP_REQUESTED:
    case READY_TO_QUEUE | MATCHUP_WAITFOR:
        flowQueued(clicked, lines);
        break;
    case READY_TO_QUEUE | PWATCH_TRIGGERED:
        lines << QStringLiteral("Process Watcher has detected another game is running.\nZantry has been paused.");
        ui->statusLabel->setText(QStringLiteral("Paused by Process Watcher"));
        m_busyWidget->hide();
        ui->userNamesBox->setEnabled(true);
        ui->sideBox->setEnabled(true);
        ui->mainButton->setEnabled(true);
        if (clicked)
            m_pwatchNotice->show();
        setBroadcastFlags(false, false);
        break;
    case READY_TO_QUEUE | MATCHUP_FOUND:
    case READY_TO_QUEUE | MATCHUP_FOUND | NETWORK_FIND_STARTED:
    case READY_TO_QUEUE | MATCHUP_FOUND | NETWORK_FIND_FINISHED:
    case READY_TO_QUEUE | MATCHUP_FOUND | NETWORK_PERF_STARTED:
    case READY_TO_QUEUE | MATCHUP_FOUND | NETWORK_READY:
    case READY_TO_QUEUE | NETWORK_READY | GAME_SPAWNED:
    case READY_TO_QUEUE | MATCHUP_FOUND | NETWORK_READY | GAME_SPAWNED:
        flowMatched(s, clicked, lines);
        break;
    case READY_TO_QUEUE | NETWORK_READY | GAME_FINISHED:
    case READY_TO_QUEUE | MATCHUP_FOUND | NETWORK_READY | GAME_FINISHED:
        lines << matchMapName() + QStringLiteral("\nGame Finished, Uploading Results.");
        endGame();
        break;
    default:
        flowFallThrough(clicked, lines);
        break;
    }
}

void MainWindow::flowQueued(bool clicked, QStringList &lines)
{
    lines << QStringLiteral("Waiting in Zantry Queue");
    ui->statusLabel->setText(QStringLiteral("Searching for a matchup..."));
    show();
    setControlsEnabled(false, false);
    ui->mainButton->setEnabled(true);
    ui->mainButton->setText(QStringLiteral("Cancel"));
    showLoader(true);
    if (clicked)
        cancelFindMatch();
    else
        maybeShowWaitDialog();
    setBroadcastFlags(false, true);
}

// From the accepted ready check to the game in progress.
void MainWindow::flowMatched(quint32 s, bool clicked, QStringList &lines)
{
    const quint32 match = s & ~READY_TO_QUEUE;
    if (s & GAME_SPAWNED) {
        lines << matchMapName() + QStringLiteral("\nGame In Progress.");
        ui->statusLabel->setText(QStringLiteral("Game In Progress"));
        m_pwatchNotice->hide();
        m_busyWidget->hide();
        ui->userNamesBox->setEnabled(true);
        ui->sideBox->setEnabled(true);
        ui->mainButton->setEnabled(false);
        if (m_api)
            m_api->updateMatchStatus(QStringLiteral("GameSpawned"));
        m_statusTimer->start(m_statusIntervalMs);
    } else if (match == (MATCHUP_FOUND | NETWORK_READY)) {
        lines << matchMapName() + QStringLiteral("\nSTARTING GAME!!!");
        ui->statusLabel->setText(QStringLiteral("STARTING GAME!!!"));
        ui->userNamesBox->setEnabled(false);
        ui->sideBox->setEnabled(false);
        ui->mainButton->setEnabled(false);
        selectMatchMap();
        m_pwatchNotice->hide();
        setBroadcastFlags(true, false);
        if (clicked)
            cancelFindMatch();
        else
            startGame();
        return;
    } else if (match == (MATCHUP_FOUND | NETWORK_PERF_STARTED)) {
        lines << matchMapName() + QStringLiteral("\nTesting Performance.");
        ui->statusLabel->setText(QStringLiteral("Network Connection Established."));
        setControlsEnabled(false, false);
        selectMatchMap();
        bringToFront();
    } else {
        lines << QStringLiteral("Matchup Found. Starting Network Connection.");
        ui->statusLabel->setText(QStringLiteral("Starting Network Connection."));
        showRoutes(true);
        setControlsEnabled(false, false);
        ui->mainButton->setEnabled(true);
        ui->mainButton->setText(QStringLiteral("Cancel"));
        showLoader(true);
        bringToFront();
        m_waitingDialog->hide();
        m_pwatchNotice->hide();
        if (clicked)
            cancelFindMatch();
    }
    setBroadcastFlags(true, false);
}

void MainWindow::flowFallThrough(bool clicked, QStringList &lines)
{
    lines << QStringLiteral("Contacting Lorvane");
    if (isVisible()) {
        show();
        placeBusyWidget();
    }
    ui->userNamesBox->setEnabled(true);
    ui->sideBox->setEnabled(true);
    ui->mainButton->setEnabled(false);
    resetRouter();
    if (clicked) {
        qDebug() << "Closing 2";
        close();
    }
    setBroadcastFlags(false, false);
}

void MainWindow::flowWarnings(quint32 s, const QStringList &lines)
{
    if (!(s & NO_LADDER_ACCN)) {
        QStringList shown = lines;
        shown << QStringLiteral("Contacting Lorvane servers");
        m_busyWidget->setText(shown.constFirst());
        m_trayMenu->clear();
        m_trayMenu->addAction(shown.constFirst());
        return;
    }
    m_busyWidget->hide();
    // Modal, not run here: a run of the flow while it is open must not ask
    // again, nor wait for the answer.
    if ((s & NO_LADDER_ACCN) && !m_signUpQuestion->isVisible())
        m_signUpQuestion->show();
}

void MainWindow::askForGameFolder()
{
    if (m_folderQuestion->isVisible() || m_choosingFolder || m_folderChosen || m_closeAnswered)
        return;
    m_folderQuestion->show();
}

void MainWindow::gameFolderAnswered(int result)
{
    if (result != QDialog::Accepted) {
        // Close, Escape or the title bar's close: without a game there is
        // nothing to stay for, and nothing more to ask.
        qDebug() << "Closing 6";
        m_closeAnswered = true;
        closeAfterWarning();
        return;
    }
    m_choosingFolder = true;
    m_folderChosen = chooseGameFolder();
    m_choosingFolder = false;
    // A folder without a game was refused with its reason: asked again.
    askForGameFolder();
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

void MainWindow::setBroadcastFlags(bool inGame, bool inQueue)
{
    if (StatusBroadcaster *broadcaster = Global::instance()->statusBroadcaster()) {
        broadcaster->setInGame(inGame);
        broadcaster->setInQueue(inQueue);
    }
}

void MainWindow::placeBusyWidget()
{
    m_busyWidget->show();
    QRect frame = m_busyWidget->frameGeometry();
    frame.moveCenter(frameGeometry().center());
    m_busyWidget->move(frame.topLeft());
}

void MainWindow::resetRouter()
{
    if (Router *router = Global::instance()->router())
        router->setState(Router::NOTHING);
}

QString MainWindow::matchMapName() const
{
    return Global::instance()->spawnInfo().uiMapName;
}

void MainWindow::selectMatchMap()
{
    const QString name = matchMapName();
    for (int row = 0; row < ui->mapsList->rowCount(); ++row) {
        QTableWidgetItem *item = ui->mapsList->item(row, 1);
        if (item && item->text() == name) {
            ui->mapsList->setCurrentItem(item);
            return;
        }
    }
}

void MainWindow::cancelFindMatch()
{
    resetRouter();
    m_cancelRequested = true;
    if (m_api)
        m_api->cancelFindMatch();
}

void MainWindow::queueLeft()
{
    m_queueInterrupted = !m_cancelRequested;
    m_cancelRequested = false;
}

void MainWindow::notifyAndCancelFindMatch()
{
    if (m_api)
        m_api->updateMatchStatus(QStringLiteral("NotReady"));
    cancelFindMatch();
}

void MainWindow::showConfirmReady()
{
    m_confirmReadyDialog->show();
    bringToFront();
    m_soundPlayer->setMedia(QUrl(QStringLiteral("qrc:/sounds/shake_it.wav")));
    m_soundPlayer->play();
}

bool MainWindow::questionOpen() const
{
    const auto dialogs = findChildren<WarningDialog *>(QString(), Qt::FindDirectChildrenOnly);
    return std::any_of(dialogs.cbegin(), dialogs.cend(), [](const WarningDialog *dialog) { return dialog->isVisible(); });
}

void MainWindow::maybeShowWaitDialog()
{
    // Not over a question: it comes once the questions are answered.
    m_waitDialogHeld = questionOpen();
    if (!m_waitDialogHeld)
        m_waitingDialog->show();
}

void MainWindow::questionClosed()
{
    if (!m_waitDialogHeld || questionOpen())
        return;
    m_waitDialogHeld = false;
    if (m_state & (MATCHUP_REQUESTED | MATCHUP_WAITFOR))
        m_waitingDialog->show();
}

void MainWindow::updateZantryStatus()
{
    if (m_api)
        m_api->updateMatchStatus(QStringLiteral("touch"));
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

void MainWindow::pWatchTriggered()
{
    if (!(m_state & (MATCHUP_REQUESTED | MATCHUP_WAITFOR | MATCHUP_FOUND)) || (m_state & GAME_SPAWNED))
        return;
    setStates(PWATCH_TRIGGERED);
    cancelFindMatch();
    minimizeToTray(false);
}

void MainWindow::pWatchCleared()
{
    if (m_state & PWATCH_TRIGGERED) {
        // Back into the queue as if the main button had been pressed.
        setStates(MAIN_BUTTON_CLICKED);
        unsetStates(PWATCH_TRIGGERED);
        emit newStatesSet();
    }
    show();
}

void MainWindow::noteResult(const QString &note)
{
    m_resultNote = note;
    if (m_state == READY_TO_QUEUE)
        ui->statusLabel->setText(readyNote());
}

QString MainWindow::readyNote() const
{
    QStringList notes;
    for (const QString &note : {m_resultNote, m_mapsNote, m_settingsNote}) {
        if (!note.isEmpty())
            notes << note;
    }
    return notes.isEmpty() ? QStringLiteral("Zantry") : notes.join(QLatin1Char('\n'));
}

QString MainWindow::serviceFaultText() const
{
    const ServiceFault fault = m_api ? m_api->fault() : ServiceFault();
    QString text = fault.isFault()
                       ? fault.message()
                       : QStringLiteral("LORVANE could not be contacted. Please check your network connection and try again.");
    const int wait = m_api ? m_api->reconnectIn() : -1;
    if (wait >= 0)
        text += QStringLiteral(" Trying again in %1 s.").arg((wait + 500) / 1000);
    return text;
}
