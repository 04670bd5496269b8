#include "services/call_inbox.h"

namespace kestrel {

CCallInbox::CCallInbox(QObject* pContext) : QObject(pContext)
{
    m_pShared->pInbox = this;
}

CCallInbox::~CCallInbox()
{
    std::deque<std::function<void()>> dropped;
    const std::lock_guard lock(m_pShared->mutex);
    m_pShared->pInbox = nullptr;
    dropped.swap(m_pShared->calls);
}

void CCallInbox::CPoster::Post(std::function<void()> call) const
{
    const std::lock_guard lock(m_pShared->mutex);
    // Under the lock, so that the inbox cannot go between the look and the wake-up.
    if (m_pShared->pInbox == nullptr) return;
    m_pShared->calls.push_back(std::move(call));
    QMetaObject::invokeMethod(m_pShared->pInbox, "Drain", Qt::QueuedConnection);
}

void CCallInbox::Drain()
{
    std::deque<std::function<void()>> calls;
    {
        const std::lock_guard lock(m_pShared->mutex);
        calls.swap(m_pShared->calls);
    }
    for (const std::function<void()>& call : calls) call();
}

}  // namespace kestrel
