// Real udev announcements, made by a umockdev test bed. CTest runs this program under
// umockdev-wrapper, whose preload library carries the test bed's events to libudev.

// glib before Qt: Qt's "signals" keyword would break glib's headers.
#include "tests/services/udev_testbed.h"

#include <string>
#include <vector>

#include "services/port_watcher.h"
#include "tests/services/port_signal_log.h"
#include "tests/support/qt_app_environment.h"

// The preload library comes before the sanitizer runtime in the link order; that is harmless here.
extern "C" const char* __asan_default_options() { return "verify_asan_link_order=0"; }

namespace kestrel {
namespace {

const auto* const g_pQtApp = ::testing::AddGlobalTestEnvironment(new CQtAppEnvironment);

class PortWatcherUdev : public test::CUdevTestbedTest {
protected:
    // The sysfs path of a new device; pszDevName nullptr for a device without a node.
    std::string AddDevice(const char* pszSubsystem, const char* pszName, const char* pszDevName)
    {
        return AddDeviceUnder("", pszSubsystem, pszName, {},
                              pszDevName ? std::vector<const char*>{"DEVNAME", pszDevName} : std::vector<const char*>{});
    }

    void Announce(const std::string& strSysPath, const char* pszAction)
    {
        umockdev_testbed_uevent(m_pTestbed, strSysPath.c_str(), pszAction);
    }
};

TEST_F(PortWatcherUdev, ReportsTtyNodesComingAndGoing)
{
    CPortWatcher watcher;
    ASSERT_TRUE(watcher.IsWatching());
    CPortSignalLog log(watcher);

    // A new device of the test bed is announced with "add" at once.
    const std::string strEvent = AddDevice("input", "event5", "/dev/input/event5");
    const std::string strAcm0 = AddDevice("tty", "ttyACM0", "/dev/ttyACM0");
    AddDevice("tty", "ttyNoNode", nullptr);
    AddDevice("tty", "ttyUSB1", "/dev/ttyUSB1");
    Announce(strAcm0, "change");
    Announce(strEvent, "remove");
    Announce(strAcm0, "remove");
    umockdev_testbed_remove_device(m_pTestbed, strAcm0.c_str());

    // The announcements arrive in order, so everything before the last report has been seen.
    const std::vector<std::string> expected{"arrived /dev/ttyACM0", "arrived /dev/ttyUSB1", "removed /dev/ttyACM0"};
    EXPECT_EQ(log.WaitFor(expected.size()), expected);
}

}  // namespace
}  // namespace kestrel
