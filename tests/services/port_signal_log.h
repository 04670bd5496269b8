#pragma once
// What a CPortWatcher reported, one "arrived <node>" or "removed <node>" per signal.

#include <QObject>
#include <QTest>
#include <string>
#include <vector>

#include "services/port_watcher.h"

namespace kestrel {

class CPortSignalLog {
public:
    explicit CPortSignalLog(CPortWatcher& watcher)
    {
        QObject::connect(&watcher, &CPortWatcher::PortArrived,
                         [this](const QString& devNode) { m_lines.push_back("arrived " + devNode.toStdString()); });
        QObject::connect(&watcher, &CPortWatcher::PortRemoved,
                         [this](const QString& devNode) { m_lines.push_back("removed " + devNode.toStdString()); });
    }

    // Runs the event loop until n lines are in. The bound only keeps a broken watcher from
    // hanging the test; the lines are checked by the caller.
    const std::vector<std::string>& WaitFor(std::size_t n)
    {
        static_cast<void>(QTest::qWaitFor([&] { return m_lines.size() >= n; }, 10000));
        return m_lines;
    }

private:
    std::vector<std::string> m_lines;
};

}  // namespace kestrel
