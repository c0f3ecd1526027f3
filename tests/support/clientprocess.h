#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

class QRegularExpression;

// The client program itself (build/zantry) as a child process, offscreen,
// started from a game folder; its log is read from the folder's
// "Zantry/zantry-log.txt". The waits keep the caller's event loop turning.
class ClientProcess
{
public:
    explicit ClientProcess(const QString &gameDir);
    ~ClientProcess(); // SIGTERM, then kill after 5 s

    // Without arguments the demo switch drives it: main button, ready
    // check and warnings answered, quit once a played match is uploaded.
    bool start(const QProcessEnvironment &env, const QStringList &args = {QStringLiteral("--demo-autoplay")});
    void sendSignal(int signal);
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_process.processId(); }

    QString log() const;
    bool waitForLog(const QString &text, int timeoutMs);
    bool waitForLog(const QRegularExpression &re, int timeoutMs);
    // The exit code; -1 when it is still running after timeoutMs or died
    // from a signal.
    int waitForExit(int timeoutMs);
    // The warnings logged during start-up, up to the first step of the
    // session, but for the offscreen platform's own.
    QStringList startWarnings() const;
    // The log's last lines, for failure messages.
    QString tail(int chars = 4000) const { return log().right(chars); }

    // "Running States changed: 2504": logged in, ladders, accounts and maps
    // loaded, map scan finished.
    static const QRegularExpression &readyLine();

    // Settings of a player who logged in before: alice's stored token. Its
    // watch list names only programs that never run, so the other tests'
    // games on this machine do not pause its queue.
    static void writeSettings(const QString &settingsFile);

private:
    QString m_dir;
    QProcess m_process;
};
