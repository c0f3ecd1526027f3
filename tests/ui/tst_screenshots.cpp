// Renders the main window (maps and settings tabs) and every dialog with the
// built-in style into build/screenshots/, and fails on a blank picture or a
// label not drawn in Roboto (the fonts did not load).
#include "api/servicefault.h"
#include "sandbox.h"
#include "testenv.h"

#include "net/router.h"
#include "net/spawninfo.h"
#include "ui/accountline.h"
#include "ui/appearance.h"
#include "ui/busywidget.h"
#include "ui/confirmreadydialog.h"
#include "ui/connectioncheckpanel.h"
#include "session/zantrystate.h"
#include "ui/mainwindow.h"
#include "ui/password.h"
#include "ui/routeview.h"
#include "ui/traymenu.h"
#include "ui/waitingdialog.h"
#include "ui/warningdialog.h"

#include <QtWidgets>
#include <QtTest>

class TestScreenshots : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;

    static void shoot(QWidget *widget, const QString &name)
    {
        widget->show();
        QCoreApplication::processEvents();
        // Over a plain desktop, so the glow and rounded corners show.
        QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor(0x23, 0x27, 0x2d));
        QPainter(&image).drawImage(0, 0, widget->grab().toImage());
        QSet<QRgb> colours;
        for (int y = 0; y < image.height() && colours.size() < 16; y += 2)
            for (int x = 0; x < image.width(); x += 2)
                colours.insert(image.pixel(x, y));
        QVERIFY2(colours.size() >= 16, qPrintable(name + QStringLiteral(" is blank")));
        for (QLabel *label : widget->findChildren<QLabel *>())
            QCOMPARE(QFontInfo(label->font()).family(), QStringLiteral("Roboto"));
        QVERIFY(image.save(TestEnv::buildDir() + QStringLiteral("/screenshots/") + name + QStringLiteral(".png")));
    }

private slots:
    void initTestCase()
    {
        QApplication::setQuitOnLastWindowClosed(false);
        // The window talks to the service and reads its game folder: both
        // stay inside the test's own folder and loopback.
        m_env.reset(new TestEnv);
        // A game folder under the (test's) home folder, shown as ~/Games/Morvel.
        const QString game = QDir::homePath() + QStringLiteral("/Games/Morvel");
        QVERIFY(!Sandbox::makeGameFolder(game).isEmpty() && QDir::setCurrent(game));
        Appearance::initResources();
        Appearance::registerFonts();
        qApp->setStyleSheet(Appearance::loadStyleSheet(QDir(QStringLiteral("Zantry"))));
        QVERIFY(QDir().mkpath(TestEnv::buildDir() + QStringLiteral("/screenshots")));
    }

    void mainWindowTabs()
    {
        MainWindow window;
        // Past the unreachable service's answer: only the test sets flags.
        QTRY_VERIFY(window.session()->state() & Zantry::LOGIN_FAIL);
        window.session()->unsetStates(Zantry::STATE_ALL);
        auto *maps = window.findChild<QTableWidget *>(QStringLiteral("mapsList"));
        for (const char *name : {"Glacier Pass", "Dune Crossing", "Red Canyon"}) {
            maps->insertRow(maps->rowCount());
            maps->setItem(maps->rowCount() - 1, 1, new QTableWidgetItem(QLatin1String(name)));
        }
        maps->setCurrentCell(1, 1);
        for (const char *box : {"ladderBox", "userNamesBox", "sideBox"})
            window.findChild<QComboBox *>(QLatin1String(box))->addItem(QLatin1String(box[0] == 'l' ? "Morvel 1v1" : box[0] == 'u' ? "Kestrel" : "Allied"));
        window.findChild<AccountLine *>()->setEmailAddress(QStringLiteral("player@example.com"));
        window.findChild<QPushButton *>(QStringLiteral("mainButton"))->setEnabled(true);
        shoot(&window, QStringLiteral("mainwindow-maps"));
        QApplication::setActiveWindow(&window);
        window.findChild<QComboBox *>(QStringLiteral("sideBox"))->setFocus();
        shoot(&window, QStringLiteral("mainwindow-keyboard-focus"));
        QMetaObject::invokeMethod(&window, "on_actionSettings_triggered");
        shoot(window.findChild<QWidget *>(QStringLiteral("settingsTab")), QStringLiteral("mainwindow-settings"));
    }

    // The check's results as a player sees them; its button only at ready.
    void connectionCheck()
    {
        MainWindow window;
        QCoreApplication::processEvents();
        auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("mapWidget"));
        tabs->setCurrentWidget(window.findChild<QWidget *>(QStringLiteral("routeView")));
        QTRY_VERIFY(window.findChild<ConnectionCheckPanel *>());
        auto *panel = window.findChild<ConnectionCheckPanel *>();
        auto *button = panel->findChild<QPushButton *>(QStringLiteral("checkConnectionButton"));
        for (quint32 state : {0u, Zantry::READY_TO_QUEUE | Zantry::MATCHUP_REQUESTED, Zantry::READY_TO_QUEUE}) {
            panel->setSessionState(state);
            QCOMPARE(button->isEnabled(), state == Zantry::READY_TO_QUEUE);
        }
        ConnectionReport good;
        good.serviceReached = good.secure = good.certificateTrusted = true;
        good.serviceText = QStringLiteral("HTTP 200 in 84 ms");
        good.tunnels = {{QStringLiteral("Frankfurt"), {}, 23}, {QStringLiteral("Amsterdam"), {}, 31}, {QStringLiteral("Dallas"), {}, 118}};
        good.publicIP = QHostAddress(QStringLiteral("203.0.113.57"));
        good.seenPorts = {51143, 51143};
        good.ports = ConnectionReport::Ports::OneForAll;
        good.mappingNote = QStringLiteral("no UPnP-IGD answered; no NAT-PMP answer");
        ConnectionReport symmetric = good;
        symmetric.seenPorts = {40312, 58817};
        symmetric.ports = ConnectionReport::Ports::OnePerDestination;
        ConnectionReport blocked = good;
        for (auto &tunnel : blocked.tunnels)
            tunnel.rttMs = -1;
        blocked.seenPorts.clear();
        blocked.ports = ConnectionReport::Ports::Unknown;
        blocked.publicIP = QHostAddress();
        const QList<QPair<QString, ConnectionReport>> shots{
            {QStringLiteral("connection-check-good"), good},
            {QStringLiteral("connection-check-symmetric"), symmetric},
            {QStringLiteral("connection-check-no-tunnel"), blocked}};
        // Bigger than the tab, so that the whole table shows.
        ConnectionCheckPanel alone(nullptr);
        alone.setSessionState(Zantry::READY_TO_QUEUE);
        alone.resize(900, 430);
        for (const auto &shot : shots) {
            alone.showReport(shot.second);
            shoot(&alone, shot.first);
        }
    }

    // Figures of a measurement under way are not shown as if final.
    void routeViewMeasuring()
    {
        SpawnInfo spawn;
        spawn.uiMapName = QStringLiteral("Rusted Basin");
        spawn.others.insert(QStringLiteral("Bob"), QJsonObject{{QStringLiteral("Name"), QStringLiteral("Bob")}});
        RouteStatus bob;
        bob.id = nameHash(QStringLiteral("Bob"));
        bob.reached = true;
        bob.path = IPEndpoint(QHostAddress(QStringLiteral("127.0.0.1")), 50000);
        bob.rtt = 0;
        bob.lossPct = 0;
        RouteView view;
        view.resize(640, 220);
        const auto cells = [&view] {
            const QTableWidget *table = view.findChild<QTableWidget *>();
            return QStringList{table->item(0, 3)->text(), table->item(0, 4)->text()};
        };
        view.showReport(RouteReport{Router::PING, {bob}}, spawn, {});
        QCOMPARE(cells(), (QStringList{QStringLiteral("\u2014"), QStringLiteral("\u2014")}));
        shoot(&view, QStringLiteral("route-view-measuring"));
        bob.rtt = 42;
        view.showReport(RouteReport{Router::READY, {bob}}, spawn, {});
        QCOMPARE(cells(), (QStringList{QStringLiteral("42 ms"), QStringLiteral("0 %")}));
    }

    void dialogs()
    {
        // A short screen (the offscreen one is 800x600) gets the compact form,
        // and its example address another colour than a typed one.
        Password form;
        auto *email = form.findChild<QLineEdit *>(QStringLiteral("emailAddress"));
        const QImage hint = email->grab().toImage();
        email->setText(email->placeholderText());
        QVERIFY(form.property("compact").toBool() && email->grab().toImage() != hint);
        form.setEmailAddress(QStringLiteral("player@example.com"));
        form.setWarning(true);
        shoot(&form, QStringLiteral("password-warning"));
        // The longest text the form gets: a certificate nobody vouches for.
        form.setWarningText(ServiceFault{ServiceFault::Certificate, QStringLiteral("The certificate is self-signed, and untrusted"), 0}.message()
                            + QStringLiteral(" Trying again in 8 s."));
        form.resize(form.minimumSizeHint());
        shoot(&form, QStringLiteral("password-fault"));
        BusyWidget busy;
        busy.setText(QStringLiteral("Waiting in Zantry Queue"));
        shoot(&busy, QStringLiteral("busywidget"));
        WarningDialog warning(QStringLiteral("Are you sure you want to close?"),
                              QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Discard);
        shoot(&warning, QStringLiteral("warningdialog"));
        WaitingDialog waiting;
        shoot(&waiting, QStringLiteral("waitingdialog"));
        TrayMenu tray;
        tray.setStatusLine(QStringLiteral("Waiting in Zantry Queue"));
        shoot(&tray, QStringLiteral("tray-menu"));
        WarningDialog prefix(QStringLiteral("~/empty is not a Wine prefix (it has no system.reg). The game runs there only once "
                                            "Wine has made a prefix in it."),
                             QDialogButtonBox::Ok);
        shoot(&prefix, QStringLiteral("wine-prefix-warning"));
        ConfirmReadyDialog ready(nullptr);
        shoot(&ready, QStringLiteral("confirmreadydialog"));
        ready.hide();
    }
};

QTEST_MAIN(TestScreenshots)
#include "tst_screenshots.moc"
