#include "app/filedigest.h"
#include "testenv.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

// Map digests are compared with the service's as text, so every path to a
// digest must give Qt's bytes as lower-case hex, whatever the block edges.
class TestFileDigest : public QObject
{
    Q_OBJECT
private slots:
    void matchesQtAtEveryBlockEdge()
    {
        TestEnv env;
        QRandomGenerator random(42);
        for (const int size : {0, 1, 55, 64, 8191, 8192, 8193, 3 * 8192, 1 << 20, (1 << 20) + 7}) {
            QByteArray data(size, Qt::Uninitialized);
            for (char &c : data)
                c = char(random.generate());
            const QString path = env.filePath(QStringLiteral("f%1").arg(size));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(data);
            file.close();

            const QString expected
                = QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex());
            QCOMPARE(FileDigest::sha1Hex(path), expected);
            QCOMPARE(FileDigest::sha1HexOfBytes(data), expected);
            QBuffer buffer(&data);
            QVERIFY(buffer.open(QIODevice::ReadOnly));
            QCOMPARE(FileDigest::sha1Hex(&buffer), expected);

            // Uneven pieces through the incremental form.
            FileDigest::Sha1 pieces;
            for (int at = 0; at < size;) {
                const int n = qMin(size - at, 1 + int(random.bounded(20000)));
                pieces.addData(data.constData() + at, n);
                at += n;
            }
            QCOMPARE(pieces.hexResult(), expected);
        }
    }

    void unreadableFileIsEmptyInput()
    {
        TestEnv env;
        const QString empty = QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709");
        QCOMPARE(FileDigest::sha1Hex(env.filePath(QStringLiteral("missing"))), empty);
        QCOMPARE(FileDigest::sha1Hex(env.path()), empty); // a folder
        QCOMPARE(FileDigest::sha1Hex(static_cast<QIODevice *>(nullptr)), empty);
    }
};

QTEST_GUILESS_MAIN(TestFileDigest)
#include "tst_filedigest.moc"
