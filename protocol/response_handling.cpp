// Every reply of the handset: accepted, recovered from, or the end of the run.

#include "protocol/download_controller.h"
#include "protocol/text_format.h"

namespace kestrel {

void CDownloadController::OnReplyReceived(const RxPacket& packet, int linkId)
{
    // A reply of a link that has ended (or of an earlier one) belongs to no run.
    if (!m_bReceiveRun || linkId != m_nLinkId) return;
    if (m_run.bModeSwitch) return;
    StopSupervision();
    if (!ClassifyReply(packet.bytes[0], packet.bytes[1], packet.bytes[2])) return;
    m_run.byRetryCount = 0;
    AdvanceRun();
}

// The last thing sent again: the retransmit request block while blocks are written,
// otherwise the last framed request.
void CDownloadController::Retransmit()
{
    if (IsBlockInFlight(m_run.eStep))
        SendRetryRequest();
    else
        m_serial.ResendLastCommand();
}

// An error reply that ends the run where it stands: nothing more is sent.
void CDownloadController::StallOnError(const char* redText)
{
    StopSupervision();
    m_view.CaptureMouse(false);
    m_view.SetWaitCursor(false);
    if (redText) WriteLogNow(kColourRed, redText);
    m_view.OnRunEnded(RunOutcome::HandsetError);
}

bool CDownloadController::ClassifyReply(uint8_t code, uint8_t p1, uint8_t p2)
{
    const bool blockInFlight = IsBlockInFlight(m_run.eStep);
    switch (code) {
    case ACK:
        if (m_bRetransmitPending) {
            StallOnError("재전송 Cmd를 보내고 0x02 ACK 받음");
            return false;
        }
        if (!blockInFlight || m_run.nBlockIndex == m_run.nTotalBlocks || m_serial.BlockCrcMatches(p1, p2)) return true;
        WriteLogNow(kColourBlue,
                    Format("CRC Calc result Error at 0x%x, (%02x,%02x)",
                           m_run.BlockAddress(m_run.nBlockIndex - 1), p1, p2));
        SendRetryRequest();
        ArmSupervision(kTimerBlock, 3000);
        return false;

    case RETRY_ACK:
        if (m_bRetransmitPending && p1 == 0x03 && p2 == 0x03) {
            WriteLogNow(kColourBlue, "재전송 ACK 받음");
            m_serial.SendTrackedBlock(m_run.lastTrackedBlock);
            m_bRetransmitPending = false;
            ArmSupervision(kTimerBlock, 3000);
        } else if (m_bRetransmitPending) {
            WriteLogNow(kColourRed, Format("Unknown Reason  rspCmd %d, crcMSB %d, crcLSB %d", 3, p1, p2));
            StallOnError("Unknown Error!");
        } else if (p1 == 0x03 && p2 == 0x03) {
            StallOnError("Unknow Error!");
        } else {
            Retransmit();
            ArmSupervision(kTimerBlock, 3000);
            WriteLogNow(kColourBlue, "Retry ACK, but crc error. Retry.");
        }
        return false;

    case NAK_BAD_CRC:
        WriteLogNow(kColourBlue, "NAK_BAD_CRC received!!");
        Retransmit();
        ArmSupervision(kTimerBlock, 3000);
        return false;

    case NAK_MODEL_VERSION: {
        bool yes;
        {
            CModalScope scope(*this);
            yes = m_view.AskYesNo("모델 버전이 틀립니다. 계속 할까요?");
        }
        if (yes) return true;
        StallOnError(nullptr);
        return false;
    }

    case NAK_INVALID_CMD:
        if (p1 == 0x9E && p2 == 0x4C) {
            StallOnError("Invalid command!!");
        } else {
            Retransmit();
            ArmSupervision(kTimerBlock, 3000);
            WriteLogNow(kColourBlue, "NAK_INVALID_CMD, but crc error. Retry");
        }
        return false;

    case NAK_FAILED:
        if (p1 == 0x00 && p2 == 0x00) {
            m_scheduler.KillTimer(kTimerClock);
            StallOnError("Flash error!!");
        } else {
            Retransmit();
            ArmSupervision(kTimerBlock, 3000);
            WriteLogNow(kColourBlue, "NAK_FAILED, but crc error. Retry");
        }
        return false;

    default:
        StallOnError("Unknown error!!");
        return false;
    }
}

}  // namespace kestrel
