#include "sandbox.h"

#include "app/filedigest.h"

#include <QJsonArray>
#include <QtTest>
#include <private/qzipreader_p.h>

// The map archives, the crash collector's multipart parsing and the tool's
// own command line: data folders, bad arguments, SIGTERM. The master list,
// previews and pages are read by the flow and end-to-end tests.
class TestSandboxSite : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void mapArchivesHoldTheirMap();
    void crashUploadIsStored();
    void dataFolderRoundTripAndSigterm();
    void badArguments_data();
    void badArguments();

private:
    Sandbox m_sandbox;
};

void TestSandboxSite::initTestCase()
{
    QVERIFY2(m_sandbox.start(), qPrintable(m_sandbox.errorText()));
}

void TestSandboxSite::mapArchivesHoldTheirMap()
{
    int archives = 0;
    for (const char *abbr : {"yr", "ts", "ra"}) {
        const QJsonArray maps = m_sandbox.get(QStringLiteral("/api/v1/zantry/ladder/%1/maps").arg(QLatin1String(abbr))).json().array();
        for (const QJsonValue &m : maps) {
            const QString hash = m.toObject().value(QStringLiteral("hash")).toString();
            const Sandbox::Reply zip = m_sandbox.get(QStringLiteral("/mapdb/%1//%2.zip").arg(QLatin1String(abbr), hash));
            QCOMPARE(zip.status, 200);
            QBuffer buffer;
            buffer.setData(zip.body);
            buffer.open(QIODevice::ReadOnly);
            QZipReader reader(&buffer);
            const QVector<QZipReader::FileInfo> entries = reader.fileInfoList();
            QVERIFY(!entries.isEmpty());
            QCOMPARE(FileDigest::sha1HexOfBytes(reader.fileData(entries.first().filePath)), hash);
            ++archives;
            // Only the documented form, with its doubled slash, is served.
            QCOMPARE(m_sandbox.get(QStringLiteral("/mapdb/%1/%2.zip").arg(QLatin1String(abbr), hash)).status, 404);
            // The last map of each ladder has no preview, on purpose.
            QCOMPARE(m_sandbox.get(QStringLiteral("/images/maps/%1/%2.png").arg(QLatin1String(abbr), hash)).status,
                     m == maps.last() ? 404 : 200);
        }
    }
    QCOMPARE(archives, 10);
    QCOMPARE(m_sandbox.get(QStringLiteral("/mapdb/yr//%1.zip").arg(QString(40, QLatin1Char('0')))).status, 404);
}

void TestSandboxSite::crashUploadIsStored()
{
    QVERIFY(m_sandbox.reset());
    // The crash handler's form: a text field whose disposition ends in ";"
    // (the client's whole form is checked by the crash upload test), and a
    // file whose body looks like a boundary's start.
    QHttpMultiPart multi(QHttpMultiPart::FormDataType);
    QHttpPart field;
    field.setRawHeader("Content-Disposition", "form-data; name=\"game\";");
    field.setBody("yr");
    multi.append(field);
    const QByteArray zip("PK\x03\x04 not really a zip \r\n--", 26);
    QHttpPart file;
    file.setRawHeader("Content-Disposition", "form-data; name=\"EXCEPT_LORVANE.TXT.zip\"; filename=\"EXCEPT_LORVANE.TXT.zip\"");
    file.setHeader(QNetworkRequest::ContentTypeHeader, "application/octet-stream");
    file.setBody(zip);
    multi.append(file);
    QCOMPARE(m_sandbox.post(QStringLiteral("/upload.php"), &multi).status, 200);

    const QJsonArray reports = m_sandbox.inspect().value(QStringLiteral("crashReports")).toArray();
    QCOMPARE(reports.size(), 1);
    const QJsonObject report = reports.at(0).toObject();
    QCOMPARE(report.value(QStringLiteral("fields")).toObject().value(QStringLiteral("game")).toString(), QStringLiteral("yr"));
    const QJsonObject stored = report.value(QStringLiteral("files")).toArray().at(0).toObject();
    QCOMPARE(stored.value(QStringLiteral("fileName")).toString(), QStringLiteral("EXCEPT_LORVANE.TXT.zip"));
    QCOMPARE(QByteArray::fromBase64(stored.value(QStringLiteral("base64")).toString().toLatin1()), zip);
    QVERIFY(report.value(QStringLiteral("parts")).toArray().at(0).toObject().value(QStringLiteral("headers")).toArray().contains(
        QStringLiteral("Content-Disposition: form-data; name=\"game\";")));

    const Sandbox::Reply bad = m_sandbox.post(QStringLiteral("/upload.php"), "no parts here", "multipart/form-data; boundary=xyz");
    QCOMPARE(bad.status, 400);
}

void TestSandboxSite::dataFolderRoundTripAndSigterm()
{
    QTemporaryDir dir;
    QProcess writer;
    writer.start(TestEnv::toolPath(QStringLiteral("sandbox")), {QStringLiteral("--write-data"), dir.path()});
    QVERIFY(writer.waitForFinished(30000));
    QCOMPARE(writer.exitCode(), 0);

    // Replace one map file; the served digest and archive follow the file.
    const QString mapFile = dir.filePath(QStringLiteral("maps/ts/ion_valley.map"));
    QVERIFY(QFile::exists(mapFile));
    QFile f(mapFile);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Basic]\nName=Edited\n");
    f.close();

    Sandbox sandbox;
    QVERIFY2(sandbox.start({QStringLiteral("--data"), dir.path()}), qPrintable(sandbox.errorText()));
    const QJsonArray maps = sandbox.get(QStringLiteral("/api/v1/zantry/ladder/ts/maps")).json().array();
    QCOMPARE(maps.at(1).toObject().value(QStringLiteral("hash")).toString(), FileDigest::sha1Hex(mapFile));
    const QJsonArray builtin = m_sandbox.get(QStringLiteral("/api/v1/zantry/ladder/ts/maps")).json().array();
    QCOMPARE(maps.size(), builtin.size());
    QCOMPARE(maps.at(0), builtin.at(0));
    QVERIFY(maps.at(1) != builtin.at(1));
    const Sandbox::Reply zip = sandbox.get(QStringLiteral("/mapdb/ts//%1.zip").arg(FileDigest::sha1Hex(mapFile)));
    QCOMPARE(zip.status, 200);
    QCOMPARE(sandbox.post(QStringLiteral("/api/v1/auth/login"), "email=carol%40sandbox.test&password=carol-pass",
                          "application/x-www-form-urlencoded").status,
             200);

    QProcess &process = sandbox.process().process();
    process.terminate();
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(process.readAllStandardError().contains("stopped"));
}

void TestSandboxSite::badArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--frobnicate")} << QStringLiteral("frobnicate");
    QTest::newRow("port not a number") << QStringList{QStringLiteral("--port"), QStringLiteral("http")} << QStringLiteral("--port");
    QTest::newRow("port too large") << QStringList{QStringLiteral("--port"), QStringLiteral("70000")} << QStringLiteral("--port");
    QTest::newRow("bind not an address") << QStringList{QStringLiteral("--bind"), QStringLiteral("localhost")} << QStringLiteral("--bind");
    QTest::newRow("tunnel without port") << QStringList{QStringLiteral("--tunnel"), QStringLiteral("127.0.0.1")} << QStringLiteral("--tunnel");
    QTest::newRow("dns mode") << QStringList{QStringLiteral("--dns-mode"), QStringLiteral("loud")} << QStringLiteral("--dns-mode");
    QTest::newRow("addresses") << QStringList{QStringLiteral("--addresses"), QStringLiteral("some")} << QStringLiteral("--addresses");
    QTest::newRow("one player") << QStringList{QStringLiteral("--players"), QStringLiteral("1")} << QStringLiteral("--players");
    QTest::newRow("missing data folder") << QStringList{QStringLiteral("--data"), QStringLiteral("/nonexistent/sandbox")} << QStringLiteral("sandbox.json");
}

void TestSandboxSite::badArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QProcess process;
    process.start(TestEnv::toolPath(QStringLiteral("sandbox")), args);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardOutput().isEmpty()); // never READY
    const QString error = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(error.contains(message), qPrintable(error));
}

QTEST_MAIN(TestSandboxSite)
#include "tst_sandbox_site.moc"
