#pragma once
// Whether the devices of a station's ports are there: device nodes through the device
// manager's announcements, other paths (a simulator's link, say) through the folder that
// holds them. Both wait inside the event loop, so nothing runs while nothing changes.

#include <QFileSystemWatcher>
#include <QObject>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "services/port_watcher.h"

namespace kestrel {

class CDevicePresence : public QObject {
    Q_OBJECT

public:
    explicit CDevicePresence(std::vector<std::string> devices, QObject* parent = nullptr);

    // Reports every watched device that is there now as arrived.
    void AnnouncePresent();

signals:
    void Arrived(const QString& device);
    void Gone(const QString& device);

private:
    void OnFolderChanged();
    void Set(const std::string& device, bool present);

    std::map<std::string, bool> m_present;
    std::unique_ptr<CPortWatcher> m_pUdev;
    QFileSystemWatcher m_folders;
};

}  // namespace kestrel
