#include "protocol/download_controller.h"

#include <utility>

#include "serial/com_map.h"

namespace kestrel {

CDownloadController::CDownloadController(IScheduler& scheduler, IDownloadView& view, ISettingsReader& settings,
                                         std::unique_ptr<IPortDevice> device)
    : m_scheduler(scheduler), m_view(view), m_settings(settings), m_serial(std::move(device))
{
    m_serial.SetSleeper([this](int ms) { Wait(ms); });
    m_serial.SetPortResolver([this](int port) {
        return DevicePathForPort(port, [this](const std::string& name) { return m_settings.ReadText(name, ""); });
    });
}

CDownloadController::~CDownloadController()
{
    *m_pAlive = false;
    for (int id = 0; id < kTimerCount; ++id) m_scheduler.KillTimer(id);
    m_bReceiveRun = false;
    m_serial.SetSleeper([](int) {});
    m_serial.CloseAll();
    m_pThreadRX.reset();
}

void CDownloadController::PostRxPacket(const SRxPacket& packet, uint64_t generation)
{
    std::weak_ptr<bool> alive = m_pAlive;
    m_scheduler.Post([this, alive, packet, generation] {
        if (alive.lock()) Deliver([this, packet, generation] { OnReplyReceived(packet, generation); });
    });
}

void CDownloadController::PostLogMessage()
{
    std::weak_ptr<bool> alive = m_pAlive;
    m_scheduler.Post([this, alive] {
        if (alive.lock()) DrainLogQueue();
    });
}

void CDownloadController::PostRxThreadEnd(int linkId)
{
    std::weak_ptr<bool> alive = m_pAlive;
    m_scheduler.Post([this, alive, linkId] {
        if (alive.lock()) Deliver([this, linkId] { OnLinkEnded(linkId); });
    });
}

void CDownloadController::PostLinkFault(LinkFault fault, uint64_t generation)
{
    std::weak_ptr<bool> alive = m_pAlive;
    m_scheduler.Post([this, alive, fault, generation] {
        if (alive.lock()) Deliver([this, fault, generation] { OnLinkFault(fault, generation); });
    });
}

void CDownloadController::Deliver(std::function<void()> handler)
{
    if (m_nScopeDepth > 0) {
        m_deferred.push_back(std::move(handler));
        return;
    }
    CEngineScope scope(*this);
    handler();
}

void CDownloadController::ReplayDeferred()
{
    // Each held-back handler runs as a handler of its own; what it holds back in turn is
    // taken by this same loop.
    if (m_bReplaying) return;
    m_bReplaying = true;
    std::weak_ptr<bool> alive = m_pAlive;
    while (!m_deferred.empty() && !m_bWaitCancelled) {
        auto handler = std::move(m_deferred.front());
        m_deferred.pop_front();
        ++m_nScopeDepth;
        try {
            handler();
        } catch (...) {
            if (alive.lock()) {
                --m_nScopeDepth;
                m_bReplaying = false;
            }
            throw;
        }
        if (!alive.lock()) return;
        --m_nScopeDepth;
    }
    // What was held back for a run whose wait was cancelled answers nothing any more.
    if (m_bWaitCancelled) m_deferred.clear();
    m_bReplaying = false;
}

void CDownloadController::Wait(int milliseconds)
{
    if (m_bWaitCancelled) return;
    CEngineScope scope(*this);
    try {
        m_scheduler.Wait(milliseconds);
    } catch (const CWaitCancelled&) {
        m_bWaitCancelled = true;
        throw;
    }
}

void CDownloadController::ShowMessage(const std::string& text, MessageIcon icon)
{
    CEngineScope scope(*this);
    m_view.ShowMessage(text, icon);
}

}  // namespace kestrel
