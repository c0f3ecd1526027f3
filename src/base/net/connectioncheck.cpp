#include "net/connectioncheck.h"

#include "net/networkstate.h"
#include "net/lorvanenetwork.h"
#include "net/routerpacket.h"
#include "util/endpoints.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUdpSocket>

#include <algorithm>

namespace {

constexpr int kResendMs = 500;
constexpr int kRounds = 3;

} // namespace

int ConnectionReport::answeredTunnels() const
{
    return int(std::count_if(tunnels.begin(), tunnels.end(), [](const Tunnel &t) { return t.rttMs >= 0; }));
}

QString ConnectionReport::verdict() const
{
    if (!serviceReached)
        return QStringLiteral("The ladder service cannot be reached: no match can be played now.");
    if (answeredTunnels() == 0)
        return QStringLiteral("No tunnel server answered: something blocks the game's UDP traffic, so no match can be played.");
    if (!directLikely() && ports == Ports::OnePerDestination)
        return QStringLiteral("Matches can be played, mostly through a tunnel server: your router gives every destination a new port.");
    if (!directLikely())
        return QStringLiteral("Matches can be played; whether direct paths work is not known.");
    return QStringLiteral("Good: matches can be played, and direct paths to other players are likely.");
}

QList<QStringList> ConnectionReport::rows() const
{
    QList<QStringList> rows;
    QString service = serviceReached ? QStringLiteral("reached, ") + serviceText : QStringLiteral("not reached: ") + serviceText;
    if (serviceReached)
        service += secure ? QStringLiteral(", certificate trusted") : QStringLiteral(", plain HTTP");
    QString help;
    if (!serviceReached)
        help = secure && !certificateTrusted
                   ? QStringLiteral("Check the computer's date and any program that inspects secure connections.")
                   : QStringLiteral("Check the internet connection; the ladder site may be down.");
    rows << QStringList{QStringLiteral("Ladder service"), service, help};
    for (const Tunnel &t : tunnels)
        rows << QStringList{QStringLiteral("Tunnel ") + t.name,
                            t.rttMs >= 0 ? QStringLiteral("%1 ms").arg(t.rttMs) : QStringLiteral("no answer"),
                            t.rttMs >= 0 ? QString()
                                         : QStringLiteral("Allow Zantry through the firewall (UDP), or try again later.")};
    if (tunnels.isEmpty())
        rows << QStringList{QStringLiteral("Tunnel servers"), QStringLiteral("none listed"),
                            QStringLiteral("The tunnel list could not be fetched; try again later.")};
    rows << QStringList{QStringLiteral("Public address"), publicIP.isNull() ? QStringLiteral("unknown") : publicIP.toString(), QString()};
    QStringList seen;
    for (quint16 port : seenPorts)
        seen << QString::number(port);
    QString portText = QStringLiteral("not measured (fewer than two answers)");
    QString portHelp;
    if (ports == Ports::OneForAll) {
        portText = QStringLiteral("one port for every destination (%1): direct paths likely").arg(seen.value(0));
    } else if (ports == Ports::OnePerDestination) {
        portText = QStringLiteral("a new port for every destination (%1): %2")
                       .arg(seen.join(QStringLiteral(", ")),
                            mapping.isEmpty() ? QStringLiteral("games go through tunnels") : QStringLiteral("the port mapping lets peers in"));
        if (mapping.isEmpty())
            portHelp = QStringLiteral("Turn on UPnP or NAT-PMP in the router and \"Map a port on my router\" in Zantry.");
    }
    rows << QStringList{QStringLiteral("Router ports"), portText, portHelp};
    const QString none = mappingNote.isEmpty() ? QStringLiteral("none") : QStringLiteral("none (%1)").arg(mappingNote);
    rows << QStringList{QStringLiteral("Port mapping"), mapping.isEmpty() ? none : mapping,
                        mapping.isEmpty() && ports == Ports::OnePerDestination ? portHelp : QString()};
    return rows;
}

QString ConnectionReport::table() const
{
    const QList<QStringList> all = rows();
    int width[2] = {0, 0};
    for (const QStringList &row : all)
        for (int i = 0; i < 2; ++i)
            width[i] = qMax(width[i], row[i].size());
    QStringList lines{verdict()};
    for (const QStringList &row : all) {
        QString line = row[0].leftJustified(width[0] + 2) + row[1];
        if (!row[2].isEmpty())
            line = line.leftJustified(width[0] + width[1] + 4) + QStringLiteral("-> ") + row[2];
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

ConnectionCheck::ConnectionCheck(QObject *parent)
    : QObject(parent), m_net(new QNetworkAccessManager(this)), m_socket(new QUdpSocket(this))
{
    qRegisterMetaType<ConnectionReport>();
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &ConnectionCheck::finish);
    connect(&m_resend, &QTimer::timeout, this, &ConnectionCheck::sendQueries);
    m_probeEnd.setSingleShot(true);
    connect(&m_probeEnd, &QTimer::timeout, this, &ConnectionCheck::finishIfDone);
    connect(m_socket, &QUdpSocket::readyRead, this, &ConnectionCheck::readAnswers);
}

ConnectionCheck::~ConnectionCheck() = default;

quint16 ConnectionCheck::localPort() const
{
    return m_socket->localPort();
}

void ConnectionCheck::start()
{
    if (m_running)
        return;
    m_running = true;
    m_report = ConnectionReport();
    m_targets.clear();
    m_serviceDone = m_listDone = false;
    m_rounds = 0;
    m_clock.start();
    m_deadline.start(kTimeLimitMs);
    if (m_socket->state() != QAbstractSocket::BoundState)
        m_socket->bind(QHostAddress::AnyIPv4, 0);

    const QUrl api(Endpoints::instance().apiUrl() + QStringLiteral("/"));
    m_report.secure = api.scheme() == QLatin1String("https");
    QNetworkRequest request(api);
    request.setTransferTimeout(kTimeLimitMs - 500);
    QNetworkReply *reply = m_net->get(request);
    connect(reply, &QNetworkReply::sslErrors, this, [this](const QList<QSslError> &errors) {
        m_report.serviceText = errors.value(0).errorString();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply]() { serviceAnswered(reply); });

    QNetworkRequest list{QUrl(Endpoints::instance().masterListUrl())};
    list.setTransferTimeout(kTimeLimitMs - kProbeMs);
    QNetworkReply *listReply = m_net->get(list);
    connect(listReply, &QNetworkReply::finished, this, [this, listReply]() { listAnswered(listReply); });
}

void ConnectionCheck::serviceAnswered(QNetworkReply *reply)
{
    reply->deleteLater();
    // Any HTTP answer, an error status included, means the service is there.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    m_report.serviceReached = status.isValid();
    m_report.certificateTrusted = m_report.serviceReached && m_report.secure;
    if (m_report.serviceReached)
        m_report.serviceText = QStringLiteral("HTTP %1 in %2 ms").arg(status.toInt()).arg(m_clock.elapsed());
    else if (reply->error() == QNetworkReply::OperationCanceledError)
        m_report.serviceText = QStringLiteral("no answer within %1 s").arg(kTimeLimitMs / 1000);
    else if (m_report.serviceText.isEmpty())
        m_report.serviceText = reply->errorString();
    m_serviceDone = true;
    finishIfDone();
}

void ConnectionCheck::listAnswered(QNetworkReply *reply)
{
    reply->deleteLater();
    m_listDone = true;
    const NetworkState::TunnelTable table =
        LorvaneNetwork::parseMasterList(reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray());
    const QList<quint16> ports = NetworkState::defaultQueryPorts();
    for (const TunnelServerInfo &server : table) {
        m_report.tunnels << ConnectionReport::Tunnel{server.name, server.address};
        for (quint16 port : ports)
            m_targets << Target{int(m_report.tunnels.size() - 1), IPEndpoint(QHostAddress(server.address), port)};
    }
    if (m_targets.isEmpty()) {
        finishIfDone();
        return;
    }
    m_probeEnd.start(kProbeMs);
    sendQueries();
    m_resend.start(kResendMs);
}

void ConnectionCheck::sendQueries()
{
    // A few rounds against loss; each target's time counts from its last query.
    if (++m_rounds > kRounds) {
        m_resend.stop();
        return;
    }
    static const QByteArray query = RouterPacket::publicAddressQuery();
    for (Target &t : m_targets) {
        if (t.answered)
            continue;
        t.sentAt = m_clock.elapsed();
        m_socket->writeDatagram(query, t.endpoint.addr, t.endpoint.port);
    }
}

void ConnectionCheck::readAnswers()
{
    while (m_socket->hasPendingDatagrams()) {
        QByteArray data(int(qMax<qint64>(0, m_socket->pendingDatagramSize())), '\0');
        QHostAddress from;
        quint16 fromPort = 0;
        const qint64 size = m_socket->readDatagram(data.data(), data.size(), &from, &fromPort);
        QHostAddress seenIP;
        quint16 seenPort = 0;
        if (size < 0 || !RouterPacket::parsePublicAddressReply(data.constData(), int(size), &seenIP, &seenPort))
            continue;
        const IPEndpoint sender(QHostAddress(from.toIPv4Address()), fromPort);
        for (Target &t : m_targets) {
            if (t.answered || t.endpoint != sender)
                continue;
            t.answered = true;
            t.seenPort = seenPort;
            ConnectionReport::Tunnel &tunnel = m_report.tunnels[t.tunnel];
            const int rtt = int(m_clock.elapsed() - t.sentAt);
            tunnel.rttMs = tunnel.rttMs < 0 ? rtt : qMin(tunnel.rttMs, rtt);
            m_report.publicIP = seenIP;
        }
    }
    finishIfDone();
}

void ConnectionCheck::finishIfDone()
{
    const bool allAnswered = std::all_of(m_targets.begin(), m_targets.end(), [](const Target &t) { return t.answered; });
    if (m_serviceDone && m_listDone && (allAnswered || !m_probeEnd.isActive()))
        finish();
}

void ConnectionCheck::finish()
{
    if (!m_running)
        return;
    m_running = false;
    m_deadline.stop();
    m_resend.stop();
    m_probeEnd.stop();
    if (!m_serviceDone)
        m_report.serviceText = QStringLiteral("no answer within %1 s").arg(kTimeLimitMs / 1000);
    for (const Target &t : qAsConst(m_targets)) {
        if (t.answered)
            m_report.seenPorts << t.seenPort;
    }
    if (m_report.seenPorts.size() >= 2) {
        const bool same = std::all_of(m_report.seenPorts.begin(), m_report.seenPorts.end(),
                                      [this](quint16 p) { return p == m_report.seenPorts.first(); });
        m_report.ports = same ? ConnectionReport::Ports::OneForAll : ConnectionReport::Ports::OnePerDestination;
    }
    std::stable_sort(m_report.tunnels.begin(), m_report.tunnels.end(), [](const auto &a, const auto &b) {
        return a.rttMs >= 0 && (b.rttMs < 0 || a.rttMs < b.rttMs);
    });
    emit finished(m_report);
}
