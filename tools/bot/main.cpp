// bot: a windowless opponent for the demo, the end-to-end tests and the
// benchmarks; see --help.
#include "util/settings.h"
#include "util/signalbridge.h"
#include "util/zantrylog.h"
#include "bot.h"
#include "botoptions.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <csignal>
#include <sys/prctl.h>

int main(int argc, char *argv[])
{
    // Started by a test or the demo script: ends with it, even a killed one.
    if (qEnvironmentVariableIsSet("ZANTRY_DIE_WITH_PARENT"))
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    QCoreApplication app(argc, argv);
    // Its own settings: a bot beside the client must not take the client's
    // stored token or selections.
    QCoreApplication::setOrganizationName(QStringLiteral("Lorvane"));
    QCoreApplication::setApplicationName(QStringLiteral("ZantryBot"));

    BotOptions options;
    QString error;
    if (!BotCommandLine::parse(app, &options, &error)) {
        std::fprintf(stderr, "bot: %s (see --help)\n", qPrintable(error));
        return 2;
    }
    // The built-in endpoints are the real service; a bot never plays there.
    if (qEnvironmentVariableIsEmpty("ZANTRY_SITE_URL")) {
        std::fprintf(stderr, "bot: ZANTRY_SITE_URL is not set; the bot plays only against a sandbox\n");
        return 2;
    }
    QDir().mkpath(options.logDir);
    // Settings beside the log: bots of one user (one per game folder) keep
    // their tokens apart.
    Settings::useFolder(options.logDir);
    if (!ZantryLog::instance()->openLogFile(options.logDir))
        std::fprintf(stderr, "bot: no log file in %s\n", qPrintable(options.logDir));

    SignalBridge::install();
    Bot bot(options);
    QObject::connect(SignalBridge::instance(), &SignalBridge::quitRequested, &bot, &Bot::stop);
    QObject::connect(&bot, &Bot::finished, &app, [](int code) { QCoreApplication::exit(code); }, Qt::QueuedConnection);
    bot.start();
    const int code = app.exec();
    ZantryLog::instance()->close();
    return code;
}
