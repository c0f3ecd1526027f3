// The internet detector against the sandbox's name server on loopback:
// answering, "not found" and silent.
#include "app/endpoints.h"
#include "sandbox.h"
#include "watch/internetdetector.h"

#include <QSignalSpy>
#include <QtTest>

class TestInternetDetector : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_env.reset(new TestEnv);
        QVERIFY2(m_sandbox.start(), qPrintable(m_sandbox.errorText()));
        m_env->setEndpoints(m_sandbox.endpoints());
    }
    void cleanupTestCase()
    {
        m_sandbox.stop();
        m_env.reset();
    }

    void countsAnswers_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("counted");
        QTest::newRow("answering") << "answer" << true;
        QTest::newRow("not found still counts") << "nxdomain" << true;
        QTest::newRow("silent") << "silent" << false;
    }

    void countsAnswers()
    {
        QFETCH(QString, mode);
        QFETCH(bool, counted);
        QVERIFY(m_sandbox.control(QStringLiteral("dns"), QStringLiteral("mode=") + mode));

        InternetDetector detector;
        QSignalSpy answered(&detector, &InternetDetector::pinged);
        detector.setInterval(50);
        detector.start();
        QTRY_VERIFY_WITH_TIMEOUT(detector.sent() >= 5, 5000);
        detector.stop();
        const int sent = detector.sent();
        if (counted) {
            QTRY_COMPARE_WITH_TIMEOUT(detector.received(), sent, 5000);
        } else {
            QTest::qWait(300);
            QCOMPARE(detector.received(), 0);
            QCOMPARE(answered.count(), 0);
        }
    }

    void queriesTheConfiguredHostOnly()
    {
        QVERIFY(m_sandbox.control(QStringLiteral("dns"), QStringLiteral("mode=answer")));
        const QByteArray query = InternetDetector::buildQuery(0x4242, Endpoints::instance().pingHost());
        // id, flags RD, one question, QNAME labels, A, IN
        QCOMPARE(query.left(6), QByteArray::fromHex("424201000001"));
        QVERIFY(query.contains("\x04ping\x07sandbox\x04test\x00"));
        QVERIFY(query.endsWith(QByteArray::fromHex("00010001")));

        quint16 id = 0;
        InternetDetector::Answer answer;
        QVERIFY(!InternetDetector::parseReply(query, &id, &answer)); // a query is no reply
        QVERIFY(!InternetDetector::parseReply(QByteArray(11, '\x80'), &id, &answer));
        QByteArray refused = query;
        refused[2] = char(0x81);
        refused[3] = char(0x85);
        QVERIFY(InternetDetector::parseReply(refused, &id, &answer));
        QCOMPARE(id, quint16(0x4242));
        QVERIFY(!InternetDetector::counts(answer));
    }

private:
    QScopedPointer<TestEnv> m_env;
    Sandbox m_sandbox;
};

QTEST_GUILESS_MAIN(TestInternetDetector)
#include "tst_internetdetector.moc"
