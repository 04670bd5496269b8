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
    m_scheduler.KillTimer(kTimerRequest);
    m_scheduler.KillTimer(kTimerBlock);
    m_scheduler.KillTimer(kTimerClock);
    m_bReceiveRun = false;
    m_serial.SetSleeper([](int) {});
    m_serial.CloseAll();
    m_pThreadRX.reset();
}

void CDownloadController::PostRxPacket(const RxPacket& packet)
{
    const int linkId = m_nLinkId;
    std::weak_ptr<bool> alive = m_pAlive;
    m_scheduler.Post([this, alive, packet, linkId] {
        if (alive.lock()) Deliver([this, packet, linkId] { OnReplyReceived(packet, linkId); });
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

void CDownloadController::Deliver(std::function<void()> handler)
{
    if (m_nModalDepth > 0) {
        m_deferred.push_back(std::move(handler));
        return;
    }
    handler();
}

void CDownloadController::ReplayDeferred()
{
    std::weak_ptr<bool> alive = m_pAlive;
    while (!m_deferred.empty() && m_nModalDepth == 0) {
        auto handler = std::move(m_deferred.front());
        m_deferred.pop_front();
        handler();
        if (!alive.lock()) return;
    }
}

void CDownloadController::Wait(int milliseconds)
{
    CModalScope scope(*this);
    m_scheduler.Wait(milliseconds);
}

void CDownloadController::ShowMessage(const std::string& text)
{
    CModalScope scope(*this);
    m_view.ShowMessage(text);
}

}  // namespace kestrel
