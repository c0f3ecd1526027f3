#pragma once

#include <QHash>
#include <QProcess>
#include <QString>
#include <QStringList>

// A sandbox service or stand-in run as a child process. Every tool prints,
// on standard output, one line "LISTEN <label> <address> <port>" for each
// socket it bound and then a line "READY"; start() waits for that line.
// Tools bind loopback and port 0 (ephemeral) unless told otherwise.
class ToolProcess
{
public:
    explicit ToolProcess(const QString &toolName);
    ~ToolProcess(); // SIGTERM, then kill after 5 s

    void setEnvironment(const QProcessEnvironment &env) { m_process.setProcessEnvironment(env); }
    void setWorkingDirectory(const QString &dir) { m_process.setWorkingDirectory(dir); }

    bool start(const QStringList &args = QStringList(), int timeoutMs = 15000);
    void stop();
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    quint16 port(const QString &label) const { return m_ports.value(label); }
    QString address(const QString &label) const { return m_addresses.value(label); }
    QString url(const QString &label = QStringLiteral("http")) const; // http://address:port
    QString output() const { return m_output; }                      // everything printed so far
    QString errorText() const { return m_error; }
    QProcess &process() { return m_process; }

private:
    void collect();
    QString m_tool;
    QProcess m_process;
    QHash<QString, quint16> m_ports;
    QHash<QString, QString> m_addresses;
    QString m_output;
    QString m_error;
    bool m_ready = false;
};

// SIGTERM, then SIGKILL when it is still there after 5 s.
void stopProcess(QProcess &process);
