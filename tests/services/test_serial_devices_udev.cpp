// The serial ports of a umockdev test bed as ListSerialDevices describes them, and usb: slots
// found by their ID_PATH. CTest runs this program under umockdev-wrapper.

#include "services/serial_devices.h"
#include "services/slot_resolver.h"
#include "tests/services/serial_testbed.h"

// The preload library comes before the sanitizer runtime in the link order; that is harmless here.
extern "C" const char* __asan_default_options() { return "verify_asan_link_order=0"; }

namespace kestrel {
namespace {

class SerialDevicesUdev : public test::CSerialTestbedTest {};

SSerialDevice Expected(const test::SBedPort& port)
{
    SSerialDevice device{std::string("/dev/") + port.pszTty, {}, {}, port.pszIdPath, std::nullopt, port.pszDriver};
    if (*port.pszByPath) device.vecByPath = {port.pszByPath};
    if (*port.pszById) device.vecById = {port.pszById};
    if (port.pszUsbName) device.optUsb = SUsbIdentity{port.pszSerial, port.pszVendorId, port.pszProductId};
    return device;
}

void ExpectDevice(const SSerialDevice& got, const SSerialDevice& expected)
{
    SCOPED_TRACE(expected.strNode);
    EXPECT_EQ(got.strNode, expected.strNode);
    EXPECT_EQ(got.vecByPath, expected.vecByPath);
    EXPECT_EQ(got.vecById, expected.vecById);
    EXPECT_EQ(got.strIdPath, expected.strIdPath);
    EXPECT_EQ(got.strDriver, expected.strDriver);
    ASSERT_EQ(got.optUsb.has_value(), expected.optUsb.has_value());
    if (!expected.optUsb) return;
    EXPECT_EQ(got.optUsb->strSerial, expected.optUsb->strSerial);
    EXPECT_EQ(got.optUsb->strVendorId, expected.optUsb->strVendorId);
    EXPECT_EQ(got.optUsb->strProductId, expected.optUsb->strProductId);
}

TEST_F(SerialDevicesUdev, ListsThePortsWithTheirLinksIdentityAndDriverInTheOrderOfTheirNodes)
{
    AddBed();
    const std::vector<SSerialDevice> devices = ListSerialDevices();
    const SSerialDevice expected[] = {Expected(test::kBedHandsetA), Expected(test::kBedHandsetB),
                                      Expected(test::kBedUart), Expected(test::kBedAdapter)};
    ASSERT_EQ(devices.size(), std::size(expected));
    for (std::size_t i = 0; i < devices.size(); ++i) ExpectDevice(devices[i], expected[i]);
}

TEST_F(SerialDevicesUdev, AnIdPathLeadsToItsOwnTtyOnly)
{
    AddBed();
    const struct {
        std::string strIdPath;
        std::string strNode;
    } cases[] = {
        {test::kBedHandsetB.pszIdPath, "/dev/ttyACM10"},
        {test::kBedAdapter.pszIdPath, "/dev/ttyUSB0"},
        {"pci-0000:00:14.0-usb-0:9:1.0", ""},
        {"pci-0000:00:14.0-usb-0:3:1", ""},
        {"pci-0000:00:14.0-usb-0:?:1.0", ""},  // udev would take it as a glob
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.strIdPath);
        EXPECT_EQ(FindTtyNodeByIdPath(c.strIdPath), c.strNode);
        EXPECT_EQ(ResolveSlotNode("usb:" + c.strIdPath, nullptr), c.strNode);
    }
}

}  // namespace
}  // namespace kestrel
