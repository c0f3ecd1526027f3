// Ladder, account, side and per-map choices. The boxes fill in a chain;
// each step silences the next box while refilling it, so one refill makes
// exactly one explicit call down the chain.
#include "ui/ladderselection.h"
#include "ui_mainwindow.h"

#include "session/session.h"

#include "api/lorvaneapi.h"
#include "maps/mapdownloader.h"
#include "api/matchstate.h"
#include "spawn/gamefolder.h"
#include "spawn/gamecatalogue.h"
#include "util/settings.h"

#include <QComboBox>
#include <QDebug>
#include <QFileInfo>

using namespace Zantry;

namespace {

// Fixed, so a longer name neither moves the columns nor the box beside them.
constexpr int kSelectionBoxWidth = 290;

Map *findMap(const Player *player, int mapId)
{
    if (!player || !player->ladder)
        return nullptr;
    return player->ladder->maps.value(mapId);
}

} // namespace


void LadderSelection::steadyLayout(Ui::MainWindow *ui)
{
    // The map table is one stop on the way round; arrows move inside it.
    ui->mapsList->setTabKeyNavigation(false);
    for (QComboBox *box : {ui->ladderBox, ui->userNamesBox, ui->sideBox}) {
        box->setFixedWidth(kSelectionBoxWidth);
        box->setFocusPolicy(Qt::StrongFocus);
    }
    // A preview or a caption of another height must not move the rows above.
    ui->mapViewLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    ui->mapDescriptionLabel->setFixedHeight(2 * ui->mapDescriptionLabel->fontMetrics().lineSpacing() + 8);
}

LadderSelection::LadderSelection(Ui::MainWindow *form, Session *session, QObject *parent)
    : QObject(parent), ui(form), m_session(session), m_defaultMapImage(QStringLiteral(":/images/logo-icon-dark.png"))
{
    ui->mapViewLabel->setPixmap(m_defaultMapImage);
    LorvaneAPI *api = session->api();
    connect(api, &LorvaneAPI::playersChanged, this, &LadderSelection::populateLadderBox);
    connect(api, &LorvaneAPI::currentPlayerMapsChanged, this, &LadderSelection::populateMaps);
    connect(session->mapDownloader(), &MapDownloader::previewSaved, this,
            [this]() { setMapView(ui->mapsList->currentItem(), nullptr); });
    connect(ui->mapsList, &QTableWidget::currentItemChanged, this, &LadderSelection::setMapView);
    // A double click fits a large preview into the view, or shows it whole.
    connect(ui->mapsList, &QTableWidget::doubleClicked, this, [this](const QModelIndex &index) {
        m_mapFitToView = !m_mapFitToView;
        setMapView(ui->mapsList->item(index.row(), 1), nullptr);
    });
    connect(ui->mapsList, &QTableWidget::currentCellChanged, this, [this](int row) {
        // The caption follows the row, also when the side box in it was clicked.
        if (ui->mapsList->currentItem() != ui->mapsList->item(row, 1))
            setMapView(ui->mapsList->item(row, 1), nullptr);
    });
}

void LadderSelection::populateLadderBox()
{
    const int lastPlayer = Settings::lastPlayer(m_session->games()->localGame());
    const GameCatalogue::Table games = m_session->games()->games();
    disconnect(ui->ladderBox, qOverload<int>(&QComboBox::currentIndexChanged), this, &LadderSelection::populatePlayerBox);
    ui->ladderBox->clear();
    QSet<int> added;
    int selected = 0;
    const QMap<int, Player *> players = m_session->api()->players();
    for (const Player *player : players) {
        if (!player->ladder || added.contains(player->ladder->id) || !games.contains(player->ladder->game))
            continue;
        added.insert(player->ladder->id);
        ui->ladderBox->addItem(player->ladder->name, player->ladder->id);
        if (player->id == lastPlayer)
            selected = ui->ladderBox->count() - 1;
    }
    ui->ladderBox->setCurrentIndex(selected);
    populatePlayerBox();
    connect(ui->ladderBox, qOverload<int>(&QComboBox::currentIndexChanged), this, &LadderSelection::populatePlayerBox);
}

void LadderSelection::populatePlayerBox()
{
    disconnect(ui->userNamesBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
               &LadderSelection::updateCurrentPlayer);
    ui->userNamesBox->clear();
    const int lastPlayer = Settings::lastPlayer(m_session->games()->localGame());
    const QVariant ladderId = ui->ladderBox->currentData();
    int selected = 0;
    const QMap<int, Player *> players = m_session->api()->players();
    for (const Player *player : players) {
        if (!player->ladder || !ladderId.isValid() || player->ladder->id != ladderId.toInt())
            continue;
        ui->userNamesBox->addItem(player->username, player->id);
        if (player->id == lastPlayer)
            selected = ui->userNamesBox->count() - 1;
    }
    ui->userNamesBox->setCurrentIndex(selected);
    if (ui->userNamesBox->count() == 0)
        m_session->setStates(NO_LADDER_ACCN);
    connect(ui->userNamesBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &LadderSelection::updateCurrentPlayer);
    updateCurrentPlayer(-1);
}

void LadderSelection::updateCurrentPlayer(int)
{
    const QVariant id = ui->userNamesBox->currentData();
    if (id.isValid())
        m_session->api()->setCurrentPlayer(id.toInt());
    Player *player = m_session->api()->currentPlayer();
    if (!player || !player->ladder || player->ladder->sides.isEmpty()) {
        populateMaps();
        return;
    }
    disconnect(ui->sideBox, qOverload<int>(&QComboBox::currentIndexChanged), this, &LadderSelection::populateMaps);
    const QString game = player->ladder->game;
    m_session->games()->setCurrent(game);
    player->setSide(Settings::side(player->id));
    ui->sideBox->clear();
    for (const Side *side : qAsConst(player->ladder->sides))
        ui->sideBox->addItem(side->name, side->id);
    if (const Side *side = player->currentSide())
        ui->sideBox->setCurrentText(side->name);
    connect(ui->sideBox, qOverload<int>(&QComboBox::currentIndexChanged), this, &LadderSelection::populateMaps);
    Settings::setLastPlayer(game, player->id);
    populateMaps();
}

void LadderSelection::populateMaps()
{
    // clearContents(): clear() would take the "Side" and "Map" headers too.
    ui->mapsList->clearContents();
    ui->mapsList->setRowCount(0);
    qDebug() << "running populateMaps()";
    Player *player = m_session->api()->currentPlayer();
    if (player && player->ladder && !player->ladder->maps.isEmpty()) {
        if (ui->sideBox->count() > 0)
            player->setSide(ui->sideBox->currentData().toInt());
        const Side *side = player->currentSide();
        QStringList wanted;
        for (const Map *map : qAsConst(player->ladder->maps)) {
            if (side && map->allowedSides.contains(side->localId)) {
                auto *item = new QTableWidgetItem(map->description);
                item->setData(Qt::UserRole, map->id);
                item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
                const int row = ui->mapsList->rowCount();
                ui->mapsList->insertRow(row);
                ui->mapsList->setItem(row, 1, item);
                ui->mapsList->setRowHeight(row, 20);
                ui->mapsList->resizeColumnsToContents();
            } else {
                player->setMapSide(map->bitIndex, Player::NoChoice);
            }
            wanted << map->hash;
            qDebug().noquote() << "Adding map:" << map->hash;
        }
        m_session->setWantedMaps(wanted);
    }
    doSideChanged();
}

void LadderSelection::doSideChanged()
{
    Player *player = m_session->api()->currentPlayer();
    if (!player)
        return;
    if (ui->sideBox->count() > 0) {
        player->setSide(ui->sideBox->currentData().toInt());
        for (int row = 0; row < ui->mapsList->rowCount(); ++row) {
            const QTableWidgetItem *item = ui->mapsList->item(row, 1);
            const Map *map = item ? findMap(player, item->data(Qt::UserRole).toInt()) : nullptr;
            if (!map)
                continue;
            auto *box = new QComboBox;
            box->setProperty("row", row);
            box->setProperty("map_id", map->id);
            box->setProperty("bit_idx", map->bitIndex);
            // With a placeholder first, removing it reports the row's initial
            // choice through doMapFactionChanged like any later change.
            box->addItem(QStringLiteral("dummy"));
            box->addItem(QStringLiteral("Rejected"), int(Player::RejectedMap));
            const int pref = player->mapSide(map->bitIndex);
            int remembered = -1;
            for (int localId : map->allowedSides) {
                const Side *side = player->ladder->sideByLocalId(localId);
                if (!side)
                    continue;
                box->addItem(side->name, side->id);
                if (pref == localId)
                    remembered = box->count() - 2;
            }
            ui->mapsList->setCellWidget(row, 0, box);
            connect(box, qOverload<int>(&QComboBox::currentIndexChanged), this, &LadderSelection::doMapFactionChanged);
            box->removeItem(0);
            if (remembered >= 0)
                box->setCurrentIndex(remembered);
            else if (pref == Player::RejectedMap)
                box->setCurrentIndex(0);
            else
                box->setCurrentText(ui->sideBox->currentText());
        }
    }
    if (ui->sideBox->count() > 0) {
        ui->sideBox->adjustSize();
        ui->mapsList->resizeColumnsToContents();
    }
    if (const Side *side = player->currentSide())
        Settings::setSide(player->id, side->id);
}

void LadderSelection::doMapFactionChanged(int index)
{
    auto *box = qobject_cast<QComboBox *>(sender());
    Player *player = m_session->api()->currentPlayer();
    if (!box || !player)
        return;
    const int choice = box->itemData(index).toInt();
    const int row = box->property("row").toInt();
    const Map *map = findMap(player, box->property("map_id").toInt());
    QTableWidgetItem *item = ui->mapsList->item(row, 1);
    if (!map || !item)
        return;
    if (choice == Player::RejectedMap) {
        int rejected = 0;
        for (int r = 0; r < ui->mapsList->rowCount(); ++r) {
            const auto *other = qobject_cast<QComboBox *>(ui->mapsList->cellWidget(r, 0));
            if (other && other->currentData().toInt() == Player::RejectedMap)
                ++rejected;
        }
        if (rejected > player->ladder->vetoes) {
            box->setCurrentText(ui->sideBox->currentText());
            return;
        }
        player->setMapSide(map->bitIndex, Player::RejectedMap);
        item->setFlags(item->flags() & ~Qt::ItemIsEnabled);
        return;
    }
    player->setMapSide(map->bitIndex, choice);
    item->setFlags(item->flags() | Qt::ItemIsEnabled);
}

void LadderSelection::setMapView(QTableWidgetItem *current, QTableWidgetItem *)
{
    if (!current) {
        ui->mapDescriptionLabel->clear();
        ui->mapViewLabel->setPixmap(m_defaultMapImage);
        return;
    }
    const Map *map = findMap(m_session->api()->currentPlayer(), current->data(Qt::UserRole).toInt());
    QString preview;
    if (map) {
        ui->mapDescriptionLabel->setText(map->description);
        const QFileInfo file(m_session->mapDownloader()->mapFilePath(map->hash));
        preview = file.path() + QLatin1Char('/') + file.completeBaseName() + QStringLiteral(".png");
        qDebug().noquote() << "Switching to file: " + preview;
    }
    if (map && !m_session->mapDownloader()->mapFilePath(map->hash).isEmpty() && QFileInfo::exists(preview)) {
        const int width = ui->mapViewLabel->width();
        const int height = ui->mapTab->height() - ui->mapDescriptionLabel->height() - 30;
        const QPixmap image(preview);
        if (m_mapFitToView || image.height() > height)
            ui->mapViewLabel->setPixmap(image.scaled(width, height, Qt::KeepAspectRatio, Qt::FastTransformation));
        else
            ui->mapViewLabel->setPixmap(image);
        return;
    }
    // Without a preview the caption still names the selected map.
    if (!map)
        ui->mapDescriptionLabel->setText(current->text());
    ui->mapViewLabel->setPixmap(m_defaultMapImage);
}

void LadderSelection::selectMap(const QString &name)
{
    for (int row = 0; row < ui->mapsList->rowCount(); ++row) {
        QTableWidgetItem *item = ui->mapsList->item(row, 1);
        if (item && item->text() == name) {
            ui->mapsList->setCurrentItem(item);
            return;
        }
    }
}
