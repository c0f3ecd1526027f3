// The router's state machine: state packets, phase timers, the reactions to
// control packets and the peers' reported states.
#include "net/router.h"

#include "net/routerpacket.h"

#include <algorithm>

#include <QDebug>
#include <QTimer>
#include <QUdpSocket>

using RouterPacket::Header;

void Router::setState(STATES state)
{
    onRouterThread([this, state]() { setStateHere(state); });
}

void Router::setStateHere(STATES state)
{
    if (m_state.load() == state)
        return;
    m_state = state;
    qDebug().noquote() << QStringLiteral("New state = %1").arg(stateName(state));
    emit privStateChanged();
}

void Router::doStateChanged()
{
    const int state = m_state.load();
    if (state != REACHED)
        m_pingDelayTimer->stop();
    switch (state) {
    case NOTHING:
        resetFib();
        break;
    case INITIAL: {
        QMutexLocker lock(&m_fibMutex);
        for (auto &item : m_fib) {
            if (item.second->isPeer)
                ++m_learnedEntries;
            item.second->isPeer = false;
        }
        break;
    }
    case FLOOD:
        m_phaseTimer->start(m_timing.floodTimeout);
        m_stateTimer->start(m_timing.sendInterval);
        break;
    case REACHED:
        checkReached();
        break;
    case PING:
        m_phaseTimer->start(m_timing.pingTime);
        break;
    case READY:
        m_phaseTimer->stop();
        m_stateTimer->stop();
        finalizeFIB();
        m_phaseTimer->start(m_timing.readyTime);
        m_stateTimer->start(m_timing.sendInterval);
        break;
    case FIB_READY:
    case NOT_REACHED:
        m_phaseTimer->stop();
        m_stateTimer->stop();
        break;
    default:
        break;
    }
    emit routesChanged(routeReport());
    emit stateChanged();
}

void Router::resetFib()
{
    {
        QMutexLocker lock(&m_fibMutex);
        m_fib.clear();
        m_learnedEntries = 0;
    }
    m_myId = 0;
    m_gameIds.insert(0, 0);
    // Datagrams of the last match must not reach the next match's game.
    m_gameQueue.clear();
}

void Router::timedOut()
{
    switch (m_state.load()) {
    case FLOOD:
    case REACHED:
        setStateHere(NOT_REACHED);
        break;
    case PING:
        // A route whose peer never answered a ping would be a match in
        // which the games exchange nothing.
        setStateHere(everyPeerAnswered() ? READY : NOT_REACHED);
        break;
    case READY:
        setStateHere(FIB_READY);
        break;
    default:
        break;
    }
}

bool Router::everyPeerAnswered() const
{
    bool all = true;
    for (const auto &item : m_fib) {
        const FibEntry &e = *item.second;
        if (!e.isPeer)
            continue;
        const auto paths = e.paths.values();
        if (std::none_of(paths.begin(), paths.end(), [](const NetworkPathPtr &p) { return p->answered(); })) {
            qDebug().noquote() << QStringLiteral("Peer %1 answered no ping on any of %2 paths").arg(e.id).arg(paths.size());
            all = false;
        }
    }
    return all;
}

void Router::setStatePing()
{
    setStateHere(PING);
}

void Router::checkReached()
{
    int peers = 0;
    int notReached = 0;
    for (const auto &item : m_fib) {
        const FibEntry &e = *item.second;
        if (!e.isPeer)
            continue;
        ++peers;
        if (e.peerState <= FLOOD) {
            qDebug().noquote() << QStringLiteral("Peer not reached: %1").arg(e.id);
            ++notReached;
        }
    }
    if (peers > 0 && notReached == 0 && !m_pingDelayTimer->isActive())
        m_pingDelayTimer->start(m_timing.pingDelay);
}

void Router::setPeerState(quint32 id, int state)
{
    FibEntry *e = entry(id);
    if (!e) {
        qDebug().noquote() << QStringLiteral("Peer not found: %1").arg(id);
    } else if (e->peerState != state) {
        qDebug().noquote() << QStringLiteral("Setting peer %1 to %2").arg(id).arg(stateName(state));
        QMutexLocker lock(&m_fibMutex);
        e->peerState = state;
    }
    if (m_state.load() == REACHED)
        checkReached();
}

void Router::sendState()
{
    const int state = m_state.load();
    const qint64 t = now();
    char packet[RouterPacket::kControlSize];
    Header h;
    h.sender = m_myId.load();
    h.marker = RouterPacket::kMarker;
    h.type = quint32(state);
    h.hops = 2;
    h.time = RouterPacket::timeOfDayMs();
    for (auto &item : m_fib) {
        FibEntry &e = *item.second;
        if (!e.isPeer)
            continue;
        h.receiver = e.id;
        h.write(packet);
        const QList<NetworkPathPtr> paths =
            state == READY ? (e.bestPath ? QList<NetworkPathPtr>{e.bestPath} : QList<NetworkPathPtr>()) : e.paths.values();
        for (const NetworkPathPtr &path : paths) {
            sendTo(path->endpoint, packet, RouterPacket::kControlSize);
            path->lastSent = t;
            if (state == PING) {
                ++path->pings;
                path->notePing(h.time);
            }
            ++e.sentCount;
        }
    }
}

bool Router::handleControl(char *data, const Header &h, const NetworkPathPtr &path)
{
    ++m_control;
    if (h.type <= NOT_READY)
        setPeerState(h.sender, int(h.type));
    Header reply;
    reply.sender = m_myId.load();
    reply.receiver = h.sender;
    reply.marker = RouterPacket::kMarker;
    reply.hops = 2;
    reply.time = h.time;
    switch (h.type) {
    case FLOOD:
    case REACHED:
        reply.type = NULL_RESPONSE;
        reply.write(data);
        return true;
    case PING:
        reply.type = PONG;
        reply.write(data);
        return true;
    case READY:
        if (m_myId.load() > h.sender) {
            if (FibEntry *e = entry(h.sender))
                updateBestPath(e, path);
        }
        return false;
    case PONG:
        if (!path->answerPing(h.time)) {
            qDebug().noquote() << QStringLiteral("Pong from %1 on %2 answers no ping sent there").arg(h.sender).arg(path->toString());
            return false;
        }
        // Every pong is a round trip; leaving out the first would divide
        // n - 1 samples by n.
        path->rttSum += RouterPacket::msSince(h.time);
        path->lastPong = now();
        ++path->pongs;
        return false;
    case FIB_READY:
        // The peer moved its best path to this one during the game.
        if (m_state.load() == FIB_READY) {
            if (FibEntry *e = entry(h.sender); e && e->bestPath != path) {
                updateBestPath(e, path);
                e->announcements = 0;
            }
        }
        return false;
    case KEEP_ALIVE:
        return false;
    default:
        ++m_unhandled;
        return false;
    }
}
