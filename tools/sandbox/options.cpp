#include "options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>

namespace Options {

const QStringList DnsModes = {QStringLiteral("answer"), QStringLiteral("silent"), QStringLiteral("nxdomain"),
                              QStringLiteral("servfail")};
const QStringList RefreshModes = {QStringLiteral("ok"), QStringLiteral("unauthorized"), QStringLiteral("error"),
                                  QStringLiteral("html")};

namespace {

bool readInt(const QString &text, qint64 min, qint64 max, const QString &name, qint64 *out, QString *error)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < min || value > max) {
        *error = QStringLiteral("--%1: expected a number from %2 to %3, got \"%4\"").arg(name).arg(min).arg(max).arg(text);
        return false;
    }
    *out = value;
    return true;
}

bool validHostPort(const QString &text)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    bool ok = false;
    const int port = text.mid(colon + 1).toInt(&ok);
    return ok && port > 0 && port < 65536;
}

} // namespace

bool parse(const QCoreApplication &app, SandboxOptions *o, QString *error)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Local stand-in for the Lorvane services: the ladder web service (/api/v1), its pages and map previews,\n"
        "the tunnel master list (/master-list), the map database (/mapdb/<abbr>//<digest>.zip), the log\n"
        "collector (/upload.php), /inspect (JSON of everything received) and a DNS responder on UDP.\n"
        "Prints \"LISTEN http <addr> <port>\", \"LISTEN dns <addr> <port>\" and \"READY\" on stdout.\n"
        "Control at run time (POST): /control/dns?mode=M, /control/refresh?mode=M, /control/checkback?seconds=N,\n"
        "/control/fail?path=P&status=N (answer P, or a prefix P ending in *, with status N and an HTML body;\n"
        "status=0 clears), /control/delay?ms=N (before every reply), /inspect/reset (also clears faults and delay).\n"
        "Built-in data: ladders yr, ts, ra; accounts alice, bob, carol, dave @sandbox.test, password <name>-pass,\n"
        "token token-<name>; banned@sandbox.test is refused with \"fatal\". --write-data DIR shows all of it."));
    p.addHelpOption();
    const QCommandLineOption bind(QStringLiteral("bind"), QStringLiteral("Address for HTTP (and DNS). Default 127.0.0.1."), QStringLiteral("addr"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("HTTP port; 0 picks a free one (default)."), QStringLiteral("n"));
    const QCommandLineOption dnsBind(QStringLiteral("dns-bind"), QStringLiteral("Address for DNS; default: --bind."), QStringLiteral("addr"));
    const QCommandLineOption dnsPort(QStringLiteral("dns-port"), QStringLiteral("DNS UDP port; 0 picks a free one (default)."), QStringLiteral("n"));
    const QCommandLineOption pingHost(QStringLiteral("ping-host"), QStringLiteral("Name answered with 127.0.0.1. Default ping.sandbox.test."), QStringLiteral("name"));
    const QCommandLineOption dnsMode(QStringLiteral("dns-mode"), QStringLiteral("answer (default), silent, nxdomain or servfail."), QStringLiteral("mode"));
    const QCommandLineOption data(QStringLiteral("data"), QStringLiteral("Data folder: sandbox.json and maps/<abbr>/<file>. Default: built-in set."), QStringLiteral("dir"));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Append the request log to this file instead of stderr."), QStringLiteral("file"));
    const QCommandLineOption tunnel(QStringLiteral("tunnel"), QStringLiteral("A tunnel server for /master-list (official, version 3); repeatable."), QStringLiteral("host:port"));
    const QCommandLineOption masterList(QStringLiteral("master-list-file"), QStringLiteral("Serve this file verbatim as /master-list."), QStringLiteral("file"));
    const QCommandLineOption checkback(QStringLiteral("checkback"), QStringLiteral("\"checkback\" seconds in \"please wait\"; -1 leaves it out. Default 1."), QStringLiteral("n"));
    const QCommandLineOption queueTimeout(QStringLiteral("queue-timeout"), QStringLiteral("Seconds without a poll before a player leaves the queue; 0 never. Default 60."), QStringLiteral("n"));
    const QCommandLineOption fatal(QStringLiteral("fatal-account"), QStringLiteral("Answer this account's find-match with \"fatal\"; repeatable."), QStringLiteral("email"));
    const QCommandLineOption refresh(QStringLiteral("refresh"), QStringLiteral("Token refresh: ok (default), unauthorized (401 JSON), error (500 JSON), html (200 text/html)."), QStringLiteral("mode"));
    const QCommandLineOption players(QStringLiteral("players"), QStringLiteral("Players per match on every ladder (2-8); default: the ladder's own (2)."), QStringLiteral("n"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Fixed match seed; default random."), QStringLiteral("n"));
    const QCommandLineOption gameId(QStringLiteral("game-id"), QStringLiteral("First match's game ID, counting up; 0 gives every match 0. Default 1."), QStringLiteral("n"));
    const QCommandLineOption forceMap(QStringLiteral("force-map"), QStringLiteral("Play this map digest in every match."), QStringLiteral("digest"));
    const QCommandLineOption addresses(QStringLiteral("addresses"), QStringLiteral("all (default): opponents' addresses as they sent them; loopback: only loopback ones, others become \"\"."), QStringLiteral("which"));
    const QCommandLineOption missingArchive(QStringLiteral("missing-archive"), QStringLiteral("Answer 404 for this map digest's archive; repeatable."), QStringLiteral("digest"));
    const QCommandLineOption writeData(QStringLiteral("write-data"), QStringLiteral("Write the data set (built-in or --data) to a folder and exit."), QStringLiteral("dir"));
    const QCommandLineOption makeFolder(QStringLiteral("make-game-folder"), QStringLiteral("Build a sandbox game folder and exit (see --game, --game-maps)."), QStringLiteral("dir"));
    const QCommandLineOption game(QStringLiteral("game"), QStringLiteral("yr (default), ts, ra or all: launchers and maps for --make-game-folder."), QStringLiteral("abbr"));
    const QCommandLineOption gameMaps(QStringLiteral("game-maps"), QStringLiteral("some (default: every other map), all or none."), QStringLiteral("which"));
    const QCommandLineOption fakegame(QStringLiteral("fakegame"), QStringLiteral("Launcher program to copy; default: fakegame beside this program."), QStringLiteral("file"));
    const QCommandLineOption broken(QStringLiteral("broken-launcher"), QStringLiteral("Copy the launchers without execute permission (they fail to start)."));
    const QCommandLineOption linked(QStringLiteral("link-launchers"), QStringLiteral("Link the launchers to the program instead of copying it: their games then run under the program's name, as an opponent's game on the player's machine should (the process watcher looks for launcher names)."));
    for (const auto &opt : {bind, port, dnsBind, dnsPort, pingHost, dnsMode, data, log, tunnel, masterList, checkback, queueTimeout,
                            fatal, refresh, players, seed, gameId, forceMap, addresses, missingArchive, writeData, makeFolder, game, gameMaps,
                            fakegame, broken, linked})
        p.addOption(opt);

    if (!p.parse(app.arguments())) {
        *error = p.errorText();
        return false;
    }
    if (p.isSet(QStringLiteral("help")))
        p.showHelp(0);
    if (!p.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument: ") + p.positionalArguments().constFirst();
        return false;
    }

    auto intOption = [&](const QCommandLineOption &opt, qint64 min, qint64 max, auto *target) {
        qint64 value = 0;
        if (!p.isSet(opt))
            return true;
        if (!readInt(p.value(opt), min, max, opt.names().constFirst(), &value, error))
            return false;
        *target = std::remove_pointer_t<decltype(target)>(value);
        return true;
    };
    if (p.isSet(bind))
        o->bind = p.value(bind);
    if (QHostAddress(o->bind).isNull()) {
        *error = QStringLiteral("--bind: not an IP address: ") + o->bind;
        return false;
    }
    o->dnsBind = p.isSet(dnsBind) ? p.value(dnsBind) : o->bind;
    if (QHostAddress(o->dnsBind).isNull()) {
        *error = QStringLiteral("--dns-bind: not an IP address: ") + o->dnsBind;
        return false;
    }
    if (!intOption(port, 0, 65535, &o->port))
        return false;
    if (!intOption(dnsPort, 0, 65535, &o->dnsPort))
        return false;
    if (p.isSet(pingHost))
        o->pingHost = p.value(pingHost).toLower();
    if (p.isSet(dnsMode))
        o->dnsMode = p.value(dnsMode);
    if (!DnsModes.contains(o->dnsMode)) {
        *error = QStringLiteral("--dns-mode: expected one of %1, got \"%2\"").arg(DnsModes.join(QStringLiteral(", ")), o->dnsMode);
        return false;
    }
    o->dataDir = p.value(data);
    o->logFile = p.value(log);
    o->tunnels = p.values(tunnel);
    for (const QString &t : o->tunnels) {
        if (!validHostPort(t)) {
            *error = QStringLiteral("--tunnel: expected host:port, got \"%1\"").arg(t);
            return false;
        }
    }
    o->masterListFile = p.value(masterList);
    if (!intOption(checkback, -1, 3600, &o->checkback))
        return false;
    if (!intOption(queueTimeout, 0, 86400, &o->queueTimeout))
        return false;
    for (const QString &email : p.values(fatal))
        o->fatalAccounts.append(email.toLower());
    if (p.isSet(refresh))
        o->refreshMode = p.value(refresh);
    if (!RefreshModes.contains(o->refreshMode)) {
        *error = QStringLiteral("--refresh: expected one of %1, got \"%2\"").arg(RefreshModes.join(QStringLiteral(", ")), o->refreshMode);
        return false;
    }
    if (!intOption(players, 2, 8, &o->playersPerMatch))
        return false;
    if (!intOption(seed, 1, 2147483647, &o->seed))
        return false;
    if (!intOption(gameId, 0, 4294967295LL, &o->firstGameId))
        return false;
    o->forceMap = p.value(forceMap).toLower();
    if (p.isSet(addresses))
        o->addresses = p.value(addresses);
    if (o->addresses != QLatin1String("all") && o->addresses != QLatin1String("loopback")) {
        *error = QStringLiteral("--addresses: expected all or loopback, got \"%1\"").arg(o->addresses);
        return false;
    }
    o->missingArchives = p.values(missingArchive);
    o->writeData = p.value(writeData);
    o->makeGameFolder = p.value(makeFolder);
    if (p.isSet(game))
        o->game = p.value(game);
    if (!QStringList{QStringLiteral("yr"), QStringLiteral("ts"), QStringLiteral("ra"), QStringLiteral("all")}.contains(o->game)) {
        *error = QStringLiteral("--game: expected yr, ts, ra or all, got \"%1\"").arg(o->game);
        return false;
    }
    if (p.isSet(gameMaps))
        o->gameMaps = p.value(gameMaps);
    if (!QStringList{QStringLiteral("some"), QStringLiteral("all"), QStringLiteral("none")}.contains(o->gameMaps)) {
        *error = QStringLiteral("--game-maps: expected some, all or none, got \"%1\"").arg(o->gameMaps);
        return false;
    }
    o->fakegame = p.value(fakegame);
    o->brokenLauncher = p.isSet(broken);
    o->linkLaunchers = p.isSet(linked);
    return true;
}

} // namespace Options
