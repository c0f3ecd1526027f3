// The session flow in the real window against the sandbox service: from a
// stored token or the login form to ready, the service out of reach, the
// queue and its cancel, and the rows of the flow that only show.
#include "flowfixture.h"
#include "logcapture.h"

#include "api/lorvaneapi.h"
#include "maps/mapdownloader.h"
#include "net/global.h"
#include "ui/busywidget.h"
#include "ui/password.h"
#include "ui/warningdialog.h"
#include "ui/waitingdialog.h"

#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QtTest>

using namespace Zantry;

class TestSessionFlow : public QObject
{
    Q_OBJECT
private slots:
    void storedTokenToReadyQueueAndBack();
    void loginFormWrongThenRightPassword();
    void unreachableServiceShowsWarning();
    void unmatchedFlagSetShowsContacting();
};

// One window from the stored token through the queue: ready, queue and
// cancel, a broken answer back to ready, and queueing again.
void TestSessionFlow::storedTokenToReadyQueueAndBack()
{
    FlowFixture f;
    QVERIFY(f.startReady());
    auto *button = f.child<QPushButton>("mainButton");
    auto *status = f.child<QLabel>("statusLabel");
    QCOMPARE(button->text(), QStringLiteral("Zantry!"));
    QCOMPARE(status->text(), QStringLiteral("Zantry"));
    QVERIFY(f.window()->isVisible());
    QVERIFY(!f.window()->findChild<Password *>()->isVisible());
    // Random is allowed on three of the four maps; all four were scanned.
    QCOMPARE(f.child<QTableWidget>("mapsList")->rowCount(), 3);
    for (const char *file : {"arena_of_glass.map", "twin.spires.map"})
        QVERIFY2(!f.window()->mapDownloader()->mapFilePath(f.mapHash(QString::fromLatin1(file))).isEmpty(), file);
    QCOMPARE(f.child<QComboBox>("userNamesBox")->currentText(), QStringLiteral("Alice"));

    QVERIFY(f.clickMainButton(FlowFixture::kReady | MATCHUP_WAITFOR));
    QTRY_COMPARE(button->text(), QStringLiteral("Cancel"));
    QVERIFY(button->isEnabled());
    QCOMPARE(status->text(), QStringLiteral("Searching for a matchup..."));
    QVERIFY(!f.child<QComboBox>("userNamesBox")->isEnabled());
    QVERIFY(f.window()->findChild<WaitingDialog *>()->isVisible());
    QVERIFY(f.clickMainButton(FlowFixture::kReady));
    QTRY_COMPARE(button->text(), QStringLiteral("Zantry!"));
    const QJsonArray quits = f.journal(QStringLiteral("quits"));
    QCOMPARE(quits.size(), 1);
    QCOMPARE(quits.at(0).toObject().value(QStringLiteral("username")).toString(), QStringLiteral("Alice"));

    // The next poll meets a maintenance page instead of an answer.
    QVERIFY(f.clickMainButton(FlowFixture::kReady | MATCHUP_WAITFOR));
    QVERIFY(f.sandbox().control(QStringLiteral("fail"), QStringLiteral("path=/api/v1/zantry/yr/Alice&status=503")));
    QTRY_COMPARE_WITH_TIMEOUT(f.state(), FlowFixture::kReady, 10000);
    QTRY_COMPARE(status->text(), QStringLiteral("Matchmaking was interrupted. Please queue again."));
    QVERIFY(button->isEnabled());
    QCOMPARE(button->text(), QStringLiteral("Zantry!"));

    QVERIFY(f.sandbox().control(QStringLiteral("fail"), QStringLiteral("path=/api/v1/zantry/yr/Alice&status=0")));
    QVERIFY(f.clickMainButton(FlowFixture::kReady | MATCHUP_WAITFOR));
    QVERIFY(f.clickMainButton(FlowFixture::kReady));
    QTRY_COMPARE(status->text(), QStringLiteral("Zantry"));
}

void TestSessionFlow::loginFormWrongThenRightPassword()
{
    FlowFixture f;
    QVERIFY(f.start(QString()));
    auto *form = f.window()->findChild<Password *>();
    QTRY_VERIFY_WITH_TIMEOUT((f.state() & LOGIN) && form->isVisible(), 10000);
    QVERIFY(!f.window()->isVisible());
    auto *warning = form->findChild<QLabel *>(QStringLiteral("warningLabel"));
    QVERIFY(warning->isHidden());

    form->findChild<QLineEdit *>(QStringLiteral("emailAddress"))->setText(QStringLiteral("alice@sandbox.test"));
    form->findChild<QLineEdit *>(QStringLiteral("password"))->setText(QStringLiteral("wrong"));
    QTest::mouseClick(form->findChild<QPushButton *>(QStringLiteral("loginButton")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(f.state() & LOGIN_FAIL, 10000);
    QTRY_VERIFY(form->isVisible() && warning->isVisible());
    QCOMPARE(warning->text(), QStringLiteral("The Email Address or Password is incorrect"));

    form->findChild<QLineEdit *>(QStringLiteral("password"))->setText(QStringLiteral("alice-pass"));
    QTest::mouseClick(form->findChild<QPushButton *>(QStringLiteral("loginButton")), Qt::LeftButton);
    QVERIFY(f.waitReady());
    QVERIFY(!form->isVisible());
    QCOMPARE(QSettings().value(QStringLiteral("accessToken")).toString().isEmpty(), false);
}

void TestSessionFlow::unreachableServiceShowsWarning()
{
    FlowFixture f;
    QVERIFY(f.start(QStringLiteral("token-alice"), {}, false));
    auto *form = f.window()->findChild<Password *>();
    auto *warning = form->findChild<QLabel *>(QStringLiteral("warningLabel"));
    QTRY_VERIFY_WITH_TIMEOUT(form->isVisible() && warning->isVisible(), 10000);
    QCOMPARE(warning->text(),
             QStringLiteral("LORVANE could not be contacted. Please check your network connection and try again."));
    QCOMPARE(f.state(), quint32(LOGIN_FAIL));
}

void TestSessionFlow::unmatchedFlagSetShowsContacting()
{
    FlowFixture f;
    QVERIFY(f.startReady());
    // Ready with a request and a match at once is no row of the flow.
    f.window()->setStates(MATCHUP_REQUESTED | MATCHUP_FOUND);
    auto *busy = f.window()->findChild<BusyWidget *>();
    QTRY_VERIFY(busy->isVisible());
    QCOMPARE(busy->text(), QStringLiteral("Contacting Lorvane"));
    QVERIFY(!f.child<QPushButton>("mainButton")->isEnabled());
    QVERIFY(f.child<QComboBox>("userNamesBox")->isEnabled());
}

FLOW_TEST_MAIN(TestSessionFlow)
#include "tst_sessionflow.moc"
