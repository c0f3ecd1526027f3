// netlab: builds a small internet of network namespaces and keeps it until
// SIGTERM or Ctrl-C, so a match can be tried by hand across home routers:
// start the sandbox and a tunnel in the hosts' namespaces and the client in
// a player's LAN namespace (ip netns exec NS ...).
#include "netlab.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <csignal>
#include <cstdio>

namespace {

const char kHelp[] =
    "Usage: netlab [--host NAME]... [--player NAME:ei|sym]... [--delay MS] [--jitter MS] [--loss PCT]\n"
    "              [--udp-timeout S] [--netimpair PATH]\n"
    "Builds a public network (198.51.100.0/24) with a namespace per host, and per player a LAN namespace\n"
    "behind a NAT router namespace: ei maps one port for every destination, sym a new port per destination;\n"
    "both drop unsolicited inbound datagrams. --delay, --jitter and --loss impair each router's uplink, each\n"
    "way; --udp-timeout shortens the routers' UDP mappings. Defaults: hosts site and tunnel, players\n"
    "alice:ei and bob:ei. Prints \"HOST name namespace address\", \"PLAYER name lan-namespace lan-address\n"
    "router-namespace public-address\" and \"READY\"; removes everything on SIGTERM or SIGINT. Needs root.\n";

void print(const QString &line)
{
    std::puts(line.toUtf8().constData());
    std::fflush(stdout);
}

int fail(const QString &why)
{
    std::fprintf(stderr, "netlab: %s\n", why.toUtf8().constData());
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList hosts, players;
    NetLab::Impairment uplink;
    int udpTimeout = 0;
    QString netimpair = QCoreApplication::applicationDirPath() + QStringLiteral("/netimpair");
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("--help")) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (i + 1 >= args.size())
            return fail(arg + QStringLiteral(" needs a value (see --help)"));
        const QString value = args.at(++i);
        bool ok = true;
        if (arg == QLatin1String("--host"))
            hosts << value;
        else if (arg == QLatin1String("--player") && (value.endsWith(QLatin1String(":ei")) || value.endsWith(QLatin1String(":sym"))))
            players << value;
        else if (arg == QLatin1String("--delay"))
            uplink.delayMs = value.toInt(&ok);
        else if (arg == QLatin1String("--jitter"))
            uplink.jitterMs = value.toInt(&ok);
        else if (arg == QLatin1String("--loss"))
            uplink.lossPercent = value.toDouble(&ok);
        else if (arg == QLatin1String("--udp-timeout"))
            udpTimeout = value.toInt(&ok);
        else if (arg == QLatin1String("--netimpair"))
            netimpair = QFileInfo(value).absoluteFilePath();
        else
            ok = false;
        if (!ok)
            return fail(QStringLiteral("bad option %1 %2 (see --help)").arg(arg, value));
    }
    if (hosts.isEmpty())
        hosts << QStringLiteral("site") << QStringLiteral("tunnel");
    if (players.isEmpty())
        players << QStringLiteral("alice:ei") << QStringLiteral("bob:ei");
    const QString reason = NetLab::unavailableReason(netimpair);
    if (!reason.isEmpty())
        return fail(reason);

    // Blocked before anything is built, so a signal waits for the teardown.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigprocmask(SIG_BLOCK, &stop, nullptr);

    NetLab lab(netimpair);
    if (!lab.start())
        return fail(lab.errorText());
    for (const QString &name : qAsConst(hosts)) {
        const QString address = lab.addHost(name);
        if (address.isEmpty())
            return fail(lab.errorText());
        print(QStringLiteral("HOST %1 %2 %3").arg(name, lab.ns(name), address));
    }
    for (const QString &entry : qAsConst(players)) {
        const QString name = entry.section(QLatin1Char(':'), 0, 0);
        const auto nat = entry.endsWith(QLatin1String(":sym")) ? NetLab::Nat::Symmetric : NetLab::Nat::EndpointIndependent;
        const NetLab::Player p = lab.addPlayer(name, nat, uplink, udpTimeout);
        if (p.lan.isEmpty())
            return fail(lab.errorText());
        print(QStringLiteral("PLAYER %1 %2 %3 %4 %5").arg(name, p.lan, p.lanAddress, p.router, p.publicAddress));
    }
    print(QStringLiteral("READY"));
    int signal = 0;
    sigwait(&stop, &signal);
    return 0;
}
