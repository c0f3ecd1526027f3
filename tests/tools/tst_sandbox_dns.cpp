#include "sandbox.h"

#include <QJsonArray>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtEndian>
#include <QtTest>

// The DNS responder the internet detector asks: an A record for the ping
// host, NXDOMAIN for other names, and the scripted silent and failing modes.
class TestSandboxDns : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void answers_data();
    void answers();
    void malformedQueriesAreDropped();

private:
    static QByteArray query(quint16 id, const QByteArray &name, quint16 type = 1);
    QByteArray ask(const QByteArray &datagram, int timeoutMs = 2000);
    Sandbox m_sandbox;
};

QByteArray TestSandboxDns::query(quint16 id, const QByteArray &name, quint16 type)
{
    QByteArray q;
    q.append(char(id >> 8)).append(char(id & 0xff));
    q.append("\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 10); // RD, one question
    for (const QByteArray &label : name.split('.'))
        q.append(char(label.size())).append(label);
    q.append('\0').append(char(0)).append(char(type)).append("\x00\x01", 2);
    return q;
}

QByteArray TestSandboxDns::ask(const QByteArray &datagram, int timeoutMs)
{
    QUdpSocket socket;
    socket.writeDatagram(datagram, QHostAddress::LocalHost, m_sandbox.dnsPort());
    if (!socket.waitForReadyRead(timeoutMs))
        return QByteArray();
    return socket.receiveDatagram().data();
}

void TestSandboxDns::initTestCase()
{
    QVERIFY2(m_sandbox.start({QStringLiteral("--ping-host"), QStringLiteral("Ping.Example.Test")}), qPrintable(m_sandbox.errorText()));
    QVERIFY(m_sandbox.dnsAddress().startsWith(QLatin1String("127.0.0.1:")));
    QVERIFY(m_sandbox.dnsPort() != 0);
}

void TestSandboxDns::init()
{
    QVERIFY(m_sandbox.control(QStringLiteral("dns"), QStringLiteral("mode=answer")));
}

void TestSandboxDns::answers_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("rcode");
    QTest::addColumn<int>("answers");
    QTest::newRow("ping host") << "answer" << QByteArray("ping.example.test") << 1 << 0 << 1;
    QTest::newRow("ping host, other case") << "answer" << QByteArray("PING.example.TEST") << 1 << 0 << 1;
    QTest::newRow("ping host, AAAA") << "answer" << QByteArray("ping.example.test") << 28 << 0 << 0;
    QTest::newRow("other name") << "answer" << QByteArray("www.example.test") << 1 << 3 << 0;
    QTest::newRow("nxdomain mode") << "nxdomain" << QByteArray("ping.example.test") << 1 << 3 << 0;
    QTest::newRow("servfail mode") << "servfail" << QByteArray("ping.example.test") << 1 << 2 << 0;
    QTest::newRow("silent mode") << "silent" << QByteArray("ping.example.test") << 1 << -1 << 0;
}

void TestSandboxDns::answers()
{
    QFETCH(QString, mode);
    QFETCH(QByteArray, name);
    QFETCH(int, type);
    QFETCH(int, rcode);
    QFETCH(int, answers);
    QVERIFY(m_sandbox.reset());
    QVERIFY(m_sandbox.control(QStringLiteral("dns"), QStringLiteral("mode=") + mode));
    const QByteArray q = query(0xbeef, name, quint16(type));
    const QByteArray r = ask(q, rcode < 0 ? 500 : 2000);
    // Every query is journalled, with its outcome.
    const QJsonObject seen = m_sandbox.inspect().value(QStringLiteral("dnsQueries")).toArray().last().toObject();
    QCOMPARE(seen.value(QStringLiteral("name")).toString(), QString::fromLatin1(name).toLower());
    if (rcode < 0) {
        QVERIFY(r.isEmpty());
        QCOMPARE(seen.value(QStringLiteral("outcome")).toString(), QStringLiteral("silent"));
        return;
    }
    QVERIFY(r.size() >= q.size());
    QCOMPARE(qFromBigEndian<quint16>(r.constData()), quint16(0xbeef));
    const quint16 flags = qFromBigEndian<quint16>(r.constData() + 2);
    QVERIFY(flags & 0x8000); // a response
    QCOMPARE(int(flags & 0xf), rcode);
    QCOMPARE(int(qFromBigEndian<quint16>(r.constData() + 6)), answers);
    QCOMPARE(r.mid(12, q.size() - 12), q.mid(12)); // the question echoed
    if (answers == 1) {
        QCOMPARE(r.size(), q.size() + 16);
        QCOMPARE(r.right(4), QByteArray("\x7f\x00\x00\x01", 4));
        QCOMPARE(r.mid(q.size() + 2, 2), QByteArray("\x00\x01", 2)); // type A
    }
}

void TestSandboxDns::malformedQueriesAreDropped()
{
    const QByteArray good = query(7, "ping.example.test");
    QByteArray response = good;
    response[2] = char(0x81);
    QByteArray pointer = good.left(12) + QByteArray("\xc0\x0c\x00\x01\x00\x01", 6);
    QByteArray overlong = good.left(12) + QByteArray(1, char(63)) + QByteArray(10, 'a');
    for (const QByteArray &bad : {QByteArray("\x00\x01", 2), response, pointer, overlong, good.left(good.size() - 2)})
        QVERIFY(ask(bad, 300).isEmpty());
    QVERIFY(!ask(good).isEmpty()); // still serving
}

QTEST_MAIN(TestSandboxDns)
#include "tst_sandbox_dns.moc"
