#pragma once

#include <QHostAddress>
#include <QtGlobal>

// Wire formats of the router: routed datagrams and control packets between
// routers, the game's 4-byte header, and the public-address query and reply.
// Every reader checks its bounds; fields past the end of a datagram read 0.
namespace RouterPacket {

constexpr quint32 kMarker = 0xF7C7C7C7u;
constexpr int kControlSize = 24;
constexpr int kKeepAliveSize = 8;
constexpr int kQuerySize = 48;
constexpr int kReplySize = 40;
constexpr quint32 kNoTime = 0xFFFFFFFFu;

quint32 read32(const char *data, int size, int offset);
quint16 read16(const char *data, int size, int offset);
void write32(char *data, int offset, quint32 value);
void write16(char *data, int offset, quint16 value);

struct Header
{
    quint32 sender = 0;
    quint32 receiver = 0;
    quint32 marker = 0;
    quint32 type = 0;
    quint32 hops = 0;
    quint32 time = 0;

    static Header read(const char *data, int size);
    // Writes all 24 bytes; the buffer must hold them.
    void write(char *data) const;
    bool isControl() const { return marker == kMarker; }
};

// Sender's local time of day in milliseconds, as control packets carry it.
quint32 timeOfDayMs();
// Milliseconds from an echoed time of day to now, across midnight.
int msSince(quint32 timeOfDay);

// The 48-byte query: 0x66 0x96 and zeros.
QByteArray publicAddressQuery();
// True for a 40-byte reply carrying the marker at bytes 6 and 7; fills the
// address and port it names.
bool parsePublicAddressReply(const char *data, int size, QHostAddress *address, quint16 *port);
QByteArray publicAddressReply(const QHostAddress &address, quint16 port);

} // namespace RouterPacket
