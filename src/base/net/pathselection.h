#pragma once

#include "net/networkpath.h"

#include <QList>

// Choosing one path per player from the pings and pongs measured on each:
// loss first, then round-trip time with a penalty for tunnel paths.
namespace PathSelection {

constexpr int kNoPongRtt = 10000;
constexpr int kTunnelPenalty = 50;

struct Score
{
    int rtt = 0;
    int lossPct = 0;
    int rankingRtt = 0;
};

// Computes the path's mean rtt (stored in it) and its loss; pings > 0.
Score score(NetworkPath &path);

// The best of paths, starting from current (which must have pings);
// paths without pings are not considered. Logs each step.
NetworkPathPtr choose(quint32 id, const NetworkPathPtr &current, const QList<NetworkPathPtr> &paths);

} // namespace PathSelection
