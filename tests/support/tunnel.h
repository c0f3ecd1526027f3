#pragma once

#include "toolprocess.h"

// tools/tunnel started on ephemeral ports: a relay port and two query ports.
class TunnelProcess
{
public:
    TunnelProcess();

    // bindAddress: loopback, or an address inside a namespace the test made.
    bool start(const QString &bindAddress = QStringLiteral("127.0.0.1"), const QStringList &extraArgs = QStringList());
    void stop() { m_tool.stop(); }
    void setLauncher(const QStringList &prefix) { m_tool.setLauncher(prefix); }
    QString errorText() const { return m_tool.errorText(); }

    QString address() const { return m_tool.address(QStringLiteral("relay")); }
    quint16 relayPort() const { return m_tool.port(QStringLiteral("relay")); }
    // "--tunnel address:port", for the sandbox's master list.
    QStringList sandboxArgs() const;

private:
    ToolProcess m_tool;
};
