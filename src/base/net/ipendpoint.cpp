#include "net/ipendpoint.h"

#include <QDataStream>

QByteArray IPEndpoint::serialize() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out << addr << port;
    return bytes;
}

uint qHash(const IPEndpoint &ep, uint seed)
{
    return qHash(ep.addr, seed) ^ (uint(ep.port) * 0x9e3779b1u);
}
