// Every reply of the handset: accepted, recovered from, or the end of the run.

#include "protocol/download_controller.h"
#include "protocol/run_limits.h"
#include "protocol/text_format.h"

namespace kestrel {

void CDownloadController::OnReplyReceived(const SRxPacket& packet, uint64_t generation)
{
    // A reply read on an earlier opening of the port (before a speed change, or on a link
    // that has ended) answers nothing sent on this one.
    if (!m_bRunActive || !m_bReceiveRun || !m_serial.IsOpen() || generation != m_serial.Generation()) return;
    if (m_run.bModeSwitch) return;
    if (m_bSettling) {
        // A second answer to the request that went out more than once.
        StartTimer(kTimerSettle, kResendSettleMs);
        return;
    }
    StopSupervision();
    if (!ClassifyReply(packet.bytes[0], packet.bytes[1], packet.bytes[2])) return;
    // The model-version question may have been open meanwhile.
    if (!m_bRunActive) return;
    m_run.byRetryCount = 0;
    m_nRetransmissions = 0;
    const bool resent = m_serial.SentUnits() - m_nSentAtAccept > 1;
    m_nSentAtAccept = m_serial.SentUnits();
    if (resent) {
        m_bSettling = true;
        StartTimer(kTimerSettle, kResendSettleMs);
        return;
    }
    AdvanceRun();
}

void CDownloadController::OnSettled()
{
    m_bSettling = false;
    if (m_bRunActive) AdvanceRun();
}

// One more retransmission of what is in flight; false, and the run has ended, when it has
// already been retransmitted too often.
bool CDownloadController::CountRetransmission()
{
    ++m_stats.nRetransmissions;
    if (++m_nRetransmissions <= kMaxRetransmissions) return true;
    FinishRun(RunOutcome::HandsetError,
              IsBlockInFlight(m_run.eStep)
                  ? Format("The block at 0x%x failed %d retransmissions: download stopped.",
                           m_run.BlockAddress(m_run.nBlockIndex - 1), kMaxRetransmissions)
                  : Format("The request failed %d retransmissions: download stopped.", kMaxRetransmissions));
    return false;
}

// The last thing sent again: the retransmit request block while blocks are written,
// otherwise the last framed request. It is watched as a reply is, except an erase sent again,
// which gets the time of an erase: nothing may follow it while the handset erases.
bool CDownloadController::Retransmit()
{
    if (!CountRetransmission()) return false;
    if (IsBlockInFlight(m_run.eStep)) {
        SendRetryRequest();
        ArmSupervision(kTimerBlock, kReplySupervisionMs);
    } else {
        m_serial.ResendLastCommand();
        if (m_run.eStep == RunStep::WaitEraseBoot || m_run.eStep == RunStep::WaitFlash)
            ArmSupervision(kTimerRequest, kEraseSupervisionMs);
        else
            ArmSupervision(kTimerBlock, kReplySupervisionMs);
    }
    return true;
}

// An error reply that ends the run where it stands: nothing more is sent.
void CDownloadController::StallOnError(const char* redText)
{
    FinishRun(RunOutcome::HandsetError, redText ? redText : "");
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
        // The last block of a range too: a final block damaged on the line is no success.
        if (!blockInFlight) return true;
        if (m_serial.BlockCrcMatches(p1, p2)) {
            m_stats.qwBytesWritten += m_run.BlockBytes(m_run.nBlockIndex - 1);
            return true;
        }
        WriteLogNow(kLogInfo,
                    Format("CRC Calc result Error at 0x%x, (%02x,%02x)",
                           m_run.BlockAddress(m_run.nBlockIndex - 1), p1, p2));
        if (!CountRetransmission()) return false;
        SendRetryRequest();
        ArmSupervision(kTimerBlock, kReplySupervisionMs);
        return false;

    case RETRY_ACK:
        if (m_bRetransmitPending && p1 == 0x03 && p2 == 0x03) {
            WriteLogNow(kLogInfo, "재전송 ACK 받음");
            m_serial.SendTrackedBlock(m_run.lastTrackedBlock);
            ++m_stats.nBlocksSent;
            m_bRetransmitPending = false;
            ArmSupervision(kTimerBlock, kReplySupervisionMs);
        } else if (m_bRetransmitPending) {
            WriteLogNow(kLogError, Format("Unknown Reason  rspCmd %d, crcMSB %d, crcLSB %d", 3, p1, p2));
            StallOnError("Unknown Error!");
        } else if (p1 == 0x03 && p2 == 0x03) {
            StallOnError("Unknow Error!");
        } else if (Retransmit()) {
            WriteLogNow(kLogInfo, "Retry ACK, but crc error. Retry.");
        }
        return false;

    case NAK_BAD_CRC:
        WriteLogNow(kLogInfo, "NAK_BAD_CRC received!!");
        Retransmit();
        return false;

    case NAK_MODEL_VERSION: {
        bool yes;
        {
            CEngineScope scope(*this);
            yes = m_view.AskYesNo(std::string(kModelVersionQuestion));
        }
        // Yes goes on as the ACK the question stood in for: under a retransmit request that is
        // an error stop, and a block's check value must still match.
        if (yes) return ClassifyReply(ACK, p1, p2);
        StallOnError(nullptr);
        return false;
    }

    case NAK_INVALID_CMD:
        if (p1 == 0x9E && p2 == 0x4C) {
            StallOnError("Invalid command!!");
        } else if (Retransmit()) {
            WriteLogNow(kLogInfo, "NAK_INVALID_CMD, but crc error. Retry");
        }
        return false;

    case NAK_FAILED:
        if (p1 == 0x00 && p2 == 0x00) {
            StopTimer(kTimerClock);
            StallOnError("Flash error!!");
        } else if (Retransmit()) {
            WriteLogNow(kLogInfo, "NAK_FAILED, but crc error. Retry");
        }
        return false;

    default:
        StallOnError("Unknown error!!");
        return false;
    }
}

}  // namespace kestrel
