#pragma once
// Everything a download run shows or asks. The window implements it with widgets, the
// command line on a terminal, the tests with a recorder.

#include <cstdint>
#include <string>
#include <string_view>

#include "serial/log_queue.h"

namespace kestrel {

// What the engine asks when the handset reports another model version.
inline constexpr std::string_view kModelVersionQuestion = "모델 버전이 틀립니다. 계속 할까요?";

// The display texts of the main window, by control id.
enum class DisplayText : int {
    AddrInfo = 1018,   // "BaseAddr=0x%lx: Addr = 0x%lx"
    EraseInfo = 1022,  // "Erase_Len=0x%lx PktCnt=%d TotPkt=%d" (hidden in the window)
    Elapsed = 1029,    // "Elapsed time : %d min %d sec"
    EraseTime = 1037,  // "Erase time : %d min %d sec" (hidden in the window)
};

// How a run came to rest, for front ends that end with it.
enum class RunOutcome {
    Completed,
    NothingToDo,   // the two images of a COMPARE run are the same
    Stopped,
    HandsetError,  // an error reply stalled the run
    NoResponse,    // supervision gave up
    PortError,
    FileError,
    Refused,       // Run was refused before anything was sent
};

// The icon of a message box: the information icon for an image that could not be used,
// none for the other messages.
enum class MessageIcon { None, Information };

// Which of the window's buttons take clicks (Open stands for both Open buttons and C).
struct SButtonState {
    bool bOpen;
    bool bRun;
    bool bToDm;
    bool bInfo;
    bool bStop;
    bool operator==(const SButtonState&) const = default;
};
// Just opened, no image yet: nothing to run.
inline constexpr SButtonState kButtonsAtStart{true, false, true, true, false};
// An image is loaded, or a run has ended: everything but Stop.
inline constexpr SButtonState kButtonsIdle{true, true, true, true, false};
// A run is under way: only Stop.
inline constexpr SButtonState kButtonsRunning{false, false, false, false, true};
// After the mode-switch command: everything, Stop included.
inline constexpr SButtonState kButtonsAfterToDm{true, true, true, true, true};

struct SBlockProgress {
    int nBlock = 0;        // blocks of the current range sent so far
    int nTotal = 0;        // blocks of the current range
    uint32_t dwAddress = 0;  // file offset of the next block
};

class IDownloadView {
public:
    virtual ~IDownloadView() = default;

    // Appends the text and a line break; kind is a LogKind (information, progress, error,
    // status), which the front end shows in its own way.
    virtual void WriteLog(int kind, const std::string& text) = 0;
    // Appends "  √" in the check-mark colour, without a line break.
    virtual void MarkStepDone() = 0;
    virtual void ClearLog() = 0;

    virtual void SetButtons(const SButtonState& state) = 0;
    virtual void SetDisplayText(DisplayText which, const std::string& text) = 0;
    virtual void SetTitle(const std::string& text) = 0;
    // The percentage bar replaces the idle bar, at 0 %.
    virtual void ShowPercentBar() = 0;
    // The idle bar replaces the percentage bar.
    virtual void ShowIdleBar() = 0;
    virtual void SetPercent(int percent) = 0;
    virtual void EnableTypeSelector(bool enable) = 0;
    virtual void SetWaitCursor(bool on) = 0;
    virtual void CaptureMouse(bool on) = 0;
    virtual void PlaySound(const std::string& resourceName) = 0;

    // Modal: they return when the operator has answered.
    virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
    virtual bool AskYesNo(const std::string& text) = 0;
    // Preset with the address to show; false when cancelled.
    virtual bool AskFontAddress(uint32_t& address) = 0;

    // Each block that went out; front ends without a percentage bar show their own progress.
    virtual void OnBlockSent(const SBlockProgress&) {}
    // Run was pressed and accepted; OnRunEnded follows exactly once.
    virtual void OnRunStarted() {}
    virtual void OnRunEnded(RunOutcome) {}
};

}  // namespace kestrel
