#include "tunnel.h"

TunnelProcess::TunnelProcess()
    : m_tool(QStringLiteral("tunnel"))
{
}

QStringList TunnelProcess::sandboxArgs() const
{
    return {QStringLiteral("--tunnel"), QStringLiteral("%1:%2").arg(address()).arg(relayPort())};
}

bool TunnelProcess::start(const QString &bindAddress, const QStringList &extraArgs)
{
    return m_tool.start(QStringList{QStringLiteral("--bind"), bindAddress} + extraArgs);
}
