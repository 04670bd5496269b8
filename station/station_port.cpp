#include "station/station_port.h"

#include <cstdio>

#include "image/download_type.h"
#include "station/slot_port_device.h"
#include "station/step_text.h"

namespace kestrel {
namespace {

// Where a port that goes away sends what its engine still says.
class CDetachedObserver final : public IStationObserver {
public:
    void OnPortLog(int, int, const std::string&) override {}
    void OnPortCheckMark(int) override {}
    void OnPortProgress(int, const SBlockProgress&) override {}
    void OnPortRunStarted(int) override {}
    void OnPortRunEnded(int, RunOutcome) override {}
};

CDetachedObserver g_detached;

}  // namespace

static_assert(kTimerCount <= CEngineScheduler::kIdsPerEngine, "an engine's timers must fit its id range");

std::string SStationPortId::Label() const
{
    if (!strLabel.empty()) return strLabel;
    return nPort > 0 ? "COM" + std::to_string(nPort) : strSlot;
}

CStationPort::CStationPort(int index, SStationPortId id, IScheduler& shared, ISettingsReader& settings,
                           IStationObserver& observer, CSlotClaims& claims, SlotResolver resolver,
                           std::unique_ptr<IPortDevice> device)
    : m_nIndex(index),
      m_id(std::move(id)),
      m_pObserver(&observer),
      m_engine(shared, index, *this, settings,
               std::make_unique<CSlotPortDevice>(std::move(device), claims, index,
                                                 [this](const std::string& node) { m_pObserver->OnPortOpened(m_nIndex, node); }),
               [this] { m_pObserver->OnPortFree(m_nIndex); })
{
    CDownloadController& engine = m_engine.Engine();
    engine.SetPort(m_id.nPort);
    // Every open resolves the slot afresh: the handset may be back under another node.
    engine.SetPortResolver([slot = m_id.strSlot, resolve = std::move(resolver)](int) {
        return resolve ? resolve(slot) : slot;
    });
}

// What the engine still says while its wait is cancelled goes nowhere: the observer may be
// half gone.
CStationPort::~CStationPort()
{
    m_pObserver = &g_detached;
    m_engine.Detach();
}

bool CStationPort::Load(const SStationJob& job, std::string& error)
{
    m_job = job;
    CDownloadController& engine = m_engine.Engine();
    int type = job.nType;
    if (!engine.NewImage().Load(job.strImage, type)) {
        error = engine.NewImage().LastError();
        return false;
    }
    if (!job.strOldImage.empty()) {
        int oldType = type;
        if (!engine.OldImage().Load(job.strOldImage, oldType)) {
            error = engine.OldImage().LastError();
            return false;
        }
    }
    engine.SetDloadType(type);
    engine.SetBaudIndex(job.nBaudIndex);
    return true;
}

std::string CStationPort::StepText() const { return RunStepText(Engine().Run().eStep); }

// A box would hold up every port: its text goes to the port's log instead.
void CStationPort::ShowMessage(const std::string& text, MessageIcon) { m_pObserver->OnPortLog(m_nIndex, kLogInfo, text); }

bool CStationPort::AskYesNo(const std::string& text)
{
    m_pObserver->OnPortAnswered(m_nIndex, text, m_job.bAnswerYes);
    return m_job.bAnswerYes;
}

bool CStationPort::AskFontAddress(uint32_t& address)
{
    address = m_job.dwFontAddress;
    char text[64];
    std::snprintf(text, sizeof text, "FONT DOWNLOAD: Start Address : 0x%X", address);
    m_pObserver->OnPortLog(m_nIndex, kLogInfo, text);
    return true;
}

}  // namespace kestrel
