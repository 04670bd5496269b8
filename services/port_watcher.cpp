#include "services/port_watcher.h"

#include <QSocketNotifier>

namespace kestrel {

CPortWatcher::CPortWatcher(QObject* parent) : CPortWatcher(OpenUdevTtySource(), parent) {}

CPortWatcher::CPortWatcher(std::unique_ptr<IDeviceEventSource> pSource, QObject* parent)
    : QObject(parent), m_pSource(std::move(pSource))
{
    if (!m_pSource || m_pSource->Descriptor() < 0) {
        m_pSource.reset();
        return;
    }
    m_pNotifier = std::make_unique<QSocketNotifier>(m_pSource->Descriptor(), QSocketNotifier::Read);
    connect(m_pNotifier.get(), &QSocketNotifier::activated, this, &CPortWatcher::OnSourceReadable);
}

CPortWatcher::~CPortWatcher() = default;

bool CPortWatcher::IsWatching() const { return m_pNotifier != nullptr; }

void CPortWatcher::OnSourceReadable()
{
    // One wake-up may carry several announcements; whatever is left over wakes the
    // notifier again.
    while (const std::optional<SDeviceEvent> event = m_pSource->Next()) {
        if (event->strDevNode.empty() || (event->strAction != "add" && event->strAction != "remove")) continue;
        const QString devNode = QString::fromStdString(event->strDevNode);
        if (event->strAction == "add")
            emit PortArrived(devNode);
        else
            emit PortRemoved(devNode);
        emit Announced(*event);
    }
}

}  // namespace kestrel
