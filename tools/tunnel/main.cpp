// tunnel: a tunnel server stand-in for tests, benchmarks and the demo.
#include "util/signalbridge.h"
#include "tunnelrelay.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int s_usr1[2] = {-1, -1};

void onUsr1(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(s_usr1[0], &c, 1);
}

void printLine(const QString &line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// SIGUSR1 prints the counters without stopping the relay.
void installStatsSignal(TunnelRelay *relay)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, s_usr1) != 0)
        return;
    auto *notifier = new QSocketNotifier(s_usr1[1], QSocketNotifier::Read, relay);
    QObject::connect(notifier, &QSocketNotifier::activated, relay, [relay]() {
        char c;
        [[maybe_unused]] ssize_t n = ::read(s_usr1[1], &c, 1);
        printLine(relay->statsLine());
    });
    struct sigaction sa = {};
    sa.sa_handler = onUsr1;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &sa, nullptr);
}
} // namespace

int main(int argc, char *argv[])
{
    // Started by a test or the demo script: ends with it, even a killed one.
    if (qEnvironmentVariableIsSet("ZANTRY_DIE_WITH_PARENT"))
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tunnel"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Tunnel server stand-in. Relays routed datagrams (4-byte sender id, 4-byte receiver id, payload) to the\n"
        "endpoint last seen sending with the receiver's id, and answers the 48-byte public-address query on its\n"
        "query ports with the 40-byte reply. Prints \"LISTEN relay|query1|query2 <address> <port>\" and \"READY\";\n"
        "SIGUSR1 prints a \"STATS ...\" line, SIGTERM prints it and exits."));
    parser.addHelpOption();
    const QCommandLineOption bindOption(QStringLiteral("bind"), QStringLiteral("Address to bind (default 127.0.0.1)."),
                                        QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Relay port, 0 for ephemeral (default 0)."),
                                        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption queryOption(QStringLiteral("query-ports"),
                                         QStringLiteral("Comma-separated query ports, 0 for ephemeral (default 0,0)."),
                                         QStringLiteral("ports"), QStringLiteral("0,0"));
    const QCommandLineOption logOption(QStringLiteral("log"), QStringLiteral("Write one line per received datagram to file."),
                                       QStringLiteral("file"));
    parser.addOptions({bindOption, portOption, queryOption, logOption});
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "tunnel: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tunnel: unexpected argument %s\n", qPrintable(parser.positionalArguments().first()));
        return 2;
    }

    const QHostAddress address(parser.value(bindOption));
    if (address.isNull()) {
        std::fprintf(stderr, "tunnel: --bind needs an IP address, got \"%s\"\n", qPrintable(parser.value(bindOption)));
        return 2;
    }
    bool ok = false;
    const uint relayPort = parser.value(portOption).toUInt(&ok);
    if (!ok || relayPort > 65535) {
        std::fprintf(stderr, "tunnel: --port needs a port number, got \"%s\"\n", qPrintable(parser.value(portOption)));
        return 2;
    }
    QList<quint16> queryPorts;
    for (const QString &text : parser.value(queryOption).split(QLatin1Char(','))) {
        const uint port = text.trimmed().toUInt(&ok);
        if (!ok || port > 65535) {
            std::fprintf(stderr, "tunnel: --query-ports needs comma-separated ports, got \"%s\"\n",
                         qPrintable(parser.value(queryOption)));
            return 2;
        }
        queryPorts << quint16(port);
    }

    TunnelRelay relay;
    QFile log;
    if (parser.isSet(logOption)) {
        log.setFileName(parser.value(logOption));
        if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) {
            std::fprintf(stderr, "tunnel: cannot open log %s\n", qPrintable(log.fileName()));
            return 2;
        }
        relay.setLog(&log);
    }
    if (!relay.bind(address, quint16(relayPort), queryPorts)) {
        std::fprintf(stderr, "tunnel: %s\n", qPrintable(relay.errorText()));
        return 1;
    }

    SignalBridge::install();
    QObject::connect(SignalBridge::instance(), &SignalBridge::quitRequested, &app, &QCoreApplication::quit);
    installStatsSignal(&relay);

    printLine(QStringLiteral("LISTEN relay %1 %2").arg(address.toString()).arg(relay.relayPort()));
    const QList<quint16> bound = relay.queryPorts();
    for (int i = 0; i < bound.size(); ++i)
        printLine(QStringLiteral("LISTEN query%1 %2 %3").arg(i + 1).arg(address.toString()).arg(bound[i]));
    printLine(QStringLiteral("READY"));

    const int rc = app.exec();
    printLine(relay.statsLine());
    return rc;
}
