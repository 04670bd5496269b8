#include "log_queue.h"

namespace kestrel {

bool CLogQueue::Push(int kind, const std::string& text)
{
    std::lock_guard guard(m_lock);
    if (Next(m_nTail) == m_nHead) return false;
    m_entries[m_nTail].nKind = kind;
    m_entries[m_nTail].strText = text;
    m_nTail = Next(m_nTail);
    return true;
}

bool CLogQueue::Pop(CLogEntry& entry)
{
    std::lock_guard guard(m_lock);
    if (m_nHead == m_nTail) return false;
    entry = std::move(m_entries[m_nHead]);
    m_entries[m_nHead] = CLogEntry{};
    m_nHead = Next(m_nHead);
    return true;
}

void CLogQueue::Clear()
{
    std::lock_guard guard(m_lock);
    m_nHead = m_nTail = 0;
    m_entries.fill(CLogEntry{});
}

}  // namespace kestrel
