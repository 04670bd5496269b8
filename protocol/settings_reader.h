#pragma once
// The settings the engine reads at the point of use.

#include <string>

namespace kestrel {

class ISettingsReader {
public:
    virtual ~ISettingsReader() = default;
    virtual long ReadNumber(const std::string& name, long defaultValue) = 0;
    virtual std::string ReadText(const std::string& name, const std::string& defaultValue) = 0;
};

}  // namespace kestrel
