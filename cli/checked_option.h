#pragma once
// Options whose values the commands read themselves: a value they refuse is a usage error
// that says what the option takes.

#include <CLI/CLI.hpp>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// An option (or, named without dashes, a positional argument) whose value `take` reads; false
// from it refuses the value with `refusal`.
CLI::Option* AddCheckedOption(CLI::App& command, const char* name, const char* valueName,
                              std::function<bool(const std::string&)> take, std::string refusal, const char* help);

// An option whose text parse turns into target.
template <class T>
CLI::Option* AddParsedOption(CLI::App& command, const char* name, const char* valueName, std::optional<T>& target,
                             std::optional<T> (*parse)(std::string_view), std::string refusal, const char* help)
{
    return AddCheckedOption(
        command, name, valueName,
        [&target, parse](const std::string& text) {
            target = parse(text);
            return target.has_value();
        },
        std::move(refusal), help);
}

// An unset variable in a script gives an empty word: never taken as "no file".
CLI::Validator NotBlank(const char* what);

}  // namespace kestrel
