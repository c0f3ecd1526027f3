#pragma once

#include <QHash>
#include <QProcess>
#include <QString>
#include <QStringList>

// A program of this project run as a child process: stopped (SIGTERM, then
// kill after 5 s) when the helper goes. The waits keep the caller's event
// loop turning, so several children and the test's own objects run side by
// side.
class ChildProcess
{
public:
    virtual ~ChildProcess();

    void stop();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 processId() const { return m_process.processId(); }
    void sendSignal(int signal);
    // The exit code; -1 when it is still running after timeoutMs or died
    // from a signal.
    int waitForExit(int timeoutMs);
    QProcess &process() { return m_process; }
    // Runs the program under a launcher that forks it as its only child and
    // passes no signal on (ip netns exec NS unshare --pid --fork ...):
    // signals then go to that child, and killing the launcher kills it.
    void setLauncher(const QStringList &prefix) { m_launcher = prefix; }

protected:
    void startProgram(const QString &program, const QStringList &args);
    qint64 signalTarget() const;
    // Reads what the child printed; called again once it has ended.
    virtual void collect() {}
    QProcess m_process;
    QStringList m_launcher;
};

// A sandbox service or stand-in run as a child process. Every tool prints,
// on standard output, one line "LISTEN <label> <address> <port>" for each
// socket it bound and then a line "READY"; start() waits for that line.
// Tools bind loopback and port 0 (ephemeral) unless told otherwise.
class ToolProcess : public ChildProcess
{
public:
    explicit ToolProcess(const QString &toolName);

    void setEnvironment(const QProcessEnvironment &env) { m_process.setProcessEnvironment(env); }

    bool start(const QStringList &args = QStringList(), int timeoutMs = 15000);

    quint16 port(const QString &label) const { return m_ports.value(label); }
    QString address(const QString &label) const { return m_addresses.value(label); }
    QString url(const QString &label = QStringLiteral("http")) const; // http://address:port
    QString errorText() const { return m_error; }

private:
    void collect() override;
    QString m_tool;
    QHash<QString, quint16> m_ports;
    QHash<QString, QString> m_addresses;
    QString m_output;
    QString m_error;
    bool m_ready = false;
};
