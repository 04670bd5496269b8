#pragma once
// The engine's settings reader over the program's settings store.

#include "protocol/settings_reader.h"

namespace kestrel {

class CStoredSettings final : public ISettingsReader {
public:
    long ReadNumber(const std::string& name, long defaultValue) override;
    std::string ReadText(const std::string& name, const std::string& defaultValue) override;
};

}  // namespace kestrel
