#include "stored_settings.h"

#include "settings_store.h"

namespace kestrel {

long CStoredSettings::ReadNumber(const std::string& name, long defaultValue)
{
    return kestrel::ReadNumber(name, static_cast<int32_t>(defaultValue));
}

std::string CStoredSettings::ReadText(const std::string& name, const std::string& defaultValue)
{
    std::string value = kestrel::ReadText(name);
    return value.empty() ? defaultValue : value;
}

}  // namespace kestrel
