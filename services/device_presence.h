#pragma once
// Whether the devices behind a station's slots are there. A slot is a device path (a node or
// any link to one, inside /dev or not) or "usb:" and udev's ID_PATH of the port's tty.
// udev's announcements decide for /dev; a folder watcher decides for paths outside it and
// picks up paths in /dev whose folders are not there yet. Both wait inside the event loop,
// so nothing runs while nothing changes.

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
    explicit CDevicePresence(std::vector<std::string> vecSlots, QObject* parent = nullptr);

    // Reports every slot whose device is there now as arrived.
    void AnnouncePresent();

signals:
    // The slot as it was given.
    void Arrived(const QString& slot);
    void Gone(const QString& slot);

private:
    struct SSlot {
        std::string strPath;    // absolute; empty for a usb: slot
        std::string strIdPath;  // a usb: slot's ID_PATH
        std::string strDevice;  // the node or file it stands for while there; empty while gone
        bool bFolderWatched = false;
    };

    static bool Serves(const SSlot& slot, const std::string& strCanonical, const SDeviceEvent& event);
    void OnAnnounced(const SDeviceEvent& event);
    void OnFolderChanged();
    void AimFolders();
    void Assign(const std::string& strName, SSlot& slot, const std::string& strDevice);

    std::map<std::string, SSlot> m_slots;  // by the slot as given
    std::unique_ptr<CPortWatcher> m_pUdev;
    QFileSystemWatcher m_folders;
};

}  // namespace kestrel
