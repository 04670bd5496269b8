#pragma once
// Calls handed from any thread to the thread of a QObject, in the order they were posted. They
// go through a queue of our own and the wake-up through Qt by name, so that nothing another
// thread made is freed by the receiving thread behind a lock of Qt's (invisible to the race
// checks). Senders hold a poster, which may outlive the inbox: what is posted to an inbox that
// has gone is dropped.

#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace kestrel {

class CCallInbox final : public QObject {
    Q_OBJECT

    struct SShared {
        std::mutex mutex;
        std::deque<std::function<void()>> calls;
        CCallInbox* pInbox = nullptr;  // null once the inbox has gone
    };

public:
    class CPoster {
    public:
        // Any thread.
        void Post(std::function<void()> call) const;

    private:
        friend class CCallInbox;
        explicit CPoster(std::shared_ptr<SShared> pShared) : m_pShared(std::move(pShared)) {}
        std::shared_ptr<SShared> m_pShared;
    };

    // Lives on the thread it is made on, or as a child of pContext on pContext's.
    explicit CCallInbox(QObject* pContext = nullptr);
    ~CCallInbox() override;

    CPoster Poster() const { return CPoster(m_pShared); }

private:
    Q_INVOKABLE void Drain();

    const std::shared_ptr<SShared> m_pShared = std::make_shared<SShared>();
};

}  // namespace kestrel
