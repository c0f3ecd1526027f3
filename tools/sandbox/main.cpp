#include "apiroutes.h"
#include "context.h"
#include "dataset.h"
#include "dnsresponder.h"
#include "gamefolder.h"
#include "httpserver.h"
#include "journal.h"
#include "matchmaker.h"
#include "options.h"
#include "siteroutes.h"
#include "tokenstore.h"

#include "util/signalbridge.h"

#include <QCoreApplication>

#include <cstdio>
#include <csignal>
#include <sys/prctl.h>

namespace {

int fail(const QString &text, int code)
{
    std::fprintf(stderr, "sandbox: %s\n", qPrintable(text));
    return code;
}

void say(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    // Started by a test or the demo script: ends with it, even a killed one.
    if (qEnvironmentVariableIsSet("ZANTRY_DIE_WITH_PARENT"))
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sandbox"));

    SandboxOptions options;
    QString error;
    if (!Options::parse(app, &options, &error))
        return fail(error + QStringLiteral("\nTry --help."), 2);

    DataSet data = DataSet::builtin();
    if (!options.dataDir.isEmpty() && !DataSet::load(options.dataDir, &data, &error))
        return fail(error, 2);

    if (!options.writeData.isEmpty()) {
        if (!data.write(options.writeData, &error))
            return fail(error, 1);
        say(QStringLiteral("DATA ") + options.writeData);
        return 0;
    }
    if (!options.makeGameFolder.isEmpty()) {
        QStringList report;
        if (!GameFolder::make(data, options, QCoreApplication::applicationDirPath(), &report, &error))
            return fail(error, 1);
        for (const QString &line : qAsConst(report))
            say(line);
        return 0;
    }

    Journal journal(options.logFile);
    TokenStore tokens(data);
    Matchmaker matchmaker(options);
    SandboxContext context{data, options, journal, tokens, matchmaker};
    context.dnsMode = int(Options::DnsModes.indexOf(options.dnsMode));
    context.refreshMode = int(Options::RefreshModes.indexOf(options.refreshMode));
    SiteRoutes::prepare(context);

    HttpServer http(context);
    ApiRoutes::install(http.server(), context);
    SiteRoutes::install(http.server(), context);
    const int httpPort = http.bind(options.bind, options.port);
    if (httpPort <= 0)
        return fail(QStringLiteral("cannot listen for HTTP on %1 port %2").arg(options.bind).arg(options.port), 1);

    DnsResponder dns(context);
    if (!dns.bind(options.dnsBind, quint16(options.dnsPort)))
        return fail(QStringLiteral("cannot bind DNS on %1 port %2").arg(options.dnsBind).arg(options.dnsPort), 1);

    SignalBridge::install();
    QObject::connect(SignalBridge::instance(), &SignalBridge::quitRequested, &app, &QCoreApplication::quit);
    http.start();

    journal.log(QStringLiteral("serving %1 ladders, %2 accounts").arg(data.ladders.size()).arg(data.accounts.size()));
    say(QStringLiteral("LISTEN http %1 %2").arg(options.bind).arg(httpPort));
    say(QStringLiteral("LISTEN dns %1 %2").arg(options.dnsBind).arg(dns.port()));
    say(QStringLiteral("READY"));

    const int rc = app.exec();
    http.stop();
    journal.log(QStringLiteral("stopped"));
    return rc;
}
