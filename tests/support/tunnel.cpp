#include "tunnel.h"

#include <QDeadlineTimer>

#include <csignal>

TunnelProcess::TunnelProcess()
    : m_tool(QStringLiteral("tunnel"))
{
}

bool TunnelProcess::start(const QString &bindAddress, const QStringList &extraArgs)
{
    return m_tool.start(QStringList{QStringLiteral("--bind"), bindAddress} + extraArgs);
}

QList<quint16> TunnelProcess::queryPorts() const
{
    return {m_tool.port(QStringLiteral("query1")), m_tool.port(QStringLiteral("query2"))};
}

TunnelServerInfo TunnelProcess::info(const QString &name) const
{
    TunnelServerInfo info;
    info.address = address();
    info.port = relayPort();
    info.country = QStringLiteral("Sandbox");
    info.country_code = QStringLiteral("SB");
    info.name = name;
    info.numClients = 0;
    info.maxClients = 100;
    info.isOfficial = true;
    info.version = 3;
    return info;
}

QHash<QString, quint64> TunnelProcess::stats(int timeoutMs)
{
    QHash<QString, quint64> result;
    QProcess &process = m_tool.process();
    if (process.state() != QProcess::Running)
        return result;
    const int before = m_tool.output().count(QStringLiteral("STATS "));
    ::kill(pid_t(process.processId()), SIGUSR1);
    QDeadlineTimer deadline(timeoutMs);
    while (m_tool.output().count(QStringLiteral("STATS ")) == before && !deadline.hasExpired())
        process.waitForReadyRead(50);
    const QString output = m_tool.output();
    const int at = output.lastIndexOf(QStringLiteral("STATS "));
    if (at < 0 || output.count(QStringLiteral("STATS ")) == before)
        return result;
    const QString line = output.mid(at + 6, output.indexOf(QLatin1Char('\n'), at) - at - 6);
    for (const QString &pair : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const int eq = pair.indexOf(QLatin1Char('='));
        if (eq > 0)
            result.insert(pair.left(eq), pair.mid(eq + 1).toULongLong());
    }
    return result;
}
