#include "json_writer.h"

namespace kestrel {

CJsonObject& CJsonObject::Add(std::string_view key, std::string_view value)
{
    m_object[std::string(key)] = std::string(value);
    return *this;
}

CJsonObject& CJsonObject::Add(std::string_view key, int64_t value)
{
    m_object[std::string(key)] = value;
    return *this;
}

CJsonObject& CJsonObject::Add(std::string_view key, double value)
{
    m_object[std::string(key)] = value;
    return *this;
}

CJsonObject& CJsonObject::Add(std::string_view key, bool value)
{
    m_object[std::string(key)] = value;
    return *this;
}

CJsonObject& CJsonObject::Add(std::string_view key, const std::vector<std::string>& values)
{
    m_object[std::string(key)] = values;
    return *this;
}

CJsonObject& CJsonObject::Add(std::string_view key, const std::vector<std::pair<int64_t, int64_t>>& pairs)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& [first, second] : pairs) list.push_back({first, second});
    m_object[std::string(key)] = std::move(list);
    return *this;
}

CJsonObject& CJsonObject::AddNull(std::string_view key)
{
    m_object[std::string(key)] = nullptr;
    return *this;
}

std::string CJsonObject::Str() const
{
    return m_object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace kestrel
