// The USB device behind a serial node, looked up in a umockdev test bed. CTest runs this
// program under umockdev-wrapper.

#include "services/usb_identity.h"
#include "tests/services/udev_testbed.h"

// The preload library comes before the sanitizer runtime in the link order; that is harmless here.
extern "C" const char* __asan_default_options() { return "verify_asan_link_order=0"; }

namespace kestrel {
namespace {

class UsbIdentityUdev : public test::CUdevTestbedTest {};

TEST_F(UsbIdentityUdev, ANodeOnUsbHasItsSerialAndIdsAndOthersHaveNone)
{
    const std::string strHandset = AddDeviceUnder("", "usb", "1-1", {"idVendor", "04e8", "idProduct", "6860", "serial", "R58M123ABC"},
                                                  {"DEVTYPE", "usb_device"});
    const std::string strInterface = AddDeviceUnder(strHandset, "usb", "1-1:1.0", {}, {"DEVTYPE", "usb_interface"});
    AddDeviceUnder(strInterface, "tty", "ttyACM0", {}, {"DEVNAME", "/dev/ttyACM0"});
    const std::string strNoSerial = AddDeviceUnder("", "usb", "1-2", {"idVendor", "1a86", "idProduct", "7523"}, {"DEVTYPE", "usb_device"});
    AddDeviceUnder(strNoSerial, "tty", "ttyUSB0", {}, {"DEVNAME", "/dev/ttyUSB0"});
    AddDeviceUnder("", "tty", "ttyS0", {}, {"DEVNAME", "/dev/ttyS0"});

    const auto optHandset = LookUpUsbIdentity("/dev/ttyACM0");
    ASSERT_TRUE(optHandset.has_value());
    EXPECT_EQ(optHandset->strSerial, "R58M123ABC");
    EXPECT_EQ(optHandset->strVendorId, "04e8");
    EXPECT_EQ(optHandset->strProductId, "6860");

    const auto optAdapter = LookUpUsbIdentity("/dev/ttyUSB0");
    ASSERT_TRUE(optAdapter.has_value());
    EXPECT_EQ(optAdapter->strSerial, "");
    EXPECT_EQ(optAdapter->strVendorId, "1a86");

    EXPECT_FALSE(LookUpUsbIdentity("/dev/ttyS0").has_value()) << "not on USB";
    EXPECT_FALSE(LookUpUsbIdentity("/dev/ttyACM7").has_value()) << "not known to udev";
}

}  // namespace
}  // namespace kestrel
