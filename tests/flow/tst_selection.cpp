// Ladder, account, side and map choices in the real window, filled from the
// sandbox service's records.
#include "flowfixture.h"
#include "logcapture.h"

#include "api/lorvaneapi.h"
#include "maps/mapdownloader.h"
#include "net/global.h"
#include "ui/warningdialog.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QSettings>
#include <QTableWidget>
#include <QtTest>

using namespace Zantry;

namespace {

QComboBox *rowBox(QTableWidget *table, int row)
{
    return qobject_cast<QComboBox *>(table->cellWidget(row, 0));
}

int mapSideOfRow(FlowFixture &f, int row)
{
    const QComboBox *box = rowBox(f.child<QTableWidget>("mapsList"), row);
    return f.window()->api()->currentPlayer()->mapSide(box->property("bit_idx").toInt());
}

QStringList rowTexts(QTableWidget *table)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << table->item(row, 1)->text();
    return texts;
}

} // namespace

class TestSelection : public QObject
{
    Q_OBJECT
private slots:
    void noInstalledGameMeansNoLadderAccount();
    void lastPlayerSettingPicksTheAccount();
    void vetoesAndSides();
    void previewsAndStatistics();
};

void TestSelection::noInstalledGameMeansNoLadderAccount()
{
    LogCapture log;
    FlowFixture f;
    // Dave plays only Yuri's Revenge; the folder holds Tiberian Sun only.
    f.gameFolderArgs = QStringList{QStringLiteral("--game"), QStringLiteral("ts")};
    QVERIFY(f.start(QStringLiteral("token-dave")));
    // Cancel closes the program; the close question follows and is answered.
    int noAccount = 0;
    int closing = 0;
    f.answerWarning(QStringLiteral("You don't have a ladder account for this game.\nWould you like to sign up?"),
                    QStringLiteral("Cancel"), &noAccount);
    f.answerWarning(QStringLiteral("Are you sure you want to close?"), QStringLiteral("Yes"), &closing);
    QTRY_COMPARE_WITH_TIMEOUT(noAccount, 1, 20000);
    QVERIFY(f.state() & NO_LADDER_ACCN);
    QCOMPARE(f.child<QComboBox>("ladderBox")->count(), 0);
    QCOMPARE(f.child<QComboBox>("userNamesBox")->count(), 0);
    QTRY_COMPARE(closing, 1);
    QTRY_VERIFY(log.contains(QStringLiteral("Closing 6")));
    QTRY_VERIFY(!f.window()->isVisible());
    QVERIFY(!log.contains(QStringLiteral("Closing 4"))); // no sign-up page
}

void TestSelection::lastPlayerSettingPicksTheAccount()
{
    FlowFixture f;
    QVERIFY(f.prepare());
    QSettings settings;
    settings.setValue(QStringLiteral("accessToken"), QStringLiteral("token-alice"));
    settings.setValue(QStringLiteral("yr/lastPlayer"), 104);
    f.openWindow();
    QVERIFY(f.waitReady());
    auto *accounts = f.child<QComboBox>("userNamesBox");
    QCOMPARE(accounts->count(), 2);
    QCOMPARE(accounts->currentText(), QStringLiteral("AliceToo"));
    QCOMPARE(f.window()->api()->currentPlayer()->id, 104);
    accounts->setCurrentIndex(accounts->findText(QStringLiteral("Alice")));
    QCOMPARE(f.window()->api()->currentPlayer()->id, 101);
    QCOMPARE(QSettings().value(QStringLiteral("yr/lastPlayer")).toInt(), 101);
}

void TestSelection::vetoesAndSides()
{
    FlowFixture f;
    QVERIFY(f.startReady());
    auto *maps = f.child<QTableWidget>("mapsList");
    auto *sides = f.child<QComboBox>("sideBox");
    QCOMPARE(sides->currentText(), QStringLiteral("Random"));
    QCOMPARE(rowTexts(maps), (QStringList{"Arena of Glass", "Coldwater Ford", "Rusted Basin"}));

    // Two vetoes on this ladder: the third rejection snaps back.
    for (int row = 0; row < 3; ++row)
        rowBox(maps, row)->setCurrentText(QStringLiteral("Rejected"));
    QCOMPARE(rowBox(maps, 0)->currentText(), QStringLiteral("Rejected"));
    QCOMPARE(rowBox(maps, 1)->currentText(), QStringLiteral("Rejected"));
    QCOMPARE(rowBox(maps, 2)->currentText(), QStringLiteral("Random"));
    QCOMPARE(mapSideOfRow(f, 0), -2);
    QCOMPARE(mapSideOfRow(f, 1), -2);
    QVERIFY(mapSideOfRow(f, 2) != -2);
    QVERIFY(!(maps->item(0, 1)->flags() & Qt::ItemIsEnabled));
    QVERIFY(maps->item(2, 1)->flags() & Qt::ItemIsEnabled);
    rowBox(maps, 0)->setCurrentText(QStringLiteral("Korea"));
    QVERIFY(maps->item(0, 1)->flags() & Qt::ItemIsEnabled);
    QCOMPARE(mapSideOfRow(f, 0), 1); // Korea's number in the game

    // America is allowed on every map; Germany not on Twin Spires, which is
    // still handed to the downloader.
    sides->setCurrentText(QStringLiteral("America"));
    QCOMPARE(maps->rowCount(), 4);
    // Refilled, the table keeps its column titles.
    QCOMPARE(maps->horizontalHeaderItem(0)->text(), QStringLiteral("Side"));
    QCOMPARE(maps->horizontalHeaderItem(1)->text(), QStringLiteral("Map"));
    QCOMPARE(QSettings().value(QStringLiteral("Player101/Side")).toInt(), 2);
    sides->setCurrentText(QStringLiteral("Germany"));
    QCOMPARE(rowTexts(maps), (QStringList{"Arena of Glass", "Coldwater Ford", "Rusted Basin"}));
    QTRY_COMPARE_WITH_TIMEOUT(f.state(), FlowFixture::kReady, 10000);
    QVERIFY(!f.window()->mapDownloader()->mapFilePath(f.mapHash(QStringLiteral("twin.spires.map"))).isEmpty());
    // Each per-map box starts on the main side unless a choice was stored.
    QCOMPARE(rowBox(maps, 2)->currentText(), QStringLiteral("Germany"));
}

void TestSelection::previewsAndStatistics()
{
    FlowFixture f;
    QVERIFY(f.startReady());
    f.window()->resize(1100, 800);
    f.child<QComboBox>("sideBox")->setCurrentText(QStringLiteral("America"));
    auto *maps = f.child<QTableWidget>("mapsList");
    auto *view = f.child<QLabel>("mapViewLabel");
    const QImage defaultImage = QPixmap(QStringLiteral(":/images/logo-icon-dark.png")).toImage();

    // Previews arrive after the maps; wait for the first one's file.
    const QString mapFile = f.window()->mapDownloader()->mapFilePath(f.mapHash(QStringLiteral("arena_of_glass.map")));
    const QString preview = QFileInfo(mapFile).path() + QStringLiteral("/arena_of_glass.png");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(preview), 15000);
    maps->setCurrentCell(0, 1);
    QCOMPARE(f.child<QLabel>("mapDescriptionLabel")->text(), QStringLiteral("Arena of Glass"));
    const QSize natural = view->pixmap(Qt::ReturnByValue).size();
    QVERIFY(view->pixmap(Qt::ReturnByValue).toImage() != defaultImage);
    const QModelIndex cell = maps->model()->index(0, 1);
    emit maps->doubleClicked(cell);
    const QSize fitted = view->pixmap(Qt::ReturnByValue).size();
    QVERIFY(natural != fitted || QImage(preview).size() != natural);
    emit maps->doubleClicked(cell);
    QCOMPARE(view->pixmap(Qt::ReturnByValue).size(), natural);

    // The sandbox has no preview for Twin Spires.
    const int twin = rowTexts(maps).indexOf(QStringLiteral("Twin Spires"));
    maps->setCurrentCell(twin, 1);
    QCOMPARE(view->pixmap(Qt::ReturnByValue).toImage(), defaultImage);
    QVERIFY(f.child<QLabel>("mapDescriptionLabel")->text().isEmpty());

    Global::instance()->setZantryStats({{QStringLiteral("queuedPlayers"), 3}});
    QCOMPARE(f.child<QLabel>("zantryStatsLabel")->text(), QStringLiteral("   Queued: 3"));
    Global::instance()->setZantryStats({{QStringLiteral("recentMatches"), 12}, {QStringLiteral("queuedPlayers"), 0}});
    QCOMPARE(f.child<QLabel>("zantryStatsLabel")->text(), QStringLiteral("Matches: 12   Queued: 0"));
}

FLOW_TEST_MAIN(TestSelection)
#include "tst_selection.moc"
