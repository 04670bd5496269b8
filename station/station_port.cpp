#include "station/station_port.h"

#include "image/download_type.h"
#include "station/step_text.h"

namespace kestrel {

static_assert(kTimerCount <= CEngineScheduler::kIdsPerEngine, "an engine's timers must fit its id range");

std::string StationPortId::Label() const { return nPort > 0 ? "COM" + std::to_string(nPort) : strDevice; }

CStationPort::CStationPort(int index, StationPortId id, IScheduler& shared, ISettingsReader& settings,
                           IStationObserver& observer, std::unique_ptr<IPortDevice> device)
    : m_nIndex(index),
      m_id(std::move(id)),
      m_observer(observer),
      m_scheduler(shared, index, [this] { m_observer.OnPortFree(m_nIndex); }),
      m_engine(m_scheduler, *this, settings, std::move(device))
{
    m_engine.SetPort(m_id.nPort);
    const std::string node = m_id.strDevice;
    m_engine.SetPortResolver([node](int) { return node; });
}

// A wait still under way is cut short, so that the engine's suspended work ends while the
// engine is still there.
CStationPort::~CStationPort() { m_scheduler.EndWaits(); }

bool CStationPort::Load(const StationJob& job, std::string& error)
{
    m_job = job;
    int type = job.nType;
    if (!m_engine.NewImage().Load(job.strImage, type)) {
        error = m_engine.NewImage().LastError();
        return false;
    }
    if (!job.strOldImage.empty()) {
        int oldType = type;
        if (!m_engine.OldImage().Load(job.strOldImage, oldType)) {
            error = m_engine.OldImage().LastError();
            return false;
        }
    }
    m_engine.SetDloadType(type);
    m_engine.SetBaudIndex(job.nBaudIndex);
    return true;
}

std::string CStationPort::StepText() const { return RunStepText(m_engine.Run().eStep); }

// A box would hold up every port: its text goes to the port's log instead.
void CStationPort::ShowMessage(const std::string& text, MessageIcon) { m_observer.OnPortLog(m_nIndex, kLogInfo, text); }

bool CStationPort::AskYesNo(const std::string& text)
{
    m_observer.OnPortLog(m_nIndex, kLogInfo, text + (m_job.bAnswerYes ? " Yes" : " No"));
    return m_job.bAnswerYes;
}

bool CStationPort::AskFontAddress(uint32_t& address)
{
    address = m_job.dwFontAddress;
    return true;
}

}  // namespace kestrel
