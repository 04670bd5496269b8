#include "sim_options.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace kestrel::sim {

const char kSimUsage[] =
    "usage: kestrel-handset-sim [options]\n"
    "  --link PATH          place a symlink to the slave at PATH\n"
    "  --slot-link PATH     keep a symlink at PATH to the current slave, as udev keeps\n"
    "                       /dev/serial/by-path; it stays while the handset is off the bus\n"
    "  --mode normal|download  state at start (default normal)\n"
    "  --flash-out FILE     on exit, write the flash from address 0 to the highest byte written\n"
    "  --transcript FILE    record every exchange, one JSON object per line\n"
    "  --scenario FILE      faults to inject (see docs/simulator.md)\n"
    "  --pace               pace both directions at the line speed the tool set\n"
    "  --erase-ms N         time one erase request takes (default 0)\n"
    "  --idle-exit S        exit after S seconds without traffic\n"
    "  --flash-size N       flash size in bytes, K or M suffix allowed (default 16M)\n"
    "  --switch-ms N        delay from the AT command to download mode (default 0)\n"
    "  --reenumerate        on the mode switch, vanish and reappear as a new pty\n"
    "  -h, --help           print this help and exit\n"
    "  --version            print the version and exit\n"
    "The slave path is the first line of standard output.\n";

namespace {

constexpr unsigned kMaxMs = 3600000;
constexpr std::size_t kMaxFlash = std::size_t{1} << 30;

std::optional<unsigned> ParseMs(std::string_view text)
{
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty() || v > kMaxMs) return std::nullopt;
    return v;
}

std::optional<std::size_t> ParseSize(std::string_view text)
{
    std::size_t unit = 1;
    if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) unit = 1024;
    if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) unit = 1024 * 1024;
    if (unit != 1) text.remove_suffix(1);
    int base = 10;
    if (text.size() > 2 && (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    std::size_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
    if (v == 0 || v > kMaxFlash / unit || v * unit % 1024 != 0) return std::nullopt;
    return v * unit;
}

std::optional<double> ParseSeconds(const std::string& text)
{
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(v) || v <= 0 || v > 86400 * 7) return std::nullopt;
    return v;
}

}  // namespace

std::optional<SSimOptions> ParseSimOptions(const std::vector<std::string>& args, std::string& error)
{
    SSimOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        auto flag = [&](bool& target) {
            if (inlineValue) return false;
            target = true;
            return true;
        };
        std::string value;
        auto needValue = [&] {
            if (inlineValue) {
                value = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) return false;
            value = args[++i];
            return true;
        };
        bool ok = true;
        if (name == "--help" || name == "-h") {
            ok = flag(o.bHelp);
        } else if (name == "--version") {
            ok = flag(o.bVersion);
        } else if (name == "--pace") {
            ok = flag(o.bPace);
        } else if (name == "--reenumerate") {
            ok = flag(o.bReenumerate);
        } else if (name == "--link" || name == "--slot-link" || name == "--flash-out" || name == "--transcript" ||
                   name == "--scenario") {
            ok = needValue() && !value.empty();
            std::string& target = name == "--link" ? o.strLink
                                : name == "--slot-link" ? o.strSlotLink
                                : name == "--flash-out" ? o.strFlashOut
                                : name == "--transcript" ? o.strTranscript
                                                         : o.strScenario;
            target = value;
        } else if (name == "--mode") {
            ok = needValue() && (value == "normal" || value == "download");
            o.bDownloadMode = value == "download";
        } else if (name == "--erase-ms" || name == "--switch-ms") {
            std::optional<unsigned> ms;
            ok = needValue() && (ms = ParseMs(value)).has_value();
            (name == "--erase-ms" ? o.nEraseMs : o.nSwitchMs) = ms.value_or(0);
        } else if (name == "--idle-exit") {
            ok = needValue() && (o.optIdleExitS = ParseSeconds(value)).has_value();
        } else if (name == "--flash-size") {
            std::optional<std::size_t> size;
            ok = needValue() && (size = ParseSize(value)).has_value();
            if (size) o.nFlashSize = *size;
        } else {
            error = "unknown option " + args[i];
            return std::nullopt;
        }
        if (!ok) {
            error = "bad or missing value for " + name;
            return std::nullopt;
        }
    }
    return o;
}

}  // namespace kestrel::sim
