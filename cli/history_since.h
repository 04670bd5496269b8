#pragma once
// The time kestrel-cli history --since takes: strict ISO 8601, read the same under every TZ.

#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// A date (2026-12-10) or a date and time with minutes, optional seconds and an optional
// fraction after a point (2026-12-10T08:30, 2026-12-10T08:30:01.5), then optionally Z or an
// offset with its colon (+09:00); without an offset the time is UTC. The instant as the journal
// writes its times, 2026-12-10T08:30:01.500Z, rounded up to the next millisecond, so that text
// comparison with a journal time is comparison of the instants. Nullopt for anything else,
// and for an instant outside the years 0000 to 9999 in UTC.
std::optional<std::string> SinceUtc(std::string_view strText);

// What --since says when it refuses a value.
inline constexpr char kSinceRefusal[] =
    "--since takes a date or a time in ISO 8601, such as 2026-12-10, 2026-12-10T08:30 (UTC) or 2026-12-10T17:30:00+09:00.";

}  // namespace kestrel
