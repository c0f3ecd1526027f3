#include "app/startup.h"
#include "app/zantrylog.h"
#include "net/global.h"
#include "testenv.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

namespace {
const QRegularExpression kLine(
    QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}: (Debug|Warning|Critical|Fatal|Info|Unknown): 1\.62: (.*)$)"));

QStringList fileLines(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}
} // namespace

class TestZantryLog : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_env.reset(new TestEnv); }
    void cleanup()
    {
        ZantryLog::instance()->close();
        qInstallMessageHandler(nullptr);
        m_env.reset();
    }

    // A new run replaces the old file; every level has its word, and each
    // line of a multi-line message gets a stamp of its own.
    void linesHaveTheFormatAndLevelWords()
    {
        QDir().mkpath(QStringLiteral("Zantry"));
        {
            QFile old(QStringLiteral("Zantry/zantry-log.txt"));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(10000, 'x'));
        }
        QVERIFY(ZantryLog::instance()->openLogFile(QStringLiteral("Zantry")));
        qDebug() << "plain";
        qWarning() << "warned";
        qCritical() << "critical";
        qInfo() << "info";
        // 7 is inside the enum's range but names no level.
        ZantryLog::instance()->logOutput(QtMsgType(7), QMessageLogContext(), QStringLiteral("odd"));
        qDebug().noquote() << "first\nsecond\n\nfourth";
        const QStringList lines = fileLines(QStringLiteral("Zantry/zantry-log.txt"));
        const QStringList words{"Debug", "Warning", "Critical", "Info", "Unknown", "Debug", "Debug", "Debug", "Debug"};
        const QStringList texts{"plain", "warned", "critical", "info", "odd", "first", "second", "", "fourth"};
        QCOMPARE(lines.size(), texts.size());
        for (int i = 0; i < lines.size(); ++i) {
            const auto m = kLine.match(lines[i]);
            QVERIFY2(m.hasMatch(), qPrintable(lines[i]));
            QCOMPARE(m.captured(1), words[i]);
            QCOMPARE(m.captured(2), texts[i]);
        }
    }

    void concurrentWritersKeepMessagesTogether()
    {
        QBuffer buffer;
        buffer.open(QIODevice::ReadWrite);
        ZantryLog::instance()->setStream(&buffer);
        qInstallMessageHandler(zantryMessageHandler);
        const int threads = 4, messages = 200;
        QList<QThread *> workers;
        for (int t = 0; t < threads; ++t) {
            workers << QThread::create([t]() {
                for (int i = 0; i < messages; ++i)
                    qDebug().noquote() << QStringLiteral("T%1-%2-a\nT%1-%2-b\nT%1-%2-c").arg(t).arg(i);
            });
            workers.last()->start();
        }
        for (QThread *w : workers) {
            QVERIFY(w->wait(20000));
            delete w;
        }
        ZantryLog::instance()->setStream(nullptr);
        const QStringList lines = QString::fromUtf8(buffer.data()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), threads * messages * 3);
        for (int i = 0; i < lines.size(); i += 3) {
            const QString a = kLine.match(lines[i]).captured(2);
            QVERIFY(a.endsWith(QLatin1String("-a")));
            const QString stem = a.left(a.size() - 2);
            QCOMPARE(kLine.match(lines[i + 1]).captured(2), stem + QStringLiteral("-b"));
            QCOMPARE(kLine.match(lines[i + 2]).captured(2), stem + QStringLiteral("-c"));
        }
    }

    void styleSheetFromDataDirWinsAndUnreadableOneIsLogged()
    {
        Startup::initResources();
        QDir().mkpath(QStringLiteral("Zantry"));
        ZantryLog::instance()->openLogFile(QStringLiteral("Zantry"));
        Global::instance()->setDataDir(QDir(QStringLiteral("Zantry")));
        QVERIFY(Startup::loadStyleSheet().contains(QLatin1String("#060606"))); // the built-in one
        QFile user(QStringLiteral("Zantry/mainstyle.qss"));
        QVERIFY(user.open(QIODevice::WriteOnly));
        user.write(QByteArray("QWidget { color: red; }\0ignored", 31));
        user.close();
        QCOMPARE(Startup::loadStyleSheet(), QStringLiteral("QWidget { color: red; }"));

        // A folder of that name exists but cannot be opened as a file, even as root.
        QVERIFY(user.remove());
        QVERIFY(QDir().mkpath(QStringLiteral("Zantry/mainstyle.qss")));
        QCOMPARE(Startup::loadStyleSheet(), QString());
        const QStringList lines = fileLines(QStringLiteral("Zantry/zantry-log.txt"));
        QVERIFY(!lines.isEmpty());
        QVERIFY2(kLine.match(lines.last()).captured(2).startsWith(QLatin1String("error: ")), qPrintable(lines.last()));
    }

private:
    QScopedPointer<TestEnv> m_env;
};

QTEST_MAIN(TestZantryLog)
#include "tst_zantrylog.moc"
