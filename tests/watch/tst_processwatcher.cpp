// The watcher against real processes: children started under watched names.
#include "testenv.h"
#include "logcapture.h"

#include "net/global.h"
#include "platform/processlist.h"
#include "watch/processwatcher.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>

namespace {

// A copy of sleep under the given name, so the process shows that name.
QString sleeperNamed(const TestEnv &env, const QString &name)
{
    const QString path = env.filePath(name);
    QFile::remove(path);
    if (!QFile::copy(QStringLiteral("/bin/sleep"), path))
        return QString();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

bool listed(const QString &name, qint64 pid)
{
    const auto processes = Platform::runningProcesses();
    for (const auto &p : processes) {
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
    void listKeptInSettings()
    {
        TestEnv env;
        // An empty stored list gets the defaults, written back sorted.
        QSettings().setValue(QStringLiteral("WatchedProcesses"), QStringList());
        QStringList defaults = ProcessWatcher::defaultWatchedProcs();
        QCOMPARE(ProcessWatcher().watchedProcs(), QSet<QString>(defaults.cbegin(), defaults.cend()));
        defaults.sort();
        QCOMPARE(QSettings().value(QStringLiteral("WatchedProcesses")).toStringList(), defaults);

        QSettings().setValue(QStringLiteral("WatchedProcesses"), QStringList{QStringLiteral("mine.exe")});
        ProcessWatcher watcher;
        QCOMPARE(watcher.watchedProcs(), QSet<QString>{QStringLiteral("mine.exe")});
        watcher.addWatchedProc(QStringLiteral("other.exe"));
        watcher.removeWatchedProc(QStringLiteral("mine.exe"));
        QCOMPARE(QSettings().value(QStringLiteral("WatchedProcesses")).toStringList(), QStringList{QStringLiteral("other.exe")});
    }

    void listingShowsExecutableAndWineNames()
    {
        TestEnv env;
        QVERIFY(listed(QStringLiteral("tst_processwatcher"), QCoreApplication::applicationPid()));

        // Under Wine the process is the loader; its first argument is the
        // Windows program's path.
        const QString loader = sleeperNamed(env, QStringLiteral("wine64-preloader"));
        const QString wineName = uniqueName("Launcher.EXE");
        QProcess wine;
        wine.start(QStringLiteral("bash"), {QStringLiteral("-c"), QStringLiteral("exec -a 'C:\\Games\\Lorvane\\%1' '%2' 30")
                                                                      .arg(wineName, loader)});
        QVERIFY(wine.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(listed(wineName, wine.processId()), 5000);
        wine.kill();
        wine.waitForFinished();
    }

    void triggeredThenClearedForRealProcess()
    {
        TestEnv env;
        LogCapture log;
        const QString program = sleeperNamed(env, uniqueName("GAME.EXE"));
        QVERIFY(!program.isEmpty());
        ProcessWatcher watcher;
        watcher.setWatchedProcs({uniqueName("game.exe"), QStringLiteral("no-such-program.exe")});
        QSignalSpy triggered(&watcher, &ProcessWatcher::triggered);
        QSignalSpy cleared(&watcher, &ProcessWatcher::cleared);

        // The program's own children are its game: never a reason to pause.
        QProcess own;
        own.start(program, {QStringLiteral("30")});
        QVERIFY(own.waitForStarted());
        watcher.setInterval(50);
        watcher.start();
        QTest::qWait(300);
        QCOMPARE(triggered.count(), 0);
        own.kill();
        own.waitForFinished();

        // Started by someone else.
        qint64 pid = 0;
        QVERIFY(QProcess::startDetached(program, {QStringLiteral("30")}, QString(), &pid));
        QTRY_COMPARE_WITH_TIMEOUT(triggered.count(), 1, 5000);
        QVERIFY(watcher.isTriggered());
        QVERIFY(log.contains(uniqueName("GAME.EXE")));

        // Still running: further polls stay quiet.
        QTest::qWait(300);
        QCOMPARE(triggered.count(), 1);
        QCOMPARE(cleared.count(), 0);

        ::kill(pid_t(pid), SIGKILL);
        QTRY_COMPARE_WITH_TIMEOUT(cleared.count(), 1, 5000);
        QVERIFY(!watcher.isTriggered());
    }

    void cheatToolSetsGlobalFlag()
    {
        TestEnv env;
        const QString program = sleeperNamed(env, QStringLiteral("CheatEngine-x86_64.exe"));
        QVERIFY(!program.isEmpty());
        ProcessWatcher watcher;
        watcher.checkProcs();
        QVERIFY(!Global::instance()->cheatToolRunning());

        QProcess tool;
        tool.start(program, {QStringLiteral("30")});
        QVERIFY(tool.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT((watcher.checkProcs(), Global::instance()->cheatToolRunning()), 5000);
        tool.kill();
        QVERIFY(tool.waitForFinished());
        QTRY_VERIFY_WITH_TIMEOUT((watcher.checkProcs(), !Global::instance()->cheatToolRunning()), 5000);
    }
};

QTEST_GUILESS_MAIN(TestProcessWatcher)
#include "tst_processwatcher.moc"
