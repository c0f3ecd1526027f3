#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "api/lorvaneapi.h"
#include "util/endpoints.h"
#include "util/settings.h"
#include "ui/appearance.h"
#include "net/networkstate.h"
#include "spawn/spawnablegame.h"
#include "ui/busywidget.h"
#include "ui/gamefolderquestion.h"
#include "ui/confirmreadydialog.h"
#include "ui/password.h"
#include "ui/settingstab.h"
#include "ui/traymenu.h"
#include "ui/waitingdialog.h"
#include "ui/warningdialog.h"
#include "watch/processwatcher.h"

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFileDialog>
#include <QMediaPlayer>
#include <QMenu>
#include <QSaveFile>
#include <QSysInfo>
#include <QTimer>

using namespace Zantry;

void MainWindow::setupSettingsTab()
{
    auto *tab = new SettingsTab(ui, m_session, m_soundPlayer, m_dataDir, this);
    connect(tab, &SettingsTab::noticeWanted, this, &MainWindow::showNotice);
    connect(tab, &SettingsTab::styleChanged, this, &MainWindow::applyStyle);
    connect(tab, &SettingsTab::watcherCleared, this, &QWidget::show);
    // Under the home folder as the desktop writes it: "~/Games/Morvel".
    const QString folder = QDir::currentPath(), home = QDir::homePath();
    const bool inHome = folder == home || folder.startsWith(home + QLatin1Char('/'));
    ui->gameFolderEdit->setText(inHome ? QLatin1Char('~') + folder.mid(home.size()) : QDir::toNativeSeparators(folder));
    ui->gameFolderEdit->setToolTip(QDir::toNativeSeparators(folder));
    connect(ui->gameFolderButton, &QPushButton::clicked, m_folderQuestion, &GameFolderQuestion::choose);
    m_password->setEmailAddress(Settings::accountName());
    ui->urlEdit->setText(m_apiUrl);
}

void MainWindow::bringToFront()
{
    show();
    showNormal();
    raise();
    activateWindow();
    // Without a window manager that keeps dialogs above their window, the
    // raised window would cover the ready check and the match be missed.
    if (m_confirmReadyDialog->isVisible()) {
        m_confirmReadyDialog->raise();
        m_confirmReadyDialog->activateWindow();
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    Settings::setPlacement({saveGeometry(), saveState(), m_password->saveGeometry()});

    if (s_closeConfirmed || m_folderQuestion->closeAnswered() || (m_session->state() & LOGIN)) {
        qDebug() << "Closing 7";
        event->accept();
        return;
    }

    // Escape and the title bar's close answer No; a close while the
    // question is open waits for its answer.
    const bool queued = m_session->state() & (MATCHUP_REQUESTED | MATCHUP_WAITFOR);
    m_closeQuestion->setText(tr("Are you sure you want to close?")
                             + (queued ? tr("\nYou will leave the matchmaking queue.") : QString()));
    const int answer = m_closeQuestion->ask();
    if (answer != QDialog::Accepted) {
        if (answer != WarningDialog::kNotAsked)
            s_closeConfirmed = false;
        event->ignore();
        return;
    }
    // Read again: the queue may have moved on while the question was open.
    if (m_session->state() & (MATCHUP_REQUESTED | MATCHUP_WAITFOR)) {
        event->ignore();
        closeWhileQueued();
    } else {
        event->accept();
    }
    if (m_closeQuestion->logOut())
        Settings::setAccessToken(QString());
    qDebug() << "Closing 8";
}

void MainWindow::closeWhileQueued()
{
    hide();
    s_closeConfirmed = true;
    qDebug() << "Closing 3";
    // The service's confirmation closes at once; the timer bounds the wait
    // for a service that never answers.
    m_queuedCloseTimer->start(m_queuedCloseMs);
    // Queued: the confirmation may come while this close is still running,
    // and a close inside a close is dropped.
    qDebug() << "Canceling zantry";
    m_session->leaveQueueToEnd();
    LorvaneAPI *api = m_session->api();
    if (!api->accountName().isEmpty())
        Settings::setAccountName(api->accountName());
}

void MainWindow::instanceStarted()
{
    // Started again while leaving the queue to close: the player wants the
    // window, so it stays, and the cancel on its way takes it back to ready.
    if (m_queuedCloseTimer->isActive()) {
        qDebug() << "Started again while closing; staying open";
        m_queuedCloseTimer->stop();
        s_closeConfirmed = false;
        m_session->keepRunning();
    }
    // Still without a game: the question is what there is to bring up.
    if (WarningDialog *question = m_folderQuestion->dialog(); question->isVisible()) {
        question->raise();
        question->activateWindow();
        return;
    }
    bringToFront();
}

void MainWindow::quitRequested()
{
    // Ended from outside (SIGTERM, Ctrl-C): a queued player still leaves the
    // queue, or the service would match a client that is gone and leave the
    // opponent waiting for it.
    if (!m_session->api() || !(m_session->state() & (MATCHUP_REQUESTED | MATCHUP_WAITFOR))) {
        QCoreApplication::quit();
        return;
    }
    qDebug() << "Leaving the queue before quitting";
    s_closeConfirmed = true;
    m_quitAfterLeaving = true;
    QTimer::singleShot(m_queuedCloseMs, qApp, &QCoreApplication::quit);
    m_session->leaveQueueToEnd();
}

void MainWindow::minimizeToTray(bool showMessage)
{
    // Without a tray a hidden window could not be brought back.
    if (!(m_session->state() & (MATCHUP_WAITFOR | PWATCH_TRIGGERED)) || !TrayMenu::trayAvailable()) {
        showMinimized();
        return;
    }
    m_tray->icon()->setVisible(true);
    m_busyWidget->hide();
    hide();
    if (showMessage)
        m_tray->icon()->showMessage(tr("Notice:"), tr("Zantry is not closed."), QSystemTrayIcon::Information, 5000);
}

void MainWindow::applyStyle(const QString &style)
{
    setStyleSheet(style);
    m_password->setStyleSheet(style);
    m_busyWidget->setStyleSheet(style);
}

void MainWindow::on_actionSettings_triggered()
{
    // The tab's page is the scroll area around the settings.
    ui->mapWidget->setCurrentWidget(ui->settingsTab->parentWidget()->parentWidget());
}

void MainWindow::linkToLadder()
{
    QDesktopServices::openUrl(QUrl(m_siteUrl));
}

