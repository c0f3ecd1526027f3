#include "app/startup.h"

#include "app/singleapplication.h"
#include "crash/crashhandler.h"
#include "net/connectioncheck.h"
#include "net/portmapper.h"
#include "spawn/spawnablegame.h"
#include "ui/appearance.h"
#include "ui/mainwindow.h"
#include "util/filedigest.h"
#include "util/settings.h"
#include "util/signalbridge.h"
#include "util/zantrylog.h"
#include "zantryversion.h"

#include <QCommandLineParser>
#include <QDebug>
#include <QDir>
#include <QLoggingCategory>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace Startup {

namespace {

void setIdentity()
{
    QCoreApplication::setOrganizationDomain(QStringLiteral("Lorvane"));
    QCoreApplication::setOrganizationName(QStringLiteral("Lorvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Zantry"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZANTRY_VERSION));
}

const QCommandLineOption &gameDirOption()
{
    static const QCommandLineOption option(
        QStringLiteral("game-dir"), QStringLiteral("The game's folder, when Zantry is not started from it (remembered)."),
        QStringLiteral("dir"));
    return option;
}

const QCommandLineOption &checkOption()
{
    static const QCommandLineOption option(
        QStringLiteral("check-connection"),
        QStringLiteral("Check the connection (service, tunnel servers, router) and exit: 0 when a match can be played."));
    return option;
}

void defineOptions(QCommandLineParser &parser, const Extension &extension)
{
    parser.setApplicationDescription(
        QStringLiteral("Matchmaking client of the Lorvane ladder. Start it from your game's folder."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(gameDirOption());
    parser.addOption(checkOption());
    parser.addOptions(extension.options);
}

// --help and --version answer before anything else: no log is replaced
// and no other running client is disturbed.
bool asksForHelpOrVersion(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char *word : {"-h", "--help", "-?", "--help-all", "-v", "--version"}) {
            if (std::strcmp(argv[i], word) == 0)
                return true;
        }
    }
    return false;
}

bool asksFor(int argc, char *argv[], const char *word)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], word) == 0)
            return true;
    }
    return false;
}

// The connection check without a window, beside a running client too: its
// own sockets, no log file replaced, a mapping made only for the check.
int checkConnection(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    setIdentity();
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    ConnectionCheck check;
    std::unique_ptr<PortMapper> mapper(Settings::mapPortOnRouter() ? new PortMapper : nullptr);
    ConnectionReport report;
    bool checked = false;
    const auto quitWhenDone = [&]() {
        if (checked && (!mapper || mapper->isDone()))
            app.quit();
    };
    QObject::connect(&check, &ConnectionCheck::finished, &app, [&](const ConnectionReport &r) {
        report = r;
        checked = true;
        quitWhenDone();
    });
    check.start();
    if (mapper) {
        QObject::connect(mapper.get(), &PortMapper::finished, &app, quitWhenDone);
        mapper->start(check.localPort());
    }
    // The router's answers have their own time limits; this one holds them.
    QTimer::singleShot(ConnectionCheck::kTimeLimitMs * 2, &app, &QCoreApplication::quit);
    app.exec();
    if (!mapper)
        report.mappingNote = QStringLiteral("the setting \"Map a port on my router\" is off");
    else if (mapper->mapping().isActive())
        report.mapping = mapper->mapping().text() + QStringLiteral(" (made for this check and removed)");
    else
        report.mappingNote = mapper->stateText();
    std::printf("%s\n", qPrintable(report.table()));
    std::fflush(stdout);
    return checked && report.playable() ? 0 : 1;
}

} // namespace

void prepareProcess()
{
    // Network interfaces are not polled: the longest interval a timer takes
    // (a negative one draws a warning from the framework at every start).
    qputenv("QT_BEARER_POLL_TIMEOUT", QByteArray::number(std::numeric_limits<int>::max()));
}

void prepareScaling()
{
    // Scale with the desktop: its logical DPI (Xft.dpi 192 on a 2x GNOME or
    // Xfce desktop) sets the factor; a QT_SCALE_FACTOR of the user's still
    // comes on top.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
}

QString enterGameFolder(const QString &gameDir)
{
    QString folder;
    if (!gameDir.isEmpty() && SpawnableGame::holdsGame(gameDir)) {
        folder = QDir(gameDir).absolutePath();
        Settings::setGameFolder(folder);
    } else if (SpawnableGame::holdsGame(QDir::currentPath())) {
        folder = QDir::currentPath();
    } else if (SpawnableGame::holdsGame(Settings::gameFolder())) {
        folder = Settings::gameFolder();
    } else {
        folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        QDir().mkpath(folder);
    }
    QDir::setCurrent(folder);
    return folder;
}

QDir prepareApplication(QApplication &app, const QString &gameDir)
{
    Appearance::initResources();
    setIdentity();
    const QString folder = enterGameFolder(gameDir);

    const QDir dataDir(QStringLiteral("Zantry"));
    QDir().mkpath(dataDir.path());

    ZantryLog::instance()->openLogFile(QStringLiteral("Zantry"));
    qDebug() << "Log file Initialized";
    qDebug() << "Self hashed to" << FileDigest::sha1Hex(QCoreApplication::applicationFilePath());

    if (!gameDir.isEmpty() && !SpawnableGame::holdsGame(gameDir))
        qDebug().noquote() << "--game-dir: no Lorvane game in " + gameDir;
    qDebug().noquote() << "Working in " + folder;

    Appearance::registerFonts();
    app.setStyleSheet(Appearance::loadStyleSheet(dataDir));
    return dataDir;
}

int run(int argc, char *argv[], const Extension &extension)
{
    if (asksForHelpOrVersion(argc, argv)) {
        QCoreApplication app(argc, argv);
        setIdentity();
        QCommandLineParser parser;
        defineOptions(parser, extension);
        parser.process(app); // prints and ends the process
        return 0;
    }
    if (asksFor(argc, argv, "--check-connection"))
        return checkConnection(argc, argv);

    prepareProcess();
    prepareScaling();
    int code = 0;
    QString program;
    QString restartIn;
    {
        SingleApplication app(argc, argv, false, SingleApplication::User, 100);
        program = QCoreApplication::applicationFilePath();
        QCommandLineParser parser;
        defineOptions(parser, extension);
        // The framework has taken its own switches (-platform, -style) by now.
        if (!parser.parse(QCoreApplication::arguments())) {
            std::fprintf(stderr, "%s\n", qPrintable(parser.errorText()));
            return 1;
        }
        const QDir dataDir = prepareApplication(app, parser.value(gameDirOption()));

        // SIGTERM and SIGINT end the loop in order, so the log is flushed and
        // the single-instance block released.
        SignalBridge::install();

        auto *window = new MainWindow(dataDir);
        QObject::connect(SignalBridge::instance(), &SignalBridge::quitRequested, window, &MainWindow::quitRequested);
        QObject::connect(&app, &SingleApplication::instanceStarted, window, &MainWindow::instanceStarted);
        // Another game folder: everything (log, maps, games) lives in it, so
        // the program starts again there once this run has ended.
        QObject::connect(window, &MainWindow::gameFolderChosen, &app, [&restartIn](const QString &folder) {
            restartIn = folder;
            QCoreApplication::quit();
        });
        if (extension.windowCreated)
            extension.windowCreated(window, parser);

        CrashHandler::instance()->install(dataDir);

        code = app.exec();

        ZantryLog::instance()->close();
        delete window;
    }
    // The single-instance block is released now, so the new run is the first.
    if (!restartIn.isEmpty() && !QProcess::startDetached(program, {QStringLiteral("--game-dir"), restartIn}, restartIn))
        std::fprintf(stderr, "Zantry could not start again in %s\n", qPrintable(restartIn));
    return code;
}

} // namespace Startup
