// Status datagrams as a companion program sees them: read from a socket
// listening on one of the broadcast ports, decoded field by field.
#include "testenv.h"

#include "api/player.h"
#include "net/global.h"
#include "spawn/spawnablegame.h"
#include "watch/statusbroadcaster.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QUdpSocket>
#include <QtEndian>
#include <QtTest>

namespace {

struct Record
{
    QByteArray tag;
    quint16 type = 0;
    QByteArray value;
};

// Strict decoder: framing errors fail the test with a message.
QList<Record> decode(const QByteArray &d, QString *error)
{
    QList<Record> records;
    if (d.size() < 4 || qFromBigEndian<quint16>(d.constData()) != d.size() || d.size() % 4
        || qFromBigEndian<quint16>(d.constData() + 2) != 0) {
        *error = QStringLiteral("bad header");
        return records;
    }
    int pos = 4;
    while (pos < d.size()) {
        if (pos % 4 || pos + 8 > d.size()) {
            *error = QStringLiteral("record at %1 misplaced").arg(pos);
            return records;
        }
        Record r;
        r.tag = d.mid(pos, 4);
        r.type = qFromBigEndian<quint16>(d.constData() + pos + 4);
        const quint16 len = qFromBigEndian<quint16>(d.constData() + pos + 6);
        r.value = d.mid(pos + 8, len);
        const bool lengthOk = (r.type == 2 && len == 1) || (r.type == 6 && len == 4)
                              || (r.type == 7 && len >= 1 && r.value.endsWith('\0') && !r.value.chopped(1).contains('\0'));
        if (!lengthOk || r.value.size() != len) {
            *error = QStringLiteral("record %1 has a bad value").arg(QString::fromLatin1(r.tag));
            return records;
        }
        pos += 8 + len;
        while (pos % 4) {
            if (pos >= d.size() || d.at(pos) != '\0') {
                *error = QStringLiteral("bad padding after %1").arg(QString::fromLatin1(r.tag));
                return records;
            }
            ++pos;
        }
        records.append(r);
    }
    return records;
}

QByteArrayList tags(const QList<Record> &records)
{
    QByteArrayList list;
    for (const Record &r : records)
        list << r.tag;
    return list;
}

QByteArray valueOf(const QList<Record> &records, const QByteArray &tag)
{
    for (const Record &r : records) {
        if (r.tag == tag)
            return r.value;
    }
    return QByteArray();
}

qint32 intOf(const QList<Record> &records, const QByteArray &tag)
{
    const QByteArray v = valueOf(records, tag);
    return v.size() == 4 ? qFromBigEndian<qint32>(v.constData()) : -1;
}

bool isOwn(const QByteArray &data)
{
    QString error;
    return intOf(decode(data, &error), "PROC") == qint32(QCoreApplication::applicationPid());
}

// Listens on the first free port of the broadcast range.
class Listener
{
public:
    explicit Listener(bool fromTop = false)
    {
        for (int i = 0; i < 20 && m_socket.state() != QAbstractSocket::BoundState; ++i) {
            const int port = fromTop ? StatusBroadcaster::kLastPort - i : StatusBroadcaster::kFirstPort + i;
            m_socket.bind(QHostAddress::LocalHost, quint16(port));
        }
    }
    bool isBound() const { return m_socket.state() == QAbstractSocket::BoundState; }

    // The next datagram of this process (other programs may broadcast too).
    QByteArray next(int timeoutMs = 3000)
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            if (!m_socket.hasPendingDatagrams() && !m_socket.waitForReadyRead(100))
                continue;
            const QByteArray data = m_socket.receiveDatagram().data();
            if (isOwn(data))
                return data;
        }
        return QByteArray();
    }

    // How many datagrams of this process are waiting; reads them all.
    int pendingOwn()
    {
        int count = 0;
        while (m_socket.hasPendingDatagrams())
            count += isOwn(m_socket.receiveDatagram().data()) ? 1 : 0;
        return count;
    }

private:
    QUdpSocket m_socket;
};

} // namespace

class TestStatusBroadcaster : public QObject
{
    Q_OBJECT
private slots:
    void idleDatagram()
    {
        TestEnv env;
        Listener low;
        Listener high(true);
        QVERIFY(low.isBound());
        QVERIFY(high.isBound());
        StatusBroadcaster broadcaster;
        broadcaster.broadcastUpdate();

        const QByteArray d = low.next();
        QCOMPARE(high.next(), d);
        QString error;
        const auto records = decode(d, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(tags(records), (QByteArrayList{"VERS", "PROC", "GABB", "GEXE", "INQU", "INGM"}));
        // VERS: tag, type 7, length 5, "1.62\0", 3 bytes of padding.
        QCOMPARE(d.mid(4, 16), QByteArray("VERS\0\x07\0\x05" "1.62\0\0\0\0", 16));
        QCOMPARE(valueOf(records, "INQU"), QByteArray(1, '\0'));
        QCOMPARE(valueOf(records, "INGM"), QByteArray(1, '\0'));
        QCOMPARE(valueOf(records, "GABB"), QByteArray(1, '\0'));
    }

    void inGameGroupNeedsAGameProcess()
    {
        TestEnv env;
        Listener listener;
        QVERIFY(listener.isBound());
        StatusBroadcaster broadcaster;
        broadcaster.setInQueue(true);
        broadcaster.setInGame(true);
        broadcaster.broadcastUpdate();
        QString error;
        auto records = decode(listener.next(), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(valueOf(records, "INQU"), QByteArray(1, '\1'));
        QCOMPARE(valueOf(records, "INGM"), QByteArray(1, '\1'));
        QVERIFY(!tags(records).contains("HASH"));
        QVERIFY(!tags(records).contains("GPID"));

        SpawnableGame yr(QStringLiteral("yr"));
        yr.exe = QStringLiteral("morvel.exe");
        Global::instance()->setCurrentGame(&yr);
        QProcess game;
        game.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(game.waitForStarted());
        SpawnInfo spawn;
        spawn.mapHash = QStringLiteral("0123456789abcdef0123456789abcdef01234567");
        spawn.uiMapName = QStringLiteral("Frostbite Ridge");
        Global::instance()->setSpawnInfo(spawn);
        Global::instance()->setGameProcess(&game);
        broadcaster.broadcastUpdate();
        records = decode(listener.next(), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(tags(records),
                 (QByteArrayList{"VERS", "PROC", "GABB", "GEXE", "INQU", "INGM", "HASH", "SCEN", "GPID"}));
        QCOMPARE(valueOf(records, "HASH"), spawn.mapHash.toUtf8() + '\0');
        QCOMPARE(valueOf(records, "SCEN"), spawn.uiMapName.toUtf8() + '\0');
        QCOMPARE(intOf(records, "GPID"), qint32(game.processId()));
        QCOMPARE(valueOf(records, "GABB"), QByteArray("yr", 3));
        QCOMPARE(valueOf(records, "GEXE"), QByteArray("morvel.exe", 11));

        // Out of the game the group goes, though the process is still known.
        broadcaster.setInGame(false);
        broadcaster.broadcastUpdate();
        records = decode(listener.next(), &error);
        QVERIFY(!tags(records).contains("HASH"));

        Global::instance()->setGameProcess(nullptr);
        Global::instance()->setCurrentGame(nullptr);
        game.kill();
        game.waitForFinished();
    }

    void timerKeepsSending()
    {
        TestEnv env;
        Listener listener;
        QVERIFY(listener.isBound());
        StatusBroadcaster broadcaster;
        QCOMPARE(broadcaster.interval(), 500);
        broadcaster.setInterval(20);
        broadcaster.start();
        int received = 0;
        QTRY_VERIFY_WITH_TIMEOUT((received += listener.pendingOwn()) >= 3, 3000);
        broadcaster.stop();
        QTest::qWait(100);
        listener.pendingOwn();
        QTest::qWait(100);
        QCOMPARE(listener.pendingOwn(), 0);
    }

    void playerGroupCapsBadges()
    {
        TestEnv env;
        Listener listener;
        QVERIFY(listener.isBound());
        QJsonArray badges;
        for (int i = 0; i < 12; ++i)
            badges.append(QStringLiteral("badge-%1").arg(i));
        Player player(QJsonObject{{QStringLiteral("username"), QStringLiteral("alice")},
                                  {QStringLiteral("badges"), badges},
                                  {QStringLiteral("clan_name"), QStringLiteral("Ünited Clan")},
                                  {QStringLiteral("clan_short"), QStringLiteral("UC")}},
                      nullptr);
        Global::instance()->setCurrentPlayer(&player);
        StatusBroadcaster broadcaster;
        broadcaster.broadcastUpdate();
        Global::instance()->setCurrentPlayer(nullptr);

        QString error;
        const auto records = decode(listener.next(), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(tags(records), (QByteArrayList{"VERS", "PROC", "GABB", "GEXE", "INQU", "INGM", "BDG0", "BDG1", "BDG2",
                                                "BDG3", "BDG4", "BDG5", "BDG6", "BDG7", "BDG8", "BDG9", "CLAN", "CLNS"}));
        QCOMPARE(valueOf(records, "BDG0"), QByteArray("badge-0", 8));
        QCOMPARE(valueOf(records, "BDG9"), QByteArray("badge-9", 8));
        QCOMPARE(valueOf(records, "CLAN"), QStringLiteral("Ünited Clan").toUtf8() + '\0');
        QCOMPARE(valueOf(records, "CLNS"), QByteArray("UC", 3));
    }

    void oversizedTextKeepsFramingIntact()
    {
        StatusSnapshot s;
        s.hasPlayer = true;
        s.clanName = QString(70000, QLatin1Char('x'));
        s.clanShort = QStringLiteral("X");
        const QByteArray d = StatusDatagram::encode(s);
        QString error;
        const auto records = decode(d, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(!tags(records).contains("CLAN"));
        QVERIFY(tags(records).contains("CLNS"));
    }
};

QTEST_GUILESS_MAIN(TestStatusBroadcaster)
#include "tst_statusbroadcaster.moc"
