#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>

// The one DNS exchange the internet detector needs: a single question in,
// an A answer, an empty answer, NXDOMAIN or SERVFAIL out.
namespace DnsMessage {

struct Query
{
    quint16 id = 0;
    quint16 flags = 0;
    QString name; // lower case, no trailing dot
    quint16 type = 0;
    quint16 qclass = 0;
    QByteArray question; // the question section as received, echoed back
};

enum class Rcode : quint8 { NoError = 0, ServFail = 2, NxDomain = 3 };

constexpr quint16 TypeA = 1;
constexpr quint16 ClassIn = 1;

// False (with a reason) for anything but a standard query with one question.
bool parseQuery(const QByteArray &datagram, Query *query, QString *error);

// An answer for query; an A record for address when it is set.
QByteArray buildReply(const Query &query, Rcode rcode, const QHostAddress &address = QHostAddress());

// A standard recursive query, for tests and tools.
QByteArray buildQuery(quint16 id, const QString &name, quint16 type = TypeA);

} // namespace DnsMessage
