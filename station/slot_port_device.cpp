#include "station/slot_port_device.h"

#include <utility>

#include "serial/posix_port_device.h"

namespace kestrel {

CSlotPortDevice::CSlotPortDevice(std::unique_ptr<IPortDevice> inner, CSlotClaims& claims, int port,
                                 OpenedListener onOpened)
    : m_pInner(inner ? std::move(inner) : std::make_unique<CPosixPortDevice>()),
      m_claims(claims),
      m_nPort(port),
      m_onOpened(std::move(onOpened))
{
}

PortOpenError CSlotPortDevice::Open(const std::string& path, const SLineSettings& settings)
{
    m_claims.Release(m_nPort);
    if (!m_claims.Claim(path, m_nPort)) return PortOpenError::NotFound;
    const PortOpenError error = m_pInner->Open(path, settings);
    if (error != PortOpenError::None) {
        m_claims.Release(m_nPort);
        return error;
    }
    if (m_onOpened) m_onOpened(path);
    return error;
}

void CSlotPortDevice::Close()
{
    m_pInner->Close();
    m_claims.Release(m_nPort);
}

}  // namespace kestrel
