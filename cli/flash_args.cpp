#include "flash_args.h"

#include <strings.h>

#include <CLI/CLI.hpp>

#include <cstdlib>

#include "checked_option.h"
#include "image/download_type.h"
#include "protocol/font_address.h"

namespace kestrel {
namespace {

std::optional<int> ParseType(std::string_view view)
{
    const std::string text(view);
    if (text.size() == 1 && text[0] >= '0' && text[0] < '0' + kDownloadTypeCount) return text[0] - '0';
    for (int i = 0; i < kDownloadTypeCount; ++i)
        if (strcasecmp(text.c_str(), std::string(kDownloadTypeNames[static_cast<std::size_t>(i)]).c_str()) == 0) return i;
    if (strcasecmp(text.c_str(), "FONT(EMERGENCY)") == 0) return DLOAD_FONT_EMERGENCY;
    return std::nullopt;
}

std::optional<int> ParseCount(std::string_view text)
{
    if (text.empty() || text.size() > 6) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    const int n = std::atoi(std::string(text).c_str());
    return n > 0 ? std::optional<int>(n) : std::nullopt;
}

}  // namespace

void AddFlashOptions(CLI::App& command, SFlashArgs& parsed, bool withCount)
{
    command.add_option("IMAGE", parsed.strImage, "the image file to write")->required()->type_name("")->check(NotBlank("IMAGE"));
    AddParsedOption(command, "--type", "NAME|0-6", parsed.type, ParseType,
                    "--type takes a type name (NORMAL, EMERGENCY, FONT(NORMAL), FONT(EMRGENCY), CHANGE(NORMAL), "
                    "CHANGE(EMERGENCY), COMPARE(EMERGENCY)) or its number 0-6.",
                    "download type, as named in the window's list, or its number (default: the DLOAD_TYPE setting)");
    command.add_option("--old", parsed.strOld, "the image now in the handset, for CHANGE and COMPARE types")
        ->type_name("OLD")
        ->check(NotBlank("--old"));
    AddParsedOption(command, "--font-address", "HEX", parsed.fontAddress, ParseFontAddress,
                    "--font-address takes 1 to 8 hexadecimal digits, with or without 0x.",
                    "flash address of a FONT download (default e00000)");
    command.add_flag("--yes", parsed.bYes, "answer the handset's model-version question with Yes (default No)");
    command.add_option("--on-unit", parsed.strOnUnit,
                       "run CMD through /bin/sh -c after each unit, the unit in KESTREL_* variables (at most 30 s)")
        ->type_name("CMD")
        ->check(NotBlank("--on-unit"));
    if (withCount)
        AddParsedOption(command, "--count", "N", parsed.count, ParseCount, "--count takes a number of units from 1.",
                        "flash exactly N units, then end (default: on Ctrl+C)");
}

CJsonObject& AddBackupFailure(CJsonObject& endEvent, const SRunStatistics& stats)
{
    return stats.strBackupFailure.empty() ? endEvent : endEvent.Add("backup_error", stats.strBackupFailure);
}

}  // namespace kestrel
