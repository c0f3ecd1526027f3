#include "ui/appearance.h"


#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFontDatabase>

static void initGuiResources()
{
    Q_INIT_RESOURCE(zantry);
    Q_INIT_RESOURCE(fonts);
}

namespace Appearance {

void initResources()
{
    initGuiResources();
}

void registerFonts()
{
    static const char *const fonts[] = {
        ":/fonts/Roboto-ThinItalic.ttf", ":/fonts/Roboto-Light.ttf",      ":/fonts/Roboto-LightItalic.ttf",
        ":/fonts/Roboto-Regular.ttf",    ":/fonts/Roboto-Italic.ttf",     ":/fonts/Roboto-Medium.ttf",
        ":/fonts/Roboto-MediumItalic.ttf", ":/fonts/Roboto-Bold.ttf",     ":/fonts/Roboto-BoldItalic.ttf",
        ":/fonts/Roboto-Black.ttf",      ":/fonts/Roboto-BlackItalic.ttf",
    };
    for (const char *font : fonts)
        QFontDatabase::addApplicationFont(QString::fromLatin1(font));
}

QString loadStyleSheet(const QDir &dataDir)
{
    const QString userStyle = dataDir.filePath(QStringLiteral("mainstyle.qss"));
    QFile file(QFile::exists(userStyle) ? userStyle : QStringLiteral(":/styles/mainstyle.qss"));
    QByteArray content;
    if (!file.open(QIODevice::ReadOnly))
        qDebug() << "error: " << file.errorString();
    else
        content = file.readAll();
    const int zero = content.indexOf('\0');
    if (zero >= 0)
        content.truncate(zero);
    return QString::fromUtf8(content);
}

} // namespace Appearance
