#include "util/settingsstore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace SettingsStore {

QString problem()
{
    QSettings settings;
    settings.sync();
    const QString file = settings.fileName();
    if (settings.status() == QSettings::AccessError)
        return QStringLiteral("%1 cannot be written").arg(QDir::toNativeSeparators(file));
    // QSettings writes nothing until something changed, and then fails
    // silently: look at the file and its folder instead.
    const QFileInfo info(file);
    if (info.exists())
        return info.isWritable() ? QString()
                                 : QStringLiteral("%1 is read-only").arg(QDir::toNativeSeparators(file));
    QString folder = info.absolutePath();
    while (!QFileInfo::exists(folder) && QFileInfo(folder).absolutePath() != folder)
        folder = QFileInfo(folder).absolutePath();
    const QFileInfo dir(folder);
    return dir.isDir() && dir.isWritable()
               ? QString()
               : QStringLiteral("the folder %1 cannot be written").arg(QDir::toNativeSeparators(folder));
}

} // namespace SettingsStore
