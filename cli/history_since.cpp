#include "history_since.h"

#include <chrono>
#include <cstdio>

namespace kestrel {
namespace {

using namespace std::chrono;

// Exactly nCount decimal digits at the front of the text, taken off it.
std::optional<int> TakeDigits(std::string_view& strText, std::size_t nCount)
{
    if (strText.size() < nCount) return std::nullopt;
    int nValue = 0;
    for (std::size_t n = 0; n < nCount; ++n) {
        if (strText[n] < '0' || strText[n] > '9') return std::nullopt;
        nValue = nValue * 10 + (strText[n] - '0');
    }
    strText.remove_prefix(nCount);
    return nValue;
}

bool Take(std::string_view& strText, char c)
{
    if (strText.empty() || strText.front() != c) return false;
    strText.remove_prefix(1);
    return true;
}

// "HH:MM" below 24:00, as a time of day and as an offset.
std::optional<minutes> TakeHoursMinutes(std::string_view& strText)
{
    const auto optHours = TakeDigits(strText, 2);
    if (!optHours || *optHours > 23 || !Take(strText, ':')) return std::nullopt;
    const auto optMinutes = TakeDigits(strText, 2);
    if (!optMinutes || *optMinutes > 59) return std::nullopt;
    return hours(*optHours) + minutes(*optMinutes);
}

// ":SS" and ".F" (1 to 9 digits) when they are there; a fraction rounds up to milliseconds.
std::optional<milliseconds> TakeSeconds(std::string_view& strText)
{
    if (!Take(strText, ':')) return milliseconds(0);
    const auto optSeconds = TakeDigits(strText, 2);
    if (!optSeconds || *optSeconds > 59) return std::nullopt;
    nanoseconds fraction(0);
    if (Take(strText, '.')) {
        std::size_t nDigits = 0;
        while (nDigits < strText.size() && strText[nDigits] >= '0' && strText[nDigits] <= '9') ++nDigits;
        if (nDigits == 0 || nDigits > 9) return std::nullopt;
        int64_t nNanoseconds = *TakeDigits(strText, nDigits);
        for (std::size_t n = nDigits; n < 9; ++n) nNanoseconds *= 10;
        fraction = nanoseconds(nNanoseconds);
    }
    return seconds(*optSeconds) + ceil<milliseconds>(fraction);
}

// "Z", "+HH:MM" or "-HH:MM": how far the time is ahead of UTC; none is UTC.
std::optional<minutes> TakeOffset(std::string_view& strText)
{
    if (strText.empty() || Take(strText, 'Z')) return minutes(0);
    const bool bBehind = Take(strText, '-');
    if (!bBehind && !Take(strText, '+')) return std::nullopt;
    const auto optOffset = TakeHoursMinutes(strText);
    if (!optOffset) return std::nullopt;
    return bBehind ? -*optOffset : *optOffset;
}

}  // namespace

std::optional<std::string> SinceUtc(std::string_view strText)
{
    const auto optYear = TakeDigits(strText, 4);
    if (!optYear || !Take(strText, '-')) return std::nullopt;
    const auto optMonth = TakeDigits(strText, 2);
    if (!optMonth || !Take(strText, '-')) return std::nullopt;
    const auto optDay = TakeDigits(strText, 2);
    if (!optDay) return std::nullopt;
    const year_month_day date{year(*optYear), month(static_cast<unsigned>(*optMonth)), day(static_cast<unsigned>(*optDay))};
    if (!date.ok()) return std::nullopt;

    sys_time<milliseconds> instant = sys_days(date);
    if (Take(strText, 'T')) {
        const auto optTime = TakeHoursMinutes(strText);
        const auto optSeconds = optTime ? TakeSeconds(strText) : std::nullopt;
        const auto optOffset = optSeconds ? TakeOffset(strText) : std::nullopt;
        if (!optOffset) return std::nullopt;
        instant += *optTime + *optSeconds - *optOffset;
    }
    if (!strText.empty()) return std::nullopt;

    const sys_days utcDay = floor<days>(instant);
    const year_month_day utcDate(utcDay);
    if (utcDate.year() < year(0) || utcDate.year() > year(9999)) return std::nullopt;
    const hh_mm_ss time(instant - utcDay);
    char szText[32];
    std::snprintf(szText, sizeof szText, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(utcDate.year()),
                  static_cast<unsigned>(utcDate.month()), static_cast<unsigned>(utcDate.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                  static_cast<int>(time.subseconds().count()));
    return std::string(szText);
}

}  // namespace kestrel
