#include "app/startup.h"

#include "app/crashhandler.h"
#include "app/filedigest.h"
#include "app/signalbridge.h"
#include "app/singleapplication.h"
#include "app/zantrylog.h"
#include "net/global.h"
#include "ui/demoautoplay.h"
#include "ui/mainwindow.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFontDatabase>

#include <limits>

static void initCoreResources()
{
    Q_INIT_RESOURCE(zantry);
    Q_INIT_RESOURCE(fonts);
}

namespace Startup {

void initResources()
{
    initCoreResources();
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

QString loadStyleSheet()
{
    const QString userStyle = Global::instance()->dataDir().filePath(QStringLiteral("mainstyle.qss"));
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

void prepareProcess()
{
    // Network interfaces are not polled: the longest interval a timer takes
    // (a negative one draws a warning from the framework at every start).
    qputenv("QT_BEARER_POLL_TIMEOUT", QByteArray::number(std::numeric_limits<int>::max()));
}

void prepareApplication(QApplication &app)
{
    initResources();

    QCoreApplication::setOrganizationDomain(QStringLiteral("Lorvane"));
    QCoreApplication::setOrganizationName(QStringLiteral("Lorvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Zantry"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.62"));

    Global::instance()->setDataDir(QDir(QStringLiteral("Zantry")));
    QDir().mkpath(QStringLiteral("Zantry"));

    ZantryLog::instance()->openLogFile(QStringLiteral("Zantry"));
    qDebug() << "Log file Initialized";
    qDebug() << "Self hashed to" << FileDigest::sha1Hex(QCoreApplication::applicationFilePath());

    registerFonts();
    app.setStyleSheet(loadStyleSheet());
}

int run(int argc, char *argv[])
{
    prepareProcess();
    SingleApplication app(argc, argv, false, SingleApplication::User, 100);
    prepareApplication(app);

    // SIGTERM and SIGINT end the loop in order, so the log is flushed and the
    // single-instance block released.
    SignalBridge::install();

    auto *window = new MainWindow;
    QObject::connect(SignalBridge::instance(), &SignalBridge::quitRequested, window, &MainWindow::quitRequested);
    if (DemoAutoplay::requested(QCoreApplication::arguments()))
        new DemoAutoplay(window);
    QObject::connect(&app, &SingleApplication::instanceStarted, window, &MainWindow::instanceStarted);

    CrashHandler::instance()->install();

    const int code = app.exec();

    ZantryLog::instance()->close();
    delete window;
    return code;
}

} // namespace Startup
