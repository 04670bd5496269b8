#include "services/device_presence.h"

#include <QStringList>
#include <algorithm>
#include <filesystem>
#include <string_view>

#include "services/device_paths.h"
#include "services/port_options.h"
#include "services/serial_devices.h"

namespace kestrel {

CDevicePresence::CDevicePresence(std::vector<std::string> vecSlots, QObject* parent)
    : QObject(parent), m_pUdev(std::make_unique<CPortWatcher>())
{
    for (std::string& strName : vecSlots) {
        SSlot slot;
        if (strName.starts_with(kUsbSlotPrefix))
            slot.strIdPath = strName.substr(kUsbSlotPrefix.size());
        else
            slot.strPath = AbsolutePath(strName);
        m_slots.emplace(std::move(strName), std::move(slot));
    }
    connect(m_pUdev.get(), &CPortWatcher::Announced, this, &CDevicePresence::OnAnnounced);
    connect(&m_folders, &QFileSystemWatcher::directoryChanged, this, &CDevicePresence::OnFolderChanged);
    AimFolders();
}

void CDevicePresence::AnnouncePresent()
{
    for (auto& [strName, slot] : m_slots) {
        const std::string strDevice = slot.strPath.empty() ? FindTtyNodeByIdPath(slot.strIdPath) : LiveDevice(slot.strPath);
        if (!strDevice.empty()) Assign(strName, slot, strDevice);
    }
}

bool CDevicePresence::Serves(const SSlot& slot, const std::string& strCanonical, const SDeviceEvent& event)
{
    if (slot.strPath.empty()) return !event.strIdPath.empty() && event.strIdPath == slot.strIdPath;
    if (event.strDevNode == slot.strPath || std::ranges::find(event.vecLinks, slot.strPath) != event.vecLinks.end())
        return true;
    return !strCanonical.empty() && (strCanonical == event.strDevNode || strCanonical == CanonicalPath(event.strDevNode));
}

void CDevicePresence::OnAnnounced(const SDeviceEvent& event)
{
    for (auto& [strName, slot] : m_slots) {
        if (event.strAction == "remove") {
            // By now udev has taken the node's links away; what the node served is what it was
            // remembered for.
            if (slot.strDevice == event.strDevNode) Assign(strName, slot, {});
        } else if (Serves(slot, slot.strPath.empty() ? std::string() : CanonicalPath(slot.strPath), event)) {
            Assign(strName, slot, event.strDevNode);
        }
    }
    // udev makes and clears the folders of its links as devices come and go.
    AimFolders();
}

void CDevicePresence::OnFolderChanged()
{
    std::vector<bool> wasWatched;
    for (const auto& [strName, slot] : m_slots) wasWatched.push_back(slot.bFolderWatched);
    // Aimed before looking, so that a change made while looking still wakes us.
    AimFolders();
    // A slot in /dev whose folder has just appeared is looked at once more, then left to udev.
    auto itWas = wasWatched.begin();
    for (auto& [strName, slot] : m_slots) {
        if (!*itWas++ && !slot.bFolderWatched) continue;
        const std::string strDevice = LiveDevice(slot.strPath);
        // In /dev a device goes when udev says so; a folder there only shows links udev made
        // before announcing them.
        if (strDevice.empty() && IsUnderDev(slot.strPath)) continue;
        Assign(strName, slot, strDevice);
    }
}

void CDevicePresence::AimFolders()
{
    QStringList wanted;
    for (auto& [strName, slot] : m_slots) {
        slot.bFolderWatched = false;
        if (slot.strPath.empty()) continue;
        for (const std::string& strHop : LinkChain(slot.strPath)) {
            const std::string strFolder = NearestFolder(strHop);
            // udev tells of all that happens in the folders /dev has, and only once permissions are set.
            if (IsUnderDev(strHop) && std::filesystem::path(strHop).parent_path() == strFolder) continue;
            slot.bFolderWatched = true;
            wanted.append(QString::fromStdString(strFolder));
        }
    }
    wanted.removeDuplicates();
    const QStringList current = m_folders.directories();
    for (const QString& folder : current)
        if (!wanted.contains(folder)) m_folders.removePath(folder);
    for (const QString& folder : wanted)
        if (!current.contains(folder)) m_folders.addPath(folder);
}

void CDevicePresence::Assign(const std::string& strName, SSlot& slot, const std::string& strDevice)
{
    if (slot.strDevice == strDevice) return;
    const QString name = QString::fromStdString(strName);
    // Another device behind a present slot is a handset that came back anew: the station has
    // to see the old one go first.
    if (!slot.strDevice.empty()) {
        slot.strDevice.clear();
        emit Gone(name);
    }
    slot.strDevice = strDevice;
    if (!strDevice.empty()) emit Arrived(name);
}

}  // namespace kestrel
