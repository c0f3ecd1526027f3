#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "api/lorvaneapi.h"
#include "util/endpoints.h"
#include "util/settings.h"
#include "ui/appearance.h"
#include "net/networkstate.h"
#include "spawn/spawnablegame.h"
#include "ui/busywidget.h"
#include "ui/confirmreadydialog.h"
#include "ui/password.h"
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
    NetworkState *network = m_session->networkState();

    m_folderDialog->setModal(true);
    // Prefixes live in the home folder, most of them hidden (~/.wine).
    m_folderDialog->setFilter(m_folderDialog->filter() | QDir::Hidden);
    ui->winePrefixEdit->setText(Settings::winePrefix());
    connect(ui->winePrefixButton, &QPushButton::clicked, this, [this]() {
        const QString current = ui->winePrefixEdit->text();
        m_folderDialog->setDirectory(QFileInfo(current).isDir() ? current : QDir::homePath());
        m_folderDialog->show();
    });
    // The folder the player picks, not every folder passed on the way.
    connect(m_folderDialog, &QFileDialog::fileSelected, this, &MainWindow::winePrefixChosen);
    connect(ui->winePrefixEdit, &QLineEdit::textChanged, this, &MainWindow::saveWinePrefix);
#ifdef Q_OS_WIN
    // The game runs natively; there is no prefix to choose.
    ui->winePrefixLabel->hide();
    ui->winePrefixEdit->hide();
    ui->winePrefixButton->hide();
#endif
    // Under the home folder as the desktop writes it: "~/Games/Morvel".
    const QString folder = QDir::currentPath(), home = QDir::homePath();
    const bool inHome = folder == home || folder.startsWith(home + QLatin1Char('/'));
    ui->gameFolderEdit->setText(inHome ? QLatin1Char('~') + folder.mid(home.size()) : QDir::toNativeSeparators(folder));
    ui->gameFolderEdit->setToolTip(QDir::toNativeSeparators(folder));
    connect(ui->gameFolderButton, &QPushButton::clicked, this, &MainWindow::chooseGameFolder);

    ui->p2pCheckBox->setChecked(network->allowP2P());
    connect(ui->p2pCheckBox, &QCheckBox::toggled, network, &NetworkState::setAllowP2P);

    m_password->setEmailAddress(Settings::accountName());
    ui->urlEdit->setText(m_apiUrl);
    ui->styleEdit->setPlainText(Appearance::loadStyleSheet(m_dataDir));

    // Told from the network thread; queued to the widgets.
    connect(network, qOverload<QString>(&NetworkState::publicIPChanged), ui->ipAddressEdit, &QLineEdit::setText);
    connect(network, &NetworkState::publicPortChanged, ui->ipPortEdit, &QLineEdit::setText);
    connect(ui->ipAddressEdit, &QLineEdit::textEdited, network, qOverload<const QString &>(&NetworkState::setPublicIP));
    connect(ui->ipPortEdit, &QLineEdit::textEdited, network, qOverload<const QString &>(&NetworkState::setPublicPort));

    setupTray();

    ProcessWatcher *watcher = m_session->processWatcher();
    ui->processWatchList->clear();
    const QSet<QString> watchedSet = watcher->watchedProcs();
    QStringList watched(watchedSet.cbegin(), watchedSet.cend());
    watched.sort();
    for (const QString &name : qAsConst(watched)) {
        auto *item = new QListWidgetItem(name, ui->processWatchList);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
    }
    connect(ui->processWatchList->itemDelegate(), &QAbstractItemDelegate::commitData, this,
            &MainWindow::updateWatchedProcs);
    setupWatchListButtons();
    ui->pWatchCheck->setChecked(Settings::processWatcherEnabled());
    // Polls even with the box unticked: the same poll looks for cheat tools.
    watcher->start();

    const int volume = Settings::volume();
    m_soundPlayer->setVolume(volume);
    ui->volumeSlider->setValue(volume);
}

void MainWindow::setupTray()
{
    // The coloured mark suits the light task bar of Windows 10; elsewhere the
    // tile version stays readable on any panel.
    const bool windows10 = QSysInfo::prettyProductName().contains(QLatin1String("Windows 10"));
    m_trayIcon->setIcon(
        QIcon(windows10 ? QStringLiteral(":/images/logo-icon.png") : QStringLiteral(":/images/dark_tray_icon.png")));
    m_trayIcon->hide();
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::systemTrayActivated);
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

    if (s_closeConfirmed || m_closeAnswered || (m_session->state() & LOGIN)) {
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
    if (m_folderQuestion->isVisible()) {
        m_folderQuestion->raise();
        m_folderQuestion->activateWindow();
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

void MainWindow::systemTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick)
        return;
    bringToFront();
    m_trayIcon->setVisible(true);
}

void MainWindow::minimizeToTray()
{
    minimizeToTray(true);
}

void MainWindow::minimizeToTray(bool showMessage)
{
    // Without a tray a hidden window could not be brought back.
    if (!(m_session->state() & (MATCHUP_WAITFOR | PWATCH_TRIGGERED)) || !TrayMenu::trayAvailable()) {
        showMinimized();
        return;
    }
    m_trayIcon->setVisible(true);
    m_busyWidget->hide();
    hide();
    if (showMessage)
        m_trayIcon->showMessage(tr("Notice:"), tr("Zantry is not closed."), QSystemTrayIcon::Information, 5000);
}

bool MainWindow::chooseGameFolder()
{
    // The program starts again in the new folder: not in the middle of a match.
    if (m_session->state() & (MATCHUP_REQUESTED | MATCHUP_WAITFOR | MATCHUP_FOUND | NETWORK_READY | GAME_SPAWNED)) {
        showNotice(tr("Leave the queue or finish the match first, then change the game folder."));
        return false;
    }
    // Outside a game folder the program works in its data folder, which is
    // no place to start looking from.
    const QString start = SpawnableGame::holdsGame(QDir::currentPath()) ? QDir::currentPath() : QDir::homePath();
    QFileDialog chooser(this, tr("Choose the folder your game is installed in"), start);
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOption(QFileDialog::ShowDirsOnly);
    // Answered while the window is hidden (the folder question), it must
    // not count as the program's last window closing.
    chooser.setAttribute(Qt::WA_QuitOnClose, false);
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().value(0).isEmpty())
        return false;
    const QString dir = chooser.selectedFiles().constFirst();
    if (!SpawnableGame::holdsGame(dir)) {
        showNotice(tr("No Lorvane game was found in %1.\nThe game's folder holds morvel.exe, quillon.exe or fennick.exe.")
                       .arg(QDir::toNativeSeparators(dir)));
        return false;
    }
    Settings::setGameFolder(dir);
    qDebug().noquote() << "Game folder chosen: " + dir;
    emit gameFolderChosen(dir);
    return true;
}

void MainWindow::saveWinePrefix(const QString &value)
{
    Settings::setWinePrefix(value);
}

void MainWindow::on_addWatchButton_clicked()
{
    auto *item = new QListWidgetItem(QStringLiteral("New Process"), ui->processWatchList);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    ui->processWatchList->setCurrentItem(item);
    ui->processWatchList->editItem(item);
}

QSet<QString> MainWindow::listedProcs() const
{
    QSet<QString> names;
    for (int row = 0; row < ui->processWatchList->count(); ++row)
        names.insert(ui->processWatchList->item(row)->text());
    return names;
}

void MainWindow::on_remWatchButton_clicked()
{
    QListWidgetItem *item = ui->processWatchList->currentItem();
    if (!item)
        return;
    m_removedWatches.append({ui->processWatchList->row(item), item->text()});
    m_undoWatchButton->setEnabled(true);
    delete item;
    // The list as shown is the watch list: a name listed twice stays watched
    // until its last entry goes.
    m_session->processWatcher()->setWatchedProcs(listedProcs());
}

void MainWindow::updateWatchedProcs()
{
    QAbstractItemDelegate *delegate = ui->processWatchList->itemDelegate();
    disconnect(delegate, &QAbstractItemDelegate::commitData, this, &MainWindow::updateWatchedProcs);
    qDebug() << "Changing Process watcher items";
    m_session->processWatcher()->setWatchedProcs(listedProcs());
    connect(delegate, &QAbstractItemDelegate::commitData, this, &MainWindow::updateWatchedProcs);
}

void MainWindow::on_pWatchCheck_toggled(bool checked)
{
    ProcessWatcher *watcher = m_session->processWatcher();
    if (checked) {
        connect(watcher, &ProcessWatcher::triggered, this, &MainWindow::pWatchTriggered, Qt::UniqueConnection);
        connect(watcher, &ProcessWatcher::cleared, this, &MainWindow::pWatchCleared, Qt::UniqueConnection);
    } else {
        disconnect(watcher, &ProcessWatcher::triggered, this, &MainWindow::pWatchTriggered);
        disconnect(watcher, &ProcessWatcher::cleared, this, &MainWindow::pWatchCleared);
    }
    Settings::setProcessWatcherEnabled(checked);
}

void MainWindow::on_volumeSlider_valueChanged(int value)
{
    m_soundPlayer->setVolume(value);
    Settings::setVolume(value);
}

void MainWindow::on_volumeSlider_sliderReleased()
{
    m_soundPlayer->setMedia(QUrl(QStringLiteral("qrc:/sounds/shake_it.wav")));
    m_soundPlayer->play();
}

void MainWindow::on_showIpAddrButton_clicked()
{
    if (ui->ipAddressEdit->echoMode() == QLineEdit::Password) {
        ui->ipAddressEdit->setEchoMode(QLineEdit::Normal);
        ui->showIpAddrButton->setText(tr("Hide"));
    } else {
        ui->ipAddressEdit->setEchoMode(QLineEdit::Password);
        ui->showIpAddrButton->setText(tr("Show"));
    }
}

void MainWindow::setIpPortText(ushort port)
{
    ui->ipPortEdit->setText(QString::number(port));
}

void MainWindow::populateTunnelServers()
{
    QTableWidget *table = ui->tunnelServerTable;
    table->clearContents();
    table->setRowCount(0);
    table->setSortingEnabled(false);
    const NetworkState::TunnelTable servers = m_session->networkState()->tunnelServers();
    for (const TunnelServerInfo &server : servers) {
        const int row = table->rowCount();
        table->insertRow(row);
        const QVariant cells[] = {server.name,       server.address,    server.port,
                                  server.country,    server.country_code, server.numClients,
                                  server.maxClients, server.isOfficial ? tr("Yes") : tr("No"), server.version};
        int column = 0;
        for (const QVariant &value : cells) {
            auto *item = new QTableWidgetItem;
            // Numbers as numbers, so the columns sort by value.
            item->setData(Qt::DisplayRole, value);
            table->setItem(row, column++, item);
        }
    }
    table->setSortingEnabled(true);
}

void MainWindow::applyStyle(const QString &style)
{
    setStyleSheet(style);
    m_password->setStyleSheet(style);
    m_busyWidget->setStyleSheet(style);
}

void MainWindow::on_reloadStyleButton_clicked()
{
    applyStyle(ui->styleEdit->toPlainText());
}

void MainWindow::on_saveStyleButton_clicked()
{
    const QString style = ui->styleEdit->toPlainText();
    QSaveFile file(m_dataDir.filePath(QStringLiteral("mainstyle.qss")));
    if (!file.open(QIODevice::WriteOnly) || file.write(style.toUtf8()) < 0 || !file.commit())
        qDebug() << "error: " << file.errorString();
    applyStyle(style);
}

void MainWindow::on_actionSettings_triggered()
{
    // The tab's page is the scroll area around the settings.
    ui->mapWidget->setCurrentWidget(ui->settingsTab->parentWidget()->parentWidget());
}

void MainWindow::on_helpButton_clicked()
{
    const QUrl help = Endpoints::instance().siteLink(QStringLiteral("/ladder#help"));
    if (!QDesktopServices::openUrl(help))
        showNotice(tr("No web browser could be started. The help is at\n%1").arg(help.toString()));
}

void MainWindow::linkToLadder()
{
    QDesktopServices::openUrl(QUrl(m_siteUrl));
}

void MainWindow::winePrefixChosen(const QString &folder)
{
    // A prefix holds the registry Wine made in it; an empty folder would
    // only make Wine build a new prefix there.
    if (!QFileInfo::exists(QDir(folder).filePath(QStringLiteral("system.reg"))))
        showNotice(tr("%1 is not a Wine prefix (it has no system.reg). The game runs there only once Wine has "
                      "made a prefix in it.")
                       .arg(QDir::toNativeSeparators(folder)));
    ui->winePrefixEdit->setText(folder);
}

void MainWindow::setupWatchListButtons()
{
    m_undoWatchButton = new QPushButton(tr("Undo"), ui->watchGroup);
    m_undoWatchButton->setObjectName(QStringLiteral("undoWatchButton"));
    m_undoWatchButton->setToolTip(tr("Bring back the last removed program"));
    m_undoWatchButton->setEnabled(false);
    auto *defaults = new QPushButton(tr("Defaults"), ui->watchGroup);
    defaults->setObjectName(QStringLiteral("defaultWatchButton"));
    defaults->setToolTip(tr("Restore the list Zantry came with"));
    for (QPushButton *button : {defaults, m_undoWatchButton}) {
        button->setCursor(Qt::PointingHandCursor);
        button->setMinimumSize(ui->remWatchButton->minimumSize());
        ui->watchButtonLayout->insertWidget(ui->watchButtonLayout->indexOf(ui->remWatchButton) + 1, button);
    }
    connect(m_undoWatchButton, &QPushButton::clicked, this, [this]() {
        if (m_removedWatches.isEmpty())
            return;
        const QPair<int, QString> last = m_removedWatches.takeLast();
        auto *item = new QListWidgetItem(last.second);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        ui->processWatchList->insertItem(std::min(last.first, ui->processWatchList->count()), item);
        ui->processWatchList->setCurrentItem(item);
        m_undoWatchButton->setEnabled(!m_removedWatches.isEmpty());
        m_session->processWatcher()->setWatchedProcs(listedProcs());
    });
    connect(defaults, &QPushButton::clicked, this, [this]() {
        ui->processWatchList->clear();
        for (const QString &name : ProcessWatcher::defaultWatchedProcs()) {
            auto *item = new QListWidgetItem(name, ui->processWatchList);
            item->setFlags(item->flags() | Qt::ItemIsEditable);
        }
        m_removedWatches.clear();
        m_undoWatchButton->setEnabled(false);
        m_session->processWatcher()->setWatchedProcs(listedProcs());
    });
}
