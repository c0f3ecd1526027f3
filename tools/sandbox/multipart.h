#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// multipart/form-data as the client's writer produces it. Parsed here rather
// than by the HTTP library, whose parser rejects a disposition that ends in
// ";" (the log collector's text fields do) and hides the raw part headers
// the tests assert on.
namespace Multipart {

struct Part
{
    QList<QPair<QByteArray, QByteArray>> headers; // as received, in order
    QString name;                                 // from Content-Disposition
    QString fileName;                             // empty for a text field
    bool hasFileName = false;
    QByteArray contentType;
    QByteArray body;
};

// The boundary parameter of a Content-Type value; empty if there is none.
QByteArray boundary(const QByteArray &contentType);

// False (with a reason) when the body is not a complete multipart message.
bool parse(const QByteArray &body, const QByteArray &boundary, QList<Part> *parts, QString *error);

} // namespace Multipart
