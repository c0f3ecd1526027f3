// The sandbox's DNS responder parses datagrams from any local sender.
#include "dnsmessage.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    DnsMessage::Query query;
    QString error;
    if (!DnsMessage::parseQuery(bytes, &query, &error))
        return 0;
    // A reply echoes the question; it must never be taken for a query.
    const QByteArray reply = DnsMessage::buildReply(query, DnsMessage::Rcode::NoError, QHostAddress(QHostAddress::LocalHost));
    DnsMessage::Query again;
    if (reply.size() < 12 + query.question.size() || DnsMessage::parseQuery(reply, &again, &error))
        __builtin_trap();
    return 0;
}
