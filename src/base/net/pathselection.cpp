#include "net/pathselection.h"

#include <QDebug>

namespace PathSelection {

int rankingRtt(const NetworkPath &path)
{
    return (path.pongs > 0 ? path.rttSum / path.pongs : kNoPongRtt) + (path.type == NetworkPath::Tunnel ? kTunnelPenalty : 0);
}

Score score(NetworkPath &path)
{
    Score s;
    path.rtt = path.pongs > 0 ? path.rttSum / path.pongs : kNoPongRtt;
    s.rtt = path.rtt;
    s.lossPct = path.pings > 0 ? qBound(0, (path.pings - path.pongs) * 100 / path.pings, 100) : 100;
    s.rankingRtt = rankingRtt(path);
    return s;
}

namespace {
// A path that never answered cannot be chosen while another has: all
// unanswered paths score alike, and the tie would keep whichever was
// first, typically an address the peer cannot be reached at.
bool better(const NetworkPath &p, const Score &s, const NetworkPath &best, const Score &bestScore)
{
    if (!best.answered() && p.answered())
        return true;
    if (!p.answered())
        return false;
    return s.lossPct < bestScore.lossPct || (s.lossPct == bestScore.lossPct && s.rankingRtt < bestScore.rankingRtt);
}
} // namespace

NetworkPathPtr choose(quint32 id, const NetworkPathPtr &current, const QList<NetworkPathPtr> &paths)
{
    NetworkPathPtr best = current;
    for (const NetworkPathPtr &p : paths) {
        if (!best || (best->pings <= 0 && p->pings > 0))
            best = p;
    }
    if (!best || best->pings <= 0)
        return best;
    Score bestScore = score(*best);
    qDebug().noquote() << QStringLiteral("  Current Bestpath peer %1, ip address %2, type=%3, rtt=%4, pings=%5, pongs=%6, lossPct=%7")
                    .arg(id)
                    .arg(best->toString())
                    .arg(best->type)
                    .arg(best->rtt)
                    .arg(best->pings)
                    .arg(best->pongs)
                    .arg(bestScore.lossPct);
    for (const NetworkPathPtr &p : paths) {
        if (p->endpoint == best->endpoint || p->pings <= 0)
            continue;
        const Score s = score(*p);
        qDebug().noquote() << QStringLiteral("  Evaluating peer %1, ip address %2, type=%3, rtt=%4, pings=%5, pongs=%6, lossPct=%7")
                        .arg(id)
                        .arg(p->toString())
                        .arg(p->type)
                        .arg(p->rtt)
                        .arg(p->pings)
                        .arg(p->pongs)
                        .arg(s.lossPct);
        if (better(*p, s, *best, bestScore)) {
            best = p;
            bestScore = s;
        }
    }
    qDebug().noquote() << QStringLiteral("Best Path peer %1, ip address %2, rtt=%3, pings=%4, pongs=%5")
                    .arg(id)
                    .arg(best->toString())
                    .arg(best->rtt)
                    .arg(best->pings)
                    .arg(best->pongs);
    return best;
}

} // namespace PathSelection
