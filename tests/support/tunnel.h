#pragma once

#include "toolprocess.h"

#include "net/tunnelserverinfo.h"

#include <QHash>
#include <QList>

// tools/tunnel started on ephemeral ports: a relay port and two query ports.
class TunnelProcess
{
public:
    TunnelProcess();

    // bindAddress: loopback, or an address inside a namespace the test made.
    bool start(const QString &bindAddress = QStringLiteral("127.0.0.1"), const QStringList &extraArgs = QStringList());
    void stop() { m_tool.stop(); }
    QString errorText() const { return m_tool.errorText(); }

    QString address() const { return m_tool.address(QStringLiteral("relay")); }
    quint16 relayPort() const { return m_tool.port(QStringLiteral("relay")); }
    QList<quint16> queryPorts() const;
    // An official version-3 record for this tunnel, as the master list gives it.
    TunnelServerInfo info(const QString &name = QStringLiteral("sandbox")) const;
    // The tunnel's counters (received, relayed, unknown, short, queries, bad),
    // asked for with SIGUSR1; empty when it did not answer in time.
    QHash<QString, quint64> stats(int timeoutMs = 5000);

private:
    ToolProcess m_tool;
};
