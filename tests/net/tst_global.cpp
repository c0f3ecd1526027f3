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

    void storedAllowP2PIsReadAtConstruction() { QCOMPARE(Global::instance()->allowP2P(), false); }

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
        g->setPublicPort(QStringLiteral("abc"));
        QCOMPARE(g->publicPort(), quint16(0));
        QCOMPARE(numSpy.count(), 1);
        QCOMPARE(textSpy.at(0).at(0).toString(), QStringLiteral("0"));
        g->setPublicPort(QStringLiteral("abc")); // 0 again: silent
        QCOMPARE(numSpy.count(), 1);
        g->setPublicPort(QStringLiteral("70000")); // low 16 bits
        QCOMPARE(g->publicPort(), quint16(70000 & 0xffff));
    }

    void localFieldsAndTheirSignals()
    {
        Global *g = Global::instance();
        QSignalSpy ipSpy(g, &Global::localIPChanged);
        g->setLocalIP(QHostAddress(QStringLiteral("10.1.2.3")));
        QCOMPARE(g->localIP(), QHostAddress(QStringLiteral("10.1.2.3")));
        QCOMPARE(ipSpy.count(), 0); // silent by design

        QSignalSpy portSpy(g, &Global::localPortChanged);
        g->setLocalPort(51150);
        g->setLocalPort(51150);
        QCOMPARE(portSpy.count(), 1);

        QSignalSpy v6Spy(g, &Global::localIPv6Changed);
        g->setLocalIPv6(QHostAddress(QStringLiteral("2001:db8::1")));
        g->setLocalIPv6(QHostAddress(QStringLiteral("2001:db8::1")));
        QCOMPARE(v6Spy.count(), 1);
    }

    void allowP2PIsPersisted()
    {
        Global *g = Global::instance();
        g->setAllowP2P(false);
        QCOMPARE(g->allowP2P(), false);
        QSettings settings(m_env->settingsFile(), QSettings::NativeFormat);
        QCOMPARE(settings.value(QStringLiteral("AllowP2P")).toBool(), false);
        g->setAllowP2P(true);
        QCOMPARE(QSettings().value(QStringLiteral("AllowP2P")).toBool(), true);
    }

    void statsAlwaysEmitAndQueryPortsDefault()
    {
        Global *g = Global::instance();
        QCOMPARE(g->queryPorts(), (QList<quint16>{8054, 3478}));
        QSignalSpy spy(g, &Global::zantryStatsChanged);
        Global::Stats stats{{QStringLiteral("queuedPlayers"), 3}};
        g->setZantryStats(stats);
        g->setZantryStats(stats);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(g->zantryStats().value(QStringLiteral("queuedPlayers")).toInt(), 3);
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
