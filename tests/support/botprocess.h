#pragma once

#include "toolprocess.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

// tools/bot as a child process. It prints progress lines ("BOT state
// <name>", "BOT match done <n>", "BOT done", "BOT error <text>").
class BotProcess : public ChildProcess
{
public:
    BotProcess();

    void setEnvironment(const QProcessEnvironment &env) { m_process.setProcessEnvironment(env); }
    bool start(const QStringList &args);
    // Bob, the player's opponent: gameDir made a sandbox game folder with
    // every map, its launcher a link to the stand-in (on one machine a
    // second game under a launcher's name would rightly pause the player's
    // queue), logged in by token.
    bool startOpponent(const QProcessEnvironment &env, const QString &gameDir);

    // True once a line starting with prefix was printed; false when the bot
    // exited or the time ran out first.
    bool waitForLine(const QString &prefix, int timeoutMs);

    bool hasLine(const QString &prefix) const;
    // Waits up to timeoutMs for done() while the bot still plays: once it
    // ended without finishing its matches, the player's client would wait
    // for nobody, and the wait ends at once. Returns done().
    bool waitWhilePlaying(const std::function<bool()> &done, int timeoutMs);
    // For failure messages: whether the opponent left, and its last lines.
    QString whereabouts();
    // Everything printed, for failure messages.
    QString transcript() const;

private:
    void collect() override;
    bool left();
    QStringList m_lines;
    QString m_errors;
};
