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

// A datagram's records in order; error says what broke the framing.
struct Records
{
    QByteArrayList tags;
    QHash<QByteArray, QByteArray> values;
    QString error;
    QByteArray value(const QByteArray &tag) const { return values.value(tag); }
    qint32 number(const QByteArray &tag) const
    {
        const QByteArray v = values.value(tag);
        return v.size() == 4 ? qFromBigEndian<qint32>(v.constData()) : -1;
    }
};

// Strict decoder: length header, 4-byte aligned records, typed lengths,
// zero padding.
Records decode(const QByteArray &d)
{
    Records r;
    if (d.size() < 4 || qFromBigEndian<quint16>(d.constData()) != d.size() || d.size() % 4
        || qFromBigEndian<quint16>(d.constData() + 2) != 0) {
        r.error = QStringLiteral("bad header");
        return r;
    }
    int pos = 4;
    while (pos < d.size()) {
        if (pos % 4 || pos + 8 > d.size()) {
            r.error = QStringLiteral("record at %1 misplaced").arg(pos);
            return r;
        }
        const QByteArray tag = d.mid(pos, 4);
        const quint16 type = qFromBigEndian<quint16>(d.constData() + pos + 4);
        const quint16 len = qFromBigEndian<quint16>(d.constData() + pos + 6);
        const QByteArray value = d.mid(pos + 8, len);
        const bool lengthOk = (type == 2 && len == 1) || (type == 6 && len == 4)
                              || (type == 7 && len >= 1 && value.endsWith('\0') && !value.chopped(1).contains('\0'));
        if (!lengthOk || value.size() != len) {
            r.error = QStringLiteral("record %1 has a bad value").arg(QString::fromLatin1(tag));
            return r;
        }
        for (pos += 8 + len; pos % 4; ++pos) {
            if (pos >= d.size() || d.at(pos) != '\0') {
                r.error = QStringLiteral("bad padding after %1").arg(QString::fromLatin1(tag));
                return r;
            }
        }
        r.tags << tag;
        r.values.insert(tag, value);
    }
    return r;
}

bool isOwn(const QByteArray &data)
{
    return decode(data).number("PROC") == qint32(QCoreApplication::applicationPid());
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
        const Records records = decode(d);
        QVERIFY2(records.error.isEmpty(), qPrintable(records.error));
        QCOMPARE(records.tags, (QByteArrayList{"VERS", "PROC", "GABB", "GEXE", "INQU", "INGM"}));
        // VERS: tag, type 7, length 5, "1.62\0", 3 bytes of padding.
        QCOMPARE(d.mid(4, 16), QByteArray("VERS\0\x07\0\x05" "1.62\0\0\0\0", 16));
        for (const char *tag : {"INQU", "INGM", "GABB"})
            QCOMPARE(records.value(tag), QByteArray(1, '\0'));
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
        Records records = decode(listener.next());
        QVERIFY2(records.error.isEmpty(), qPrintable(records.error));
        QCOMPARE(records.value("INQU"), QByteArray(1, '\1'));
        QCOMPARE(records.value("INGM"), QByteArray(1, '\1'));
        QVERIFY(!records.tags.contains("HASH") && !records.tags.contains("GPID"));

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
        records = decode(listener.next());
        QVERIFY2(records.error.isEmpty(), qPrintable(records.error));
        QCOMPARE(records.tags, (QByteArrayList{"VERS", "PROC", "GABB", "GEXE", "INQU", "INGM", "HASH", "SCEN", "GPID"}));
        QCOMPARE(records.value("HASH"), spawn.mapHash.toUtf8() + '\0');
        QCOMPARE(records.value("SCEN"), spawn.uiMapName.toUtf8() + '\0');
        QCOMPARE(records.number("GPID"), qint32(game.processId()));
        QCOMPARE(records.value("GABB"), QByteArray("yr", 3));
        QCOMPARE(records.value("GEXE"), QByteArray("morvel.exe", 11));

        // Out of the game the group goes, though the process is still known.
        broadcaster.setInGame(false);
        broadcaster.broadcastUpdate();
        QVERIFY(!decode(listener.next()).tags.contains("HASH"));

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

        const Records records = decode(listener.next());
        QVERIFY2(records.error.isEmpty(), qPrintable(records.error));
        QCOMPARE(records.tags, (QByteArrayList{"VERS", "PROC", "GABB", "GEXE", "INQU", "INGM", "BDG0", "BDG1", "BDG2",
                                               "BDG3", "BDG4", "BDG5", "BDG6", "BDG7", "BDG8", "BDG9", "CLAN", "CLNS"}));
        QCOMPARE(records.value("BDG9"), QByteArray("badge-9", 8));
        QCOMPARE(records.value("CLAN"), QStringLiteral("Ünited Clan").toUtf8() + '\0');
        QCOMPARE(records.value("CLNS"), QByteArray("UC", 3));
    }

    void oversizedTextKeepsFramingIntact()
    {
        StatusSnapshot s;
        s.hasPlayer = true;
        s.clanName = QString(70000, QLatin1Char('x'));
        s.clanShort = QStringLiteral("X");
        const Records records = decode(StatusDatagram::encode(s));
        QVERIFY2(records.error.isEmpty(), qPrintable(records.error));
        QVERIFY(!records.tags.contains("CLAN"));
        QVERIFY(records.tags.contains("CLNS"));
    }
};

QTEST_GUILESS_MAIN(TestStatusBroadcaster)
#include "tst_statusbroadcaster.moc"
