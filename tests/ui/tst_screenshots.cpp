// Renders the main window and every dialog with the built-in style into
// build/screenshots/, and fails on a blank picture or a missing font.
#include "sandbox.h"
#include "testenv.h"

#include "app/startup.h"
#include "net/global.h"
#include "ui/busywidget.h"
#include "ui/confirmreadydialog.h"
#include "ui/mainwindow.h"
#include "ui/password.h"
#include "ui/waitingdialog.h"
#include "ui/warningdialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontInfo>
#include <QLabel>
#include <QLinearGradient>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

namespace {

QString screenshotDir()
{
    return TestEnv::buildDir() + QStringLiteral("/screenshots");
}

// Distinct colours up to a cap; a blank or single-colour picture has one.
int colourCount(const QImage &image, int cap = 64)
{
    QSet<QRgb> seen;
    for (int y = 0; y < image.height(); y += 2) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); x += 2) {
            seen.insert(line[x]);
            if (seen.size() >= cap)
                return cap;
        }
    }
    return seen.size();
}

// The window over a plain desktop, so its glow and rounded corners show.
QImage onDesktop(const QImage &window)
{
    QImage out(window.size(), QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&out);
    QLinearGradient desktop(0, 0, 0, out.height());
    desktop.setColorAt(0, QColor(0x2a, 0x2f, 0x37));
    desktop.setColorAt(1, QColor(0x1b, 0x1e, 0x23));
    painter.fillRect(out.rect(), desktop);
    painter.drawImage(0, 0, window);
    return out;
}

} // namespace

class TestScreenshots : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        // The window talks to the service and reads its game folder: both
        // stay inside the test's own folder and loopback.
        m_env.reset(new TestEnv);
        QVERIFY(!Sandbox::makeGameFolder(QDir::currentPath()).isEmpty());
        Startup::initResources();
        Startup::registerFonts();
        Global::instance()->setDataDir(QDir(QStringLiteral("Zantry")));
        qApp->setStyleSheet(Startup::loadStyleSheet());
        QVERIFY(!qApp->styleSheet().isEmpty());
        QVERIFY(QFontDatabase().families().contains(QStringLiteral("Roboto")));
        QVERIFY(QDir().mkpath(screenshotDir()));
    }

    void mainWindowTabs()
    {
        MainWindow window;
        QCoreApplication::processEvents();
        fillSelection(&window);
        window.show();
        shoot(&window, QStringLiteral("mainwindow-maps"));
        auto *list = window.findChild<QListWidget *>(QStringLiteral("processWatchList"));
        list->clear();
        list->addItems({QStringLiteral("game.exe"), QStringLiteral("quillon.exe"), QStringLiteral("morvel.exe")});
        QMetaObject::invokeMethod(&window, "on_actionSettings_triggered");
        shoot(&window, QStringLiteral("mainwindow-settings"));
    }

    void dialogs()
    {
        Password form;
        form.setEmailAddress(QStringLiteral("player@example.com"));
        form.setPassword(QStringLiteral("hunter22"));
        shoot(&form, QStringLiteral("password"));
        form.setWarning(true);
        shoot(&form, QStringLiteral("password-warning"));

        BusyWidget busy;
        QMovie loader(QStringLiteral(":/images/loader.gif"));
        busy.setMovie(&loader);
        loader.start();
        busy.setText(QStringLiteral("Waiting in Zantry Queue"));
        shoot(&busy, QStringLiteral("busywidget"));

        WarningDialog warning(QStringLiteral("Are you sure you want to close?"),
                              QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Discard);
        shoot(&warning, QStringLiteral("warningdialog"));
        WaitingDialog waiting;
        shoot(&waiting, QStringLiteral("waitingdialog"));
        ConfirmReadyDialog ready;
        shoot(&ready, QStringLiteral("confirmreadydialog"));
        ready.hide();
    }

private:
    std::unique_ptr<TestEnv> m_env;
    static void fillSelection(MainWindow *window)
    {
        window->findChild<QComboBox *>(QStringLiteral("ladderBox"))->addItem(QStringLiteral("Yuri's Revenge 1v1"));
        window->findChild<QComboBox *>(QStringLiteral("userNamesBox"))->addItem(QStringLiteral("Kestrel"));
        window->findChild<QComboBox *>(QStringLiteral("sideBox"))->addItems({QStringLiteral("Allied"),
                                                                            QStringLiteral("Soviet")});
        window->findChild<QLabel *>(QStringLiteral("zantryStatsLabel"))->setText(QStringLiteral("Matches: 12   Queued: 3"));
        auto *maps = window->findChild<QTableWidget *>(QStringLiteral("mapsList"));
        const QStringList names = {QStringLiteral("Glacier Pass"), QStringLiteral("Dune Crossing"),
                                   QStringLiteral("Harbour Lights"), QStringLiteral("Red Canyon"),
                                   QStringLiteral("Twin Rivers"), QStringLiteral("Frostbite")};
        for (const QString &name : names) {
            const int row = maps->rowCount();
            maps->insertRow(row);
            auto *item = new QTableWidgetItem(name);
            item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
            if (row == 3)
                item->setFlags(Qt::ItemIsSelectable); // a rejected map shows greyed
            maps->setItem(row, 1, item);
            auto *side = new QComboBox;
            side->addItems({QStringLiteral("Rejected"), QStringLiteral("Allied"), QStringLiteral("Soviet")});
            side->setCurrentIndex(row == 3 ? 0 : 1 + row % 2);
            maps->setCellWidget(row, 0, side);
            maps->setRowHeight(row, 20);
        }
        maps->resizeColumnsToContents();
        maps->setColumnWidth(0, 110);
        maps->setCurrentCell(1, 1);
        window->findChild<QLabel *>(QStringLiteral("mapDescriptionLabel"))->setText(QStringLiteral("Dune Crossing"));
    }

    static void shoot(QWidget *widget, const QString &name)
    {
        widget->show();
        QCoreApplication::processEvents();
        const QImage image = widget->grab().toImage();
        QVERIFY2(colourCount(image) >= 16, qPrintable(name + QStringLiteral(" is blank")));
        // The style asks for Roboto; a fallback face means the fonts did not load.
        const auto labels = widget->findChildren<QLabel *>();
        QVERIFY(!labels.isEmpty());
        for (QLabel *label : labels)
            QCOMPARE(QFontInfo(label->font()).family(), QStringLiteral("Roboto"));
        QVERIFY(onDesktop(image).save(screenshotDir() + QLatin1Char('/') + name + QStringLiteral(".png")));
    }
};

QTEST_MAIN(TestScreenshots)
#include "tst_screenshots.moc"
