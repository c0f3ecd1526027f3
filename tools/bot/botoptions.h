#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

// What one bot run does, from its command line.
struct BotOptions
{
    QString account;  // e-mail address; with password it logs in
    QString password;
    QString token;    // a bearer token instead of the password
    QString ladder = QStringLiteral("yr");
    QString player;   // account name on the ladder; default: the first one
    int matches = 1;
    QString bind;     // peer socket address; empty: every interface
    QString gameDir;  // default: the current folder
    QString logDir;   // default: <game folder>/bot-data
};

namespace BotCommandLine {

// False with a message on a bad command line; --help prints and exits.
bool parse(const QCoreApplication &app, BotOptions *options, QString *error);

} // namespace BotCommandLine
