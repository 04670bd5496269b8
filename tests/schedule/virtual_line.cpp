#include "virtual_line.h"

#include <algorithm>
#include <chrono>

#include "sim/reply_builder.h"

namespace kestrel::test {
namespace {

// A reader that has not come within this real time never will: the harness lost step.
constexpr auto kRealTimeLimit = std::chrono::seconds(5);
constexpr int64_t kQuietUs = 50'000;            // as the simulator's quiet interval
constexpr int64_t kReenumerateGapUs = 20'000;   // as the simulator's gap before a re-enumeration

int64_t Ms(unsigned ms) { return int64_t{ms} * 1000; }

}  // namespace

CVirtualLine::CVirtualLine(IScheduler& scheduler, sim::CHandset& handset, sim::CTranscript& transcript,
                           LineFaults faults, const LineOptions& options)
    : m_scheduler(scheduler),
      m_handset(handset),
      m_transcript(transcript),
      m_faults(std::move(faults)),
      m_options(options)
{
}

CVirtualLine::~CVirtualLine()
{
    m_scheduler.KillTimer(kDeliveryTimer);
    m_scheduler.KillTimer(kQuietTimer);
}

int64_t CVirtualLine::LineTimeUs(std::size_t bytes, uint32_t baud) const
{
    if (!m_options.bPace || baud == 0) return 0;
    return static_cast<int64_t>(bytes * 10 * 1'000'000 / baud);
}

void CVirtualLine::Replug(bool downloadMode)
{
    m_queue.clear();
    m_scheduler.KillTimer(kDeliveryTimer);
    m_scheduler.KillTimer(kQuietTimer);
    m_bLeaving = false;
    m_nBusyUntilUs = m_nInFreeUs = 0;
    {
        std::lock_guard g(m_lock);
        m_bPresent = true;
    }
    m_transcript.Write(sim::CJsonLine("replug").Text("mode", downloadMode ? "download" : "normal"));
    if (downloadMode)
        m_handset.EnterDownloadMode();
    else
        m_handset.EnterNormalMode();
}

void CVirtualLine::Settle()
{
    // Once out of step the play is over; waiting again would only hold up its end.
    if (!m_strStepFault.empty()) return;
    std::unique_lock g(m_lock);
    const bool settled = m_changed.wait_for(g, kRealTimeLimit, [this] {
        return !m_bOpen || !m_bAttending || (m_input.empty() && m_bWaiting && m_nSeen == m_nEvents);
    });
    if (!settled) m_strStepFault = "the receive thread did not take its input";
}

void CVirtualLine::AwaitReader()
{
    if (!m_strStepFault.empty() || !m_readerExpected || !m_readerExpected()) return;
    std::unique_lock g(m_lock);
    if (!m_changed.wait_for(g, kRealTimeLimit, [this] { return m_bAttending || !m_bOpen; }))
        m_strStepFault = "the receive thread did not come back to the port";
}

bool CVirtualLine::IsOpen()
{
    std::lock_guard g(m_lock);
    return m_bOpen;
}

PortOpenError CVirtualLine::Open(const std::string&, const SLineSettings& settings)
{
    bool opened = false;
    {
        std::lock_guard g(m_lock);
        if (m_bPresent) {
            opened = m_bOpen = true;
            m_bDead = false;
            m_bHangUpReported = false;
            m_bInterrupt = false;
            m_bAttending = false;
            m_bWaiting = false;
            m_dwBaud = settings.dwBaudRate;
            m_input.clear();
            m_nSeen = m_nEvents;
        }
    }
    if (!opened) {
        m_transcript.Write(sim::CJsonLine("open").Flag("failed", true));
        return PortOpenError::NotFound;
    }
    m_transcript.Write(sim::CJsonLine("open").Number("baud", settings.dwBaudRate));
    return PortOpenError::None;
}

void CVirtualLine::Close()
{
    {
        std::lock_guard g(m_lock);
        m_bOpen = false;
        m_input.clear();
    }
    m_changed.notify_all();
    m_transcript.Write(sim::CJsonLine("close"));
}

bool CVirtualLine::Write(const uint8_t* data, std::size_t length, int)
{
    uint32_t baud = 0;
    {
        std::lock_guard g(m_lock);
        if (!m_bOpen || m_bDead) return false;
        baud = m_dwBaud;
    }
    AwaitReader();
    // The line took the bytes; a handset on its way off the bus never reads them.
    if (m_bLeaving) return true;
    const int64_t now = NowUs();
    m_nLastRxUs = now;
    m_dwLastBaud = baud;
    if (m_options.bPace) m_nInFreeUs = std::max(now, m_nInFreeUs) + LineTimeUs(length, baud);
    QueueAnswers(m_handset.OnBytes({data, length}, baud));
    ArmDelivery();
    if (m_handset.HasPendingInput()) ArmQuiet();
    return true;
}

std::size_t CVirtualLine::Read(uint8_t* buffer, std::size_t length)
{
    std::lock_guard g(m_lock);
    std::size_t n = 0;
    for (; n < length && !m_input.empty(); ++n) {
        buffer[n] = m_input.front();
        m_input.pop_front();
    }
    return n;
}

PortWait CVirtualLine::WaitForInput()
{
    std::unique_lock g(m_lock);
    m_bAttending = true;
    for (;;) {
        if (m_bInterrupt) {
            // Sent away: the thread parks for a speed change until the engine lets it go on.
            m_bInterrupt = false;
            m_bAttending = m_bWaiting = false;
            m_changed.notify_all();
            return PortWait::Interrupted;
        }
        m_bWaiting = false;
        if (!m_bOpen) return PortWait::Interrupted;
        if (!m_input.empty()) return PortWait::Input;
        if (m_bDead && !m_bHangUpReported) {
            m_bHangUpReported = true;
            return PortWait::HangUp;
        }
        m_bWaiting = true;
        m_nSeen = m_nEvents;
        m_changed.notify_all();
        m_changed.wait(g);
    }
}

void CVirtualLine::Interrupt()
{
    {
        std::lock_guard g(m_lock);
        m_bInterrupt = true;
        if (m_bOpen) m_bAttending = false;
    }
    m_changed.notify_all();
}

bool CVirtualLine::Deliver(const std::vector<uint8_t>& bytes)
{
    {
        std::lock_guard g(m_lock);
        if (!m_bOpen || m_bDead) return false;
        m_input.insert(m_input.end(), bytes.begin(), bytes.end());
        ++m_nEvents;
    }
    m_changed.notify_all();
    return true;
}

void CVirtualLine::Vanish()
{
    {
        std::lock_guard g(m_lock);
        m_bPresent = false;
        if (m_bOpen && !m_bDead) {
            m_bDead = true;
            ++m_nEvents;
        }
    }
    m_changed.notify_all();
}

// As the simulator schedules answers: in order, each after the one before it, after the
// work (erasing) and the delays of the rules that fired.
void CVirtualLine::QueueAnswers(const std::vector<sim::SAnswer>& answers)
{
    int64_t t = std::max({NowUs(), m_nBusyUntilUs, m_nInFreeUs});
    if (!m_queue.empty()) t = std::max(t, m_queue.back().nDueUs);
    for (const sim::SAnswer& answer : answers) {
        sim::SReplyPlan plan;
        sim::SReplyPlan echo;
        if (answer.optTrigger) {
            plan = m_faults.rules.Apply(*answer.optTrigger, answer.optBlockIndex);
            echo = m_faults.echoes.Apply(*answer.optTrigger, answer.optBlockIndex);
        }
        bool ownBurst = false;
        for (const std::string& rule : plan.vecFired) {
            ownBurst = ownBurst || m_faults.ownBurstGarbage.count(rule) != 0;
            sim::CJsonLine line("inject");
            line.Text("rule", rule);
            if (answer.optBlockIndex) line.Number("index", *answer.optBlockIndex);
            m_transcript.Write(line);
        }
        for (const std::string& rule : echo.vecFired) m_transcript.Write(sim::CJsonLine("inject").Text("twice", rule));

        const bool replies = answer.optReply && !plan.bDrop && !plan.bUnplug;
        std::vector<uint8_t> garbage = plan.vecGarbage;
        if (!garbage.empty() && (ownBurst || !replies)) {
            t = Enqueue({Pending::EKind::Write, t + LineTimeUs(garbage.size(), m_dwLastBaud), garbage,
                         sim::CJsonLine("tx").Text("what", "garbage"), std::nullopt});
            garbage.clear();
        }
        t += Ms(answer.nBusyMs + plan.nLateMs);
        m_nBusyUntilUs = std::max(m_nBusyUntilUs, t);
        if (plan.bUnplug) {
            Enqueue({Pending::EKind::Unplug, t, {}, std::nullopt, plan.optReappearMs});
            m_bLeaving = true;
            return;
        }
        if (answer.bModeSwitch) {
            if (plan.bDrop) continue;
            if (m_options.bSwitchReenumerates) {
                t = Enqueue({Pending::EKind::Unplug, t, {}, std::nullopt, m_options.nSwitchMs,
                             Pending::EBack::DownloadMode});
                m_bLeaving = true;
            } else {
                t = Enqueue({Pending::EKind::SwitchMode, t + Ms(m_options.nSwitchMs), {}, std::nullopt, std::nullopt});
            }
            continue;
        }
        if (replies) t = EnqueueReply(*answer.optReply, plan, std::move(garbage), echo, t);
        if (plan.optReenumerateMs) {
            Enqueue({Pending::EKind::Unplug, t + kReenumerateGapUs, {}, std::nullopt, plan.optReenumerateMs,
                     Pending::EBack::SameStage});
            m_bLeaving = true;
            return;
        }
    }
}

int64_t CVirtualLine::EnqueueReply(const std::array<uint8_t, 3>& reply, const sim::SReplyPlan& plan,
                                   std::vector<uint8_t> garbage, const sim::SReplyPlan& echo, int64_t t)
{
    const auto& [code, p1, p2] = reply;
    sim::ReplyContent content = sim::MakeReplyContent(code, p1, p2);
    if (plan.optCode || plan.optParams) {
        const uint8_t c = plan.optCode.value_or(code);
        const auto p = plan.optParams.value_or(std::array<uint8_t, 2>{p1, p2});
        content = plan.bOwnCheck ? sim::MakeReplyContent(c, p[0], p[1]) : sim::DamageReply(content, c, p[0], p[1]);
    }
    const std::vector<uint8_t> frame = sim::FrameReply(content);
    sim::CJsonLine tx("tx");
    tx.Text("what", "reply").Number("code", content[0]).Text("name", sim::ReplyName(content[0]))
        .Number("p1", content[1]).Number("p2", content[2]);
    if (!garbage.empty()) tx.Number("garbage", static_cast<int64_t>(garbage.size()));
    const auto cut = static_cast<std::ptrdiff_t>(plan.optSplitMs ? frame.size() / 2 : frame.size());
    std::vector<uint8_t> first = std::move(garbage);
    first.insert(first.end(), frame.begin(), frame.begin() + cut);
    t = Enqueue({Pending::EKind::Write, t + LineTimeUs(first.size(), m_dwLastBaud), std::move(first),
                 plan.optSplitMs ? sim::CJsonLine(tx).Number("part", 1) : tx, std::nullopt});
    if (plan.optSplitMs) {
        std::vector<uint8_t> second(frame.begin() + cut, frame.end());
        t = Enqueue({Pending::EKind::Write, t + Ms(*plan.optSplitMs) + LineTimeUs(second.size(), m_dwLastBaud),
                     std::move(second), sim::CJsonLine(tx).Number("part", 2), std::nullopt});
    }
    if (!echo.vecFired.empty())
        t = Enqueue({Pending::EKind::Write, t + Ms(echo.nLateMs) + LineTimeUs(frame.size(), m_dwLastBaud), frame,
                     sim::CJsonLine(tx).Number("copy", 2), std::nullopt});
    return t;
}

int64_t CVirtualLine::Enqueue(Pending pending)
{
    const int64_t due = pending.nDueUs;
    m_queue.push_back(std::move(pending));
    return due;
}

void CVirtualLine::ArmDelivery()
{
    if (m_queue.empty()) return;
    const int64_t waitUs = std::max<int64_t>(0, m_queue.front().nDueUs - NowUs());
    m_scheduler.SetTimer(kDeliveryTimer, static_cast<int>((waitUs + 999) / 1000), [this] { OnDeliveryTimer(); });
}

// One pending step a time: each write is a burst of its own, which the receive thread has
// taken before the scheduler runs the next timer.
void CVirtualLine::OnDeliveryTimer()
{
    if (m_queue.empty()) return;
    Pending pending = std::move(m_queue.front());
    m_queue.pop_front();
    Execute(pending);
    ArmDelivery();
}

void CVirtualLine::Execute(Pending& pending)
{
    switch (pending.eKind) {
    case Pending::EKind::Write: {
        sim::CJsonLine& line = *pending.optTx;
        line.Hex("bytes", pending.vecBytes);
        if (!Deliver(pending.vecBytes)) line.Flag("failed", true);
        m_transcript.Write(line);
        break;
    }
    case Pending::EKind::SwitchMode:
        m_handset.EnterDownloadMode();
        break;
    case Pending::EKind::Unplug:
        m_transcript.Write(sim::CJsonLine("unplug"));
        Vanish();
        m_queue.clear();
        m_bLeaving = false;
        if (pending.optReappearMs)
            Enqueue({Pending::EKind::Reappear, NowUs() + Ms(*pending.optReappearMs), {}, std::nullopt, std::nullopt,
                     pending.eBack});
        break;
    case Pending::EKind::Reappear: {
        {
            std::lock_guard g(m_lock);
            m_bPresent = true;
        }
        m_transcript.Write(sim::CJsonLine("reappear"));
        switch (pending.eBack) {
        case Pending::EBack::PoweredUp: m_handset.EnterNormalMode(); break;
        case Pending::EBack::DownloadMode: m_handset.EnterDownloadMode(); break;
        case Pending::EBack::SameStage: break;  // a loader that re-enumerates is still the loader
        }
        break;
    }
    }
}

// The simulator judges held bytes once the line has been quiet for a while, counted from when
// the handset is free to read them.
int64_t CVirtualLine::FreeAtUs() const
{
    int64_t free = std::max(m_nLastRxUs, m_nBusyUntilUs);
    if (!m_queue.empty()) free = std::max(free, m_queue.back().nDueUs);
    return free + kQuietUs;
}

void CVirtualLine::ArmQuiet()
{
    const int64_t waitUs = std::max<int64_t>(0, FreeAtUs() - NowUs());
    m_scheduler.SetTimer(kQuietTimer, static_cast<int>((waitUs + 999) / 1000), [this] { OnQuietTimer(); });
}

void CVirtualLine::OnQuietTimer()
{
    if (m_bLeaving || !m_handset.HasPendingInput()) return;
    {
        std::lock_guard g(m_lock);
        if (!m_bPresent) return;
    }
    if (NowUs() < FreeAtUs()) {
        ArmQuiet();
        return;
    }
    QueueAnswers(m_handset.OnQuiet());
    ArmDelivery();
}

}  // namespace kestrel::test
