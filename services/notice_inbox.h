#pragma once
// Texts handed from any thread to a function on the thread of a QObject. The texts go through
// a queue of our own and the wake-up through Qt by name, so that nothing another thread made
// is freed by the receiving thread behind a lock of Qt's (invisible to the race checks), and
// nothing of the receiver's is freed by the sender.

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace kestrel {

class CNoticeInbox final : public QObject {
    Q_OBJECT

public:
    // A child of pContext: it lives on pContext's thread and goes with it.
    CNoticeInbox(QObject* pContext, std::function<void(const std::string&)> show);

    // Any thread.
    void Post(std::string strText);

private:
    Q_INVOKABLE void Drain();

    const std::function<void(const std::string&)> m_show;
    std::mutex m_mutex;
    std::deque<std::string> m_texts;
};

}  // namespace kestrel
