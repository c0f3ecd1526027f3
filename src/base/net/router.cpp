#include "net/router.h"

#include "net/routerpacket.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QMetaEnum>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

using RouterPacket::Header;

Router::Router(NetworkState *network, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_game(new QUdpSocket(this))
    , m_publicTimer(new QTimer(this))
    , m_timeoutTimer(new QTimer(this))
    , m_stateTimer(new QTimer(this))
    , m_phaseTimer(new QTimer(this))
    , m_pingDelayTimer(new QTimer(this))
{
    qRegisterMetaType<RouteReport>();
    m_gameIds.insert(0, 0);
    m_pingDelayTimer->setSingleShot(true);
    connect(m_pingDelayTimer, &QTimer::timeout, this, &Router::setStatePing);
    connect(this, &Router::privStateChanged, this, &Router::doStateChanged);
}

Router::~Router() = default;

qint64 Router::now()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

QString Router::stateName(int state)
{
    const char *key = QMetaEnum::fromType<STATES>().valueToKey(state);
    return key ? QString::fromLatin1(key) : QString::number(state);
}

void Router::setSocket(QUdpSocket *socket)
{
    m_v4 = socket;
    m_v4->setParent(this);
    connect(m_v4, &QUdpSocket::readyRead, this, &Router::handlePeerPacket);
    connect(this, &Router::continuePeerRead, this, &Router::handlePeerPacket, Qt::QueuedConnection);

    m_game->bind(QHostAddress(QHostAddress::LocalHost), 0);
    m_gamePort = m_game->localPort();
    connect(m_game, &QUdpSocket::readyRead, this, &Router::handleGamePacket);
    connect(this, &Router::continueGameRead, this, &Router::handleGamePacket, Qt::QueuedConnection);

    connect(m_phaseTimer, &QTimer::timeout, this, &Router::timedOut);
    connect(m_stateTimer, &QTimer::timeout, this, &Router::sendState);
    connect(m_timeoutTimer, &QTimer::timeout, this, &Router::doManageFIBTimeOut);
    m_timeoutTimer->start(m_timing.timeoutInterval);

    connect(m_publicTimer, &QTimer::timeout, this, &Router::doFastPublicIPFind);
    m_publicTimer->start(m_timing.publicAddressInterval);
    doFastPublicIPFind();
}

void Router::setIPv6Socket(QUdpSocket *socket)
{
    m_v6 = socket;
    m_v6->setParent(this);
    connect(m_v6, &QUdpSocket::readyRead, this, &Router::handlePeerPacket);
}

Router::Counters Router::counters() const
{
    Counters c;
    c.noRoute = m_noRoute;
    c.control = m_control;
    c.unhandled = m_unhandled;
    c.refused = m_refused;
    c.toGame = m_toGame;
    return c;
}

FibEntry *Router::entry(quint32 id) const
{
    const auto it = m_fib.find(id);
    return it == m_fib.end() ? nullptr : it->second.get();
}

bool Router::bestRoute(quint32 id, PeerRoute *route) const
{
    QMutexLocker lock(&m_fibMutex);
    const FibEntry *e = entry(id);
    if (!e || !e->bestPath)
        return false;
    route->id = id;
    route->address = e->bestPath->endpoint.addr;
    route->port = e->bestPath->endpoint.port;
    route->rtt = e->bestPath->rtt;
    return true;
}

QList<IPEndpoint> Router::pathEndpoints(quint32 id) const
{
    QMutexLocker lock(&m_fibMutex);
    const FibEntry *e = entry(id);
    return e ? e->paths.keys() : QList<IPEndpoint>();
}

RouteReport Router::routeReport() const
{
    RouteReport report;
    report.routerState = m_state.load();
    QMutexLocker lock(&m_fibMutex);
    for (const auto &item : m_fib) {
        const FibEntry &e = *item.second;
        if (!e.isPeer)
            continue;
        RouteStatus status;
        status.id = e.id;
        status.reached = e.reached;
        status.peerState = e.peerState;
        if (const NetworkPath *best = e.bestPath.data()) {
            status.path = best->endpoint;
            status.pathType = best->type;
            if (best->pongs > 0)
                status.rtt = best->rttSum / best->pongs;
            if (best->pings > 0)
                status.lossPct = qBound(0, (best->pings - best->pongs) * 100 / best->pings, 100);
        }
        for (const NetworkPathPtr &path : e.paths)
            status.tried.append({path->endpoint, path->type});
        report.peers.append(status);
    }
    return report;
}

bool Router::hasEntry(quint32 id) const
{
    QMutexLocker lock(&m_fibMutex);
    return entry(id) != nullptr;
}

int Router::entryCount() const
{
    QMutexLocker lock(&m_fibMutex);
    return int(m_fib.size());
}

int Router::peerState(quint32 id) const
{
    QMutexLocker lock(&m_fibMutex);
    const FibEntry *e = entry(id);
    return e ? e->peerState : -1;
}

void Router::setMyId(quint32 id)
{
    onRouterThread([this, id]() {
        m_myId = id;
        m_gameIds.insert(quint16(id), id);
    });
}

void Router::addPeer(quint32 id)
{
    onRouterThread([this, id]() {
        QMutexLocker lock(&m_fibMutex);
        FibEntry *e = entry(id);
        if (!e) {
            m_fib.emplace(id, std::make_unique<FibEntry>(id, true));
        } else {
            if (!e->isPeer)
                --m_learnedEntries;
            e->isPeer = true;
        }
        m_gameIds.insert(quint16(id), id);
    });
}

void Router::addFloodPath(const IPEndpoint &endpoint, int type)
{
    onRouterThread([this, endpoint, type]() { insertFloodPath(endpoint, type, nullptr); });
}

void Router::addPeerPath(quint32 id, const IPEndpoint &endpoint, int type)
{
    onRouterThread([this, id, endpoint, type]() { insertFloodPath(endpoint, type, &id); });
}

void Router::insertFloodPath(const IPEndpoint &endpoint, int type, const quint32 *onlyPeer)
{
    if (endpoint.isNull()) {
        qDebug().noquote() << "addFloodPath: attempted to add a null path";
        return;
    }
    const NetworkPathPtr path(new NetworkPath(endpoint, type));
    QMutexLocker lock(&m_fibMutex);
    for (auto &item : m_fib) {
        FibEntry &e = *item.second;
        if (!e.isPeer || (onlyPeer && e.id != *onlyPeer))
            continue;
        const NetworkPathPtr old = e.paths.value(endpoint);
        e.paths.insert(endpoint, path);
        if (!e.bestPath || e.bestPath == old)
            e.bestPath = path;
    }
}

void Router::addFloodPath(const NetworkPathPtr &path)
{
    if (!path) {
        qDebug().noquote() << "addFloodPath: attempted to add a null path";
        return;
    }
    addFloodPath(path->endpoint, path->type);
}

// Reading the peer sockets: yields after HOLD_TIME so a flood cannot starve
// the thread's event loop.
void Router::handlePeerPacket()
{
    if (m_peerBuffer.size() < kPeerBufferSize)
        m_peerBuffer.resize(kPeerBufferSize);
    qint64 start = now();
    int count = 0;
    bool more = readPeerSocket(m_v4, start, count);
    if (m_v6)
        more = readPeerSocket(m_v6, start, count) || more;
    if (more)
        emit continuePeerRead();
}

bool Router::readPeerSocket(QUdpSocket *socket, qint64 &start, int &count)
{
    if (!socket)
        return false;
    char *data = m_peerBuffer.data();
    QHostAddress address;
    quint16 port = 0;
    while (socket->hasPendingDatagrams()) {
        ++count;
        // Room for a full game datagram with the 4 bytes the ids widen by.
        const qint64 size = socket->readDatagram(data, kPeerBufferSize, &address, &port);
        if (size < 0)
            break;
        const IPEndpoint from(address, port);
        if (size == RouterPacket::kReplySize && handlePublicAddressReply(data, int(size), from))
            continue;
        forward(data, int(size), from, Origin::Peer);
        if (now() - start > m_timing.holdTime) {
            start = now();
            qDebug().noquote() << QStringLiteral("handlePeerPacket: HOLD_TIME expired after %1 packets.").arg(count);
            return socket->hasPendingDatagrams();
        }
    }
    return false;
}

void Router::handleGamePacket()
{
    if (m_gameBuffer.size() < kGamePayloadSize + 4)
        m_gameBuffer.resize(kGamePayloadSize + 4);
    char *data = m_gameBuffer.data();
    const qint64 start = now();
    int count = 0;
    QHostAddress address;
    quint16 port = 0;
    while (m_game->hasPendingDatagrams()) {
        ++count;
        const qint64 size = m_game->readDatagram(data + 4, kGamePayloadSize, &address, &port);
        if (size < 0)
            break;
        const int total = int(size) + 4;
        // A header cut short reads its missing bytes as 0.
        const quint16 sender16 = RouterPacket::read16(data, total, 4);
        const quint16 receiver16 = RouterPacket::read16(data, total, 6);
        RouterPacket::write32(data, 0, m_gameIds.value(sender16, 0));
        RouterPacket::write32(data, 4, m_gameIds.value(receiver16, 0));
        // What came for the game before it first spoke goes to it now, not
        // only when the next datagram for it arrives (there may be none
        // until it answers).
        drainGameQueue(IPEndpoint(address, port));
        forward(data, total, IPEndpoint(address, port), Origin::Game);
        if (now() - start > m_timing.holdTime) {
            emit continueGameRead();
            qDebug().noquote() << QStringLiteral("handleGamePacket: HOLD_TIME expired after %1 packets.").arg(count);
            return;
        }
    }
}

void Router::forwardPacket(QByteArray &datagram, const IPEndpoint &from)
{
    const int size = datagram.size();
    // A control reply is written in place and needs its 24 bytes.
    if (datagram.size() < RouterPacket::kControlSize)
        datagram.resize(RouterPacket::kControlSize);
    forward(datagram.data(), size, from, Origin::Peer);
    datagram.resize(size);
}

void Router::forward(char *data, int size, const IPEndpoint &from, Origin origin)
{
    const qint64 t = now();
    Header h = Header::read(data, size);
    if (FibEntry *sender = entry(h.sender))
        ++sender->receivedCount;
    const NetworkPathPtr senderPath = addPath(h.sender, from, origin);
    if (!senderPath) {
        // Refusals by the limits are counted and logged by the time-out pass.
        if (from.isNull())
            qDebug().noquote() << QStringLiteral("Sender path is null for %1").arg(h.sender);
        return;
    }
    // Keep-alives (receiver 0) count too: they are all that crosses a path
    // while the games load, and the path must outlive a slow load.
    senderPath->lastReceived = t;

    if (h.isControl()) {
        if (h.hops <= 1)
            return;
        --h.hops;
        h.write(data);
        if (h.receiver == m_myId.load()) {
            if (!handleControl(data, h, senderPath))
                return;
            // The reply goes back the way the request came, so that every
            // path is measured by its own answers: on the best path, a dead
            // first candidate would swallow the replies of every live one.
            if (FibEntry *requester = entry(h.sender))
                ++requester->sentCount;
            sendTo(senderPath->endpoint, data, RouterPacket::kControlSize);
            senderPath->lastSent = t;
            return;
        }
    }

    FibEntry *dest = entry(h.receiver);
    const NetworkPathPtr destPath = dest ? dest->bestPath : NetworkPathPtr();
    if (size == 0)
        return;
    if (dest)
        ++dest->sentCount;
    if (h.receiver == m_myId.load()) {
        if (destPath) {
            writePacketToGame(data, size, &destPath->endpoint, true);
            destPath->lastSent = t;
        } else {
            writePacketToGame(data, size, nullptr, true);
        }
        return;
    }
    if (!destPath) {
        qDebug().noquote() << QStringLiteral("No fib entry for peer id %1").arg(h.receiver);
        ++m_noRoute;
        return;
    }
    sendTo(destPath->endpoint, data, size);
    destPath->lastSent = t;
}

NetworkPathPtr Router::addPath(quint32 id, const IPEndpoint &endpoint, Origin origin)
{
    if (endpoint.isNull()) {
        qDebug().noquote() << "dest->isNull() from id =" << id;
        return NetworkPathPtr();
    }
    FibEntry *e = entry(id);
    if (e) {
        NetworkPathPtr path = e->paths.value(endpoint);
        if (!path) {
            // Only the game speaks for my id: a peer claiming it would
            // otherwise become the place the game's datagrams are sent to.
            if ((id == m_myId.load() && origin != Origin::Game)
                || (!e->isPeer && e->paths.size() >= kMaxLearnedPaths)) {
                ++m_refused;
                return NetworkPathPtr();
            }
            qDebug().noquote() << QStringLiteral("Adding path for: %1, %2").arg(id).arg(endpoint.toString());
            path.reset(new NetworkPath(endpoint, NetworkPath::Direct));
            QMutexLocker lock(&m_fibMutex);
            e->paths.insert(endpoint, path);
            if (!e->bestPath)
                e->bestPath = path;
        }
        e->reached = true;
        if (m_state.load() == FLOOD) {
            // Only the match's players count: an id learnt from stray traffic
            // (a player's keep-alive sent before it knew its own id) would
            // otherwise hold the flood until it fails.
            bool all = true;
            for (const auto &item : m_fib)
                all = all && (!item.second->isPeer || item.second->reached);
            if (all)
                setStateHere(REACHED);
        }
        return path;
    }
    if (m_learnedEntries >= kMaxLearnedEntries || (id == m_myId.load() && origin != Origin::Game)) {
        ++m_refused;
        return NetworkPathPtr();
    }
    qDebug().noquote() << QStringLiteral("Adding entry for: %1, %2").arg(id).arg(endpoint.toString());
    auto created = std::make_unique<FibEntry>(id, false);
    NetworkPathPtr path(new NetworkPath(endpoint, NetworkPath::Direct));
    created->paths.insert(endpoint, path);
    created->bestPath = path;
    QMutexLocker lock(&m_fibMutex);
    m_fib.emplace(id, std::move(created));
    ++m_learnedEntries;
    return path;
}

void Router::writePacketToGame(char *data, int size, const IPEndpoint *game, bool drainQueue)
{
    if (size < 8) {
        qDebug().noquote() << QStringLiteral("Dropping a %1-byte datagram for the game: shorter than its header").arg(size);
        return;
    }
    if (!game) {
        if (m_state.load() > PING) {
            if (m_gameQueue.size() < kMaxGameQueue)
                m_gameQueue.append(QByteArray(data, size));
            else
                ++m_refused;
        } else {
            qDebug().noquote() << "dest is nullptr when trying to send packets to the game";
        }
        return;
    }
    if (drainQueue)
        drainGameQueue(*game);
    const quint32 sender = RouterPacket::read32(data, size, 0);
    const quint32 receiver = RouterPacket::read32(data, size, 4);
    RouterPacket::write16(data, 4, quint16(sender));
    RouterPacket::write16(data, 6, quint16(receiver));
    // Before setSocket the game socket is unbound: a write would bind it.
    if (m_game->state() == QAbstractSocket::BoundState)
        m_game->writeDatagram(data + 4, size - 4, game->addr, game->port);
    ++m_toGame;
}

void Router::drainGameQueue(const IPEndpoint &game)
{
    if (m_gameQueue.isEmpty())
        return;
    qDebug().noquote() << QStringLiteral("Packets queued to game: %1").arg(m_gameQueue.size());
    QList<QByteArray> queued;
    queued.swap(m_gameQueue);
    for (QByteArray &datagram : queued)
        writePacketToGame(datagram.data(), datagram.size(), &game, false);
}

void Router::sendTo(const IPEndpoint &endpoint, const char *data, int size)
{
    const auto protocol = endpoint.protocol();
    if (protocol == QAbstractSocket::IPv4Protocol && m_v4)
        m_v4->writeDatagram(data, size, endpoint.addr, endpoint.port);
    else if (protocol == QAbstractSocket::IPv6Protocol && m_v6)
        m_v6->writeDatagram(data, size, endpoint.addr, endpoint.port);
}
