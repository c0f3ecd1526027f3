// Upload of the game's result file, kept in the game folder's outbox until
// the service has it.
#include "api/lorvaneapi.h"
#include "api/resultoutbox.h"
#include "spawn/gamecatalogue.h"
#include "spawn/spawnablegame.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QNetworkReply>

namespace {
constexpr int kFirstRetryMs = 5000;
constexpr int kLongestRetryMs = 300000;
constexpr int kRetriesPerRun = 12; // then at the next start
} // namespace

QString LorvaneAPI::resultPath(uint gameID, int pingSent, int pingReceived) const
{
    const Ladder *ladder = m_currentPlayer->ladder;
    return gameID == 0 ? m_resultShortPath.arg(ladder->abbreviation, m_currentPlayer->username).arg(pingSent).arg(pingReceived)
                       : m_resultPath.arg(ladder->id).arg(gameID).arg(m_currentPlayer->id).arg(pingSent).arg(pingReceived);
}

void LorvaneAPI::expectResult(const QString &gameDir, uint gameID)
{
    if (!haveMatchPlayer())
        return;
    // A result an earlier game left (its client was killed) goes first: the
    // launch that follows clears the folder.
    resumeResults(gameDir);
    ResultOutbox(gameDir).expect(resultPath(gameID, 0, 0));
}

void LorvaneAPI::noResult(const QString &gameDir)
{
    ResultOutbox(gameDir).forget();
}

void LorvaneAPI::postGameStats(QString fileName, uint gameID, int pingSent, int pingReceived)
{
    if (!haveMatchPlayer())
        return;
    const QString path = resultPath(gameID, pingSent, pingReceived);
    const QString gameDir = QFileInfo(fileName).absolutePath() + QLatin1Char('/');
    ResultOutbox outbox(gameDir);
    outbox.forget(); // this client saw the game end
    ResultOutbox::Entry entry;
    if (QFileInfo(fileName).isFile() && outbox.keep(fileName, path, &entry)) {
        m_outboxDir = gameDir;
        m_retries = 0;
        uploadKept();
        return;
    }
    uploadResult(path, fileName, QString());
}

void LorvaneAPI::resumeResults(const QString &gameDir)
{
    if (gameDir.isEmpty())
        return;
    m_outboxDir = gameDir;
    ResultOutbox outbox(gameDir);
    ResultOutbox::Entry taken;
    if (outbox.takeExpected(&taken))
        qDebug().noquote() << "Game result of an earlier run found: " + taken.file;
    uploadKept();
    // The game of a killed client may still be running: look again.
    if (outbox.expecting() && !m_resultRetryTimer->isActive())
        m_resultRetryTimer->start(kFirstRetryMs);
}

void LorvaneAPI::resumeCurrentGameResults()
{
    if (const SpawnableGame *game = m_games->current())
        resumeResults(game->workingDir);
}

void LorvaneAPI::uploadKept()
{
    if (m_statsReply || m_outboxDir.isEmpty() || m_token.isEmpty())
        return;
    const QList<ResultOutbox::Entry> entries = ResultOutbox(m_outboxDir).entries();
    if (!entries.isEmpty())
        uploadResult(entries.first().path, entries.first().file, entries.first().file);
}

void LorvaneAPI::uploadResult(const QString &path, const QString &fileName, const QString &keptFile)
{
    auto *multiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    QHttpPart part;
    part.setRawHeader("Content-Disposition", "form-data; name=\"file\"; filename=\"stats.dmp\"");
    part.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
    QFile file(fileName);
    if (file.open(QIODevice::ReadOnly)) {
        part.setBody(file.readAll());
        file.close();
    } else {
        qDebug().noquote() << "Game result file missing, uploading an empty one: " + fileName;
    }
    multiPart->append(part);
    QNetworkReply *reply = m_manager.post(makeRequest(m_url + path), multiPart);
    multiPart->setParent(reply);
    reply->setProperty("keptFile", keptFile);
    m_statsReply = reply;
    connect(reply, &QNetworkReply::finished, this, &LorvaneAPI::printReply);
}

void LorvaneAPI::printReply()
{
    QNetworkReply *reply = senderReply();
    if (!reply)
        return;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool taken = reply->error() == QNetworkReply::NoError && status / 100 == 2;
    const QString kept = reply->property("keptFile").toString();
    const QByteArray body = reply->readAll();
    const QString error = reply->errorString();
    reply->close();
    reply->deleteLater();
    if (reply == m_statsReply)
        m_statsReply = nullptr;
    if (taken) {
        qDebug().noquote() << "Game Result posted" << QString::fromUtf8(body);
        if (!kept.isEmpty())
            ResultOutbox::remove({kept, QString()});
        m_retries = 0;
        emit gameStatsPosted();
        uploadKept();
        return;
    }
    if (kept.isEmpty()) {
        qDebug().noquote() << QStringLiteral("Game result not taken (HTTP %1, %2)").arg(status).arg(error);
        emit resultUploadFailed(false);
        return;
    }
    const bool again = ++m_retries <= kRetriesPerRun;
    const int wait = qMin(kLongestRetryMs, kFirstRetryMs << qMin(m_retries - 1, 10));
    qDebug().noquote() << QStringLiteral("Game result not taken (HTTP %1, %2); kept in the outbox, %3")
                              .arg(status)
                              .arg(error, again ? QStringLiteral("next try in %1 s").arg(wait / 1000)
                                                : QStringLiteral("sent at the next start"));
    if (again)
        m_resultRetryTimer->start(wait);
    emit resultUploadFailed(true);
}
