#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QString>

// An address and a UDP port; a plain value.
struct IPEndpoint
{
    QHostAddress addr;
    quint16 port = 0;

    IPEndpoint() = default;
    IPEndpoint(const QHostAddress &a, quint16 p) : addr(a), port(p) {}

    bool isNull() const { return addr.isNull(); }
    bool operator==(const IPEndpoint &o) const { return addr == o.addr && port == o.port; }
    bool operator!=(const IPEndpoint &o) const { return !(*this == o); }
    QString toString() const { return QStringLiteral("%1:%2").arg(addr.toString()).arg(port); }
    QAbstractSocket::NetworkLayerProtocol protocol() const { return addr.protocol(); }
    // The address in Qt's stream format followed by the port; the hash key.
    QByteArray serialize() const;
};

uint qHash(const IPEndpoint &ep, uint seed = 0);
