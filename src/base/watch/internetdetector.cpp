#include "watch/internetdetector.h"

#include "util/endpoints.h"

#include <QDebug>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <QUdpSocket>
#include <QtEndian>

namespace {

// "address" or "address:port"; IPv6 as "[addr]:port" or bare.
void parseServer(const QString &text, QHostAddress *address, quint16 *port)
{
    *port = 53;
    QString host = text.trimmed();
    if (host.startsWith(QLatin1Char('['))) {
        const int close = host.indexOf(QLatin1Char(']'));
        if (close > 0) {
            const QString rest = host.mid(close + 1);
            if (rest.startsWith(QLatin1Char(':')))
                *port = quint16(rest.mid(1).toUInt());
            host = host.mid(1, close - 1);
        }
    } else if (host.count(QLatin1Char(':')) == 1) {
        *port = quint16(host.section(QLatin1Char(':'), 1).toUInt());
        host = host.section(QLatin1Char(':'), 0, 0);
    }
    address->setAddress(host);
}

} // namespace

InternetDetector::InternetDetector(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
    , m_socket(new QUdpSocket(this))
    , m_nextId(quint16(QRandomGenerator::global()->generate()))
{
    parseServer(Endpoints::instance().dnsServer(), &m_server, &m_serverPort);
    m_host = Endpoints::instance().pingHost();
    m_timer->setInterval(m_interval);
    connect(m_timer, &QTimer::timeout, this, &InternetDetector::pingInternet);
    connect(m_socket, &QUdpSocket::readyRead, this, &InternetDetector::receivePing);
}

void InternetDetector::start() { m_timer->start(); }
void InternetDetector::stop() { m_timer->stop(); }

void InternetDetector::reset()
{
    m_sent = 0;
    m_received = 0;
    m_pending.clear();
}

void InternetDetector::setInterval(int interval)
{
    m_interval = interval;
    m_timer->setInterval(interval);
}

void InternetDetector::pingInternet()
{
    ++m_sent;
    const quint16 id = m_nextId++;
    m_pending.append(id);
    if (m_pending.size() > 64) // a server that never answers must not grow this
        m_pending.removeFirst();
    if (m_server.isNull() || m_socket->writeDatagram(buildQuery(id, m_host), m_server, m_serverPort) < 0)
        qDebug() << "InternetDetector: query not sent:" << m_socket->errorString();
}

void InternetDetector::receivePing()
{
    while (m_socket->hasPendingDatagrams()) {
        QHostAddress from;
        quint16 fromPort = 0;
        QByteArray reply(int(qMax<qint64>(m_socket->pendingDatagramSize(), 0)), Qt::Uninitialized);
        reply.resize(int(qMax<qint64>(m_socket->readDatagram(reply.data(), reply.size(), &from, &fromPort), 0)));
        // Only the name server we asked, only once per query it was asked.
        if (!from.isEqual(m_server, QHostAddress::TolerantConversion) || fromPort != m_serverPort)
            continue;
        quint16 id = 0;
        Answer answer = Answer::Other;
        if (!parseReply(reply, &id, &answer) || !m_pending.removeOne(id))
            continue;
        if (counts(answer))
            ++m_received;
        emit pinged();
    }
}

QByteArray InternetDetector::buildQuery(quint16 id, const QString &host)
{
    QByteArray q;
    q.reserve(18 + host.size());
    auto put16 = [&q](quint16 v) {
        q.append(char(v >> 8));
        q.append(char(v & 0xff));
    };
    put16(id);
    put16(0x0100); // standard query, recursion desired
    put16(1);      // one question
    put16(0);
    put16(0);
    put16(0);
    const QStringList labels = host.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    for (const QString &label : labels) {
        const QByteArray bytes = QUrl::toAce(label).left(63);
        q.append(char(bytes.size()));
        q.append(bytes);
    }
    q.append('\0');
    put16(1); // A
    put16(1); // IN
    return q;
}

bool InternetDetector::parseReply(const QByteArray &reply, quint16 *id, Answer *answer)
{
    if (reply.size() < 12)
        return false;
    const auto *p = reinterpret_cast<const uchar *>(reply.constData());
    if (!(p[2] & 0x80)) // a query, not a reply
        return false;
    *id = qFromBigEndian<quint16>(p);
    switch (p[3] & 0x0f) {
    case 0:
        *answer = Answer::NoError;
        break;
    case 1:
        *answer = Answer::InvalidRequest;
        break;
    case 2:
        *answer = Answer::ServerFailure;
        break;
    case 3:
        *answer = Answer::NotFound;
        break;
    case 5:
        *answer = Answer::ServerRefused;
        break;
    default:
        *answer = Answer::Other;
        break;
    }
    // A successful answer claiming records it does not hold is a broken reply,
    // but the server did answer.
    if (*answer == Answer::NoError && qFromBigEndian<quint16>(p + 6) > 0 && reply.size() <= 12 + 4)
        *answer = Answer::InvalidReply;
    return true;
}

bool InternetDetector::counts(Answer answer)
{
    switch (answer) {
    case Answer::NoError:
    case Answer::NotFound:
    case Answer::InvalidRequest:
    case Answer::InvalidReply:
        return true;
    default:
        return false;
    }
}
