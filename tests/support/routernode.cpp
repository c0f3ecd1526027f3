#include "routernode.h"

#include "net/routerpacket.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTest>

Router::Timing RouterNode::fastTiming()
{
    Router::Timing t;
    t.holdTime = 100;
    t.sendInterval = 40;
    t.floodTimeout = 1500;
    t.pingTime = 500;
    t.readyTime = 250;
    t.pingDelay = 80;
    t.timeoutInterval = 100;
    t.pathTimeout = 700;
    t.publicAddressInterval = 200;
    t.failoverSilence = 600;
    return t;
}

RouterNode::Options RouterNode::fast(bool ownThread)
{
    Options o;
    o.ownThread = ownThread;
    o.timing = fastTiming();
    return o;
}

RouterNode::RouterNode()
{
    create(Options());
}

RouterNode::RouterNode(const Options &options)
{
    create(options);
}

void RouterNode::create(const Options &options)
{
    if (options.network)
        m_networkInUse = options.network;
    m_context = new QObject;
    if (options.ownThread) {
        m_thread = new QThread;
        m_context->moveToThread(m_thread);
        m_thread->start();
    }
    run([this, options]() {
        auto *socket = new QUdpSocket;
        if (!socket->bind(options.address, 0)) {
            delete socket;
            return;
        }
        m_peer = IPEndpoint(options.address, socket->localPort());
        m_router = new Router(m_networkInUse);
        m_router->setTiming(options.timing);
        m_router->setSocket(socket);
        if (!options.v6Address.isNull()) {
            auto *v6 = new QUdpSocket;
            v6->bind(options.v6Address, 0);
            m_peerV6 = IPEndpoint(options.v6Address, v6->localPort());
            m_router->setIPv6Socket(v6);
        }
    });
}

RouterNode::~RouterNode()
{
    run([this]() {
        delete m_router;
        m_router = nullptr;
    });
    if (m_thread) {
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
    }
    delete m_context;
}

void RouterNode::run(const std::function<void()> &f)
{
    if (!m_thread)
        f();
    else
        QMetaObject::invokeMethod(m_context, f, Qt::BlockingQueuedConnection);
}

void RouterNode::startMatch(quint32 myId, const QList<quint32> &peers, const QList<QPair<IPEndpoint, int>> &paths)
{
    m_router->setMyId(myId);
    m_router->setState(Router::INITIAL);
    for (quint32 peer : peers)
        m_router->addPeer(peer);
    for (const auto &path : paths)
        m_router->addFloodPath(path.first, path.second);
    m_router->setState(Router::FLOOD);
}

TestSocket::TestSocket(const QHostAddress &address)
{
    m_socket.bind(address, 0);
}

IPEndpoint TestSocket::endpoint() const
{
    return IPEndpoint(m_socket.localAddress(), m_socket.localPort());
}

void TestSocket::send(const QByteArray &data, const IPEndpoint &to)
{
    m_socket.writeDatagram(data, to.addr, to.port);
}

bool TestSocket::skipped(const QByteArray &d) const
{
    const bool control = d.size() == RouterPacket::kControlSize
                         && RouterPacket::read32(d.constData(), d.size(), 8) == RouterPacket::kMarker;
    const bool keepAlive = (d.size() == RouterPacket::kKeepAliveSize && RouterPacket::read32(d.constData(), d.size(), 4) == 0)
                           || (control && RouterPacket::read32(d.constData(), d.size(), 12) == Router::KEEP_ALIVE);
    return keepAlive || (control && m_skipControl);
}

QByteArray TestSocket::receive(int timeoutMs, IPEndpoint *from)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        while (!m_socket.hasPendingDatagrams() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QTest::qSleep(1);
        }
        if (!m_socket.hasPendingDatagrams())
            return QByteArray();
        QByteArray data(int(m_socket.pendingDatagramSize()), '\0');
        QHostAddress address;
        quint16 port = 0;
        m_socket.readDatagram(data.data(), data.size(), &address, &port);
        if (skipped(data))
            continue;
        if (from)
            *from = IPEndpoint(address, port);
        return data;
    }
}

QList<QByteArray> TestSocket::collect(int ms)
{
    QList<QByteArray> all;
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        const QByteArray d = receive(int(qMax<qint64>(1, deadline.remainingTime())));
        if (!d.isNull())
            all << d;
    }
    return all;
}

QByteArray gameDatagram(quint16 sender, quint16 receiver, const QByteArray &payload)
{
    QByteArray d(4, '\0');
    RouterPacket::write16(d.data(), 0, sender);
    RouterPacket::write16(d.data(), 2, receiver);
    return d + payload;
}

QByteArray routedDatagram(quint32 sender, quint32 receiver, const QByteArray &payload)
{
    QByteArray d(8, '\0');
    RouterPacket::write32(d.data(), 0, sender);
    RouterPacket::write32(d.data(), 4, receiver);
    return d + payload;
}

QByteArray controlPacket(quint32 sender, quint32 receiver, quint32 type, quint32 hops, quint32 time)
{
    QByteArray d(RouterPacket::kControlSize, '\0');
    RouterPacket::Header h;
    h.sender = sender;
    h.receiver = receiver;
    h.marker = RouterPacket::kMarker;
    h.type = type;
    h.hops = hops;
    h.time = time;
    h.write(d.data());
    return d;
}
