#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <clocale>
#include <map>
#include <set>

#include "cli_output.h"
#include "display_columns.h"
#include "history_since.h"
#include "json_writer.h"
#include "services/port_options.h"
#include "terminal_text.h"
#include "tests/support/pty_pair.h"

namespace kestrel {
namespace {

TEST(JsonObject, EscapesControlsAndReplacesInvalidUtf8)
{
    const std::pair<std::string, std::string> cases[] = {
        {"plain", R"({"text":"plain"})"},
        {"a\"b\\c", R"({"text":"a\"b\\c"})"},
        {"\nline\r\t", R"({"text":"\nline\r\t"})"},
        {std::string("\x01", 1), R"({"text":"\u0001"})"},
        {"한글", "{\"text\":\"한글\"}"},
        {"\xFF", "{\"text\":\"\xEF\xBF\xBD\"}"},
        {"a\xED\xA0\x80" "b", "{\"text\":\"a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" "b\"}"},  // a surrogate is not UTF-8
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(CJsonObject().Add("text", in).Str(), out);
}

TEST(JsonObject, KeepsTheKeysInOrderAndNumbersFreeOfTheLocale)
{
    // Qt takes the locale from the environment: a German one writes decimal commas.
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "scripts/setup.sh makes this locale";
    const std::string json = CJsonObject()
                                 .Add("event", "unit")
                                 .Add("seconds", 2.497)
                                 .Add("count", 3)
                                 .Add("list", std::vector<std::string>{"a", "b"})
                                 .AddNull("none")
                                 .Add("ok", true)
                                 .Str();
    std::setlocale(LC_ALL, before.c_str());
    EXPECT_EQ(json, R"({"event":"unit","seconds":2.497,"count":3,"list":["a","b"],"none":null,"ok":true})");
}

// What a device or a setting says must not steer the terminal it is shown on.
TEST(TerminalSafe, EscapesControlAndFormatCharactersAndKeepsTheRest)
{
    const std::pair<std::string, std::string> cases[] = {
        {"R58M123ABC", "R58M123ABC"},
        {"", ""},
        {"Hub \xC3\x84 port 3", "Hub \xC3\x84 port 3"},
        // udev's own escapes in a by-id link's name stay as the name has them.
        {"/dev/serial/by-id/usb-Foo\\x20Bar-if00", "/dev/serial/by-id/usb-Foo\\x20Bar-if00"},
        {"R58\x1b[2JA", "R58\\x1b[2JA"},
        {"\t\n\r\x7F", "\\x09\\x0a\\x0d\\x7f"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\xC2\x9B" "31m", "\\x9b31m"},              // the one-character CSI of C1
        {"abc\xE2\x80\xAE" "fed", "abc\\u202efed"},  // a right-to-left override
        {"\xFF", "\xEF\xBF\xBD"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(TerminalSafe(in), out) << testing::PrintToString(in);
}

TEST(ClipToColumns, WideCharactersTakeTwoColumnsAndNoneStraddlesTheEdge)
{
    // As a factory script often runs it: no UTF-8 locale of its own.
    const std::string before = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    struct Case {
        std::string text;
        int columns;
        std::string kept;
    } cases[] = {
        {"Flash", 9, "Flash"},
        {"Flash", 5, "Flash"},
        {"Flash", 3, "Fla"},
        {"Flash", 0, ""},
        {"", 4, ""},
        {"Programming 중", 14, "Programming 중"},
        {"Programming 중", 13, "Programming "},  // 중 would straddle the edge
        {"한국어", 5, "한국"},
        {"한국어", 1, ""},
        {"\xEF\xBC\xA1\xEF\xBC\xA2", 3, "\xEF\xBC\xA1"},       // fullwidth Latin letters
        {"\xF0\x9F\x98\x80!", 2, "\xF0\x9F\x98\x80"},           // a four-byte wide character
        {"e\xCC\x81x", 1, "e\xCC\x81"},                        // a combining accent stays with its letter
        {"\xE2\x88\x9A ok", 2, "\xE2\x88\x9A "},                 // the check mark is narrow
        {"a\xFF" "bc", 2, "a\xFF"},                            // a byte that is not UTF-8 takes one column
        {"ab\xED\x95", 3, "ab\xED"},                          // so does each byte of a cut-off sequence
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text) + " in " + std::to_string(c.columns));
        EXPECT_EQ(ClipToColumns(c.text, c.columns), c.kept);
    }
    std::setlocale(LC_ALL, before.c_str());
}

// The width is read from the terminal at every redraw: one resized meanwhile is followed.
TEST(CliOutput, StatusLinesFitTheTerminalAsItIsNow)
{
    test::CPtyPair terminal;
    ASSERT_TRUE(terminal.Ok());
    const int slave = open(terminal.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    std::FILE* err = fdopen(slave, "w");
    ASSERT_NE(err, nullptr);
    const CCliOutput out(stdout, err, false);
    const std::string line = "COM3   Flash Programming 중";
    struct Case {
        unsigned short columns;  // 0: the terminal does not tell
        std::string shown;
    } cases[] = {{80, line}, {27, line}, {26, "COM3   Flash Programming "}, {10, "COM3   Fla"}, {0, line}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.columns);
        const winsize size{24, c.columns, 0, 0};
        ASSERT_EQ(ioctl(terminal.Master(), TIOCSWINSZ, &size), 0);
        EXPECT_EQ(out.FitToTerminal(line), c.shown);
    }
    std::fclose(err);

    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(CCliOutput(stdout, file, false).FitToTerminal(line), line) << "not a terminal";
    std::fclose(file);
}

// Settings read from a table, as the store would give them.
SettingLookup LookupIn(const std::map<std::string, std::string>& settings)
{
    return [&settings](const std::string& name) {
        const auto it = settings.find(name);
        return it == settings.end() ? std::string() : it->second;
    };
}

// --since is read as the instant it names, in the form the journal writes, whatever TZ says.
TEST(HistorySince, TakesStrictIso8601AndGivesTheInstantInUtc)
{
    const std::pair<const char*, const char*> taken[] = {
        {"2026-12-10", "2026-12-10T00:00:00.000Z"},
        {"2026-12-10T08:30", "2026-12-10T08:30:00.000Z"},
        {"2026-12-10T08:30:01", "2026-12-10T08:30:01.000Z"},
        {"2026-12-10T08:30:01.5", "2026-12-10T08:30:01.500Z"},
        {"2026-12-10T08:30:01.123Z", "2026-12-10T08:30:01.123Z"},
        // A run at .123 started before .1231: the fraction rounds up, never down.
        {"2026-12-10T08:30:01.1231", "2026-12-10T08:30:01.124Z"},
        {"2026-12-10T23:59:59.9999", "2026-12-11T00:00:00.000Z"},
        {"2026-12-10T08:30:01.000000000", "2026-12-10T08:30:01.000Z"},
        {"2026-12-10T17:30+09:00", "2026-12-10T08:30:00.000Z"},
        {"2026-12-10T03:30-05:00", "2026-12-10T08:30:00.000Z"},
        {"2026-12-10T08:30-00:00", "2026-12-10T08:30:00.000Z"},
        {"2026-01-01T05:00+09:30", "2025-12-31T19:30:00.000Z"},
        {"2026-12-31T20:00-04:00", "2027-01-01T00:00:00.000Z"},
        {"2024-02-29", "2024-02-29T00:00:00.000Z"},
        {"0000-01-01T00:00Z", "0000-01-01T00:00:00.000Z"},
    };
    for (const auto& [pszIn, pszOut] : taken) EXPECT_EQ(SinceUtc(pszIn), std::optional<std::string>(pszOut)) << pszIn;

    const char* const refused[] = {
        "", "yesterday", "2026-12-10garbage", "2026-12-10 ", " 2026-12-10", "2026-13-01", "2026-00-10", "2026-02-30",
        "2025-02-29", "2026-12-32", "26-12-10", "2026-1-10", "20261210", "2026-12-10T", "2026-12-10T08", "2026-12-10T99:99",
        "2026-12-10T24:00", "2026-12-10T08:60", "2026-12-10T08:30:60", "2026-12-10T8:30", "2026-12-10 08:30",
        "2026-12-10t08:30", "2026-12-10T08:30z", "2026-12-10T08:30:01.", "2026-12-10T08:30:01.1234567891",
        "2026-12-10T08:30:01,5", "2026-12-10T08:30.5", "2026-12-10T08:30+0900", "2026-12-10T08:30+09",
        "2026-12-10T08:30+24:00", "2026-12-10T08:30+09:60", "2026-12-10T08:30Z+09:00", "2026-12-10T08:30+09:00Z",
        "2026-12-10Z", "0000-01-01T00:00+00:01", "9999-12-31T23:59-00:01", "+2026-12-10", "２０２６-12-10",
    };
    for (const char* pszIn : refused) EXPECT_EQ(SinceUtc(pszIn), std::nullopt) << pszIn;
}

TEST(PortOptions, CommandLineSettingsAndDefaults)
{
    unsetenv("KESTREL_COM3");
    const auto settings = [](const std::string& name) -> std::string {
        if (name == "PORT") return "12";
        if (name == "BAUD") return "1";
        return {};
    };
    struct Case {
        std::string port, baud;
        SettingLookup lookup;
        bool ok;
        int n;
        std::string device;
        uint32_t rate;
    } cases[] = {
        {"", "", nullptr, true, 1, "/dev/ttyS0", 115200},
        {"", "", settings, true, 12, "/dev/ttyUSB1", 115200},
        {"COM3", "57600", settings, true, 3, "/dev/ttyACM0", 57600},
        {"4", "", nullptr, true, 4, "/dev/ttyACM1", 115200},
        {"/dev/pts/9", "115200", nullptr, true, 0, "/dev/pts/9", 115200},
        {"COM256", "", nullptr, false, 0, "", 0},
        {"3x", "", nullptr, false, 0, "", 0},
        {"3", "9600", nullptr, false, 0, "", 0},
        {"", "", [](const std::string& n) { return n == "PORT" ? std::string("300") : std::string(); }, false, 0, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port + "/" + c.baud);
        CPortOptions o;
        std::string error;
        ASSERT_EQ(ResolvePortOptions(c.port, c.baud, c.lookup, o, error), c.ok) << error;
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(o.nPort, c.n);
        EXPECT_EQ(o.strDevicePath, c.device);
        EXPECT_EQ(o.dwBaudRate, c.rate);
    }
}

TEST(PortOptions, AListNamesTheNumberWithoutADeviceAndRefusesAPortGivenTwice)
{
    unsetenv("KESTREL_COM22");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::map<std::string, std::string> settings;
        const char* env22;                 // KESTREL_COM22, or null
        std::vector<std::string> devices;  // when the list is taken
        std::string refusal;               // else a part of the message
    } cases[] = {
        {"numbers of the fixed map", {"3", "COM20"}, {}, nullptr, {"/dev/ttyACM0", "/dev/ttyUSB9"}, ""},
        {"numbers past it", {"21", "22"}, {}, nullptr, {}, "--port 21: no device is mapped to COM21"},
        {"a range that runs past it", {"19-22"}, {}, nullptr, {}, "--port 21: no device is mapped to COM21"},
        {"mapped by a setting and the variable", {"21", "22"}, {{"COM21", "/tmp/h21"}}, "/tmp/h22",
         {"/tmp/h21", "/tmp/h22"}, ""},
        {"one of them mapped", {"21", "22"}, {{"COM21", "/tmp/h21"}}, nullptr, {}, "no device is mapped to COM22"},
        {"the PORT setting", {}, {{"PORT", "25"}}, nullptr, {}, "The PORT setting 25: no device is mapped to COM25"},
        {"a slot that names a number", {"SLOT1"}, {{"SLOT1", "COM30"}}, nullptr, {},
         "--port SLOT1: no device is mapped to COM30"},
        {"the same number twice", {"3", "COM3"}, {}, nullptr, {},
         "--port COM3 is given twice: it is /dev/ttyACM0, as --port 3 is."},
        {"two numbers of one device", {"3", "4"}, {{"COM4", "/dev/ttyACM0"}}, nullptr, {},
         "--port 4 is given twice: it is /dev/ttyACM0, as --port 3 is."},
        {"a number and a slot of one device", {"21", "SLOT2"}, {{"COM21", "/tmp/h21"}, {"SLOT2", "/tmp/h21"}}, nullptr,
         {}, "--port SLOT2 is given twice"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.env22 != nullptr) setenv("KESTREL_COM22", c.env22, 1);
        const SettingLookup lookup = LookupIn(c.settings);
        std::vector<CPortOptions> ports;
        std::string error;
        const bool taken = ResolvePortList(c.args, "", lookup, ports, error);
        unsetenv("KESTREL_COM22");
        ASSERT_EQ(taken, c.refusal.empty()) << error;
        if (!taken) {
            EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
            continue;
        }
        std::vector<std::string> devices;
        for (const CPortOptions& port : ports) devices.push_back(port.strDevicePath);
        EXPECT_EQ(devices, c.devices);
    }
}

TEST(PortOptions, AStationStartsWithTheStoredTheMappedAndThePresentPorts)
{
    unsetenv("KESTREL_COM30");
    struct Case {
        const char* name;
        std::map<std::string, std::string> settings;
        std::set<std::string> devices;  // the device nodes that are there
        const char* env30;              // KESTREL_COM30, or null
        std::vector<int> ports;
    } cases[] = {
        {"nothing", {}, {}, nullptr, {}},
        {"the stored port", {{"PORT", "12"}}, {}, nullptr, {12}},
        {"an unusable stored port", {{"PORT", "300"}}, {}, nullptr, {}},
        {"mapped by settings, there or not", {{"COM7", "/tmp/h7"}, {"COM40", "/tmp/h40"}}, {"/tmp/h7"}, nullptr, {7, 40}},
        {"mapped by the environment", {}, {}, "/tmp/h30", {30}},
        {"handset ports that are there", {}, {"/dev/ttyACM1", "/dev/ttyUSB9", "/dev/ttyS0", "/dev/ttyS1"}, nullptr, {4, 20}},
        {"the machine's own port when stored", {{"PORT", "1"}}, {"/dev/ttyS0"}, nullptr, {1}},
        {"all of them once each", {{"PORT", "4"}, {"COM4", "/tmp/h4"}}, {"/dev/ttyACM1", "/dev/ttyACM2"}, nullptr, {4, 5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.env30 != nullptr) setenv("KESTREL_COM30", c.env30, 1);
        const SettingLookup lookup = LookupIn(c.settings);
        EXPECT_EQ(DefaultStationPorts(lookup, [&c](const std::string& device) { return c.devices.count(device) > 0; }),
                  c.ports);
        unsetenv("KESTREL_COM30");
    }
}

}  // namespace
}  // namespace kestrel
