#include "dnsmessage.h"

#include <QtEndian>

namespace DnsMessage {

namespace {

constexpr int HeaderSize = 12;
constexpr int MaxNameLength = 255;

quint16 read16(const QByteArray &data, int offset)
{
    return qFromBigEndian<quint16>(reinterpret_cast<const uchar *>(data.constData() + offset));
}

void append16(QByteArray *out, quint16 value)
{
    out->append(char(value >> 8));
    out->append(char(value & 0xff));
}

} // namespace

bool parseQuery(const QByteArray &datagram, Query *query, QString *error)
{
    if (datagram.size() < HeaderSize) {
        *error = QStringLiteral("shorter than a header");
        return false;
    }
    query->id = read16(datagram, 0);
    query->flags = read16(datagram, 2);
    if (query->flags & 0x8000) {
        *error = QStringLiteral("a response, not a query");
        return false;
    }
    if ((query->flags >> 11) & 0xf) {
        *error = QStringLiteral("not a standard query");
        return false;
    }
    if (read16(datagram, 4) != 1) {
        *error = QStringLiteral("question count is not 1");
        return false;
    }
    int pos = HeaderSize;
    QStringList labels;
    int nameLength = 0;
    while (true) {
        if (pos >= datagram.size()) {
            *error = QStringLiteral("name runs past the end");
            return false;
        }
        const int length = quint8(datagram.at(pos));
        if (length == 0) {
            ++pos;
            break;
        }
        if (length > 63) {
            *error = QStringLiteral("compressed or oversized label");
            return false;
        }
        nameLength += length + 1;
        if (nameLength > MaxNameLength || pos + 1 + length > datagram.size()) {
            *error = QStringLiteral("name too long");
            return false;
        }
        labels.append(QString::fromLatin1(datagram.mid(pos + 1, length)).toLower());
        pos += 1 + length;
    }
    if (pos + 4 > datagram.size()) {
        *error = QStringLiteral("question truncated");
        return false;
    }
    query->name = labels.join(QLatin1Char('.'));
    query->type = read16(datagram, pos);
    query->qclass = read16(datagram, pos + 2);
    query->question = datagram.mid(HeaderSize, pos + 4 - HeaderSize);
    return true;
}

QByteArray buildReply(const Query &query, Rcode rcode, const QHostAddress &address)
{
    const bool answer = rcode == Rcode::NoError && address.protocol() == QAbstractSocket::IPv4Protocol;
    QByteArray out;
    append16(&out, query.id);
    // QR, authoritative, recursion available; RD copied from the query.
    append16(&out, quint16(0x8000 | 0x0400 | (query.flags & 0x0100) | 0x0080 | quint8(rcode)));
    append16(&out, 1);
    append16(&out, answer ? 1 : 0);
    append16(&out, 0);
    append16(&out, 0);
    out.append(query.question);
    if (answer) {
        append16(&out, 0xc00c); // pointer to the question's name
        append16(&out, TypeA);
        append16(&out, ClassIn);
        append16(&out, 0);
        append16(&out, 60); // TTL
        append16(&out, 4);
        const quint32 v4 = address.toIPv4Address();
        append16(&out, quint16(v4 >> 16));
        append16(&out, quint16(v4 & 0xffff));
    }
    return out;
}

QByteArray buildQuery(quint16 id, const QString &name, quint16 type)
{
    QByteArray out;
    append16(&out, id);
    append16(&out, 0x0100);
    append16(&out, 1);
    append16(&out, 0);
    append16(&out, 0);
    append16(&out, 0);
    for (const QString &label : name.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        const QByteArray bytes = label.toLatin1().left(63);
        out.append(char(bytes.size()));
        out.append(bytes);
    }
    out.append('\0');
    append16(&out, type);
    append16(&out, ClassIn);
    return out;
}

} // namespace DnsMessage
