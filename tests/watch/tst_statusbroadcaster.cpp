// Status datagrams for companion programs are sent on the timer until it is
// stopped; their content is read by the programs the window starts.
#include "testenv.h"
#include "watch/statusbroadcaster.h"

#include <QtEndian>
#include <QUuid>
#include <QtNetwork>
#include <QtTest>

class TestStatusBroadcaster : public QObject
{
    Q_OBJECT
private slots:
    void sentOnTheTimerUntilStopped()
    {
        TestEnv env;
        QUdpSocket listener;
        for (int i = 0; i < 20 && listener.state() != QAbstractSocket::BoundState; ++i)
            listener.bind(QHostAddress::LocalHost, quint16(StatusBroadcaster::kFirstPort + i));
        // Only this broadcaster's datagrams, with this process's id: other
        // clients here broadcast too, and one in a process namespace of its
        // own may even carry the same id.
        const QByteArray marker = "zb" + QUuid::createUuid().toByteArray(QUuid::Id128).left(12);
        const auto own = [&listener, &marker] {
            int n = 0;
            while (listener.hasPendingDatagrams()) {
                const QByteArray d = listener.receiveDatagram().data();
                const int at = d.indexOf("PROC");
                n += d.contains(marker) && at > 0 && d.size() >= at + 12
                     && qFromBigEndian<qint32>(d.constData() + at + 8) == qint32(QCoreApplication::applicationPid());
            }
            return n;
        };
        StatusBroadcaster broadcaster;
        broadcaster.setSource([&marker] {
            StatusSnapshot s;
            s.gameAbbreviation = QString::fromLatin1(marker);
            return s;
        });
        broadcaster.setInterval(20);
        broadcaster.start();
        int received = 0;
        QTRY_VERIFY_WITH_TIMEOUT((received += own()) >= 3, 3000);
        broadcaster.stop();
        QTest::qWait(100);
        own();
        QTest::qWait(100);
        QCOMPARE(own(), 0);
    }

};

QTEST_GUILESS_MAIN(TestStatusBroadcaster)
#include "tst_statusbroadcaster.moc"
