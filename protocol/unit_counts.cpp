#include "protocol/unit_counts.h"

#include <charconv>

namespace kestrel {
namespace {

constexpr double kMsPerHour = 3600.0 * 1000.0;

std::string OneDecimal(double dValue)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, dValue, std::chars_format::fixed, 1);
    return std::string(text, result.ptr);
}

}  // namespace

void SUnitCounts::Add(const SRunSummary& summary)
{
    ++nUnits;
    if (IsSuccess(summary.eOutcome)) ++nCompleted;
    nTotalDurationMs += summary.nDurationMs;
}

double SUnitCounts::YieldPercent() const { return nUnits > 0 ? 100.0 * nCompleted / nUnits : 0.0; }

double SUnitCounts::MeanSeconds() const { return nUnits > 0 ? static_cast<double>(nTotalDurationMs) / 1000.0 / nUnits : 0.0; }

double SUnitCounts::UnitsPerHour(int64_t nNowMs) const
{
    const int64_t nElapsedMs = nNowMs - nSinceMs;
    return nUnits > 0 && nElapsedMs > 0 ? nUnits * kMsPerHour / static_cast<double>(nElapsedMs) : 0.0;
}

std::string CountsText(const SUnitCounts& counts, int64_t nNowMs)
{
    return std::to_string(counts.nCompleted) + " completed, " + std::to_string(counts.Failed()) + " failed, yield " +
           OneDecimal(counts.YieldPercent()) + " %, " + OneDecimal(counts.UnitsPerHour(nNowMs)) + " units/h, " +
           OneDecimal(counts.MeanSeconds()) + " s per unit";
}

}  // namespace kestrel
