// The log file players attach to their reports: a new run replaces the old
// file, every level has its word, and each line of a message is stamped.
#include "testenv.h"
#include "util/zantrylog.h"

#include <QtTest>

class TestZantryLog : public QObject
{
    Q_OBJECT
private slots:
    void linesHaveTheFormatAndLevelWords()
    {
        TestEnv env;
        QDir().mkpath(QStringLiteral("Zantry"));
        QFile file(QStringLiteral("Zantry/zantry-log.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(10000, 'x')));
        file.close();
        QVERIFY(ZantryLog::instance()->openLogFile(QStringLiteral("Zantry")));
        qDebug() << "plain";
        qWarning() << "warned";
        qCritical() << "critical";
        qInfo() << "info";
        ZantryLog::instance()->logOutput(QtMsgType(7), QMessageLogContext(), QStringLiteral("odd")); // names no level
        qDebug().noquote() << "first\nsecond";
        ZantryLog::instance()->close();
        qInstallMessageHandler(nullptr);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QStringList expected{"Debug: 1.62: plain", "Warning: 1.62: warned", "Critical: 1.62: critical", "Info: 1.62: info",
                                   "Unknown: 1.62: odd", "Debug: 1.62: first", "Debug: 1.62: second"};
        QCOMPARE(lines.size(), expected.size());
        const QRegularExpression stamp(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}: )"));
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(stamp.match(lines[i]).hasMatch() && lines[i].mid(25) == expected[i], qPrintable(lines[i]));
    }
};

QTEST_GUILESS_MAIN(TestZantryLog)
#include "tst_zantrylog.moc"
