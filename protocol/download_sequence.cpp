// The steps of a download run, advanced by every accepted reply.

#include <cstdio>

#include "image/download_type.h"
#include "image/image_backup.h"
#include "protocol/download_controller.h"
#include "protocol/run_limits.h"
#include "protocol/text_format.h"

namespace kestrel {

void CDownloadController::AdvanceRun()
{
    switch (m_run.eStep) {
    case RunStep::Idle:
    case RunStep::WaitStart: BeginJump(); break;
    case RunStep::WaitJump: BeginLoaderStart(); break;
    case RunStep::WaitRestart: BeginErase(); break;
    case RunStep::WaitEraseBoot: BeginBootWrite(); break;
    case RunStep::BootWrite: ContinueBootWrite(); break;
    case RunStep::WaitFlash: BeginFlashWrite(); break;
    case RunStep::FlashWrite: ContinueFlashWrite(); break;
    case RunStep::WaitReset: CompleteRun(); break;
    case RunStep::RangeEnd: EndRange(); break;
    }
}

void CDownloadController::BeginJump()
{
    MarkStepDone();
    m_run.eStep = RunStep::WaitJump;
    m_serial.RequestJump();
    ArmSupervision(kTimerRequest, kReplySupervisionMs);
}

// After the jump the handset comes back in its loader, at the speed the operator chose.
void CDownloadController::BeginLoaderStart()
{
    MarkStepDone();
    m_run.eStep = RunStep::WaitRestart;
    m_bAwaitingLoader = true;
    if (m_nBaud == 0 && !ChangeLineSpeed(57600)) return;
    if (m_nBaud == 1 && !ChangeLineSpeed(115200)) return;
    m_serial.RequestDownloadStart();
    ArmSupervision(kTimerRequest, kReplySupervisionMs);
}

// The erase covers the range in whole blocks.
void CDownloadController::BeginErase()
{
    m_bAwaitingLoader = false;
    MarkStepDone();
    UpdateElapsedTime();
    m_run.eStep = IsChangeType(m_nDloadType) ? RunStep::WaitEraseBoot : RunStep::WaitFlash;
    m_run.nTotalBlocks = static_cast<int32_t>(m_run.dwLength / 1024u + (m_run.dwLength % 1024u ? 1 : 0));
    m_run.nLastBlockIndex = m_run.nTotalBlocks - 1;
    m_serial.RequestErase(m_run.dwEraseStart, static_cast<uint32_t>(m_run.nTotalBlocks) * 1024u);
    m_view.SetWaitCursor(true);
    m_view.CaptureMouse(true);
    StartTimer(kTimerClock, kClockTickMs);
    ArmSupervision(kTimerRequest, kEraseSupervisionMs);
}

void CDownloadController::BeginBootWrite()
{
    MarkStepDone();
    StopTimer(kTimerClock);
    m_view.CaptureMouse(false);
    m_view.SetWaitCursor(false);
    m_run.eStep = RunStep::BootWrite;
    ShowPercentBar();
    QueueLog(kLogStatus, "Boot Programming 중");
    SendNextBlock();
}

void CDownloadController::ContinueBootWrite()
{
    UpdateElapsedTime();
    UpdateEraseTime();
    UpdateAddressProgress();
    UpdateEraseProgress();
    if (m_run.nBlockIndex < m_run.nTotalBlocks) {
        SendNextBlock();
    } else {
        MarkStepDone();
        RequestFinalJump(kTimerRequest, kFinalJumpSupervisionMs);
    }
}

// A COMPARE range of one block is over with its first block.
void CDownloadController::BeginFlashWrite()
{
    MarkStepDone();
    StopTimer(kTimerClock);
    ShowPercentBar();
    UpdateElapsedTime();
    UpdateEraseTime();
    UpdateAddressProgress();
    UpdateEraseProgress();
    m_view.CaptureMouse(false);
    m_view.SetWaitCursor(false);
    m_run.eStep = (m_nDloadType == DLOAD_COMPARE_EMERGENCY && m_run.nTotalBlocks == 1) ? RunStep::RangeEnd
                                                                                        : RunStep::FlashWrite;
    QueueLog(kLogStatus, "Flash Programming 중");
    SendNextBlock();
}

// A COMPARE range ends with the reply to its last block; a whole image with the final jump.
void CDownloadController::ContinueFlashWrite()
{
    UpdateElapsedTime();
    // The bar, the title and the address move with every block, as in the boot write.
    UpdateAddressProgress();
    if (m_nDloadType == DLOAD_COMPARE_EMERGENCY) {
        if (m_run.nBlockIndex == m_run.nLastBlockIndex) m_run.eStep = RunStep::RangeEnd;
        SendNextBlock();
    } else if (m_run.nBlockIndex < m_run.nTotalBlocks) {
        SendNextBlock();
    } else {
        MarkStepDone();
        RequestFinalJump(kTimerRequest, kFinalJumpSupervisionMs);
        m_run.nBlockIndex = 0;
    }
}

// After a COMPARE range the next one begins with a start request of its own; after the last,
// the final jump ends the run.
void CDownloadController::EndRange()
{
    UpdateAddressProgress();
    const int32_t run = m_runTable.CurrentRun() + 1;
    m_runTable.SetCurrentRun(run);
    QueueLog(kLogProgress, Format("Complete Dload Block %d\n", run));
    if (run < m_runTable.RunCount()) {
        m_run.eStep = RunStep::WaitRestart;
        m_serial.RequestDownloadStart();
        ArmSupervision(kTimerRequest, kReplySupervisionMs);
        SetRange(static_cast<uint32_t>(m_runTable.Run(run).nStartBlock) * kCompareBlockSize,
                 static_cast<uint32_t>(m_runTable.Run(run).nBlockCount) * kCompareBlockSize);
        m_run.nBlockIndex = 0;
    } else {
        RequestFinalJump(kTimerBlock, kReplySupervisionMs);
        if (m_settings.ReadNumber("BACKUP_OLD_FILE", 1) != 0) BackupImage();
    }
}

// The jump after the last block makes the handset leave download mode.
void CDownloadController::RequestFinalJump(int timerId, int periodMs)
{
    ShowTransferEnd();
    m_run.eStep = RunStep::WaitReset;
    m_serial.RequestJump();
    ArmSupervision(timerId, periodMs);
}

void CDownloadController::SendNextBlock()
{
    if (SendBlock()) ArmSupervision(kTimerBlock, kReplySupervisionMs);
}

// One range of a COMPARE run: its start, and its length cut at the end of the new image.
void CDownloadController::SetRange(uint32_t baseOffset, uint32_t length)
{
    const auto size = static_cast<uint32_t>(m_newImage.Size());
    m_run.dwBaseOffset = m_run.dwEraseStart = baseOffset;
    m_run.dwLength = (baseOffset + length > size) ? size - baseOffset : length;
}

// Reads the next block and sends it; a block that cannot be read ends the run, since
// sending on would leave a hole in the handset's flash.
bool CDownloadController::SendBlock()
{
    BlockPacket& block = m_run.currentBlock;
    const bool read = IsFontType(m_nDloadType)
                          ? m_newImage.ReadBlockUnbounded(m_run.dwBaseOffset, static_cast<uint32_t>(m_run.nBlockIndex),
                                                          block, m_bRetransmitPending)
                          : m_newImage.ReadBlock(m_run.dwBaseOffset, static_cast<uint32_t>(m_run.nBlockIndex), block,
                                                 m_bRetransmitPending);
    if (!read) {
        FinishRun(RunOutcome::FileError,
                  m_newImage.LastError().empty() ? m_newImage.ReadFailureMessage() : m_newImage.LastError());
        return false;
    }
    if (m_bRetransmitPending) {
        m_serial.SendUntrackedBlock(block);
    } else {
        m_serial.SendTrackedBlock(block);
        m_run.lastTrackedBlock = block;
    }
    ++m_run.nBlockIndex;
    ++m_stats.nBlocksSent;
    m_view.OnBlockSent({m_run.nBlockIndex, m_run.nTotalBlocks,
                        m_run.BlockAddress(m_run.nBlockIndex)});
    return true;
}

void CDownloadController::SendRetryRequest()
{
    FillRetryRequest(m_run.currentBlock);
    m_serial.SendUntrackedBlock(m_run.currentBlock);
    m_bRetransmitPending = true;
}

void CDownloadController::BackupImage()
{
    m_strBackupName = BackupFileName(m_newImage.Path(), m_newImage.BuildDateCode());
    WriteLogNow(kLogInfo, "- Wait for creating Backup File");
    m_logQueue.Clear();
    m_view.ClearLog();
    // The copy replaces an earlier backup only once it is complete.
    std::string strReason;
    if (CopyImageFile(m_newImage.Path(), m_strBackupName, &strReason)) {
        MarkStepDone();
        return;
    }
    m_stats.strBackupFailure = "The backup " + m_strBackupName + " was not made: " + strReason + ".";
    ShowMessage(std::string(kBackupFailMessage) + "\n" + m_stats.strBackupFailure);
}

void CDownloadController::CompleteRun()
{
    UpdateAddressProgress();
    MarkStepDone();
    const std::string text = "Downloading completed\n" + m_strElapsed;
    if (m_settings.ReadNumber("KESTREL_SND_SUCCESS", 0) != 0) m_view.PlaySound("SND_SUCCESS");
    m_serial.ClosePort();
    m_newImage.Close();
    // The operator's time to read the message is not the run's.
    MarkWorkEnded();
    ShowMessage(text);
    FinishRun(RunOutcome::Completed);
}

}  // namespace kestrel
