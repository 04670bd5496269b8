#pragma once
// Log lines from any thread on their way to the one thread that may touch the log pane.

#include <array>
#include <mutex>
#include <string>

namespace kestrel {

// Log kinds the pane colours: errors red, link and command status black, the rest blue.
enum LogKind : int {
    kLogInfo = 1,
    kLogProgress = 2,
    kLogError = 3,
    kLogStatus = 4,
};

struct CLogEntry {
    int nKind = 0;
    std::string strText;
};

class CLogQueue {
public:
    static constexpr int kCapacity = 101;  // one slot stays free: at most 100 lines

    CLogQueue() { Clear(); }

    // False when the queue is full; the line is then lost and nobody should be notified.
    bool Push(int kind, const std::string& text);
    // False when empty; the entry is left untouched then.
    bool Pop(CLogEntry& entry);
    void Clear();

private:
    static int Next(int i) { return i + 1 == kCapacity ? 0 : i + 1; }

    std::mutex m_lock;
    int m_nHead = 0;
    int m_nTail = 0;
    std::array<CLogEntry, kCapacity> m_entries;
};

}  // namespace kestrel
