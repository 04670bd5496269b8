#pragma once
// What the journal records of a station port's run at its start. The node is not known yet:
// the slot is resolved as the run opens it, and the recorder hears of each node opened.

#include "services/run_recorder.h"
#include "station/station_port.h"

namespace kestrel {

inline RunSetup StationRunSetup(const CStationPort& port)
{
    RunSetup setup;
    setup.nPort = port.Id().nPort;
    setup.nDloadType = port.Engine().DloadType();
    setup.pNewImage = &port.Engine().NewImage();
    setup.pOldImage = &port.Engine().OldImage();
    setup.strSlot = port.Id().strSlot;
    setup.strSlotLabel = port.Id().strLabel;
    return setup;
}

}  // namespace kestrel
