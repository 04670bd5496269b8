#pragma once
// One flat JSON object, built key by key and written as a single line.

#include <cstdint>
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
    CJsonObject& AddNull(std::string_view key);
    // value must already be valid JSON (a list, for instance).
    CJsonObject& AddRaw(std::string_view key, std::string_view json);

    std::string Str() const;

private:
    void Key(std::string_view key);
    std::string m_body;
};

// A JSON string literal with quotes; bytes that are not valid UTF-8 become U+FFFD.
std::string JsonQuote(std::string_view text);

}  // namespace kestrel
