#include "net/routerpacket.h"

#include <QTime>
#include <QtEndian>

namespace RouterPacket {

quint32 read32(const char *data, int size, int offset)
{
    if (offset < 0 || size - offset < 4)
        return 0;
    return qFromBigEndian<quint32>(data + offset);
}

quint16 read16(const char *data, int size, int offset)
{
    if (offset < 0 || size - offset < 2)
        return 0;
    return qFromBigEndian<quint16>(data + offset);
}

void write32(char *data, int offset, quint32 value)
{
    qToBigEndian<quint32>(value, data + offset);
}

void write16(char *data, int offset, quint16 value)
{
    qToBigEndian<quint16>(value, data + offset);
}

Header Header::read(const char *data, int size)
{
    Header h;
    h.sender = read32(data, size, 0);
    h.receiver = read32(data, size, 4);
    h.marker = read32(data, size, 8);
    h.type = read32(data, size, 12);
    h.hops = read32(data, size, 16);
    h.time = read32(data, size, 20);
    return h;
}

void Header::write(char *data) const
{
    write32(data, 0, sender);
    write32(data, 4, receiver);
    write32(data, 8, marker);
    write32(data, 12, type);
    write32(data, 16, hops);
    write32(data, 20, time);
}

quint32 timeOfDayMs()
{
    return quint32(QTime::currentTime().msecsSinceStartOfDay());
}

int msSince(quint32 timeOfDay)
{
    constexpr qint64 day = 24 * 3600 * 1000;
    qint64 diff = qint64(timeOfDayMs()) - qint64(timeOfDay);
    if (diff < 0)
        diff += day;
    return int(diff % day);
}

QByteArray publicAddressQuery()
{
    QByteArray query(kQuerySize, '\0');
    query[0] = char(0x66);
    query[1] = char(0x96);
    return query;
}

bool parsePublicAddressReply(const char *data, int size, QHostAddress *address, quint16 *port)
{
    if (size != kReplySize || read16(data, size, 6) != 0x6696)
        return false;
    *address = QHostAddress(read32(data, size, 0) ^ 0x20202020u);
    *port = quint16(read16(data, size, 4) ^ 0x2020);
    return true;
}

QByteArray publicAddressReply(const QHostAddress &address, quint16 port)
{
    QByteArray reply(kReplySize, '\0');
    write32(reply.data(), 0, address.toIPv4Address() ^ 0x20202020u);
    write16(reply.data(), 4, quint16(port ^ 0x2020));
    write16(reply.data(), 6, 0x6696);
    return reply;
}

} // namespace RouterPacket
