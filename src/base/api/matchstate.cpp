#include "api/matchstate.h"

void MatchState::setZantryStats(const Stats &stats)
{
    m_zantryStats = stats;
    emit zantryStatsChanged();
}
