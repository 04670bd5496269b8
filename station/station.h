#pragma once
// Several ports flashed side by side, each by an engine of its own on the one scheduler of
// the process. Nothing mutable is shared between the ports: one port's fault, stall, unplug
// or Stop never reaches another.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "station/station_port.h"

namespace kestrel {

class CStation {
public:
    CStation(IScheduler& scheduler, ISettingsReader& settings, IStationObserver& observer);
    ~CStation();
    CStation(const CStation&) = delete;
    CStation& operator=(const CStation&) = delete;

    // How a slot finds its device node at each open; without one, a slot is the node itself.
    // Set before the ports are added.
    void SetSlotResolver(SlotResolver resolver) { m_resolver = std::move(resolver); }
    // Adds a port and returns its index; a null device opens the real one.
    int AddPort(SStationPortId id, std::unique_ptr<IPortDevice> device = nullptr);
    // Loads the job into every port; false with the first port's message when it cannot.
    bool LoadJob(const SStationJob& job, std::string& error);

    int PortCount() const { return static_cast<int>(m_ports.size()); }
    CStationPort& Port(int index) { return *m_ports[static_cast<std::size_t>(index)].pPort; }
    const CStationPort& Port(int index) const { return *m_ports[static_cast<std::size_t>(index)].pPort; }

    // Starts every idle port, one after another; a StopAll meanwhile cancels the rest.
    void StartAll();
    // The same for the ports of these indices.
    void Start(const std::vector<int>& indices);
    // Stop on every running port, each with its own Stop rule; a port in the middle of a
    // wait gets it as soon as the wait is over.
    void StopAll();
    // Ends every run whatever its step; a wait under way is cancelled, so every run has ended
    // as stopped when this returns unless its engine is at work further up this very call.
    void AbandonAll();
    bool AnyRunning() const;
    bool AnyBusy() const;

    // Handsets as they come and go on the ports' slots (a front end also reports those
    // present at its start). With start on arrival, a handset that appears on an idle port is
    // flashed; one that stays connected after its run is flashed again only once it has gone
    // and come back. A limit counts the runs still to be started that way, from this call on;
    // none: no limit.
    void SetStartOnArrival(bool on, std::optional<int> optLimit = std::nullopt)
    {
        m_bStartOnArrival = on;
        m_optArrivalStartsLeft = optLimit;
    }
    void OnDeviceArrived(const std::string& slot);
    bool IsPresent(int index) const { return m_ports[static_cast<std::size_t>(index)].bPresent; }
    void OnDeviceGone(const std::string& slot);

private:
    struct SEntry {
        std::unique_ptr<CStationPort> pPort;
        bool bPresent = false;      // the handset is on the port's slot
        bool bStartPending = false; // StartAll has not got to it yet
    };

    IScheduler& m_scheduler;
    ISettingsReader& m_settings;
    IStationObserver& m_observer;
    SlotResolver m_resolver;
    CSlotClaims m_claims;  // before the ports, which give their claims back as they go
    std::vector<SEntry> m_ports;
    bool m_bStartOnArrival = false;
    std::optional<int> m_optArrivalStartsLeft;
};

}  // namespace kestrel
