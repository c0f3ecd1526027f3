#include "api/servicefault.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

bool isCertificateError(QNetworkReply::NetworkError error)
{
    return error == QNetworkReply::SslHandshakeFailedError || error == QNetworkReply::UnknownNetworkError
           || error == QNetworkReply::InsecureRedirectError;
}

} // namespace

QString ServiceFault::message() const
{
    switch (kind) {
    case Unreachable:
        return QStringLiteral("LORVANE could not be contacted (%1). Please check your network connection.").arg(detail);
    case Certificate:
        return QStringLiteral("LORVANE's certificate is not trusted (%1), so nothing was sent. Check this "
                              "computer's date and the network you are on.")
            .arg(detail);
    case Unexpected:
        return QStringLiteral("LORVANE gave an answer Zantry does not understand (%1).")
            .arg(detail);
    case None:
        break;
    }
    return QString();
}

ServiceFault ServiceFault::ofTransport(const QNetworkReply *reply)
{
    ServiceFault fault;
    if (reply->error() == QNetworkReply::NoError
        || reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
        return fault;
    // A handshake that failed on the certificate reports it in the text only.
    // Qt's text leads with the step that failed; the reason is what helps.
    QString text = reply->errorString();
    text.remove(QStringLiteral("SSL handshake failed: "));
    const bool certificate = isCertificateError(reply->error())
                             && (reply->error() != QNetworkReply::UnknownNetworkError
                                 || text.contains(QLatin1String("certificate"), Qt::CaseInsensitive));
    fault.kind = certificate ? Certificate : Unreachable;
    // The only cancel of a service request is its transfer time-out.
    const int limit = reply->request().transferTimeout();
    fault.detail = reply->error() == QNetworkReply::OperationCanceledError && limit > 0
                       ? QStringLiteral("no answer within %1 s").arg((limit + 999) / 1000)
                       : text;
    return fault;
}

ServiceFault ServiceFault::ofAnswer(const QNetworkReply *reply)
{
    ServiceFault fault;
    const QVariant code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!code.isValid())
        return fault;
    fault.status = code.toInt();
    if (fault.status >= 300 && fault.status < 400) {
        // A login is never sent on to where a redirect points.
        const QUrl target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        fault.kind = Unexpected;
        fault.detail = QStringLiteral("redirect (HTTP %1) to %2")
                           .arg(fault.status)
                           .arg(reply->url().resolved(target).toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery));
        return fault;
    }
    if (fault.status >= 200 && fault.status < 300 && isJson(reply))
        return ServiceFault{None, QString(), fault.status};
    const QString type = reply->header(QNetworkRequest::ContentTypeHeader).toString().section(QLatin1Char(';'), 0, 0);
    fault.kind = Unexpected;
    fault.detail = QStringLiteral("HTTP %1, %2").arg(fault.status).arg(type.isEmpty() ? QStringLiteral("no content type")
                                                                                       : type.trimmed());
    return fault;
}

bool ServiceFault::isJson(const QNetworkReply *reply)
{
    // Web servers commonly send "application/json; charset=utf-8".
    const QString type = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    return type.section(QLatin1Char(';'), 0, 0).trimmed().compare(QLatin1String("application/json"), Qt::CaseInsensitive)
           == 0;
}
