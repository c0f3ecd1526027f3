#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace ZipArchive {

// A ZIP archive built in memory from named entries, in the given order.
QByteArray build(const QList<QPair<QString, QByteArray>> &entries);

} // namespace ZipArchive
