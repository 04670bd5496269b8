// The station's counts: yield, pace and mean time per unit from the units' summaries, and
// their text, which keeps a point for the decimals under a locale with a decimal comma.

#include <gtest/gtest.h>

#include <clocale>

#include "protocol/unit_counts.h"

namespace kestrel {
namespace {

constexpr int64_t kHourMs = 3600 * 1000;

SRunSummary Unit(RunOutcome eOutcome, int64_t nDurationMs) { return {eOutcome, {}, nDurationMs, 0}; }

TEST(UnitCounts, YieldPaceAndMeanOfASeries)
{
    struct Case {
        const char* pszWhat;
        std::vector<SRunSummary> units;
        int64_t nElapsedMs;
        const char* pszText;
    } cases[] = {
        {"nothing yet", {}, kHourMs, "0 completed, 0 failed, yield 0.0 %, 0.0 units/h, 0.0 s per unit"},
        {"a mixed series",
         {Unit(RunOutcome::Completed, 80000), Unit(RunOutcome::NothingToDo, 1000), Unit(RunOutcome::HandsetError, 30000),
          Unit(RunOutcome::Stopped, 9000)},
         kHourMs / 2, "2 completed, 2 failed, yield 50.0 %, 8.0 units/h, 30.0 s per unit"},
        {"thirds", {Unit(RunOutcome::Completed, 100), Unit(RunOutcome::Completed, 100), Unit(RunOutcome::NoResponse, 100)},
         3 * kHourMs, "2 completed, 1 failed, yield 66.7 %, 1.0 units/h, 0.1 s per unit"},
        {"a unit in no time at all", {Unit(RunOutcome::Refused, 0)}, 0, "0 completed, 1 failed, yield 0.0 %, 0.0 units/h, 0.0 s per unit"},
    };
    // The window and the command line run under the user's locale.
    const bool bComma = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        SUnitCounts counts{.nSinceMs = 5000};
        for (const SRunSummary& unit : c.units) counts.Add(unit);
        EXPECT_EQ(counts.nUnits, static_cast<int>(c.units.size()));
        EXPECT_EQ(CountsText(counts, 5000 + c.nElapsedMs), c.pszText);
    }
    std::setlocale(LC_ALL, "C");
    if (!bComma) GTEST_SKIP() << "no de_DE.UTF-8 locale here: the text was checked under C only";
}

}  // namespace
}  // namespace kestrel
