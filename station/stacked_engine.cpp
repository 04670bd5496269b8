#include "station/stacked_engine.h"

#include <utility>

namespace kestrel {

CStackedEngine::CStackedEngine(IScheduler& shared, int engineIndex, IDownloadView& view, ISettingsReader& settings,
                               std::unique_ptr<IPortDevice> device, std::function<void()> onFree)
    : m_onFree(std::move(onFree)),
      m_scheduler(
          shared, engineIndex, [this] { m_engine.OnWaitCancelled(); }, [this] { OnFree(); }),
      m_engine(m_scheduler, view, settings, std::move(device))
{
}

CStackedEngine::~CStackedEngine()
{
    Detach();
    m_scheduler.CancelWaits();
}

void CStackedEngine::Detach()
{
    m_onFree = nullptr;
    m_ePending = EPending::None;
}

void CStackedEngine::Stop()
{
    if (m_engine.IsBusy()) {
        if (m_ePending == EPending::None) m_ePending = EPending::Stop;
        return;
    }
    m_scheduler.Run([this] { m_engine.OnStop(); });
}

void CStackedEngine::Abandon()
{
    if (m_scheduler.IsWaiting()) {
        m_ePending = EPending::None;
        m_scheduler.CancelWaits();
        return;
    }
    if (m_engine.IsBusy()) {
        m_ePending = EPending::Abandon;
        return;
    }
    m_scheduler.Run([this] { m_engine.OnClose(); });
}

void CStackedEngine::OnFree()
{
    // The action kept until now tells in turn once it is done, and it may itself wait.
    const EPending pending = std::exchange(m_ePending, EPending::None);
    if (pending == EPending::Abandon) {
        Abandon();
        return;
    }
    if (pending == EPending::Stop && m_engine.IsRunActive()) {
        Stop();
        return;
    }
    if (m_onFree) m_onFree();
}

}  // namespace kestrel
