#include "botoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QHostAddress>

namespace BotCommandLine {

bool parse(const QCoreApplication &app, BotOptions *o, QString *error)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "A windowless Zantry opponent for the sandbox. It logs in, queues on a ladder, accepts the match,\n"
        "routes to the other players (directly or through the tunnel servers of the master list), runs the\n"
        "game launcher of its game folder, uploads the result and repeats. Every service address comes from\n"
        "the ZANTRY_* endpoint variables; ZANTRY_SITE_URL must be set.\n"
        "Progress on stdout: \"BOT state <name>\", \"BOT match done <n>\", \"BOT done\"; a failure prints\n"
        "\"BOT error <text>\" and exits non-zero. SIGTERM or SIGINT leaves the queue and exits 0."));
    p.addHelpOption();
    const QCommandLineOption account(QStringLiteral("account"), QStringLiteral("E-mail address of the account."), QStringLiteral("email"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Password; logs in with the account."), QStringLiteral("text"));
    const QCommandLineOption token(QStringLiteral("token"), QStringLiteral("Bearer token instead of a password."), QStringLiteral("token"));
    const QCommandLineOption ladder(QStringLiteral("ladder"), QStringLiteral("Ladder abbreviation (default yr)."), QStringLiteral("abbr"));
    const QCommandLineOption player(QStringLiteral("player"), QStringLiteral("Player name on the ladder (default: the account's first)."), QStringLiteral("name"));
    const QCommandLineOption matches(QStringLiteral("matches"), QStringLiteral("Matches to play, 1 to 1000 (default 1)."), QStringLiteral("n"));
    const QCommandLineOption bind(QStringLiteral("bind"), QStringLiteral("Address of the peer socket, also reported as the LAN address."), QStringLiteral("addr"));
    const QCommandLineOption gameDir(QStringLiteral("game-dir"), QStringLiteral("Game folder with a launcher (default: the current folder)."), QStringLiteral("dir"));
    const QCommandLineOption logDir(QStringLiteral("log-dir"), QStringLiteral("Folder of zantry-log.txt (default: <game folder>/bot-data)."), QStringLiteral("dir"));
    p.addOptions({account, password, token, ladder, player, matches, bind, gameDir, logDir});

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
    o->account = p.value(account);
    o->password = p.value(password);
    o->token = p.value(token);
    if (p.isSet(ladder))
        o->ladder = p.value(ladder);
    o->player = p.value(player);
    o->bind = p.value(bind);
    o->gameDir = QDir(p.isSet(gameDir) ? p.value(gameDir) : QDir::currentPath()).absolutePath();
    o->logDir = p.isSet(logDir) ? p.value(logDir) : o->gameDir + QStringLiteral("/bot-data");
    if (p.isSet(matches)) {
        bool ok = false;
        o->matches = p.value(matches).toInt(&ok);
        if (!ok || o->matches < 1 || o->matches > 1000) {
            *error = QStringLiteral("--matches: expected a number from 1 to 1000, got \"%1\"").arg(p.value(matches));
            return false;
        }
    }
    if (o->token.isEmpty() == o->password.isEmpty()) {
        *error = QStringLiteral("give either --token or --account with --password");
        return false;
    }
    if (!o->password.isEmpty() && o->account.isEmpty()) {
        *error = QStringLiteral("--password needs --account");
        return false;
    }
    if (!o->bind.isEmpty() && QHostAddress(o->bind).protocol() != QAbstractSocket::IPv4Protocol) {
        *error = QStringLiteral("--bind: not an IPv4 address: ") + o->bind;
        return false;
    }
    if (!QDir(o->gameDir).exists()) {
        *error = QStringLiteral("--game-dir: no such folder: ") + o->gameDir;
        return false;
    }
    return true;
}

} // namespace BotCommandLine
