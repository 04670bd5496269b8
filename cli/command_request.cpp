// kestrel-cli request start | jump | erase START LENGTH: one framed request, its reply named.

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "cli_link.h"
#include "commands.h"
#include "protocol/exit_codes.h"
#include "protocol/run_limits.h"
#include "serial/command_packets.h"

namespace kestrel {
namespace {

constexpr auto kReplyTimeout = std::chrono::milliseconds(kReplySupervisionMs);

// A 32-bit number in decimal or with 0x in hexadecimal, nothing else.
std::optional<uint32_t> ParseAddress(const std::string& text)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return std::nullopt;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str() + (hex ? 2 : 0), &end, hex ? 16 : 10);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<uint32_t>(v);
}

std::string Hex2(uint8_t b)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02x", b);
    return buf;
}

}  // namespace

int RunRequestCommand(CCliOutput& out, const CPortOptions& port, const CliArgs& args)
{
    std::function<void(CSerialPort&)> send;
    if (args.size() == 1 && args[0] == "start") {
        send = [](CSerialPort& p) { p.RequestDownloadStart(); };
    } else if (args.size() == 1 && args[0] == "jump") {
        send = [](CSerialPort& p) { p.RequestJump(); };
    } else if (args.size() == 3 && args[0] == "erase") {
        const auto start = ParseAddress(args[1]);
        const auto length = ParseAddress(args[2]);
        if (!start || !length) {
            out.Error("request erase: START and LENGTH are 32-bit numbers (decimal, or hexadecimal with 0x).");
            return kExitUsage;
        }
        send = [s = *start, l = *length](CSerialPort& p) { p.RequestErase(s, l); };
    } else {
        out.Error("usage: kestrel-cli request start | jump | erase START LENGTH");
        return kExitUsage;
    }

    CCliLink link(out, port);
    if (!link.Open()) return kExitPortError;
    send(link.Port());
    const auto reply = link.Owner().WaitForReply(kReplyTimeout);

    if (!reply) {
        out.Text("no reply");
        out.Object(CJsonObject().Add("event", "reply").AddNull("code").Add("name", "no reply").AddNull("p1").AddNull("p2"));
        return kExitNoResponse;
    }
    const uint8_t code = reply->bytes[0];
    const uint8_t p1 = reply->bytes[1];
    const uint8_t p2 = reply->bytes[2];
    char unknown[24];
    std::snprintf(unknown, sizeof unknown, "UNKNOWN(0x%02x)", code);
    const std::string name(ReplyCodeName(code).value_or(unknown));
    out.Text(name + " p1=" + Hex2(p1) + " p2=" + Hex2(p2));
    out.Object(CJsonObject().Add("event", "reply").Add("code", int{code}).Add("name", name).Add("p1", int{p1}).Add("p2", int{p2}));
    return code == ACK ? kExitOk : kExitHandsetError;
}

int RunToDmCommand(CCliOutput& out, const CPortOptions& port)
{
    CCliLink link(out, port);
    if (!link.Open()) return kExitPortError;
    out.Log(kLogInfo, "단말기를 DM 상태로 바꿈");
    link.Port().SendModeSwitchCommand();
    return kExitOk;
}

}  // namespace kestrel
