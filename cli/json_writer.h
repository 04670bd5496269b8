#pragma once
// One JSON object, built key by key in that order and written as a single line. Texts that are
// not valid UTF-8 get U+FFFD for each bad byte; numbers are written the same under any locale.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

class CJsonObject {
public:
    CJsonObject& Add(std::string_view key, std::string_view value);
    CJsonObject& Add(std::string_view key, const char* value) { return Add(key, std::string_view(value)); }
    CJsonObject& Add(std::string_view key, int64_t value);
    CJsonObject& Add(std::string_view key, int value) { return Add(key, static_cast<int64_t>(value)); }
    CJsonObject& Add(std::string_view key, uint32_t value) { return Add(key, static_cast<int64_t>(value)); }
    CJsonObject& Add(std::string_view key, double value);
    CJsonObject& Add(std::string_view key, bool value);
    CJsonObject& Add(std::string_view key, const std::vector<std::string>& values);
    CJsonObject& Add(std::string_view key, const std::vector<std::pair<int64_t, int64_t>>& pairs);
    CJsonObject& AddNull(std::string_view key);

    std::string Str() const;

private:
    nlohmann::ordered_json m_object = nlohmann::ordered_json::object();
};

}  // namespace kestrel
