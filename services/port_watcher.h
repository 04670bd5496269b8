#pragma once
// Serial ports appearing and going away while the program runs, as the device manager
// announces them. The watcher waits on the announcement socket inside the event loop, so it
// costs nothing while nothing happens. Without a device manager it stays silent.

#include <QObject>
#include <QString>
#include <memory>

#include "services/port_watcher_source.h"

class QSocketNotifier;

namespace kestrel {

class CPortWatcher : public QObject {
    Q_OBJECT

public:
    explicit CPortWatcher(QObject* parent = nullptr);
    // Watches the given source; a null source or one without a descriptor makes a silent watcher.
    explicit CPortWatcher(std::unique_ptr<IDeviceEventSource> pSource, QObject* parent = nullptr);
    ~CPortWatcher() override;

    // False when there is nothing to watch (udev could not be opened).
    bool IsWatching() const;

signals:
    void PortArrived(const QString& devNode);  // e.g. "/dev/ttyACM0"
    void PortRemoved(const QString& devNode);
    // Each of the above whole, with the links and ID_PATH udev gives the device.
    void Announced(const kestrel::SDeviceEvent& event);

private:
    void OnSourceReadable();

    std::unique_ptr<IDeviceEventSource> m_pSource;
    std::unique_ptr<QSocketNotifier> m_pNotifier;  // after the source: let go of its descriptor first
};

}  // namespace kestrel
