#include "cli_link.h"

#include "cli_output.h"

namespace kestrel {

CCliLink::CCliLink(CCliOutput& out, const CPortOptions& options)
    : m_out(out), m_owner(m_logQueue, out)
{
    const std::string path = options.strDevicePath;
    m_port.SetPortResolver([path](int) { return path; });
    m_port.SetLineSettings(static_cast<uint8_t>(options.nPort), options.dwBaudRate, 8, 0, 0);
}

CCliLink::~CCliLink()
{
    m_bReceiveRun = false;
    m_port.CloseAll();
    m_pThreadRX.reset();
    m_owner.DrainLog();
}

bool CCliLink::Open()
{
    m_port.CloseAll();
    m_port.PrepareEvents(&m_owner, &m_logQueue);
    if (!m_port.OpenPort()) {
        m_out.Log(kLogInfo, "USB 연결 상태를 확인하세요.");
        m_out.Log(kLogError, DescribeOpenFailure(m_port.LastOpenError(), m_port.LastDevicePath()));
        m_port.CloseAll();
        return false;
    }
    m_bReceiveRun = true;
    m_pThreadRX = std::make_unique<CThreadRX>(1, m_bReceiveRun);
    m_pThreadRX->Start(&m_owner, &m_port, &m_logQueue);
    return true;
}

}  // namespace kestrel
