#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

struct SandboxOptions
{
    QString bind = QStringLiteral("127.0.0.1");
    int port = 0;
    QString dnsBind; // empty: same as bind
    int dnsPort = 0;
    QString pingHost = QStringLiteral("ping.sandbox.test");
    QString dnsMode = QStringLiteral("answer");
    QString dataDir;
    QString logFile;
    QStringList tunnels; // host:port
    QString masterListFile;
    int checkback = 1;     // -1: leave "checkback" out of "please wait"
    int queueTimeout = 60; // seconds without a poll before a player leaves the queue; 0: never
    QStringList fatalAccounts;
    QString refreshMode = QStringLiteral("ok");
    int playersPerMatch = 0; // 0: each ladder's own setting
    int seed = 0;            // 0: a random seed per match
    qint64 firstGameId = 1;  // 0: every match has game ID 0
    QString forceMap;        // digest
    QString addresses = QStringLiteral("all"); // "loopback": opponents' other addresses are blanked
    QStringList missingArchives;

    // One-shot jobs instead of serving.
    QString writeData;
    QString makeGameFolder;
    QString game = QStringLiteral("yr");
    QString gameMaps = QStringLiteral("some");
    QString fakegame; // launcher source; default: fakegame beside this program
    bool brokenLauncher = false;
    bool linkLaunchers = false;
};

namespace Options {

extern const QStringList DnsModes;
extern const QStringList RefreshModes;

// Parses the command line; on bad arguments returns false and sets error.
// Exits the process itself for --help.
bool parse(const QCoreApplication &app, SandboxOptions *options, QString *error);

} // namespace Options
