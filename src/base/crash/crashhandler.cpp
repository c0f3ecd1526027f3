#include "crash/crashhandler.h"

#include "util/endpoints.h"
#include "util/settings.h"
#include "util/ziparchive.h"
#include "platform/crashcapture.h"
#include "zantryversion.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>

namespace {

const QString kVersion = QStringLiteral(ZANTRY_VERSION);

// An unreadable file gives an empty entry; the upload still goes out.
QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Moves a file into the archive folder. The original is only removed once
// a copy exists, so a failed move never loses a crash report.
void archive(const QDir &dir, const QString &name)
{
    const QString from = dir.filePath(name);
    const QString to = dir.filePath(QStringLiteral("Archives/") + name);
    if (!QFile::exists(from))
        return;
    QFile::remove(to);
    if (QFile::rename(from, to))
        return;
    if (QFile::copy(from, to))
        QFile::remove(from);
}

} // namespace

CrashHandler *CrashHandler::instance()
{
    static CrashHandler *handler = new CrashHandler;
    return handler;
}

CrashHandler::CrashHandler()
    : m_manager(new QNetworkAccessManager(this))
{
    connect(m_manager, &QNetworkAccessManager::finished, this, &CrashHandler::printReply);
}

void CrashHandler::install(const QDir &dataDir)
{
    m_dataDir = dataDir;
    const QDir &dir = m_dataDir;
    Platform::installCrashCapture(dir.path(), dir.filePath(QStringLiteral("zantry-log.txt")), kVersion);
    uploadOldCrashFiles();
}

void CrashHandler::uploadOldCrashFiles()
{
    const QDir &dir = m_dataDir;
    const QStringList dumps = dir.entryList({QStringLiteral("*.dmp")}, QDir::Files, QDir::Name);
    for (const QString &dumpName : dumps) {
        qDebug() << "dmpFileName = " << dumpName;
        const QString logName = dumpName.section(QLatin1Char('.'), 0, 0) + QStringLiteral(".log");
        const QString nickname = Settings::accountName();
        const Fields fields = {
            {QStringLiteral("game"), QStringLiteral("zantry")},
            {QStringLiteral("gameid"), QStringLiteral("12345")},
            {QStringLiteral("logtype"), QStringLiteral("crash")},
            {QStringLiteral("nickname"), nickname.isEmpty() ? QStringLiteral("unknown") : nickname},
            {QStringLiteral("exceptionAddress"), dumpName.section(QLatin1Char('-'), 0, 0)},
            {QStringLiteral("clientVersion"), kVersion},
        };
        const QByteArray zip = ZipArchive::build({{dumpName, readFile(dir.filePath(dumpName))},
                                                  {logName, readFile(dir.filePath(logName))}});
        qDebug() << "Uploading old crash log files";
        post(fields, dumpName, zip);

        dir.mkpath(QStringLiteral("Archives"));
        archive(dir, dumpName);
        archive(dir, logName);
    }
}

QString CrashHandler::exceptionAddress(const QByteArray &content)
{
    QString address;
    const QStringList lines = QString::fromUtf8(content).split(QRegularExpression(QStringLiteral("\r*\n")));
    for (const QString &line : lines) {
        const QStringList parts = line.split(QLatin1Char('\t'));
        qDebug() << "parts = " << parts;
        if (parts.size() >= 2 && parts.first().startsWith(QLatin1String("Eip:")))
            address = parts.first().right(8);
    }
    return address;
}

bool CrashHandler::uploadGameCrash(const GameCrashInfo &info)
{
    if (info.exceptionFile.isEmpty())
        return false;
    const QString path = info.workingDir + info.exceptionFile;
    if (!QFile::exists(path)) {
        qDebug() << "No exception file found at " + path;
        return false;
    }
    const QByteArray content = readFile(path);
    const QString address = exceptionAddress(content);
    qDebug() << "Game crashed at:" << address;
    qDebug() << "gameid =" << info.gameId;

    const Fields fields = {
        {QStringLiteral("game"), info.abbreviation},
        {QStringLiteral("gameid"), QString::number(info.gameId)},
        {QStringLiteral("logtype"), QStringLiteral("crash")},
        {QStringLiteral("nickname"), info.nickname},
        {QStringLiteral("exceptionAddress"), address},
        {QStringLiteral("clientVersion"), kVersion},
    };
    const QByteArray zip = ZipArchive::build({
        {info.exceptionFile, content},
        {QStringLiteral("spawn.ini"), readFile(info.workingDir + QStringLiteral("spawn.ini"))},
        {QStringLiteral("spawnmap.ini"), readFile(info.workingDir + QStringLiteral("spawnmap.ini"))},
    });
    qDebug() << "Uploading game crash log files";
    post(fields, info.exceptionFile, zip);
    return true;
}

void CrashHandler::post(const Fields &fields, const QString &zipName, const QByteArray &archive)
{
    auto *multiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    for (const auto &field : fields) {
        QHttpPart part;
        part.setHeader(QNetworkRequest::ContentDispositionHeader,
                       QStringLiteral("form-data; name=\"%1\";").arg(field.first));
        part.setBody(field.second.toUtf8());
        multiPart->append(part);
    }
    QHttpPart file;
    file.setHeader(QNetworkRequest::ContentDispositionHeader,
                   QStringLiteral("form-data; name=\"%1.zip\"; filename=\"%1.zip\"").arg(zipName));
    file.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
    file.setBody(archive);
    multiPart->append(file);

    QNetworkRequest request(QUrl(Endpoints::instance().crashUploadUrl()));
    request.setTransferTimeout(60000);
    QNetworkReply *reply = m_manager->post(request, multiPart);
    multiPart->setParent(reply);
}

void CrashHandler::printReply(QNetworkReply *reply)
{
    qDebug() << "postLogs finished" << reply->readAll();
    reply->deleteLater();
}
