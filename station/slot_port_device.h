#pragma once
// A station port's device: the node its slot resolved to is claimed for the port while it is
// open, and every node actually opened is reported, so the journal can tell which device a
// handset came back as.

#include <functional>
#include <memory>
#include <string>

#include "serial/port_device.h"
#include "station/slot_claims.h"

namespace kestrel {

class CSlotPortDevice final : public IPortDevice {
public:
    using OpenedListener = std::function<void(const std::string& node)>;

    CSlotPortDevice(std::unique_ptr<IPortDevice> inner, CSlotClaims& claims, int port, OpenedListener onOpened);

    // A node that another port holds reads as not there: the slot's own handset has not come
    // back yet.
    PortOpenError Open(const std::string& path, const SLineSettings& settings) override;
    void Close() override;
    bool Write(const uint8_t* data, std::size_t length, int deadlineMs) override
    {
        return m_pInner->Write(data, length, deadlineMs);
    }
    std::size_t Read(uint8_t* buffer, std::size_t length) override { return m_pInner->Read(buffer, length); }
    PortWait WaitForInput() override { return m_pInner->WaitForInput(); }
    void Interrupt() override { m_pInner->Interrupt(); }

private:
    std::unique_ptr<IPortDevice> m_pInner;
    CSlotClaims& m_claims;
    const int m_nPort;
    OpenedListener m_onOpened;
};

}  // namespace kestrel
