// Path evaluation, best paths and the time-out pass with its keep-alives.
#include "net/router.h"

#include "net/pathselection.h"
#include "net/routerpacket.h"

#include <QDebug>
#include <QUdpSocket>

void Router::finalizeFIB()
{
    QMutexLocker lock(&m_fibMutex);
    for (auto &item : m_fib) {
        FibEntry &e = *item.second;
        if (e.paths.isEmpty())
            continue;
        e.bestPath = PathSelection::choose(e.id, e.bestPath, e.paths.values());
    }
}

void Router::updateBestPath(FibEntry *entry, const NetworkPathPtr &path)
{
    if (entry->bestPath && entry->bestPath->endpoint.serialize() == path->endpoint.serialize())
        return;
    qDebug().noquote() << QStringLiteral("Updating bestPath for %1 to %2").arg(entry->id).arg(path->toString());
    QMutexLocker lock(&m_fibMutex);
    entry->bestPath = path;
}

void Router::doManageFIBTimeOut()
{
    const qint64 t = now();
    const bool flood = m_state.load() == FLOOD;
    const bool playing = m_state.load() == FIB_READY;
    const quint32 me = m_myId.load();
    const auto older = [t](qint64 time, int limit) { return time < 0 || t - time > limit; };

    QMutexLocker lock(&m_fibMutex);
    for (auto it = m_fib.begin(); it != m_fib.end();) {
        FibEntry &e = *it->second;
        if (!e.bestPath) {
            qDebug().noquote() << QStringLiteral("Entry %1 has null bestPath").arg(e.id);
            ++it;
            continue;
        }
        for (auto p = e.paths.begin(); p != e.paths.end();) {
            const NetworkPathPtr path = p.value();
            if (!e.bestPath)
                e.bestPath = path;
            if (flood) {
                ++p;
                continue;
            }
            if (older(path->lastReceived, m_timing.pathTimeout) && older(path->lastSent, m_timing.pathTimeout)) {
                qDebug().noquote() << "Removing entry: " + path->toString();
                if (e.bestPath == path)
                    e.bestPath.reset();
                p = e.paths.erase(p);
                continue;
            }
            if (e.id != me && older(path->lastSent, m_timing.timeoutInterval))
                sendKeepAlive(e, *path);
            ++p;
        }
        if (e.paths.isEmpty()) {
            if (!e.isPeer)
                --m_learnedEntries;
            it = m_fib.erase(it);
            continue;
        }
        if (!e.bestPath)
            e.bestPath = e.paths.begin().value();
        if (playing && e.isPeer && e.id != me)
            failOver(e, t);
        ++it;
    }

    const quint64 refused = m_refused.load();
    if (refused != m_refusedLogged) {
        qDebug().noquote() << QStringLiteral("Refused %1 datagrams from senders over the router's limits").arg(refused - m_refusedLogged);
        m_refusedLogged = refused;
    }
    // The window's view of the match, about once a second.
    lock.unlock();
    if (m_state.load() != NOTHING)
        emit routesChanged(routeReport());
}

void Router::sendKeepAlive(const FibEntry &entry, const NetworkPath &path)
{
    qDebug().noquote() << QStringLiteral("Keeping peer path alive %1 %2").arg(entry.id).arg(path.toString());
    if (path.endpoint.protocol() == QAbstractSocket::IPv6Protocol && !m_v6) {
        qDebug().noquote() << "Unable to transmit ipv6 keepalive because there is no ipv6 socket";
        return;
    }
    // Addressed to the peer rather than to id 0: a tunnel relays only by
    // receiver id, and only what reaches the peer keeps its end of the path
    // from timing out while both games load in silence.
    sendControl(entry.id, KEEP_ALIVE, path.endpoint);
}

void Router::sendControl(quint32 receiver, STATES type, const IPEndpoint &to)
{
    RouterPacket::Header h;
    h.sender = m_myId.load();
    h.receiver = receiver;
    h.marker = RouterPacket::kMarker;
    h.type = quint32(type);
    h.hops = 2;
    h.time = RouterPacket::timeOfDayMs();
    char packet[RouterPacket::kControlSize];
    h.write(packet);
    sendTo(to, packet, RouterPacket::kControlSize);
}

// The game keeps sending on its best path even when nothing comes back on
// it (a tunnel that went away, a NAT that forgot the mapping), and the
// time-out pass never removes a path that is sent on. While another path
// still hears the peer's keep-alives, move there and tell the peer with
// FIB_READY packets on the new path, which it follows; peers that do not
// know this count the packet as unhandled and carry on.
void Router::failOver(FibEntry &e, qint64 t)
{
    const int silence = m_timing.failoverSilence;
    if (e.bestPath && t - e.bestPath->lastReceived > silence) {
        NetworkPathPtr next;
        for (const NetworkPathPtr &p : qAsConst(e.paths)) {
            if (p == e.bestPath || p->lastReceived < 0 || t - p->lastReceived > silence * 2 / 3)
                continue;
            if (!next || (p->answered() && !next->answered())
                || (p->answered() == next->answered() && PathSelection::rankingRtt(*p) < PathSelection::rankingRtt(*next)))
                next = p;
        }
        if (next) {
            qDebug().noquote() << QStringLiteral("Best path to %1 (%2) silent for %3 ms; moving to %4")
                                      .arg(e.id)
                                      .arg(e.bestPath->toString())
                                      .arg(e.bestPath->lastReceived < 0 ? -1 : t - e.bestPath->lastReceived)
                                      .arg(next->toString());
            e.bestPath = next;
            e.announcements = 3;
        }
    }
    if (e.announcements > 0 && e.bestPath) {
        --e.announcements;
        sendControl(e.id, FIB_READY, e.bestPath->endpoint);
    }
}
