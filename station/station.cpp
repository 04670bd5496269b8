#include "station/station.h"

namespace kestrel {

CStation::CStation(IScheduler& scheduler, ISettingsReader& settings, IStationObserver& observer)
    : m_scheduler(scheduler), m_settings(settings), m_observer(observer)
{
}

CStation::~CStation() = default;

int CStation::AddPort(SStationPortId id, std::unique_ptr<IPortDevice> device)
{
    const int index = PortCount();
    m_ports.push_back({std::make_unique<CStationPort>(index, std::move(id), m_scheduler, m_settings, m_observer, m_claims,
                                                      m_resolver, std::move(device))});
    return index;
}

bool CStation::LoadJob(const SStationJob& job, std::string& error)
{
    for (auto& entry : m_ports)
        if (!entry.pPort->Load(job, error)) return false;
    return true;
}

void CStation::StartAll()
{
    std::vector<int> all(m_ports.size());
    for (std::size_t n = 0; n < all.size(); ++n) all[n] = static_cast<int>(n);
    Start(all);
}

void CStation::Start(const std::vector<int>& indices)
{
    for (const int index : indices) {
        SEntry& entry = m_ports[static_cast<std::size_t>(index)];
        entry.bStartPending = !entry.pPort->IsRunning() && !entry.pPort->IsBusy();
    }
    // A start waits for the port to open, and everything else happens meanwhile.
    for (auto& entry : m_ports) {
        if (!entry.bStartPending) continue;
        entry.bStartPending = false;
        entry.pPort->Start();
    }
}

void CStation::StopAll()
{
    for (auto& entry : m_ports) {
        entry.bStartPending = false;
        if (entry.pPort->IsRunning()) entry.pPort->Stop();
    }
}

void CStation::AbandonAll()
{
    for (auto& entry : m_ports) {
        entry.bStartPending = false;
        entry.pPort->Abandon();
    }
}

bool CStation::AnyRunning() const
{
    for (const auto& entry : m_ports)
        if (entry.pPort->IsRunning()) return true;
    return false;
}

bool CStation::AnyBusy() const
{
    for (const auto& entry : m_ports)
        if (entry.pPort->IsBusy()) return true;
    return false;
}

void CStation::OnDeviceArrived(const std::string& slot)
{
    for (auto& entry : m_ports) {
        CStationPort& port = *entry.pPort;
        if (port.Id().strSlot != slot || entry.bPresent) continue;
        entry.bPresent = true;
        m_observer.OnPortPresence(static_cast<int>(&entry - m_ports.data()), true);
        // A handset that re-enumerates within its own run is that run's business.
        if (!m_bStartOnArrival || port.IsRunning() || port.IsBusy()) continue;
        if (m_optArrivalStartsLeft) {
            if (*m_optArrivalStartsLeft <= 0) continue;
            --*m_optArrivalStartsLeft;
        }
        port.Start();
    }
}

void CStation::OnDeviceGone(const std::string& slot)
{
    for (auto& entry : m_ports) {
        if (entry.pPort->Id().strSlot != slot || !entry.bPresent) continue;
        entry.bPresent = false;
        m_observer.OnPortPresence(static_cast<int>(&entry - m_ports.data()), false);
    }
}

}  // namespace kestrel
