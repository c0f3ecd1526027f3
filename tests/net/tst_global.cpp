#include "net/global.h"
#include "logcapture.h"
#include "testenv.h"

#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

// Global is process-wide, so every case leaves the fields it touched as it
// found them, or checks relative to the current value.
class TestGlobal : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_env.reset(new TestEnv);
        // As left by an earlier run, before the registry exists.
        QSettings().setValue(QStringLiteral("AllowP2P"), false);
    }
    void cleanupTestCase() { m_env.reset(); }

    void allowP2PIsReadBackAndPersisted()
    {
        Global *g = Global::instance();
        QCOMPARE(g->allowP2P(), false);
        g->setAllowP2P(true);
        QCOMPARE(QSettings().value(QStringLiteral("AllowP2P")).toBool(), true);
        g->setAllowP2P(false);
        QSettings settings(m_env->settingsFile(), QSettings::NativeFormat);
        QCOMPARE(settings.value(QStringLiteral("AllowP2P")).toBool(), false);
    }

    void publicAddressEmitsOnlyOnChange()
    {
        Global *g = Global::instance();
        LogCapture log;
        QSignalSpy addrSpy(g, qOverload<QHostAddress>(&Global::publicIPChanged));
        QSignalSpy textSpy(g, qOverload<QString>(&Global::publicIPChanged));
        g->setPublicIP(QHostAddress(QStringLiteral("1.2.3.4")));
        g->setPublicIP(QStringLiteral("1.2.3.4"));
        QCOMPARE(addrSpy.count(), 1);
        QCOMPARE(textSpy.count(), 1);
        QCOMPARE(textSpy.at(0).at(0).toString(), QStringLiteral("1.2.3.4"));
        QCOMPARE(log.count(QStringLiteral("Setting m_publicIP to")), 1);

        // An unparsable text becomes the null address: one more change.
        g->setPublicIP(QStringLiteral("not an address"));
        QVERIFY(g->publicIP().isNull());
        QCOMPARE(addrSpy.count(), 2);
    }

    void publicPortTextParsing()
    {
        Global *g = Global::instance();
        g->setPublicPort(ushort(5000));
        QSignalSpy numSpy(g, qOverload<ushort>(&Global::publicPortChanged));
        QSignalSpy textSpy(g, qOverload<QString>(&Global::publicPortChanged));
        // Not a port number: ignored, neither read as 0 nor cut to 16 bits.
        for (const char *bad : {"abc", "70000", "-1"})
            g->setPublicPort(QString::fromLatin1(bad));
        QCOMPARE(g->publicPort(), quint16(5000));
        g->setPublicPort(QString()); // the field cleared
        QCOMPARE(g->publicPort(), quint16(0));
        QCOMPARE(numSpy.count(), 1);
        QCOMPARE(textSpy.at(0).at(0).toString(), QStringLiteral("0"));
        g->setPublicPort(QStringLiteral("0")); // 0 again: silent
        QCOMPARE(numSpy.count(), 1);
    }

    void tunnelTableIsSafeAcrossThreads()
    {
        Global *g = Global::instance();
        QThread *writer = QThread::create([g]() {
            for (int i = 0; i < 2000; ++i) {
                Global::TunnelTable table;
                TunnelServerInfo info;
                info.address = QStringLiteral("127.0.0.%1").arg(i % 200);
                table.insert(info.address, info);
                g->setTunnelServers(table);
            }
        });
        writer->start();
        int seen = 0;
        while (!writer->isFinished()) {
            const Global::TunnelTable copy = g->tunnelServers();
            seen += copy.size() <= 1 ? 1 : 0;
        }
        writer->wait();
        delete writer;
        QVERIFY(seen > 0);
        QCOMPARE(g->tunnelServers().size(), 1);
    }

private:
    QScopedPointer<TestEnv> m_env;
};

QTEST_GUILESS_MAIN(TestGlobal)
#include "tst_global.moc"
