// The real program, started as a user would: in an empty game folder,
// offscreen, with its log read back.
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void startsInEmptyFolderAndLogsSelfHash()
    {
        TestEnv env;
        QProcess sha1sum;
        sha1sum.start(QStringLiteral("sha1sum"), {TestEnv::zantryPath()});
        QVERIFY(sha1sum.waitForFinished(10000));
        const QString expected = QString::fromLatin1(sha1sum.readAllStandardOutput().left(40));
        QCOMPARE(expected.size(), 40);

        QDir().mkpath(QStringLiteral("Zantry"));
        QFile old(QStringLiteral("Zantry/zantry-log.txt"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("a line of an earlier run\n");
        old.close();

        QProcess zantry;
        zantry.setProcessEnvironment(env.clientEnvironment());
        zantry.start(TestEnv::zantryPath(), {});
        QVERIFY(zantry.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile(QStringLiteral("Zantry/zantry-log.txt")).size() > 100, 10000);
        QTest::qWait(300);
        QCOMPARE(zantry.state(), QProcess::Running); // keeps running
        zantry.terminate();
        QVERIFY(zantry.waitForFinished(10000));
        QCOMPARE(zantry.exitStatus(), QProcess::NormalExit);

        QFile log(QStringLiteral("Zantry/zantry-log.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(log.readAll());
        QVERIFY(!text.contains(QLatin1String("earlier run")));
        const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(lines.size() >= 2);
        QVERIFY(lines[0].endsWith(QLatin1String(": Debug: 1.62: Log file Initialized")));
        QCOMPARE(lines[1].section(QStringLiteral(": Debug: 1.62: "), 1),
                 QStringLiteral("Self hashed to \"%1\"").arg(expected));
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
