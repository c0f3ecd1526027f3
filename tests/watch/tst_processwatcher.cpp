// The watcher against real processes: copies of sleep started under watched
// names, by this program (its own game) or from elsewhere, and under Wine's
// loader naming. The pause it causes is the user-road suite's.
#include "testenv.h"

#include "platform/processlist.h"
#include "watch/processwatcher.h"

#include <QtTest>

#include <csignal>

namespace {

// A copy of sleep under the given name, so the process shows that name.
QString sleeperNamed(const TestEnv &env, const QString &name)
{
    const QString path = env.filePath(name);
    QFile::remove(path);
    return QFile::copy(QStringLiteral("/bin/sleep"), path) ? path : QString();
}

bool listed(const QString &name, qint64 pid)
{
    for (const auto &p : Platform::runningProcesses()) {
        if (p.pid == quint32(pid))
            return p.name == name;
    }
    return false;
}

// Unique per run: other people's tests on this machine run their own games.
QString uniqueName(const char *base)
{
    return QStringLiteral("zw%1-%2").arg(QCoreApplication::applicationPid()).arg(QLatin1String(base));
}

} // namespace

class TestProcessWatcher : public QObject
{
    Q_OBJECT
private slots:
    // Under Wine the process is the loader; its first argument is the
    // Windows program's path, and that is the name listed.
    void listingShowsExecutableAndWineNames()
    {
        TestEnv env;
        QVERIFY(listed(QStringLiteral("tst_processwatcher"), QCoreApplication::applicationPid()));
        const QString loader = sleeperNamed(env, QStringLiteral("wine64-preloader"));
        const QString wineName = uniqueName("Launcher.EXE");
        QProcess wine;
        wine.start(QStringLiteral("bash"), {QStringLiteral("-c"), QStringLiteral("exec -a 'C:\\Games\\Lorvane\\%1' '%2' 30").arg(wineName, loader)});
        QVERIFY(wine.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(listed(wineName, wine.processId()), 5000);
        wine.kill();
        wine.waitForFinished();
    }

    // The program's own children are its game, never a reason to pause; one
    // started elsewhere triggers once (names match without case) and clears
    // when it ends.
    void triggeredThenClearedForRealProcess()
    {
        TestEnv env;
        const QString program = sleeperNamed(env, uniqueName("GAME.EXE"));
        QVERIFY(!program.isEmpty());
        ProcessWatcher watcher;
        watcher.setWatchedProcs({QStringLiteral("no-such-program.exe")});
        watcher.addWatchedProc(uniqueName("game.exe"));
        QSignalSpy triggered(&watcher, &ProcessWatcher::triggered), cleared(&watcher, &ProcessWatcher::cleared);
        QProcess own;
        own.start(program, {QStringLiteral("30")});
        QVERIFY(own.waitForStarted());
        watcher.setInterval(50);
        watcher.start();
        QTest::qWait(300);
        QCOMPARE(triggered.count(), 0);
        own.kill();
        own.waitForFinished();

        qint64 pid = 0;
        QVERIFY(QProcess::startDetached(program, {QStringLiteral("30")}, QString(), &pid));
        QTRY_COMPARE_WITH_TIMEOUT(triggered.count(), 1, 5000);
        QVERIFY(watcher.isTriggered());
        QTest::qWait(300);
        QCOMPARE(triggered.count(), 1);
        QCOMPARE(cleared.count(), 0);
        // No longer watched, it no longer pauses.
        watcher.removeWatchedProc(uniqueName("game.exe"));
        QTRY_COMPARE_WITH_TIMEOUT(cleared.count(), 1, 5000);
        QVERIFY(!watcher.isTriggered());
        ::kill(pid_t(pid), SIGKILL);
    }


};

QTEST_GUILESS_MAIN(TestProcessWatcher)
#include "tst_processwatcher.moc"
