#include "services/device_presence.h"

#include <sys/stat.h>

#include <QFileInfo>

namespace kestrel {
namespace {

bool IsDeviceNode(const std::string& path) { return path.rfind("/dev/", 0) == 0; }

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

CDevicePresence::CDevicePresence(std::vector<std::string> devices, QObject* parent) : QObject(parent)
{
    bool anyNode = false;
    for (const std::string& device : devices) {
        m_present[device] = false;
        if (IsDeviceNode(device)) {
            anyNode = true;
        } else {
            m_folders.addPath(QFileInfo(QString::fromStdString(device)).absolutePath());
        }
    }
    if (anyNode) {
        m_pUdev = std::make_unique<CPortWatcher>();
        connect(m_pUdev.get(), &CPortWatcher::PortArrived, this, [this](const QString& node) { Set(node.toStdString(), true); });
        connect(m_pUdev.get(), &CPortWatcher::PortRemoved, this, [this](const QString& node) { Set(node.toStdString(), false); });
    }
    connect(&m_folders, &QFileSystemWatcher::directoryChanged, this, [this] { OnFolderChanged(); });
}

void CDevicePresence::AnnouncePresent()
{
    for (auto& [device, present] : m_present)
        if (Exists(device)) Set(device, true);
}

void CDevicePresence::OnFolderChanged()
{
    for (auto& [device, present] : m_present)
        if (!IsDeviceNode(device)) Set(device, Exists(device));
}

void CDevicePresence::Set(const std::string& device, bool present)
{
    auto it = m_present.find(device);
    if (it == m_present.end() || it->second == present) return;
    it->second = present;
    if (present)
        emit Arrived(QString::fromStdString(device));
    else
        emit Gone(QString::fromStdString(device));
}

}  // namespace kestrel
