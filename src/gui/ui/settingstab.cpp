#include "ui/settingstab.h"
#include "ui_mainwindow.h"

#include "net/lorvanenetwork.h"
#include "net/networkstate.h"
#include "session/session.h"
#include "util/endpoints.h"
#include "util/settings.h"
#include "ui/appearance.h"
#include "watch/processwatcher.h"

#include <QAbstractItemDelegate>
#include <QDebug>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMediaPlayer>
#include <QSaveFile>
#include <QScrollArea>

#include <algorithm>

SettingsTab::SettingsTab(Ui::MainWindow *form, Session *session, QMediaPlayer *soundPlayer, const QDir &dataDir,
                         QWidget *window)
    : QObject(window), ui(form), m_session(session), m_soundPlayer(soundPlayer), m_dataDir(dataDir)
{
    setupWinePrefix(window);
    NetworkState *network = session->networkState();
    ui->p2pCheckBox->setChecked(network->allowP2P());
    connect(ui->p2pCheckBox, &QCheckBox::toggled, network, &NetworkState::setAllowP2P);
    setupAddress();
    setupWatchList();

    const int volume = Settings::volume();
    m_soundPlayer->setVolume(volume);
    ui->volumeSlider->setValue(volume);
    connect(ui->volumeSlider, &QSlider::valueChanged, this, [this](int value) {
        m_soundPlayer->setVolume(value);
        Settings::setVolume(value);
    });
    // The sample at the chosen volume.
    connect(ui->volumeSlider, &QSlider::sliderReleased, this, [this]() {
        m_soundPlayer->setMedia(QUrl(QStringLiteral("qrc:/sounds/shake_it.wav")));
        m_soundPlayer->play();
    });

    ui->styleEdit->setPlainText(Appearance::loadStyleSheet(m_dataDir));
    connect(ui->reloadStyleButton, &QPushButton::clicked, this,
            [this]() { emit styleChanged(ui->styleEdit->toPlainText()); });
    connect(ui->saveStyleButton, &QPushButton::clicked, this, &SettingsTab::saveStyle);
    connect(ui->helpButton, &QPushButton::clicked, this, [this]() {
        const QUrl help = Endpoints::instance().siteLink(QStringLiteral("/ladder#help"));
        if (!QDesktopServices::openUrl(help))
            emit noticeWanted(tr("No web browser could be started. The help is at\n%1").arg(help.toString()));
    });
    connect(session->network(), &LorvaneNetwork::tunnelServersChanged, this, &SettingsTab::populateTunnelServers);
}

void SettingsTab::scrollOnShortScreens(Ui::MainWindow *ui)
{
    // On a short screen (1024x600) the settings scroll rather than squeeze.
    const int settingsAt = ui->mapWidget->indexOf(ui->settingsTab);
    ui->mapWidget->removeTab(settingsAt);
    auto *scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("settingsScroll"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(ui->settingsTab);
    ui->mapWidget->insertTab(settingsAt, scroll, tr("Settings"));
}

void SettingsTab::setupWinePrefix(QWidget *window)
{
    m_folderDialog = new QFileDialog(window, tr("Open Directory"));
    m_folderDialog->setFileMode(QFileDialog::Directory);
    m_folderDialog->setOption(QFileDialog::ShowDirsOnly);
    m_folderDialog->setAttribute(Qt::WA_QuitOnClose, false);
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
    connect(m_folderDialog, &QFileDialog::fileSelected, this, &SettingsTab::winePrefixChosen);
    connect(ui->winePrefixEdit, &QLineEdit::textChanged, this, [](const QString &value) { Settings::setWinePrefix(value); });
#ifdef Q_OS_WIN
    // The game runs natively; there is no prefix to choose.
    ui->winePrefixLabel->hide();
    ui->winePrefixEdit->hide();
    ui->winePrefixButton->hide();
#endif
}

void SettingsTab::winePrefixChosen(const QString &folder)
{
    // A prefix holds the registry Wine made in it; an empty folder would
    // only make Wine build a new prefix there.
    if (!QFileInfo::exists(QDir(folder).filePath(QStringLiteral("system.reg"))))
        emit noticeWanted(tr("%1 is not a Wine prefix (it has no system.reg). The game runs there only once Wine has "
                             "made a prefix in it.")
                              .arg(QDir::toNativeSeparators(folder)));
    ui->winePrefixEdit->setText(folder);
}

void SettingsTab::setupAddress()
{
    NetworkState *network = m_session->networkState();
    // Told from the network thread; queued to the widgets.
    connect(network, qOverload<QString>(&NetworkState::publicIPChanged), ui->ipAddressEdit, &QLineEdit::setText);
    connect(network, &NetworkState::publicPortChanged, ui->ipPortEdit, &QLineEdit::setText);
    connect(ui->ipAddressEdit, &QLineEdit::textEdited, network, qOverload<const QString &>(&NetworkState::setPublicIP));
    connect(ui->ipPortEdit, &QLineEdit::textEdited, network, qOverload<const QString &>(&NetworkState::setPublicPort));
    connect(ui->showIpAddrButton, &QPushButton::clicked, this, &SettingsTab::toggleAddressShown);
}

void SettingsTab::toggleAddressShown()
{
    // Masked until asked for: the window may be on a stream.
    const bool hidden = ui->ipAddressEdit->echoMode() == QLineEdit::Password;
    ui->ipAddressEdit->setEchoMode(hidden ? QLineEdit::Normal : QLineEdit::Password);
    ui->showIpAddrButton->setText(hidden ? tr("Hide") : tr("Show"));
}

void SettingsTab::setupWatchList()
{
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
            &SettingsTab::updateWatchedProcs);
    connect(ui->addWatchButton, &QPushButton::clicked, this, &SettingsTab::addWatch);
    connect(ui->remWatchButton, &QPushButton::clicked, this, &SettingsTab::removeWatch);
    setupWatchListButtons();
    // Unticked, the watcher still polls (the same poll looks for cheat
    // tools) but its findings pause nothing.
    connect(watcher, &ProcessWatcher::triggered, this, [this]() {
        if (ui->pWatchCheck->isChecked())
            m_session->pauseForWatcher();
    });
    connect(watcher, &ProcessWatcher::cleared, this, [this]() {
        if (!ui->pWatchCheck->isChecked())
            return;
        m_session->resumeAfterWatcher();
        emit watcherCleared();
    });
    ui->pWatchCheck->setChecked(Settings::processWatcherEnabled());
    connect(ui->pWatchCheck, &QCheckBox::toggled, this, [](bool checked) { Settings::setProcessWatcherEnabled(checked); });
    watcher->start();
}

void SettingsTab::addWatch()
{
    auto *item = new QListWidgetItem(QStringLiteral("New Process"), ui->processWatchList);
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    ui->processWatchList->setCurrentItem(item);
    ui->processWatchList->editItem(item);
}

QSet<QString> SettingsTab::listedProcs() const
{
    QSet<QString> names;
    for (int row = 0; row < ui->processWatchList->count(); ++row)
        names.insert(ui->processWatchList->item(row)->text());
    return names;
}

void SettingsTab::removeWatch()
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

void SettingsTab::updateWatchedProcs()
{
    qDebug() << "Changing Process watcher items";
    m_session->processWatcher()->setWatchedProcs(listedProcs());
}

void SettingsTab::setupWatchListButtons()
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

void SettingsTab::populateTunnelServers()
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

void SettingsTab::saveStyle()
{
    const QString style = ui->styleEdit->toPlainText();
    QSaveFile file(m_dataDir.filePath(QStringLiteral("mainstyle.qss")));
    if (!file.open(QIODevice::WriteOnly) || file.write(style.toUtf8()) < 0 || !file.commit())
        qDebug() << "error: " << file.errorString();
    emit styleChanged(style);
}
