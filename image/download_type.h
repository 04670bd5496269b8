#pragma once
// The seven download types by their index, as the type list, the DLOAD_TYPE setting and the
// download protocol number them. Loading an image adapts the selected type to its content.

#include <array>
#include <string_view>

namespace kestrel {

enum DownloadType : int {
    DLOAD_NORMAL = 0,
    DLOAD_EMERGENCY = 1,
    DLOAD_FONT_NORMAL = 2,
    DLOAD_FONT_EMERGENCY = 3,
    DLOAD_CHANGE_NORMAL = 4,
    DLOAD_CHANGE_EMERGENCY = 5,
    DLOAD_COMPARE_EMERGENCY = 6,
};

inline constexpr int kDownloadTypeCount = 7;

// Texts of the type list, in index order ("EMRGENCY" is the program's own spelling).
inline constexpr std::array<std::string_view, kDownloadTypeCount> kDownloadTypeNames{
    "NORMAL", "EMERGENCY", "FONT(NORMAL)", "FONT(EMRGENCY)", "CHANGE(NORMAL)", "CHANGE(EMERGENCY)",
    "COMPARE(EMERGENCY)"};

constexpr bool IsFontType(int nType) { return nType == DLOAD_FONT_NORMAL || nType == DLOAD_FONT_EMERGENCY; }
constexpr bool IsChangeType(int nType) { return nType == DLOAD_CHANGE_NORMAL || nType == DLOAD_CHANGE_EMERGENCY; }

}  // namespace kestrel
