#include "dnsresponder.h"

#include "context.h"
#include "dnsmessage.h"
#include "journal.h"
#include "options.h"

#include <QJsonObject>
#include <QNetworkDatagram>
#include <QUdpSocket>

DnsResponder::DnsResponder(SandboxContext &context, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_socket(new QUdpSocket(this))
{
    connect(m_socket, &QUdpSocket::readyRead, this, &DnsResponder::readPending);
}

bool DnsResponder::bind(const QString &address, quint16 port)
{
    return m_socket->bind(QHostAddress(address), port);
}

quint16 DnsResponder::port() const
{
    return m_socket->localPort();
}

void DnsResponder::readPending()
{
    // Bounded per wake-up so a flood cannot starve the rest of the loop.
    for (int i = 0; i < 256 && m_socket->hasPendingDatagrams(); ++i) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram(4096);
        DnsMessage::Query query;
        QString error;
        if (!DnsMessage::parseQuery(datagram.data(), &query, &error)) {
            m_context.journal.log(QStringLiteral("dns: dropped %1 bytes from %2: %3")
                                      .arg(datagram.data().size())
                                      .arg(datagram.senderAddress().toString(), error));
            continue;
        }
        const QString mode = Options::DnsModes.value(m_context.dnsMode.load());
        QString outcome = mode;
        QByteArray reply;
        if (mode == QLatin1String("nxdomain")) {
            reply = DnsMessage::buildReply(query, DnsMessage::Rcode::NxDomain);
        } else if (mode == QLatin1String("servfail")) {
            reply = DnsMessage::buildReply(query, DnsMessage::Rcode::ServFail);
        } else if (mode == QLatin1String("answer")) {
            if (query.name != m_context.options.pingHost) {
                outcome = QStringLiteral("nxdomain");
                reply = DnsMessage::buildReply(query, DnsMessage::Rcode::NxDomain);
            } else {
                const bool a = query.type == DnsMessage::TypeA && query.qclass == DnsMessage::ClassIn;
                reply = DnsMessage::buildReply(query, DnsMessage::Rcode::NoError,
                                               a ? QHostAddress(QHostAddress::LocalHost) : QHostAddress());
            }
        }
        m_context.journal.add(Journal::DnsQueries, QJsonObject{{QStringLiteral("name"), query.name},
                                                               {QStringLiteral("type"), query.type},
                                                               {QStringLiteral("id"), query.id},
                                                               {QStringLiteral("outcome"), outcome}});
        m_context.journal.log(QStringLiteral("dns: %1 type %2 -> %3").arg(query.name).arg(query.type).arg(outcome));
        if (!reply.isEmpty())
            m_socket->writeDatagram(reply, datagram.senderAddress(), quint16(datagram.senderPort()));
    }
}
