// Upload of the game's result file.
#include "api/lorvaneapi.h"

#include <QDebug>
#include <QFile>
#include <QHttpMultiPart>
#include <QNetworkReply>

void LorvaneAPI::postGameStats(QString fileName, uint gameID, int pingSent, int pingReceived)
{
    if (!haveMatchPlayer())
        return;
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

    const Ladder *ladder = m_currentPlayer->ladder;
    const QString path = gameID == 0
                             ? m_resultShortPath.arg(ladder->abbreviation, m_currentPlayer->username)
                                   .arg(pingSent)
                                   .arg(pingReceived)
                             : m_resultPath.arg(ladder->id).arg(gameID).arg(m_currentPlayer->id).arg(pingSent).arg(
                                 pingReceived);
    QNetworkReply *reply = m_manager.post(makeRequest(m_url + path), multiPart);
    multiPart->setParent(reply);
    m_statsReply = reply;
    connect(reply, &QNetworkReply::finished, this, &LorvaneAPI::printReply);
}

void LorvaneAPI::printReply()
{
    QNetworkReply *reply = senderReply();
    if (!reply)
        return;
    // An upload replaced by a later one is dropped unlogged.
    const bool latest = reply == m_statsReply;
    if (latest)
        qDebug().noquote() << "Game Result posted" << QString::fromUtf8(reply->readAll());
    reply->close();
    reply->deleteLater();
    if (latest)
        emit gameStatsPosted();
}
