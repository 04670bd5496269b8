#include <sstream>

#include "services/port_watcher_source.h"
#include "services/udev_ptr.h"

namespace kestrel {
namespace {

SDeviceEvent EventOf(udev_device* pDevice)
{
    SDeviceEvent event{TextOrEmpty(udev_device_get_action(pDevice)), TextOrEmpty(udev_device_get_devnode(pDevice)), {},
                       TextOrEmpty(udev_device_get_property_value(pDevice, "ID_PATH"))};
    std::istringstream links(TextOrEmpty(udev_device_get_property_value(pDevice, "DEVLINKS")));
    for (std::string strLink; links >> strLink;) event.vecLinks.push_back(strLink);
    return event;
}

class CUdevTtySource final : public IDeviceEventSource {
public:
    CUdevTtySource(UdevPtr<udev> pUdev, UdevPtr<udev_monitor> pMonitor)
        : m_pUdev(std::move(pUdev)), m_pMonitor(std::move(pMonitor))
    {
    }

    int Descriptor() const override { return udev_monitor_get_fd(m_pMonitor.get()); }

    // The monitor's socket does not block; an empty read, a message that fails the filter
    // and a damaged message all end this round, and the notifier calls again while more wait.
    std::optional<SDeviceEvent> Next() override
    {
        const UdevPtr<udev_device> pDevice(udev_monitor_receive_device(m_pMonitor.get()));
        if (!pDevice) return std::nullopt;
        return EventOf(pDevice.get());
    }

private:
    UdevPtr<udev> m_pUdev;  // the monitor does not keep its context alive; declared first, freed last
    UdevPtr<udev_monitor> m_pMonitor;
};

}  // namespace

std::unique_ptr<IDeviceEventSource> OpenUdevTtySource()
{
    UdevPtr<udev> pUdev(udev_new());
    if (!pUdev) return nullptr;
    // "udev": events after the device manager has created the node and its permissions, so
    // an arrival is a port that can be opened.
    UdevPtr<udev_monitor> pMonitor(udev_monitor_new_from_netlink(pUdev.get(), "udev"));
    if (!pMonitor) return nullptr;
    if (udev_monitor_filter_add_match_subsystem_devtype(pMonitor.get(), "tty", nullptr) < 0) return nullptr;
    if (udev_monitor_enable_receiving(pMonitor.get()) < 0) return nullptr;
    if (udev_monitor_get_fd(pMonitor.get()) < 0) return nullptr;
    return std::make_unique<CUdevTtySource>(std::move(pUdev), std::move(pMonitor));
}

}  // namespace kestrel
