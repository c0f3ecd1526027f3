// The session without a window, driven the way the bot drives it, against
// the sandbox service: its phases, its signals and its requests.
#include "flowfixture.h"

#include "api/lorvaneapi.h"
#include "session/session.h"
#include "spawn/gamecatalogue.h"
#include "util/endpoints.h"
#include "util/settings.h"

#include <QSignalSpy>
#include <QtTest>

using Phase = Session::Phase;

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void queueLeaveAndLeaveToEnd();
};

namespace {

// Starts a session in the fixture's game folder with alice's stored token
// and records every phase it shows.
struct Driven
{
    Session session{Session::Options()};
    QList<Phase> phases;

    Driven()
    {
        session.games()->discover();
        session.games()->setCurrent(session.games()->localGame());
        QObject::connect(&session, &Session::phaseShown, [this](Phase phase) { phases << phase; });
        session.start();
        LorvaneAPI *api = session.api();
        QObject::connect(api, &LorvaneAPI::playersChanged, [api]() {
            for (Player *player : api->players()) {
                if (player->ladder) {
                    api->setCurrentPlayer(player->id);
                    return;
                }
            }
        });
        QObject::connect(api, &LorvaneAPI::currentPlayerMapsChanged, [this, api]() {
            QStringList hashes;
            for (const Map *map : qAsConst(api->currentPlayer()->ladder->maps))
                hashes << map->hash;
            session.setWantedMaps(hashes);
        });
    }
    bool waitFor(Phase phase, int ms = 20000)
    {
        return QTest::qWaitFor([this, phase] { return session.phase() == phase; }, ms);
    }
};

} // namespace

void TestSession::queueLeaveAndLeaveToEnd()
{
    FlowFixture f;
    QVERIFY(f.prepare());
    Settings::setAccessToken(QStringLiteral("token-alice"));
    Driven d;
    d.session.connectTo(Endpoints::instance().apiUrl());
    QVERIFY(d.waitFor(Phase::Ready));
    // Logged in with the stored token: no login form on the way, lists
    // loaded before the maps were settled.
    QVERIFY(!d.phases.contains(Phase::Login));
    QVERIFY(d.phases.indexOf(Phase::Loaded) < d.phases.indexOf(Phase::Ready));

    d.session.pressMainButton();
    QVERIFY(d.waitFor(Phase::Queued));
    QTRY_COMPARE_WITH_TIMEOUT(f.journal(QStringLiteral("queue")).size(), 1, 10000);
    // The same press while queued leaves the queue and returns to ready.
    d.session.pressMainButton();
    QVERIFY(d.waitFor(Phase::Ready));
    QCOMPARE(f.journal(QStringLiteral("quits")).size(), 1);
    QVERIFY(!d.session.queueInterrupted());

    // Leaving to end: the service confirms, and the session says so
    // instead of going back to ready.
    QSignalSpy ended(&d.session, &Session::queueLeftToEnd);
    d.session.pressMainButton();
    QVERIFY(d.waitFor(Phase::Queued));
    d.session.leaveQueueToEnd();
    QVERIFY(ended.wait(10000));
    QCOMPARE(f.journal(QStringLiteral("quits")).size(), 2);
    QTest::qWait(300);
    QCOMPARE(d.session.phase(), Phase::Queued);
}

FLOW_TEST_MAIN(TestSession)
#include "tst_session.moc"
