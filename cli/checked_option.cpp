#include "checked_option.h"

namespace kestrel {

CLI::Option* AddCheckedOption(CLI::App& command, const char* name, const char* valueName,
                              std::function<bool(const std::string&)> take, std::string refusal, const char* help)
{
    return command
        .add_option_function<std::string>(
            name,
            [take = std::move(take), refusal = std::move(refusal)](const std::string& text) {
                if (!take(text)) throw CLI::ValidationError(refusal);
            },
            help)
        ->type_name(valueName);
}

CLI::Validator NotBlank(const char* what)
{
    return CLI::Validator(
        [what](std::string& text) {
            return text.find_first_not_of(" \t\r\n") == std::string::npos ? std::string(what) + " is empty." : std::string();
        },
        "", "not blank");
}

}  // namespace kestrel
