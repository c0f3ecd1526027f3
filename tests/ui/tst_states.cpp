// The session flag set: the only writers, their log texts, the status bar
// names and when the flow is asked to run.
#include "logcapture.h"
#include "sandbox.h"
#include "testenv.h"
#include "net/global.h"
#include "ui/mainwindow.h"
#include "watch/processwatcher.h"
#include "ui/warningdialog.h"

#include <QSignalSpy>
#include <QStatusBar>
#include <QtTest>

using namespace Zantry;

class TestStates : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_env.reset(new TestEnv);
        // From a game folder, and past the unreachable service's answer, so
        // that only the test changes the flags.
        QVERIFY(!Sandbox::makeGameFolder(QDir::currentPath()).isEmpty());
        // Other tests' games run beside this one.
        Global::instance()->processWatcher()->setWatchedProcs({QStringLiteral("no-such-game.exe")});
        m_window.reset(new MainWindow);
        QTRY_VERIFY(m_window->state() & LOGIN_FAIL);
        m_window->unsetStates(STATE_ALL);
        QCoreApplication::processEvents();
        // A click outside the ready state closes the window; its question
        // is answered "no" so the next row has a window.
        auto *answer = new QTimer(m_window.data());
        connect(answer, &QTimer::timeout, m_window.data(), [window = m_window.data()] {
            for (WarningDialog *dialog : window->findChildren<WarningDialog *>())
                if (dialog->isVisible())
                    dialog->reject();
        });
        answer->start(20);
    }
    void cleanup()
    {
        m_window.reset();
        m_env.reset();
    }

    void namesOfFlagSets()
    {
        QCOMPARE(stateNames(0x88), QByteArray("LOGGED_IN|PLAYERS_LOADED"));
        QCOMPARE(stateNames(0), QByteArray());
        QVERIFY(stateNames(STATE_ALL).endsWith("|STATE_ALL"));
        QVERIFY(!stateNames(0x80000001).contains("STATE_ALL"));
        QCOMPARE(stateNames(0x10), QByteArray()); // unnamed bits
    }

    // Set and unset log old and new names (each with its own spacing) and
    // emit only on a real change; clearing alone does not re-run the flow.
    void setUnsetAndIgnoredChanges()
    {
        LogCapture log;
        QSignalSpy setSpy(m_window.data(), &MainWindow::newStatesSet);
        QSignalSpy unsetSpy(m_window.data(), &MainWindow::statesUnset);
        m_window->setStates(0x88);
        QCOMPARE(setSpy.count(), 1);
        QVERIFY(log.contains(QStringLiteral("old state =  new state =LOGGED_IN|PLAYERS_LOADED")));
        QCOMPARE(statusText(), QStringLiteral("LOGGED_IN|PLAYERS_LOADED"));

        m_window->setStates(LOGGED_IN);
        m_window->setStates(0);
        m_window->unsetStates(MAPS_LOADED);
        QCOMPARE(setSpy.count(), 1);
        QCOMPARE(unsetSpy.count(), 0);
        QVERIFY(log.contains(QStringLiteral("Set to state ignored: 0x8")));
        QVERIFY(log.contains(QStringLiteral("Set to state ignored: 0x0")));
        QVERIFY(log.contains(QStringLiteral("unSet to state ignored: 0x100")));

        m_window->unsetStates(PLAYERS_LOADED);
        QCOMPARE(unsetSpy.count(), 1);
        QCOMPARE(setSpy.count(), 1);
        QVERIFY(log.contains(QStringLiteral("unset: old state = LOGGED_IN|PLAYERS_LOADED new state = LOGGED_IN")));
        QCOMPARE(m_window->state(), quint32(LOGGED_IN));
    }

    void transitions_data()
    {
        QTest::addColumn<quint32>("before");
        QTest::addColumn<QString>("slot");
        QTest::addColumn<quint32>("after");
        QTest::addColumn<int>("flowRuns");
        const quint32 loaded = LOGGED_IN | LADDERS_LOADED | PLAYERS_LOADED;
        QTest::newRow("api failed leaves only API_FAILED") << (loaded | MATCHUP_WAITFOR) << "setApiFailed" << quint32(API_FAILED) << 1;
        QTest::newRow("login keeps loading flags") << (loaded | API_FAILED | INITIAL) << "setLogin" << (loaded | LOGIN) << 1;
        QTest::newRow("login attempted") << quint32(LOGIN | LOGIN_FAIL) << "setLoginAttempted" << quint32(LOGIN_ATTEMPTED) << 1;
        QTest::newRow("login failed") << quint32(LOGIN_ATTEMPTED | API_FAILED) << "setLoginFailed" << quint32(LOGIN_FAIL) << 1;
        QTest::newRow("logged in") << quint32(LOGIN | LOGIN_ATTEMPTED | LOGIN_FAIL | API_FAILED) << "setLoggedIn" << quint32(LOGGED_IN) << 1;
        QTest::newRow("matchup cancelled from nothing still runs the flow") << loaded << "unsetMatchupRequested" << loaded << 1;
        QTest::newRow("matchup cancelled clears match and network")
            << (loaded | MATCHUP_FOUND | NETWORK_READY | NETWORK_FIND_STARTED) << "unsetMatchupRequested" << loaded << 1;
        QTest::newRow("network failed") << (loaded | MATCHUP_FOUND | NETWORK_PERF_STARTED) << "setNetworkFailed" << loaded << 1;
        QTest::newRow("network ready") << (loaded | MATCHUP_FOUND | NETWORK_PERF_STARTED) << "setNetworkReady" << (loaded | MATCHUP_FOUND | NETWORK_READY) << 1;
        QTest::newRow("wait for match") << (loaded | MATCHUP_REQUESTED) << "setMatchupWaitFor" << (loaded | MATCHUP_WAITFOR) << 1;
        QTest::newRow("match found") << (loaded | MATCHUP_WAITFOR) << "setMatchupFound" << (loaded | MATCHUP_FOUND) << 1;
        QTest::newRow("map scan finished") << (loaded | MAP_DLSCAN_STARTED) << "setMapDLFinished" << (loaded | MAP_DLSCAN_FINISHED) << 1;
        QTest::newRow("game finished") << (loaded | GAME_SPAWNED) << "setGameFinished" << (loaded | GAME_FINISHED) << 1;
        QTest::newRow("initial") << loaded << "setStateInitial" << quint32(INITIAL) << 1;
    }

    // The flow consumes a click on its next run; until then a second one
    // changes nothing and asks for no second run.
    void secondClickBeforeTheFlowRunsIsIgnored()
    {
        LogCapture log;
        QSignalSpy spy(m_window.data(), &MainWindow::newStatesSet);
        m_window->setMainButtonClicked();
        m_window->setMainButtonClicked();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(m_window->state(), quint32(MAIN_BUTTON_CLICKED));
        QVERIFY(log.contains(QStringLiteral("Set to state ignored: 0x400000")));
    }

    void transitions()
    {
        QFETCH(quint32, before);
        QFETCH(QString, slot);
        QFETCH(quint32, after);
        QFETCH(int, flowRuns);
        m_window->setStates(before);
        QCoreApplication::processEvents();
        LogCapture log;
        QVERIFY(QMetaObject::invokeMethod(m_window.data(), slot.toLatin1().constData(), Qt::DirectConnection));
        QCOMPARE(m_window->state(), after);
        // The flow runs later, on the event loop, once per emission.
        QCOMPARE(log.count(QStringLiteral("Running States changed: ")), 0);
        QCoreApplication::processEvents();
        QCOMPARE(log.count(QStringLiteral("Running States changed: ")), flowRuns);
    }

private:
    QString statusText() const { return m_window->statusBar()->currentMessage(); }
    QScopedPointer<TestEnv> m_env;
    QScopedPointer<MainWindow> m_window;
};

QTEST_MAIN(TestStates)
#include "tst_states.moc"
