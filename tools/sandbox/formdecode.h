#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// application/x-www-form-urlencoded: "+" is a space and %XX a byte, so a
// password such as "a+b&c=d%e f" survives when the sender encoded it.
namespace FormDecode {

using Fields = QList<QPair<QString, QString>>;

Fields parse(const QByteArray &body);
QString value(const Fields &fields, const QString &name); // first match, or null

} // namespace FormDecode
