// kestrel-cli ports on the serial ports of a umockdev test bed, with COM numbers and slots from
// the settings and the environment. CTest runs this program under umockdev-wrapper; the
// kestrel-cli it starts inherits the wrapper's preload library and the test bed.

// glib before Qt: Qt's "signals" keyword would break glib's headers.
#include "tests/services/serial_testbed.h"

#include <cstdlib>

#include "services/settings_store.h"
#include "tests/support/child_process.h"
#include "tests/support/scoped_settings_store.h"

// The preload library comes before the sanitizer runtime in the link order; that is harmless here.
extern "C" const char* __asan_default_options() { return "verify_asan_link_order=0"; }

namespace kestrel {
namespace {

class CliPorts : public test::CSerialTestbedTest {
protected:
    void SetUp() override
    {
        test::CSerialTestbedTest::SetUp();
        // kestrel-cli is a program of its own: the option above does not reach it.
        const char* pszAsan = std::getenv("ASAN_OPTIONS");
        m_strAsanOptions = pszAsan ? pszAsan : "";
        ::setenv("ASAN_OPTIONS", (m_strAsanOptions + ":verify_asan_link_order=0").c_str(), 1);
    }
    void TearDown() override
    {
        ::setenv("ASAN_OPTIONS", m_strAsanOptions.c_str(), 1);
        ::unsetenv("KESTREL_COM12");
        test::CSerialTestbedTest::TearDown();
    }

    static test::ChildResult Ports(std::vector<std::string> args)
    {
        args.insert(args.begin(), {KESTREL_CLI_PATH, "ports"});
        return test::CChildProcess(args).Finish(20000);
    }

    test::CScopedStore m_store;
    std::string m_strAsanOptions;
};

// ttyACM2 loses COM5 of the fixed scheme to a setting; ttyACM10 is COM12 by the variable and
// the first slot by its ID_PATH; ttyUSB0 is COM7 by a setting naming its by-id link (before
// COM11 of the fixed scheme) and the second slot by its by-path link.
TEST_F(CliPorts, EachPortWithItsComNumberAndSlot)
{
    AddBed();
    AddDevFiles();
    ::setenv("KESTREL_COM12", test::kBedHandsetB.pszByPath, 1);
    ASSERT_TRUE(WriteText("COM7", test::kBedAdapter.pszById));
    ASSERT_TRUE(WriteText("SLOT1", std::string("usb:") + test::kBedHandsetB.pszIdPath));
    ASSERT_TRUE(WriteText("SLOT1_LABEL", "Hub A port 3"));
    ASSERT_TRUE(WriteText("SLOT2", test::kBedAdapter.pszByPath));
    ASSERT_TRUE(WriteText("COM5", "/dev/ttyACM7"));
    ASSERT_TRUE(WriteText("SLOT3", "COM5"));  // leads nowhere now

    const auto json = Ports({"--json"});
    EXPECT_EQ(json.nExitCode, 0) << json.strErr;
    EXPECT_EQ(json.strErr, "");
    EXPECT_EQ(json.strOut,
              R"({"event":"port","node":"/dev/ttyACM2","by_path":["/dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0"],)"
              R"("by_id":["/dev/serial/by-id/usb-SAMSUNG_SAMSUNG_Android_R58_2JA-if00"],"id_path":"pci-0000:00:14.0-usb-0:4:1.0",)"
              R"("vendor_id":"04e8","product_id":"6860","serial":"R58\u001b[2JA","driver":"cdc_acm","com":null,"slot":null,"label":null})"
              "\n"
              R"({"event":"port","node":"/dev/ttyACM10","by_path":["/dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0"],)"
              R"("by_id":["/dev/serial/by-id/usb-SAMSUNG_SAMSUNG_Android_R58M456DEF-if00"],"id_path":"pci-0000:00:14.0-usb-0:3:1.0",)"
              R"("vendor_id":"04e8","product_id":"6860","serial":"R58M456DEF","driver":"cdc_acm","com":12,"slot":"SLOT1","label":"Hub A port 3"})"
              "\n"
              R"({"event":"port","node":"/dev/ttyS4","by_path":[],"by_id":[],"id_path":null,"vendor_id":null,"product_id":null,)"
              R"("serial":null,"driver":"serial","com":null,"slot":null,"label":null})"
              "\n"
              R"({"event":"port","node":"/dev/ttyUSB0","by_path":["/dev/serial/by-path/pci-0000:00:14.0-usb-0:5:1.0-port0"],)"
              R"("by_id":["/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"],"id_path":"pci-0000:00:14.0-usb-0:5:1.0",)"
              R"("vendor_id":"0403","product_id":"6001","serial":"A50285BI","driver":"ftdi_sio","com":7,"slot":"SLOT2","label":null})"
              "\n");
}

// A serial number is the device's to choose: an escape sequence in it must not reach the terminal.
TEST_F(CliPorts, TheTextShowsOneBlockPerPortWithControlCharactersEscaped)
{
    AddBed();
    AddDevFiles();
    ASSERT_TRUE(WriteText("SLOT7", std::string("usb:") + test::kBedHandsetB.pszIdPath));
    ASSERT_TRUE(WriteText("SLOT7_LABEL", "Hub A port 3"));

    const auto text = Ports({});
    EXPECT_EQ(text.nExitCode, 0) << text.strErr;
    EXPECT_EQ(text.strOut,
              "/dev/ttyACM2  COM5\n"
              "  driver   cdc_acm\n"
              "  usb      04e8:6860  serial R58\\x1b[2JA\n"
              "  id_path  pci-0000:00:14.0-usb-0:4:1.0\n"
              "  by-path  /dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0\n"
              "  by-id    /dev/serial/by-id/usb-SAMSUNG_SAMSUNG_Android_R58_2JA-if00\n"
              "\n"
              "/dev/ttyACM10  SLOT7 \"Hub A port 3\"\n"
              "  driver   cdc_acm\n"
              "  usb      04e8:6860  serial R58M456DEF\n"
              "  id_path  pci-0000:00:14.0-usb-0:3:1.0\n"
              "  by-path  /dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0\n"
              "  by-id    /dev/serial/by-id/usb-SAMSUNG_SAMSUNG_Android_R58M456DEF-if00\n"
              "\n"
              "/dev/ttyS4\n"
              "  driver   serial\n"
              "\n"
              "/dev/ttyUSB0  COM11\n"
              "  driver   ftdi_sio\n"
              "  usb      0403:6001  serial A50285BI\n"
              "  id_path  pci-0000:00:14.0-usb-0:5:1.0\n"
              "  by-path  /dev/serial/by-path/pci-0000:00:14.0-usb-0:5:1.0-port0\n"
              "  by-id    /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\n");
}

TEST_F(CliPorts, NoPortsIsNoError)
{
    AddDeviceUnder("", "tty", "tty1", {}, {"DEVNAME", "/dev/tty1"});
    const struct {
        std::vector<std::string> args;
        const char* pszOut;
    } cases[] = {{{}, "No serial devices.\n"}, {{"--json"}, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const auto r = Ports(c.args);
        EXPECT_EQ(r.nExitCode, 0) << r.strErr;
        EXPECT_EQ(r.strOut, c.pszOut);
    }
}

}  // namespace
}  // namespace kestrel
