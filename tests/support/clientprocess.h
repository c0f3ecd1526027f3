#pragma once

#include "toolprocess.h"

#include <QProcess>
#include <QString>
#include <QStringList>

class QRegularExpression;

// The client program itself (build/zantry) as a child process, offscreen,
// started from a game folder; its log is read from the folder's
// "Zantry/zantry-log.txt".
class ClientProcess : public ChildProcess
{
public:
    explicit ClientProcess(const QString &gameDir);

    // Without arguments the demo program's switch drives it (zantry-demo):
    // main button, ready check and warnings answered, quit once a played
    // match is uploaded. Without demo switches it is the shipped client.
    bool start(const QProcessEnvironment &env, const QStringList &args = {QStringLiteral("--demo-autoplay")});

    QString log() const;
    bool waitForLog(const QString &text, int timeoutMs);
    bool waitForLog(const QRegularExpression &re, int timeoutMs);
    // The warnings logged during start-up, up to the first step of the
    // session, but for the offscreen platform's own.
    QStringList startWarnings() const;
    // The log's last steps, for failure messages: without the JSON bodies
    // and the periodic address queries the log also holds.
    QString tail(int chars = 6000) const;
    static QString steps(const QString &log, int chars);

    // "Running States changed: 2504": logged in, ladders, accounts and maps
    // loaded, map scan finished.
    static const QRegularExpression &readyLine();

    // Settings of a player who logged in before: alice's stored token. Its
    // watch list names only programs that never run, so the other tests'
    // games on this machine do not pause its queue.
    static void writeSettings(const QString &settingsFile);

private:
    QString m_dir;
};
