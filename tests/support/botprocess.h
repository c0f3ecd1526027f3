#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// tools/bot as a child process. It prints progress lines ("BOT state
// <name>", "BOT match done <n>", "BOT done", "BOT error <text>"); the waits
// keep the caller's event loop turning, so several bots and the sandbox run
// side by side.
class BotProcess
{
public:
    BotProcess();
    ~BotProcess(); // SIGTERM, then kill after 5 s

    void setEnvironment(const QProcessEnvironment &env) { m_process.setProcessEnvironment(env); }
    bool start(const QStringList &args);
    void terminate() { m_process.terminate(); }

    // True once a line starting with prefix was printed; false when the bot
    // exited or the time ran out first.
    bool waitForLine(const QString &prefix, int timeoutMs);
    // The exit code, or -1 when it is still running after timeoutMs.
    int waitForExit(int timeoutMs);

    bool hasLine(const QString &prefix) const;
    // Everything printed, for failure messages.
    QString transcript() const;
    QProcess &process() { return m_process; }

private:
    void collect();
    QProcess m_process;
    QStringList m_lines;
    QString m_errors;
};
