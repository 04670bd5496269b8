#pragma once
// A value of an SQL column as the code holds it: NULL, an integer or a text.

#include <cstdint>
#include <string>
#include <variant>

namespace kestrel {

using SqlValue = std::variant<std::monostate, int64_t, std::string>;

}  // namespace kestrel
