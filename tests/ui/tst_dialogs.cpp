// The dialogs on their own: timers, remembered answers, dragging and the
// signals the main window relies on.
#include "testenv.h"

#include "net/global.h"
#include "ui/clickablelabel.h"
#include "ui/confirmreadydialog.h"
#include "ui/password.h"
#include "ui/titlebar.h"
#include "ui/waitingdialog.h"
#include "ui/warningdialog.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMediaPlayer>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

// Stands in for the browser: collects every URL the program opens.
class UrlSink : public QObject
{
    Q_OBJECT
public:
    UrlSink()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
    }
    ~UrlSink() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

static QPushButton *buttonWithText(QWidget *parent, const QString &text)
{
    const auto buttons = parent->findChildren<QPushButton *>();
    for (QPushButton *button : buttons)
        if (button->text() == text)
            return button;
    return nullptr;
}

static void drag(QWidget *target, QPoint from, QPoint to)
{
    QMouseEvent press(QEvent::MouseButtonPress, target->mapFromGlobal(from), from, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent move(QEvent::MouseMove, target->mapFromGlobal(to), to, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
}

class TestDialogs : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_env.reset(new TestEnv); }
    void cleanup() { m_env.reset(); }

    void waitingDialogTimesOutClosesQuietlyAndRemembersNoThanks()
    {
        WaitingDialog dialog;
        auto *timer = dialog.findChild<QTimer *>(QStringLiteral("touchTimer"));
        QSignalSpy timedOut(&dialog, &WaitingDialog::touchTimedOut);
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        dialog.show();
        timer->start(20);
        QTRY_COMPARE(timedOut.count(), 1);
        QVERIFY(!dialog.isVisible());
        QVERIFY(!timer->isActive());

        dialog.show();
        emit dialog.titleBar()->minimizeClicked();
        QCOMPARE(accepted.count(), 1);

        // Closed by its title bar: not "No Thanks", and no late time-out.
        dialog.show();
        emit dialog.titleBar()->closeButtonClicked();
        QVERIFY(!dialog.isVisible());
        QVERIFY(!dialog.dontShowAgain());
        QVERIFY(!timer->isActive());

        dialog.show();
        QVERIFY(timer->isActive());
        buttonWithText(&dialog, QStringLiteral("No Thanks"))->click();
        QVERIFY(dialog.dontShowAgain());
        QVERIFY(!timer->isActive());
        dialog.show(); // stays hidden from now on
        QVERIFY(!dialog.isVisible());
        QVERIFY(!timer->isActive());
    }

    void confirmReadyCountsDownAndRejectsWhenTimeIsUp()
    {
        QMediaPlayer player;
        Global::instance()->setSoundPlayer(&player);
        ConfirmReadyDialog dialog;
        auto *label = dialog.findChild<QLabel *>(QStringLiteral("countDownLabel"));
        auto *update = dialog.findChild<QTimer *>(QStringLiteral("updateTimer"));
        auto *timeout = dialog.findChild<QTimer *>(QStringLiteral("timeoutTimer"));
        QSignalSpy rejected(&dialog, &QDialog::rejected);

        dialog.show();
        QCOMPARE(label->text(), QStringLiteral("20"));
        QVERIFY(update->isActive() && timeout->isActive());

        // Faster ticks against the real 20 s limit: the label counts down
        // and the reminder is loaded while the player is idle.
        update->start(30);
        QTRY_COMPARE(label->text(), QStringLiteral("19"));
        QCOMPARE(player.media().request().url(), QUrl(QStringLiteral("qrc:/sounds/reminder.wav")));

        timeout->start(60);
        QTRY_COMPARE(rejected.count(), 1);
        QVERIFY(!dialog.isVisible());
        QVERIFY(!update->isActive() && !timeout->isActive());

        // Every showing starts the countdown afresh.
        dialog.show();
        QCOMPARE(label->text(), QStringLiteral("20"));
        QVERIFY(timeout->isActive());
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        buttonWithText(&dialog, QStringLiteral("I'm Ready"))->click();
        QCOMPARE(accepted.count(), 1);
        QVERIFY(!update->isActive() && !timeout->isActive());
        Global::instance()->setSoundPlayer(nullptr);
    }

    void passwordEmitsOnlyRealChanges()
    {
        Password form;
        auto *email = form.findChild<QLineEdit *>(QStringLiteral("emailAddress"));
        auto *password = form.findChild<QLineEdit *>(QStringLiteral("password"));
        QSignalSpy emailChanged(&form, &Password::emailAddressChanged);
        QSignalSpy passwordChanged(&form, &Password::passwordChanged);

        form.setEmailAddress(QStringLiteral("a@b.c"));
        QCOMPARE(emailChanged.count(), 1);
        QCOMPARE(emailChanged.takeFirst().at(0).toString(), QStringLiteral("a@b.c"));
        form.setEmailAddress(QStringLiteral("a@b.c"));
        QCOMPARE(emailChanged.count(), 0);
        // Typing reaches the client when the user logs in, not per key.
        QTest::keyClicks(email, QStringLiteral("x"));
        QCOMPARE(form.emailAddress(), QStringLiteral("a@b.cx"));
        QCOMPARE(emailChanged.count(), 0);

        form.setPassword(QStringLiteral("secret"));
        form.setPassword(QStringLiteral("secret"));
        QCOMPARE(passwordChanged.count(), 1);
        QTest::keyClicks(password, QStringLiteral("!"));
        QCOMPARE(passwordChanged.count(), 2);
        QCOMPARE(passwordChanged.last().at(0).toString(), QStringLiteral("secret!"));
        QCOMPARE(form.password(), QStringLiteral("secret!"));

        form.show();
        QCOMPARE(form.focusWidget(), password);
    }

    void passwordButtonsLinksAndClose()
    {
        UrlSink browser;
        Password form;
        // The link follows the configured site, not a built-in address.
        QVERIFY(form.findChild<QLabel *>(QStringLiteral("troubleLabel"))->text().contains(QLatin1String("http://127.0.0.1:9/password/email")));

        QSignalSpy login(&form, &Password::loginButtonClicked);
        buttonWithText(&form, QStringLiteral("Login"))->click();
        QCOMPARE(login.count(), 1);
        QVERIFY(!form.isVisible());

        buttonWithText(&form, QStringLiteral("Register"))->click();
        QTest::mouseClick(form.findChild<ClickableLabel *>(QStringLiteral("logoLabel")), Qt::LeftButton);
        QCOMPARE(browser.urls, (QList<QUrl>{QUrl(QStringLiteral("http://127.0.0.1:9/auth/register")),
                                            QUrl(QStringLiteral("http://127.0.0.1:9"))}));

        form.show();
        QSignalSpy closed(&form, &Password::closed);
        emit form.titleBar()->closeButtonClicked();
        QCOMPARE(closed.count(), 1);
        QVERIFY(!form.isVisible());
    }

    void warningDialogOffersLogOutForDiscard()
    {
        WarningDialog dialog(QStringLiteral("Are you sure you want to close?"),
                             QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Discard);
        auto *box = dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
        QVERIFY(!box->button(QDialogButtonBox::Discard));
        QVERIFY(box->button(QDialogButtonBox::Yes));
        QPushButton *logOut = buttonWithText(&dialog, QStringLiteral("Log Out"));
        QVERIFY(logOut);

        QSignalSpy accepted(&dialog, &QDialog::accepted);
        dialog.show();
        logOut->click();
        QCOMPARE(accepted.count(), 1);
        QVERIFY(dialog.logOut());
        QVERIFY(!dialog.isVisible());

        dialog.show();
        box->button(QDialogButtonBox::Yes)->click();
        QCOMPARE(accepted.count(), 2);
        QVERIFY(!dialog.logOut());

        // Re-asked without Discard, the extra button is gone.
        dialog.setButtons(QDialogButtonBox::Close);
        QVERIFY(!buttonWithText(&dialog, QStringLiteral("Log Out")));
        QCOMPARE(box->buttons().size(), 1);
    }

    void warningDialogAutoAcceptsAndClearsCache()
    {
        WarningDialog dialog(QStringLiteral("Hello"));
        auto *timer = dialog.findChild<QTimer *>(QStringLiteral("autoAcceptTimer"));
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        QSignalSpy rejected(&dialog, &QDialog::rejected);
        dialog.show();
        dialog.startAutoAccept(20);
        QTRY_COMPARE(accepted.count(), 1);

        dialog.show();
        dialog.startAutoAccept(60000);
        emit dialog.titleBar()->closeButtonClicked();
        QCOMPARE(rejected.count(), 1);
        QVERIFY(!timer->isActive());

        {
            QSettings settings;
            settings.setValue(QStringLiteral("accessToken"), QStringLiteral("t"));
            settings.setValue(QStringLiteral("yr/lastPlayer"), 3);
        }
        dialog.show();
        auto *clear = dialog.findChild<QLabel *>(QStringLiteral("clearDataLabel"));
        QVERIFY(clear->text().contains(QLatin1String("href=\"#clear\"")));
        QVERIFY(clear->text().contains(QLatin1String("Clear Cache")));
        QMetaObject::invokeMethod(clear, "linkActivated", Q_ARG(QString, QStringLiteral("#clear")));
        QCOMPARE(accepted.count(), 2);
        QVERIFY(QSettings().allKeys().isEmpty());
    }

    void draggingMovesTheWindowAndAModalDialogsParent()
    {
        QWidget main;
        main.setGeometry(100, 100, 300, 200);
        main.show();
        WaitingDialog dialog(&main);
        dialog.move(150, 150);
        dialog.show();
        TitleBar *bar = dialog.titleBar();
        const QPoint mainAt = main.pos();
        const QPoint dialogAt = dialog.pos();
        const QPoint grip = bar->mapToGlobal(QPoint(5, 5));

        drag(bar, grip, grip + QPoint(30, 20));
        QCOMPARE(dialog.pos(), dialogAt + QPoint(30, 20));
        QCOMPARE(main.pos(), mainAt); // not modal: moves alone

        dialog.hide();
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
        const QPoint grip2 = bar->mapToGlobal(QPoint(5, 5));
        drag(bar, grip2, grip2 + QPoint(-10, 40));
        QCOMPARE(dialog.pos(), dialogAt + QPoint(20, 60));
        QCOMPARE(main.pos(), mainAt + QPoint(-10, 40));
    }

private:
    QScopedPointer<TestEnv> m_env;
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
