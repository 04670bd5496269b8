#include "flash_args.h"

#include <strings.h>

#include <cstdlib>

#include "exit_codes.h"
#include "image/download_type.h"
#include "protocol/font_address.h"

namespace kestrel {
namespace {

std::optional<int> ParseType(const std::string& text)
{
    if (text.size() == 1 && text[0] >= '0' && text[0] < '0' + kDownloadTypeCount) return text[0] - '0';
    for (int i = 0; i < kDownloadTypeCount; ++i)
        if (strcasecmp(text.c_str(), std::string(kDownloadTypeNames[static_cast<std::size_t>(i)]).c_str()) == 0) return i;
    if (strcasecmp(text.c_str(), "FONT(EMERGENCY)") == 0) return DLOAD_FONT_EMERGENCY;
    return std::nullopt;
}

std::optional<int> ParseCount(const std::string& text)
{
    if (text.empty() || text.size() > 6) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    const int n = std::atoi(text.c_str());
    return n > 0 ? std::optional<int>(n) : std::nullopt;
}

int Severity(int exitCode)
{
    switch (exitCode) {
    case kExitPortError: return 6;
    case kExitFileError: return 5;
    case kExitHandsetError: return 4;
    case kExitNoResponse: return 3;
    case kExitInterrupted: return 2;
    case kExitOk: return 0;
    default: return 1;
    }
}

}  // namespace

bool ParseFlashArgs(const CliArgs& args, const char* usage, bool withCount, FlashArgs& parsed, std::string& error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--yes") {
            parsed.bYes = true;
        } else if (a == "--type" && hasValue) {
            parsed.type = ParseType(args[++i]);
            if (!parsed.type) {
                error = "--type takes a type name (NORMAL, EMERGENCY, FONT(NORMAL), FONT(EMRGENCY), CHANGE(NORMAL), "
                        "CHANGE(EMERGENCY), COMPARE(EMERGENCY)) or its number 0-6.";
                return false;
            }
        } else if (a == "--old" && hasValue) {
            parsed.strOld = args[++i];
        } else if (a == "--font-address" && hasValue) {
            parsed.fontAddress = ParseFontAddress(args[++i]);
            if (!parsed.fontAddress) {
                error = "--font-address takes 1 to 8 hexadecimal digits, with or without 0x.";
                return false;
            }
        } else if (withCount && a == "--count" && hasValue) {
            parsed.count = ParseCount(args[++i]);
            if (!parsed.count) {
                error = "--count takes a number of units from 1.";
                return false;
            }
        } else if (a.rfind("--", 0) == 0) {
            error = std::string(withCount ? "station" : "flash") + ": unknown or incomplete option " + a;
            return false;
        } else if (parsed.strImage.empty()) {
            parsed.strImage = a;
        } else {
            error = std::string(withCount ? "station" : "flash") + " takes one image.";
            return false;
        }
    }
    if (parsed.strImage.empty()) error = usage;
    return error.empty();
}

Ending EndingOf(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Completed: return {"completed", kExitOk};
    case RunOutcome::NothingToDo: return {"nothing-to-do", kExitOk};
    case RunOutcome::Stopped: return {"stopped", kExitInterrupted};
    case RunOutcome::HandsetError: return {"error", kExitHandsetError};
    case RunOutcome::NoResponse: return {"no-response", kExitNoResponse};
    case RunOutcome::PortError: return {"error", kExitPortError};
    case RunOutcome::FileError:
    case RunOutcome::Refused: break;
    }
    return {"error", kExitFileError};
}

int MostSevereExitCode(int a, int b) { return Severity(b) > Severity(a) ? b : a; }

}  // namespace kestrel
