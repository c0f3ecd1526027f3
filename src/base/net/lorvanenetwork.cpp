#include "net/lorvanenetwork.h"

#include "util/endpoints.h"
#include "net/router.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

LorvaneNetwork::LorvaneNetwork(NetworkState *state, quint16 firstPort, const QHostAddress &bindAddress)
    : QObject(nullptr)
    , m_state(state)
    , m_masterListUrl(Endpoints::instance().masterListUrl())
    , m_port(firstPort)
    , m_bindAddress(bindAddress)
    , m_thread(new QThread)
{
    moveToThread(m_thread);
    connect(m_thread, &QThread::started, this, &LorvaneNetwork::doSetup);
    m_thread->start();
}

LorvaneNetwork::~LorvaneNetwork()
{
    if (m_thread->isRunning()) {
        QMetaObject::invokeMethod(this, [this]() { teardown(); }, Qt::BlockingQueuedConnection);
        m_thread->quit();
        m_thread->wait();
    }
    delete m_thread;
}

void LorvaneNetwork::teardown()
{
    // Everything made on the worker thread is deleted there.
    delete m_fetchTimer;
    m_fetchTimer = nullptr;
    delete m_router.exchange(nullptr); // owns the peer sockets by now
    m_socket = nullptr;
    m_socketV6 = nullptr;
    delete m_manager;
    m_manager = nullptr;
}

void LorvaneNetwork::setFetchInterval(int ms)
{
    QMetaObject::invokeMethod(this, [this, ms]() {
        m_fetchInterval = ms;
        if (m_fetchTimer)
            m_fetchTimer->start(ms);
    });
}

void LorvaneNetwork::doSetup()
{
    QThread::currentThread()->setPriority(QThread::TimeCriticalPriority);
    auto *router = new Router(m_state, this);
    m_manager = new QNetworkAccessManager(this);
    m_socket = new QUdpSocket(this);
    setupLocalAddress();

    m_fetchTimer = new QTimer;
    connect(m_fetchTimer, &QTimer::timeout, this, &LorvaneNetwork::fetchTunnels);
    m_fetchTimer->start(m_fetchInterval);
    fetchTunnels();

    // The last port tried is kept even when every attempt failed.
    for (int attempt = 0; attempt < kBindAttempts; ++attempt) {
        // Without address sharing: two programs on one machine (a client and a
        // bot, or two tests) would otherwise share the port and take each
        // other's datagrams.
        if (m_socket->bind(m_bindAddress, m_port, QAbstractSocket::DontShareAddress))
            break;
        if (attempt + 1 < kBindAttempts)
            ++m_port;
    }
    m_state->setLocalPort(m_port);

    if (!m_state->localIPv6().isNull()) {
        m_socketV6 = new QUdpSocket(this);
        m_socketV6->bind(QHostAddress::AnyIPv6, m_port);
        m_state->setLocalIPv6Port(m_port);
    }
    router->setSocket(m_socket);
    if (m_socketV6)
        router->setIPv6Socket(m_socketV6);
    // Published only once it is set up: other threads read it from now on.
    m_router = router;
    emit threadStarted();
}

void LorvaneNetwork::setupLocalAddress()
{
    const QPair<QHostAddress, int> linkLocal = QHostAddress::parseSubnet(QStringLiteral("169.254.0.0/16"));
    const QPair<QHostAddress, int> global6 = QHostAddress::parseSubnet(QStringLiteral("2000::/3"));
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        qDebug().noquote() << "Local IP: " + address.toString();
        if (address.isLoopback())
            continue;
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isInSubnet(linkLocal))
            m_state->setLocalIP(address);
        else if (address.protocol() == QAbstractSocket::IPv6Protocol && address.isInSubnet(global6))
            m_state->setLocalIPv6(address);
    }
}

void LorvaneNetwork::fetchTunnels()
{
    QNetworkRequest request{QUrl(m_masterListUrl)};
    // The list is fetched again every minute: a silent server must not
    // pile requests up.
    request.setTransferTimeout(30000);
    m_manager->get(request);
    connect(m_manager, &QNetworkAccessManager::finished, this, &LorvaneNetwork::slotFetchTunnelsFinished,
            Qt::UniqueConnection);
    qDebug().noquote() << "fetching MasterList from: " + m_masterListUrl;
}

void LorvaneNetwork::slotFetchTunnelsFinished(QNetworkReply *reply)
{
    disconnect(m_manager, &QNetworkAccessManager::finished, this, &LorvaneNetwork::slotFetchTunnelsFinished);
    // A failed request reads as an empty list.
    const QByteArray body = reply->readAll();
    reply->close();
    reply->deleteLater();
    qDebug().noquote() << "slotFetchTunnelsFinished()" << body;
    const bool hadNone = m_state->tunnelServers().isEmpty();
    m_state->setTunnelServers(parseMasterList(body));
    // The first list is when the public address can first be asked for;
    // the player may queue any moment now and should be reachable.
    if (Router *router = m_router.load(); hadNone && router && !m_state->tunnelServers().isEmpty())
        router->doFastPublicIPFind();
    emit tunnelServersChanged();
}

NetworkState::TunnelTable LorvaneNetwork::parseMasterList(const QByteArray &body)
{
    const int zero = body.indexOf('\0');
    const QString text = QString::fromUtf8(zero >= 0 ? body.left(zero) : body);
    NetworkState::TunnelTable table;
    for (QString line : text.split(QLatin1Char('\n'))) {
        // Lines may end in "\r\n" or in "\n" alone.
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.startsWith(QLatin1String("address;")))
            continue;
        const QStringList fields = line.split(QLatin1Char(';'));
        if (fields.size() != 12)
            continue;
        TunnelServerInfo info;
        const QStringList hostPort = fields[0].split(QLatin1Char(':'));
        info.address = hostPort[0];
        bool ok = false;
        info.port = hostPort.value(1).toInt(&ok);
        if (ok) {
            info.country = fields[1];
            info.country_code = fields[2];
            info.name = fields[3];
            info.password = fields[4];
            info.numClients = fields[5].toInt(&ok);
            if (ok)
                info.maxClients = fields[6].toInt(&ok);
            if (ok) {
                info.isOfficial = fields[7].toInt(&ok) > 0;
            }
            if (ok)
                info.version = fields[10].toInt(&ok);
        }
        info.valid = ok;
        if (!info.valid || info.version != 3 || !info.isOfficial)
            continue;
        if (info.port < 1 || info.port > 65535) {
            qDebug().noquote() << "Refusing tunnel server with a bad port: " + line;
            continue;
        }
        qDebug().noquote() << "Adding: " + info.toString();
        table.insert(info.address, info);
    }
    return table;
}
