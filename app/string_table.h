#pragma once
// The program's string resources, by the id of the control or command they belong to.

#include <string_view>

namespace kestrel {

inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDS_HISTORY = 102;
inline constexpr int IDS_STATION = 103;

// The text of a string resource; empty for an id that has none.
std::string_view LoadString(int nId);

}  // namespace kestrel
