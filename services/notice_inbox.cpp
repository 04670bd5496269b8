#include "services/notice_inbox.h"

namespace kestrel {

CNoticeInbox::CNoticeInbox(QObject* pContext, std::function<void(const std::string&)> show)
    : QObject(pContext), m_show(std::move(show))
{
}

void CNoticeInbox::Post(std::string strText)
{
    {
        const std::lock_guard lock(m_mutex);
        m_texts.push_back(std::move(strText));
    }
    QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
}

void CNoticeInbox::Drain()
{
    std::deque<std::string> texts;
    {
        const std::lock_guard lock(m_mutex);
        texts.swap(m_texts);
    }
    for (const std::string& strText : texts) m_show(strText);
}

}  // namespace kestrel
