#pragma once
// libudev objects that drop their reference when they go.

#include <libudev.h>

#include <memory>
#include <string>

namespace kestrel {

struct SUdevUnref {
    void operator()(udev* pUdev) const { udev_unref(pUdev); }
    void operator()(udev_monitor* pMonitor) const { udev_monitor_unref(pMonitor); }
    void operator()(udev_enumerate* pEnumerate) const { udev_enumerate_unref(pEnumerate); }
    void operator()(udev_device* pDevice) const { udev_device_unref(pDevice); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, SUdevUnref>;

inline std::string TextOrEmpty(const char* psz) { return psz ? std::string(psz) : std::string(); }

}  // namespace kestrel
