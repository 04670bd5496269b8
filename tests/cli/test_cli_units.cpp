#include <gtest/gtest.h>

#include "json_writer.h"
#include "port_options.h"

namespace kestrel {
namespace {

TEST(JsonQuote, EscapesControlsAndReplacesInvalidUtf8)
{
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "\"plain\""},
        {"a\"b\\c", R"("a\"b\\c")"},
        {"\nline\r\t", R"("\nline\r\t")"},
        {std::string("\x01\x7F", 2), R"("\u0001\u007f")"},
        {"한글", "\"한글\""},
        {"\xFF\xC3", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
        {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},  // a surrogate is not UTF-8
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(JsonQuote(in), out);
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

}  // namespace
}  // namespace kestrel
