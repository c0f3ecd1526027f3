// Map digests are compared with the service's as text, so every road to a
// digest must give Qt's bytes as lower-case hex, whatever the block edges.
#include "testenv.h"
#include "util/filedigest.h"

#include <QtTest>

class TestFileDigest : public QObject
{
    Q_OBJECT
private slots:
    void matchesQtAtEveryBlockEdge()
    {
        TestEnv env;
        QRandomGenerator random(42);
        for (const int size : {0, 1, 8191, 8192, 8193, 3 * 8192, (1 << 20) + 7}) {
            QByteArray data(size, Qt::Uninitialized);
            for (char &c : data)
                c = char(random.generate());
            QFile file(env.filePath(QStringLiteral("f%1").arg(size)));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(data) == size);
            file.close();
            const QString expected = QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex());
            QCOMPARE(FileDigest::sha1Hex(file.fileName()), expected);
            QBuffer buffer(&data);
            QVERIFY(buffer.open(QIODevice::ReadOnly));
            QCOMPARE(FileDigest::sha1Hex(&buffer), expected);
            FileDigest::Sha1 pieces; // uneven pieces, as a sliced scan feeds them
            for (int at = 0, n = 0; at < size; at += n)
                pieces.addData(data.constData() + at, n = qMin(size - at, 1 + int(random.bounded(20000))));
            QCOMPARE(pieces.hexResult(), expected);
        }
        // Nothing readable is the digest of nothing.
        QCOMPARE(FileDigest::sha1Hex(env.filePath(QStringLiteral("missing"))), QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709"));
        QCOMPARE(FileDigest::sha1Hex(env.path()), QStringLiteral("da39a3ee5e6b4b0d3255bfef95601890afd80709"));
    }
};

QTEST_GUILESS_MAIN(TestFileDigest)
#include "tst_filedigest.moc"
