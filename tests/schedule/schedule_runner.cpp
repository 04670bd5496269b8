#include "schedule_runner.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "image/download_type.h"
#include "image/run_table.h"
#include "protocol/download_controller.h"
#include "protocol/run_limits.h"
#include "sim/flash_model.h"
#include "sim/handset.h"
#include "sim/transcript.h"
#include "station/stacked_engine.h"
#include "tests/support/recording_view.h"
#include "tests/support/virtual_scheduler.h"

#include "flash_content.h"
#include "virtual_line.h"

namespace kestrel::test {
namespace {

constexpr const char* kFlashProperty = "1: a run that reports Completed left the handset's flash equal to the image";
constexpr const char* kProtocolProperty = "2: the handset saw no protocol violation by the tool";
constexpr const char* kOutcomeProperty = "3: exactly one outcome per accepted press of Run";
constexpr const char* kRestProperty = "4: nothing armed or running once a run has ended";
constexpr const char* kBoundProperty = "5: every run ends by itself within its bound";
constexpr const char* kHarness = "harness";

constexpr int kOperatorTimer = 990;   // below the ids of engines on stacks of their own
constexpr int64_t kSliceMs = 1000;
constexpr int64_t kTailMs = 5000;      // after the last run: nothing may come back to life
constexpr int kBusyRetryMs = 100;      // the operator tries again when the engine is busy
constexpr int kRunningPollMs = 250;    // and waits for a run to end before Run again
constexpr std::size_t kBlock = 1024;
constexpr std::size_t kLogTail = 30;
constexpr std::size_t kTranscriptTail = 40;

const char* OutcomeName(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Completed: return "Completed";
    case RunOutcome::NothingToDo: return "NothingToDo";
    case RunOutcome::Stopped: return "Stopped";
    case RunOutcome::HandsetError: return "HandsetError";
    case RunOutcome::NoResponse: return "NoResponse";
    case RunOutcome::PortError: return "PortError";
    case RunOutcome::FileError: return "FileError";
    case RunOutcome::Refused: return "Refused";
    }
    return "?";
}

std::string Escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

std::string LastLines(const std::string& text, std::size_t count)
{
    std::size_t at = text.size();
    for (std::size_t n = 0; n <= count && at > 0; ++n) at = text.rfind('\n', at - 1);
    return at == std::string::npos || at == 0 ? text : text.substr(at + 1);
}

bool Differs128K(const Bytes& newImage, const Bytes& oldImage, std::size_t start)
{
    const std::size_t end = std::min(newImage.size(), start + kCompareBlockSize);
    return oldImage.size() < end || !std::equal(newImage.begin() + static_cast<std::ptrdiff_t>(start),
                                                newImage.begin() + static_cast<std::ptrdiff_t>(end),
                                                oldImage.begin() + static_cast<std::ptrdiff_t>(start));
}

class CSchedulePlayer {
public:
    explicit CSchedulePlayer(const Schedule& schedule);
    ~CSchedulePlayer();
    CSchedulePlayer(const CSchedulePlayer&) = delete;
    CSchedulePlayer& operator=(const CSchedulePlayer&) = delete;

    Verdict Play();

private:
    // What a run started from: the flash before it, to know what it must leave.
    struct RunStart {
        Bytes image;
        int nType = 0;
        FlashContent flash;
        int64_t nStartMs = 0;
    };

    bool Prepare();
    // An operator's press, on the engine's own stack when it has one.
    void Press(const std::function<void()>& action);
    int TimerId(int id) const { return m_pStacked ? m_pStacked->Scheduler().SharedTimerId(id) : id; }
    std::string WriteFile(const std::string& name, const Bytes& content) const;
    bool LoadImage(const Bytes& image);
    void PressRun();
    void Abandon();
    bool CanStart() const;
    void ArmOperator(int64_t delayMs);
    void OnOperatorTimer();
    void Probe();
    void CheckOutcomes(bool active);
    void CheckFlash(const RunStart& run);
    void CheckAtRest();
    void Fail(const char* property, const std::string& detail);
    void Trace(const std::string& text);
    int64_t Now() const { return m_scheduler.NowMs(); }
    std::string Report() const;
    std::string EngineLog(std::size_t tail) const;

    const Schedule& m_s;
    const int64_t m_nBoundMs;
    std::filesystem::path m_dir;
    CVirtualScheduler m_scheduler;
    CRecordingView m_view;
    CMapSettings m_settings;
    std::ostringstream m_transcriptText;
    sim::CTranscript m_transcript;
    sim::CFlashModel m_flash;
    sim::CHandset m_handset;
    CVirtualLine* m_pLine = nullptr;
    // The engine works on a stack of its own (as a station's) or on the scheduler's loop (as
    // the window's).
    std::unique_ptr<CStackedEngine> m_pStacked;
    std::unique_ptr<CDownloadController> m_pPlainEngine;
    CDownloadController* m_pEngine = nullptr;

    int m_nType = 0;
    Bytes m_image;
    int m_nFiles = 0;
    std::vector<RunStart> m_runs;
    std::vector<RunRecord> m_records;
    std::size_t m_nStep = 0;
    bool m_bWaitedAfterEnd = false;
    bool m_bClosed = false;
    std::string m_strOperator;  // what the operator did and how each run ended, in virtual time
    std::string m_strFailure;
    Verdict m_verdict;
};

CSchedulePlayer::CSchedulePlayer(const Schedule& schedule)
    : m_s(schedule),
      m_nBoundMs(RunBoundMs(schedule)),
      m_dir(std::filesystem::temp_directory_path() /
            ("kestrel-schedule-" + std::to_string(getpid()) + "-" + Hex64(schedule.nSeed))),
      m_flash(schedule.nFlashSize),
      m_handset(m_flash, m_transcript, schedule.nEraseMs)
{
    m_transcript.Attach(m_transcriptText);
    m_transcript.SetClock([this] { return static_cast<double>(m_scheduler.NowMs()); });
}

CSchedulePlayer::~CSchedulePlayer()
{
    m_scheduler.KillTimer(kOperatorTimer);
    m_pStacked.reset();
    m_pPlainEngine.reset();
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

bool CSchedulePlayer::Prepare()
{
    std::filesystem::create_directories(m_dir);
    LineFaults faults;
    std::string rules;
    std::string echoes;
    for (const FaultRule& f : m_s.vecFaults) {
        for (const std::string& rule : f.vecRules) {
            rules += rule + "\n";
            if (f.bGarbageOwnBurst) faults.ownBurstGarbage.insert(rule);
        }
        if (!f.strEchoTrigger.empty()) echoes += f.strEchoTrigger + " late " + std::to_string(f.nEchoMs) + "\n";
    }
    std::string error;
    auto parsedRules = sim::CScenario::Parse(rules, error);
    auto parsedEchoes = sim::CScenario::Parse(echoes, error);
    if (!parsedRules || !parsedEchoes) {
        Fail(kHarness, "a fault is no scenario rule: " + error);
        return false;
    }
    faults.rules = std::move(*parsedRules);
    faults.echoes = std::move(*parsedEchoes);

    auto line = std::make_unique<CVirtualLine>(m_scheduler, m_handset, m_transcript, std::move(faults),
                                               LineOptions{m_s.bPace, m_s.nSwitchMs, m_s.bSwitchReenumerates});
    m_pLine = line.get();
    m_settings.values["COM1"] = "/dev/kestrel-schedule-handset";
    m_view.clock = [this] { return m_scheduler.NowMs(); };
    m_view.bAnswerYes = m_s.bAnswerYes;
    m_view.bFontOk = m_s.bFontOk;
    if (m_s.bOwnStack) {
        m_pStacked = std::make_unique<CStackedEngine>(m_scheduler, 0, m_view, m_settings, std::move(line), nullptr);
        m_pEngine = &m_pStacked->Engine();
    } else {
        m_pPlainEngine = std::make_unique<CDownloadController>(m_scheduler, m_view, m_settings, std::move(line));
        m_pEngine = m_pPlainEngine.get();
    }
    m_pEngine->SetBurstPause(std::chrono::microseconds(0));
    m_pEngine->SetPort(1);
    m_pEngine->SetBaudIndex(m_s.nBaudIndex);
    m_pLine->SetReaderExpected([this] { return m_pEngine->IsLinkUp(); });

    if (!m_s.oldImage.empty()) {
        m_flash.Write(0, m_s.oldImage);
        int type = DLOAD_COMPARE_EMERGENCY;
        if (!m_pEngine->OldImage().Load(WriteFile("old.bin", m_s.oldImage), type)) {
            Fail(kHarness, "the old image did not load: " + m_pEngine->OldImage().LastError());
            return false;
        }
    }
    // The operator loads the image, then selects the type.
    m_nType = m_s.nType;
    if (!LoadImage(m_s.image)) return false;
    m_nType = m_s.nType;
    m_pEngine->SetDloadType(m_nType);
    m_scheduler.SetSettleHook([this] { Probe(); });
    return true;
}

std::string CSchedulePlayer::WriteFile(const std::string& name, const Bytes& content) const
{
    const auto path = (m_dir / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    return path;
}

bool CSchedulePlayer::LoadImage(const Bytes& image)
{
    int type = m_nType;
    if (!m_pEngine->NewImage().Load(WriteFile("image" + std::to_string(++m_nFiles) + ".bin", image), type)) {
        Fail(kHarness, "the image did not load: " + m_pEngine->NewImage().LastError());
        return false;
    }
    m_nType = type;
    m_pEngine->SetDloadType(type);
    m_image = image;
    // As the window does once an image is loaded.
    m_view.SetButtons(kButtonsIdle);
    return true;
}

Verdict CSchedulePlayer::Play()
{
    if (Prepare()) {
        // The first press may come while the first run is still busy starting.
        if (!m_s.vecSteps.empty()) ArmOperator(m_s.vecSteps[0].nAtMs);
        PressRun();
        while (m_verdict.bPassed && !m_bClosed && (m_nStep < m_s.vecSteps.size() || m_pEngine->IsRunActive()))
            m_scheduler.RunFor(kSliceMs);
        if (m_verdict.bPassed) m_scheduler.RunFor(kTailMs);
        Probe();
    }
    m_verdict.vecRuns = m_records;
    m_verdict.strTrace = "What happened:\n" + m_strOperator + "\nEngine log:\n" + EngineLog(m_view.lines.size()) +
                         "\nHandset transcript:\n" + m_transcriptText.str();
    if (!m_verdict.bPassed) m_verdict.strReport = Report();
    return m_verdict;
}

bool CSchedulePlayer::CanStart() const
{
    const auto& b = m_view.buttons;
    return b.size() == 5 && b[0] && b[1] && !m_pEngine->IsRunActive() && !m_pEngine->IsBusy();
}

// Run (again) replugs the handset: fresh in the mode the type starts from, its flash kept.
void CSchedulePlayer::PressRun()
{
    m_pLine->Replug(!UsesModeSwitch(m_nType));
    m_runs.push_back({m_image, m_nType, CaptureFlash(m_flash), Now()});
    Trace("Run (" + TypeName(m_nType) + ", image of " + std::to_string(m_image.size()) + " bytes)");
    Press([this] { m_pEngine->OnRun(); });
}

void CSchedulePlayer::Press(const std::function<void()>& action)
{
    if (m_pStacked)
        m_pStacked->Run(action);
    else
        action();
}

void CSchedulePlayer::Abandon()
{
    if (m_pStacked)
        m_pStacked->Abandon();
    else
        m_pEngine->OnClose();
}

void CSchedulePlayer::ArmOperator(int64_t delayMs)
{
    m_scheduler.SetTimer(kOperatorTimer, static_cast<int>(std::max<int64_t>(0, delayMs)),
                         [this] { OnOperatorTimer(); });
}

// The operator presses only what the window lets him, and nothing while the engine is busy.
void CSchedulePlayer::OnOperatorTimer()
{
    if (!m_verdict.bPassed || m_bClosed || m_nStep >= m_s.vecSteps.size()) return;
    const OperatorStep& step = m_s.vecSteps[m_nStep];
    // A station's engine takes Stop, Abandon and close in any state, in its waits too; the
    // window holds them back until its engine is out of its handler.
    const bool takenWhileBusy = m_pStacked && (step.eAction == EOperatorAction::Stop ||
                                               step.eAction == EOperatorAction::Abandon ||
                                               step.eAction == EOperatorAction::Close);
    if (m_pEngine->IsBusy() && !takenWhileBusy) {
        ArmOperator(kBusyRetryMs);
        return;
    }
    const char* busy = m_pEngine->IsBusy() ? " while the engine is busy" : "";
    switch (step.eAction) {
    case EOperatorAction::Stop:
        if (m_view.buttons.size() == 5 && m_view.buttons[4]) {
            Trace(std::string("Stop") + busy);
            if (m_pStacked)
                m_pStacked->Stop();
            else
                m_pEngine->OnStop();
        } else {
            Trace("Stop is disabled");
        }
        break;
    case EOperatorAction::Abandon:
        Trace(std::string("abandon the run") + busy);
        Abandon();
        break;
    case EOperatorAction::Compare:
        if (CanStart()) {
            Trace("C");
            Press([this] { m_pEngine->OnCompare(); });
        } else {
            Trace("C cannot be pressed");
        }
        break;
    case EOperatorAction::ChooseImage:
        if (CanStart()) {
            Trace("choose an image of " + std::to_string(step.image.size()) + " bytes");
            if (!LoadImage(step.image)) return;
        } else {
            Trace("Open cannot be pressed");
        }
        break;
    case EOperatorAction::Close:
        Trace(std::string("close the window") + busy);
        Abandon();
        m_bClosed = true;
        return;
    case EOperatorAction::RunAgain:
        if (m_pEngine->IsRunActive()) {
            ArmOperator(kRunningPollMs);
            return;
        }
        if (!m_bWaitedAfterEnd) {
            m_bWaitedAfterEnd = true;
            ArmOperator(step.nAfterEndMs);
            return;
        }
        m_bWaitedAfterEnd = false;
        if (CanStart())
            PressRun();
        else
            Trace("Run cannot be pressed");
        break;
    }
    if (++m_nStep < m_s.vecSteps.size()) ArmOperator(m_s.vecSteps[m_nStep].nAtMs - Now());
}

// Called whenever the scheduler lets the receive thread catch up, so at every point where
// the engine may be looked at.
void CSchedulePlayer::Probe()
{
    m_pLine->Settle();
    if (!m_verdict.bPassed) return;
    if (!m_pLine->StepFault().empty()) return Fail(kHarness, m_pLine->StepFault());
    if (m_handset.Stats().nFaults > 0) {
        const std::string text = m_transcriptText.str();
        const std::size_t at = text.find("\"event\":\"fault\"");
        const std::size_t begin = at == std::string::npos ? 0 : text.rfind('\n', at) + 1;
        return Fail(kProtocolProperty, "the handset noticed: " + text.substr(begin, text.find('\n', begin) - begin));
    }
    const bool active = m_pEngine->IsRunActive();
    if (active && Now() - m_runs.back().nStartMs > m_nBoundMs)
        return Fail(kBoundProperty, "the run started at " + std::to_string(m_runs.back().nStartMs) +
                                        " ms is still going on after its bound of " + std::to_string(m_nBoundMs) +
                                        " ms");
    if (m_pEngine->IsBusy()) return;
    CheckOutcomes(active);
    if (!active && m_verdict.bPassed) CheckAtRest();
}

void CSchedulePlayer::CheckOutcomes(bool active)
{
    const auto& outcomes = m_view.outcomes;
    if (outcomes.size() + (active ? 1 : 0) != m_runs.size()) {
        std::string list;
        for (const RunOutcome o : outcomes) list += std::string(list.empty() ? "" : ", ") + OutcomeName(o);
        return Fail(kOutcomeProperty, std::to_string(m_runs.size()) + " accepted Run presses, a run " +
                                          (active ? "still" : "no longer") + " active, outcomes: " + list);
    }
    while (m_records.size() < outcomes.size()) {
        RunStart& run = m_runs[m_records.size()];
        m_records.push_back({outcomes[m_records.size()], run.nStartMs, Now()});
        Trace(std::string("the run ended: ") + OutcomeName(m_records.back().eOutcome));
        if (m_records.back().eOutcome == RunOutcome::Completed) CheckFlash(run);
        run.flash.clear();
    }
}

// The flash as the run must leave it: as it was, with the image written over the erased
// range (whole blocks, padded with 0xFF); for COMPARE only over the 128 KiB blocks that
// differ from the old image.
void CSchedulePlayer::CheckFlash(const RunStart& run)
{
    FlashContent expected = run.flash;
    auto put = [&](std::size_t at, std::size_t begin, std::size_t end) {
        Bytes blocks(run.image.begin() + static_cast<std::ptrdiff_t>(begin),
                     run.image.begin() + static_cast<std::ptrdiff_t>(end));
        blocks.resize((blocks.size() + kBlock - 1) / kBlock * kBlock, 0xFF);
        Overwrite(expected, static_cast<uint32_t>(at), blocks);
    };
    if (run.nType == DLOAD_COMPARE_EMERGENCY) {
        for (std::size_t start = 0; start < run.image.size(); start += kCompareBlockSize)
            if (Differs128K(run.image, m_s.oldImage, start))
                put(start, start, std::min(run.image.size(), start + kCompareBlockSize));
    } else {
        put(IsFontType(run.nType) ? m_view.dwFontAddress : 0, 0, run.image.size());
    }
    const std::string difference = FirstDifference(CaptureFlash(m_flash), expected);
    if (!difference.empty()) Fail(kFlashProperty, difference);
}

void CSchedulePlayer::CheckAtRest()
{
    std::string what;
    for (const int id : {kTimerRequest, kTimerBlock, kTimerClock, kTimerSettle})
        if (m_scheduler.TimerPending(TimerId(id))) what += "engine timer " + std::to_string(id) + " armed; ";
    if (m_pStacked && m_scheduler.TimerPending(TimerId(CEngineScheduler::kIdsPerEngine)))
        what += "a wait of the engine is armed; ";
    if (m_pEngine->IsLinkUp()) what += "the link is up; ";
    if (m_pLine->IsOpen()) what += "the port is open; ";
    if (m_view.bWaitCursor) what += "the wait cursor is shown; ";
    if (m_view.bMouseCaptured) what += "the mouse is captured; ";
    const auto& b = m_view.buttons;
    if (b.size() != 5 || !b[0] || !b[1] || b[4]) what += "the buttons do not let the operator start again; ";
    if (!what.empty()) Fail(kRestProperty, what);
}

void CSchedulePlayer::Fail(const char* property, const std::string& detail)
{
    if (!m_verdict.bPassed) return;
    m_verdict.bPassed = false;
    m_verdict.strProperty = property;
    m_strFailure = "at " + std::to_string(Now()) + " ms: " + detail;
}

void CSchedulePlayer::Trace(const std::string& text)
{
    m_strOperator += "  [" + std::to_string(Now()) + " ms] " + text + "\n";
}

std::string CSchedulePlayer::EngineLog(std::size_t tail) const
{
    std::string out;
    for (std::size_t i = m_view.lines.size() - std::min(tail, m_view.lines.size()); i < m_view.lines.size(); ++i)
        out += "  [" + std::to_string(m_view.lineTimes[i]) + " ms] " + Escaped(m_view.lines[i].text) + "\n";
    return out;
}

std::string CSchedulePlayer::Report() const
{
    return "Property " + m_verdict.strProperty + " violated " + m_strFailure + "\n\nSchedule: " + m_s.Describe() +
           "\n\nWhat happened:\n" + m_strOperator + "\nEngine log (last lines):\n" + EngineLog(kLogTail) +
           "\nHandset transcript (last lines):\n" + LastLines(m_transcriptText.str(), kTranscriptTail) +
           "\nReplay: kestrel-schedule-soak --replay " + Hex64(m_s.nSeed) + "\n";
}

bool HitsErase(const FaultRule& f)
{
    auto erase = [](const std::string& trigger) { return trigger.rfind("erase", 0) == 0; };
    return erase(f.strEchoTrigger) || std::any_of(f.vecRules.begin(), f.vecRules.end(), erase);
}

}  // namespace

int64_t RunBoundMs(const Schedule& s)
{
    std::size_t bytes = s.image.size();
    for (const OperatorStep& step : s.vecSteps) bytes = std::max(bytes, step.image.size());
    const auto blocks = static_cast<int64_t>((bytes + kBlock - 1) / kBlock);
    // A block and its reply at the slower speed, twice over for a resend.
    const int64_t blockMs = s.bPace ? 2 * int64_t{(kBlock + 16) * 10 * 1000 / 57600 + 1} : 1;
    // The mode switch waits 10.6 s, and each of it and the speed change waits up to
    // kReenumerationWaitMs for the device; the final jump is watched three times 5 s; the
    // end of the link takes a second.
    int64_t bound = 11'000 + 2 * (kReenumerationWaitMs + 1'000) + 15'000 + 2'000 + s.nSwitchMs;
    // A COMPARE run erases up to two ranges.
    bound += 2 * int64_t{s.nEraseMs} + blocks * blockMs;
    // A fault costs the request or block it hits up to three supervision periods (500 s for
    // an erase), a late answer and the quiet interval after a resend.
    for (const FaultRule& f : s.vecFaults)
        bound += HitsErase(f) ? 3 * (500'000 + int64_t{s.nEraseMs}) : 3 * 5'000 + 3'500 + kResendSettleMs + f.nEchoMs;
    return bound;
}

Verdict PlaySchedule(const Schedule& schedule)
{
    return CSchedulePlayer(schedule).Play();
}

}  // namespace kestrel::test
