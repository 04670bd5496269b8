#pragma once
// Text measured in the columns a terminal gives it.

#include <string>
#include <string_view>

namespace kestrel {

// The longest start of a UTF-8 text that takes at most `columns` columns: East Asian wide
// characters (Hangul syllables among them) take two, combining marks none, every other
// character one, and so does each byte that is not UTF-8 (the terminal shows U+FFFD for it).
// A character is kept whole or left out: a wide one never straddles the edge.
std::string ClipToColumns(std::string_view text, int columns);

}  // namespace kestrel
