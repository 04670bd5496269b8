#pragma once
// What a station has done since its counts began (its window opened, its command started, or
// the operator reset them): units, how many completed and failed, the yield, the pace and the
// mean time per unit. Kept for the station and for each slot alike.

#include <cstdint>
#include <string>

#include "protocol/run_summary.h"

namespace kestrel {

struct SUnitCounts {
    int nUnits = 0;
    int nCompleted = 0;  // completed, or nothing to do
    int64_t nTotalDurationMs = 0;
    int64_t nSinceMs = 0;  // when the counts began, on the scheduler's clock

    void Add(const SRunSummary& summary);
    int Failed() const { return nUnits - nCompleted; }
    // 0 before the first unit.
    double YieldPercent() const;
    double MeanSeconds() const;
    // Units per hour of the time since the counts began; 0 before the first unit.
    double UnitsPerHour(int64_t nNowMs) const;
};

// "15 completed, 1 failed, yield 93.8 %, 41.2 units/h, 85.7 s per unit", with a point for
// the decimals whatever the locale, as the JSON beside it has.
std::string CountsText(const SUnitCounts& counts, int64_t nNowMs);

}  // namespace kestrel
