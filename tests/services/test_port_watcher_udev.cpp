// Real udev announcements, made by a umockdev test bed. CTest runs this program under
// umockdev-wrapper, whose preload library carries the test bed's events to libudev.

// glib before Qt: Qt's "signals" keyword would break glib's headers.
#include "tests/services/udev_testbed.h"

#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <string>
#include <vector>

#include "services/device_presence.h"
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

    // A USB port's tty as udev describes it, announced with "add" at once.
    std::string AddUsbTty(const char* pszName, const char* pszDevName, const std::string& strLinks, const char* pszIdPath)
    {
        return AddDeviceUnder("", "tty", pszName, {},
                              {"DEVNAME", pszDevName, "DEVLINKS", strLinks.c_str(), "ID_PATH", pszIdPath});
    }
};

constexpr const char* kById = "/dev/serial/by-id/usb-SAMSUNG_SAMSUNG_Mobile_USB_Modem-if00";
constexpr const char* kByPath = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0";
constexpr const char* kIdPath = "pci-0000:00:14.0-usb-0:3:1.0";
const std::string kLinks = std::string(kById) + " " + kByPath;  // as udev's DEVLINKS
constexpr const char* kOtherIdPath = "pci-0000:00:14.0-usb-0:4:1.0";  // another port of the hub

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

// libudev keeps a device's links in no particular order.
std::vector<std::string> Sorted(std::vector<std::string> vec)
{
    std::ranges::sort(vec);
    return vec;
}

TEST_F(PortWatcherUdev, HandsOnTheLinksAndIdPathUdevGives)
{
    CPortWatcher watcher;
    ASSERT_TRUE(watcher.IsWatching());
    std::vector<SDeviceEvent> events;
    QObject::connect(&watcher, &CPortWatcher::Announced, [&](const SDeviceEvent& event) { events.push_back(event); });
    CPortSignalLog log(watcher);

    AddUsbTty("ttyACM0", "/dev/ttyACM0", kLinks, kIdPath);
    ASSERT_EQ(log.WaitFor(1), std::vector<std::string>{"arrived /dev/ttyACM0"});
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(Sorted(events[0].vecLinks), (std::vector<std::string>{kById, kByPath}));
    EXPECT_EQ(events[0].strIdPath, kIdPath);
}

// A slot given as the node, as either of its links or as usb: and its ID_PATH arrives with
// the port's tty and goes with it; another port's tty, coming and going around it, is not it.
TEST_F(PortWatcherUdev, PresenceMatchesSlotsByNodeLinksAndIdPath)
{
    const std::string kSlots[] = {"/dev/ttyACM0", kById, kByPath, std::string("usb:") + kIdPath};
    for (const std::string& strSlot : kSlots) {
        SCOPED_TRACE(strSlot);
        CDevicePresence presence({strSlot});
        CPortSignalLog log(presence);

        const std::string strOther = AddUsbTty("ttyUSB7", "/dev/ttyUSB7",
                                               "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0 "
                                               "/dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0-port0",
                                               kOtherIdPath);
        const std::string strTty = AddUsbTty("ttyACM0", "/dev/ttyACM0", kLinks, kIdPath);
        ASSERT_EQ(log.WaitFor(1), std::vector<std::string>{"arrived " + strSlot});
        Announce(strOther, "remove");
        Announce(strTty, "remove");
        EXPECT_EQ(log.WaitFor(2), (std::vector<std::string>{"arrived " + strSlot, "gone " + strSlot}));
        umockdev_testbed_remove_device(m_pTestbed, strOther.c_str());
        umockdev_testbed_remove_device(m_pTestbed, strTty.c_str());
    }
}

// The handset came back as another node before udev told of the old one's removal: the slot
// follows the new node, and the old node's removal no longer concerns it. Another port's
// arrival after that removal shows it has been dealt with.
TEST_F(PortWatcherUdev, PresenceFollowsASlotToItsNewNode)
{
    const std::string strOtherSlot = std::string("usb:") + kOtherIdPath;
    CDevicePresence presence({kById, strOtherSlot});
    CPortSignalLog log(presence);

    const std::string strOld = AddUsbTty("ttyACM0", "/dev/ttyACM0", kLinks, kIdPath);
    ASSERT_EQ(log.WaitFor(1), std::vector<std::string>{std::string("arrived ") + kById});
    const std::string strNew = AddUsbTty("ttyACM1", "/dev/ttyACM1", kLinks, kIdPath);
    Announce(strOld, "remove");
    AddUsbTty("ttyUSB7", "/dev/ttyUSB7", "", kOtherIdPath);
    Announce(strNew, "remove");
    const std::vector<std::string> expected{std::string("arrived ") + kById, std::string("gone ") + kById,
                                            std::string("arrived ") + kById, "arrived " + strOtherSlot,
                                            std::string("gone ") + kById};
    EXPECT_EQ(log.WaitFor(expected.size()), expected);
}

// A link outside /dev matches the node it leads to when the node is announced; /dev/null
// stands in for a node that exists.
TEST_F(PortWatcherUdev, PresenceMatchesALinkByTheNodeItLeadsTo)
{
    const QTemporaryDir dir;
    const std::string strLink = dir.path().toStdString() + "/handset";
    ASSERT_EQ(::symlink("/dev/null", strLink.c_str()), 0);
    CDevicePresence presence({strLink});
    CPortSignalLog log(presence);

    const std::string strOther = AddUsbTty("ttyUSB7", "/dev/ttyUSB7", "", kOtherIdPath);
    const std::string strTty = AddDeviceUnder("", "tty", "ttyNull", {}, {"DEVNAME", "/dev/null"});
    ASSERT_EQ(log.WaitFor(1), std::vector<std::string>{"arrived " + strLink});
    Announce(strOther, "remove");
    Announce(strTty, "remove");
    EXPECT_EQ(log.WaitFor(2), (std::vector<std::string>{"arrived " + strLink, "gone " + strLink}));
}

TEST_F(PortWatcherUdev, PresenceAnnouncesAUsbSlotWhosePortIsThere)
{
    AddUsbTty("ttyACM0", "/dev/ttyACM0", kLinks, kIdPath);
    const std::string strThere = std::string("usb:") + kIdPath;
    CDevicePresence presence({strThere, "usb:pci-0000:00:14.0-usb-0:9:1.0"});
    CPortSignalLog log(presence);
    presence.AnnouncePresent();
    EXPECT_EQ(log.WaitFor(1), std::vector<std::string>{"arrived " + strThere});
}

}  // namespace
}  // namespace kestrel
