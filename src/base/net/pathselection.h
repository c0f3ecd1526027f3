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

// The mean rtt measured so far, plus the tunnel penalty.
int rankingRtt(const NetworkPath &path);

// Computes the path's mean rtt (stored in it) and its loss; pings > 0.
Score score(NetworkPath &path);

// The best of paths, starting from current (or, when current was never
// pinged, the first path that was); paths without pings are not
// considered, and one that never answered only while none has. Logs each
// step.
NetworkPathPtr choose(quint32 id, const NetworkPathPtr &current, const QList<NetworkPathPtr> &paths);

} // namespace PathSelection
