#pragma once
// What a CPortWatcher or a CDevicePresence reported, one "<what> <path or slot>" per signal.

#include <QObject>
#include <QTest>
#include <string>
#include <vector>

#include "services/device_presence.h"
#include "services/port_watcher.h"

namespace kestrel {

class CPortSignalLog {
public:
    explicit CPortSignalLog(CPortWatcher& watcher)
    {
        Record(watcher, &CPortWatcher::PortArrived, "arrived");
        Record(watcher, &CPortWatcher::PortRemoved, "removed");
    }
    explicit CPortSignalLog(CDevicePresence& presence)
    {
        Record(presence, &CDevicePresence::Arrived, "arrived");
        Record(presence, &CDevicePresence::Gone, "gone");
    }

    // Runs the event loop until n lines are in. The bound only keeps a broken watcher from
    // hanging the test; the lines are checked by the caller.
    const std::vector<std::string>& WaitFor(std::size_t n)
    {
        static_cast<void>(QTest::qWaitFor([&] { return m_lines.size() >= n; }, 10000));
        return m_lines;
    }

private:
    template <typename TSender>
    void Record(TSender& sender, void (TSender::*signal)(const QString&), const std::string& strWhat)
    {
        QObject::connect(&sender, signal,
                         [this, strWhat](const QString& text) { m_lines.push_back(strWhat + " " + text.toStdString()); });
    }

    std::vector<std::string> m_lines;
};

}  // namespace kestrel
