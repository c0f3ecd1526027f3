#include "tunnelrelay.h"

#include "net/routerpacket.h"

#include <QFile>
#include <QUdpSocket>

namespace {
constexpr int kMaxDatagram = 2048;
constexpr int kQuerySize = RouterPacket::kQuerySize;
// Learned ids are few in a real match; a spoofing flood must not grow the
// table without end.
constexpr int kMaxSeen = 65536;
} // namespace

TunnelRelay::TunnelRelay(QObject *parent)
    : QObject(parent)
{
}

bool TunnelRelay::bind(const QHostAddress &address, quint16 relayPort, const QList<quint16> &queryPorts)
{
    m_relay = new QUdpSocket(this);
    if (!m_relay->bind(address, relayPort)) {
        m_error = QStringLiteral("cannot bind relay %1:%2: %3").arg(address.toString()).arg(relayPort).arg(m_relay->errorString());
        return false;
    }
    connect(m_relay, &QUdpSocket::readyRead, this, &TunnelRelay::readRelay);
    for (quint16 port : queryPorts) {
        auto *socket = new QUdpSocket(this);
        if (!socket->bind(address, port)) {
            m_error = QStringLiteral("cannot bind query port %1:%2: %3").arg(address.toString()).arg(port).arg(socket->errorString());
            return false;
        }
        connect(socket, &QUdpSocket::readyRead, this, [this, socket]() { readQuery(socket); });
        m_query << socket;
    }
    return true;
}

quint16 TunnelRelay::relayPort() const
{
    return m_relay ? m_relay->localPort() : 0;
}

QList<quint16> TunnelRelay::queryPorts() const
{
    QList<quint16> ports;
    for (QUdpSocket *socket : m_query)
        ports << socket->localPort();
    return ports;
}

QString TunnelRelay::statsLine() const
{
    return QStringLiteral("STATS received=%1 relayed=%2 unknown=%3 short=%4 queries=%5 bad=%6")
        .arg(m_counters.received)
        .arg(m_counters.relayed)
        .arg(m_counters.unknown)
        .arg(m_counters.tooShort)
        .arg(m_counters.queries)
        .arg(m_counters.bad);
}

void TunnelRelay::log(const QString &line)
{
    if (m_log) {
        m_log->write(line.toUtf8() + '\n');
        m_log->flush();
    }
}

void TunnelRelay::readRelay()
{
    char buffer[kMaxDatagram];
    QHostAddress from;
    quint16 fromPort = 0;
    while (m_relay->hasPendingDatagrams()) {
        const qint64 size = m_relay->readDatagram(buffer, sizeof buffer, &from, &fromPort);
        if (size < 0)
            break;
        ++m_counters.received;
        if (size < 8) {
            ++m_counters.tooShort;
            log(QStringLiteral("short %1 bytes from %2:%3").arg(size).arg(from.toString()).arg(fromPort));
            continue;
        }
        const quint32 sender = RouterPacket::read32(buffer, int(size), 0);
        const quint32 receiver = RouterPacket::read32(buffer, int(size), 4);
        log(QStringLiteral("relay %1 bytes from %2:%3 sender=%4 receiver=%5")
                .arg(size).arg(from.toString()).arg(fromPort).arg(sender).arg(receiver));
        if (m_seen.contains(sender) || m_seen.size() < kMaxSeen)
            m_seen.insert(sender, Endpoint{from, fromPort});
        const auto it = m_seen.constFind(receiver);
        if (receiver == 0 || it == m_seen.constEnd()) {
            ++m_counters.unknown;
            continue;
        }
        m_relay->writeDatagram(buffer, size, it->address, it->port);
        ++m_counters.relayed;
    }
}

void TunnelRelay::readQuery(QUdpSocket *socket)
{
    char buffer[kMaxDatagram];
    QHostAddress from;
    quint16 fromPort = 0;
    while (socket->hasPendingDatagrams()) {
        const qint64 size = socket->readDatagram(buffer, sizeof buffer, &from, &fromPort);
        if (size < 0)
            break;
        const bool isQuery = size == kQuerySize && quint8(buffer[0]) == 0x66 && quint8(buffer[1]) == 0x96;
        bool ipv4 = false;
        const quint32 address = from.toIPv4Address(&ipv4);
        log(QStringLiteral("query %1 bytes from %2:%3 on %4").arg(size).arg(from.toString()).arg(fromPort).arg(socket->localPort()));
        if (!isQuery || !ipv4) {
            ++m_counters.bad;
            continue;
        }
        socket->writeDatagram(RouterPacket::publicAddressReply(QHostAddress(address), fromPort), from, fromPort);
        ++m_counters.queries;
    }
}
