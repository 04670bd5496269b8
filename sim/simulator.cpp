#include "simulator.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <csignal>
#include <cstring>

#include "reply_builder.h"

namespace kestrel::sim {
namespace {

std::string Hex(uint64_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%" PRIx64, v);
    return buf;
}

}  // namespace

CSimulator::CSimulator(const SSimOptions& options, CScenario scenario, CTranscript& transcript, int signalFd, std::FILE* out)
    : m_opts(options),
      m_scenario(std::move(scenario)),
      m_transcript(transcript),
      m_nSignalFd(signalFd),
      m_pOut(out),
      m_flash(options.nFlashSize),
      m_handset(m_flash, transcript, options.nEraseMs)
{
    if (!options.strLink.empty()) m_optLink.emplace(options.strLink);
    if (!options.strSlotLink.empty()) m_optSlotLink.emplace(options.strSlotLink);
}

int CSimulator::Run()
{
    m_transcript.Write(CJsonLine("start")
                           .Text("mode", m_opts.bDownloadMode ? "download" : "normal")
                           .Number("flash_size", static_cast<int64_t>(m_flash.Size()))
                           .Flag("pace", m_opts.bPace)
                           .Number("erase_ms", m_opts.nEraseMs));
    if (!CreateLine()) {
        // Nothing ran: no dump, and no summary line that a script could take for the slave path.
        m_transcript.Write(CJsonLine("end").Text("reason", m_optStop.value_or("?")));
        return 1;
    }
    if (m_opts.bDownloadMode)
        m_handset.EnterDownloadMode();
    else
        m_handset.EnterNormalMode();
    m_tLastTraffic = Clock::now();

    // Without --idle-exit the limit is never reached.
    const bool idleExit = m_opts.optIdleExitS.has_value();
    const Clock::duration idleLimit =
        idleExit ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(*m_opts.optIdleExitS))
                 : Clock::duration::max();
    while (!m_optStop) {
        auto now = Clock::now();
        while (!m_queue.empty() && m_queue.front().tDue <= now && !m_optStop) {
            SPending pending = std::move(m_queue.front());
            m_queue.pop_front();
            Execute(pending);
            now = Clock::now();
        }
        if (m_optStop) break;

        // The handset reads nothing while it is still answering: bytes wait in the line.
        const bool listening = m_line.IsOpen() && m_queue.empty() && now >= m_tBusyUntil;
        if (listening && m_handset.HasPendingInput() && now - m_tLastRx >= kQuiet) {
            Schedule(m_handset.OnQuiet(), now);
            continue;
        }
        const bool idleNow = m_queue.empty() && now >= m_tBusyUntil;
        if (idleExit && idleNow && now - m_tLastTraffic >= idleLimit) {
            m_optStop = "idle";
            break;
        }

        std::optional<Clock::time_point> wake;
        if (!m_queue.empty()) {
            wake = m_queue.front().tDue;
        } else if (!idleNow) {
            wake = m_tBusyUntil;
        } else {
            if (listening && m_handset.HasPendingInput()) wake = m_tLastRx + kQuiet;
            if (idleExit) wake = std::min(wake.value_or(Clock::time_point::max()), m_tLastTraffic + idleLimit);
        }
        // Paced replies are due to the microsecond: a millisecond timeout would add up to a
        // millisecond to every one of them.
        timespec timeout{};
        if (wake) {
            const auto left = std::clamp<int64_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(*wake - now).count(), 0, 60'000'000'000LL);
            timeout.tv_sec = static_cast<time_t>(left / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(left % 1'000'000'000);
        }
        pollfd fds[3] = {
            {m_nSignalFd, POLLIN, 0},
            {listening ? m_line.MasterFd() : -1, POLLIN, 0},
            {m_line.IsOpen() ? m_line.WatchFd() : -1, POLLIN, 0},
        };
        if (::ppoll(fds, 3, wake ? &timeout : nullptr, nullptr) < 0) {
            if (errno == EINTR) continue;
            m_optStop = std::string("poll: ") + std::strerror(errno);
            m_bFailed = true;
            break;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            const ssize_t n = ::read(m_nSignalFd, &info, sizeof info);
            m_optStop = std::string("signal ") + (n == sizeof info ? sigabbrev_np(static_cast<int>(info.ssi_signo)) : "?");
            break;
        }
        if (fds[2].revents & POLLIN) m_line.OnSlaveEvents();
        if (fds[1].revents & POLLIN) {
            ReadLine();
        } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // Cannot happen while the slave is held open; stop rather than spin on it.
            m_optStop = "line failed";
            m_bFailed = true;
        }
    }
    return Finish();
}

bool CSimulator::CreateLine()
{
    std::string error;
    if (!m_line.Open(error) || (m_optLink && !m_optLink->Place(m_line.SlavePath(), error)) ||
        (m_optSlotLink && !m_optSlotLink->Place(m_line.SlavePath(), error))) {
        std::fprintf(stderr, "kestrel-handset-sim: %s\n", error.c_str());
        m_optStop = error;
        m_bFailed = true;
        return false;
    }
    std::fprintf(m_pOut, "%s\n", m_line.SlavePath().c_str());
    std::fflush(m_pOut);
    CJsonLine line("pty");
    line.Text("slave", m_line.SlavePath());
    if (!m_opts.strLink.empty()) line.Text("link", m_opts.strLink);
    if (!m_opts.strSlotLink.empty()) line.Text("slot_link", m_opts.strSlotLink);
    m_transcript.Write(line);
    return true;
}

void CSimulator::ReadLine()
{
    uint8_t buf[4096];
    const long n = m_line.Read(buf, sizeof buf);
    if (n < 0) {
        m_optStop = "line failed";
        m_bFailed = true;
        return;
    }
    if (n == 0) return;
    const auto now = Clock::now();
    const uint32_t baud = m_line.Baud();
    m_tLastRx = m_tLastTraffic = now;
    m_dwLastBaud = baud;
    if (m_opts.bPace) m_tInFree = std::max(now, m_tInFree) + LineTime(static_cast<std::size_t>(n), baud);
    Schedule(m_handset.OnBytes({buf, static_cast<std::size_t>(n)}, baud), now);
}

CSimulator::Clock::duration CSimulator::LineTime(std::size_t bytes, uint32_t baud) const
{
    if (!m_opts.bPace || baud == 0) return {};
    // Ten bits a byte: start bit, eight data bits, stop bit.
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(bytes * 10 * 1000000000ull / baud));
}

CSimulator::Clock::time_point CSimulator::Enqueue(SPending pending)
{
    const auto due = pending.tDue;
    m_queue.push_back(std::move(pending));
    return due;
}

void CSimulator::Schedule(const std::vector<SAnswer>& answers, Clock::time_point now)
{
    Clock::time_point t = std::max({now, m_tBusyUntil, m_tInFree});
    if (!m_queue.empty()) t = std::max(t, m_queue.back().tDue);
    for (const SAnswer& answer : answers) {
        const SReplyPlan plan = answer.optTrigger ? m_scenario.Apply(*answer.optTrigger, answer.optBlockIndex) : SReplyPlan{};
        for (const std::string& rule : plan.vecFired) {
            ++m_nInjected;
            CJsonLine line("inject");
            line.Text("rule", rule);
            if (answer.optBlockIndex) line.Number("index", *answer.optBlockIndex);
            m_transcript.Write(line);
        }
        if (!plan.vecGarbage.empty()) {
            SPending garbage{SPending::EKind::Write, t + LineTime(plan.vecGarbage.size(), m_dwLastBaud), plan.vecGarbage,
                            CJsonLine("tx").Text("what", "garbage"), std::nullopt};
            t = Enqueue(std::move(garbage));
        }
        t += std::chrono::milliseconds(answer.nBusyMs + plan.nLateMs);
        m_tBusyUntil = std::max(m_tBusyUntil, t);
        if (plan.bUnplug) {
            // The handset is gone: nothing after this is answered.
            Enqueue({SPending::EKind::Unplug, t, {}, std::nullopt, plan.optReappearMs});
            return;
        }
        if (answer.bModeSwitch) {
            if (plan.bDrop) continue;
            if (m_opts.bReenumerate)
                t = Enqueue({SPending::EKind::Unplug, t, {}, std::nullopt, m_opts.nSwitchMs, SPending::EBack::DownloadMode});
            else
                t = Enqueue({SPending::EKind::SwitchMode, t + std::chrono::milliseconds(m_opts.nSwitchMs), {}, std::nullopt, std::nullopt});
            continue;
        }
        if (answer.optReply && !plan.bDrop) t = EnqueueReply(*answer.optReply, plan, t);
        if (plan.optReenumerateMs) {
            // Also when the answer was dropped: the handset did its work and leaves. As after
            // an unplug, nothing after this is answered.
            Enqueue({SPending::EKind::Unplug, t + kReenumerateGap, {}, std::nullopt, plan.optReenumerateMs,
                     SPending::EBack::SameStage});
            return;
        }
    }
}

CSimulator::Clock::time_point CSimulator::EnqueueReply(const std::array<uint8_t, 3>& reply, const SReplyPlan& plan, Clock::time_point t)
{
    const auto& [code, p1, p2] = reply;
    ReplyContent content = MakeReplyContent(code, p1, p2);
    if (plan.optCode || plan.optParams) {
        const uint8_t c = plan.optCode.value_or(code);
        const auto p = plan.optParams.value_or(std::array<uint8_t, 2>{p1, p2});
        content = plan.bOwnCheck ? MakeReplyContent(c, p[0], p[1]) : DamageReply(content, c, p[0], p[1]);
    }
    const std::vector<uint8_t> frame = FrameReply(content);
    CJsonLine tx("tx");
    tx.Text("what", "reply").Number("code", content[0]).Text("name", ReplyName(content[0]))
        .Number("p1", content[1]).Number("p2", content[2]);
    if (!plan.optSplitMs)
        return Enqueue({SPending::EKind::Write, t + LineTime(frame.size(), m_dwLastBaud), frame, tx, std::nullopt});
    const auto cut = static_cast<std::ptrdiff_t>(frame.size() / 2);
    std::vector<uint8_t> first(frame.begin(), frame.begin() + cut);
    std::vector<uint8_t> second(frame.begin() + cut, frame.end());
    t = Enqueue({SPending::EKind::Write, t + LineTime(first.size(), m_dwLastBaud), std::move(first),
                 CJsonLine(tx).Number("part", 1), std::nullopt});
    return Enqueue({SPending::EKind::Write, t + std::chrono::milliseconds(*plan.optSplitMs) + LineTime(second.size(), m_dwLastBaud),
                    std::move(second), CJsonLine(tx).Number("part", 2), std::nullopt});
}

void CSimulator::Execute(SPending& pending)
{
    switch (pending.eKind) {
    case SPending::EKind::Write: {
        const bool ok = m_line.IsOpen() && m_line.Write(pending.vecBytes, kWriteDeadlineMs);
        CJsonLine& line = *pending.optTxLine;
        line.Hex("bytes", pending.vecBytes);
        if (!ok) line.Flag("failed", true);
        m_transcript.Write(line);
        m_tLastTraffic = Clock::now();
        break;
    }
    case SPending::EKind::SwitchMode: {
        // What came during the switch reached a handset that was restarting: normal-mode
        // input, recorded and lost.
        uint8_t buf[4096];
        for (long n; (n = m_line.Read(buf, sizeof buf)) > 0;) m_handset.OnBytes({buf, static_cast<std::size_t>(n)}, m_line.Baud());
        m_handset.EnterDownloadMode();
        break;
    }
    case SPending::EKind::Unplug:
        m_line.Unplug();
        // The slot link stays: the port the handset sat in is still there, and the old node
        // name stays taken until the new line exists, so the link leads nowhere meanwhile.
        if (m_optLink) m_optLink->Remove();
        // Written once the line and the links are as they stay in the gap, for a reader to wait on.
        m_transcript.Write(CJsonLine("unplug").Text("slave", m_line.SlavePath()));
        m_queue.clear();
        if (!pending.optReappearMs) {
            m_optStop = "unplugged";
            break;
        }
        Enqueue({SPending::EKind::Reappear, Clock::now() + std::chrono::milliseconds(*pending.optReappearMs), {}, std::nullopt,
                 std::nullopt, pending.eBack});
        break;
    case SPending::EKind::Reappear:
        if (!CreateLine()) break;
        switch (pending.eBack) {
        case SPending::EBack::PoweredUp: m_handset.EnterNormalMode(); break;
        case SPending::EBack::DownloadMode: m_handset.EnterDownloadMode(); break;
        case SPending::EBack::SameStage: break;  // a loader that re-enumerates is still the loader
        }
        m_tLastTraffic = Clock::now();
        break;
    }
}

int CSimulator::Finish()
{
    const SHandsetStats& stats = m_handset.Stats();
    std::string ranges;
    std::vector<std::pair<int64_t, int64_t>> rangePairs;
    for (const auto& [start, end] : m_flash.WrittenRanges()) {
        ranges += (ranges.empty() ? "" : ",") + Hex(start) + "-" + Hex(end);
        rangePairs.emplace_back(start, end);
    }
    const std::string reason = m_optStop.value_or("?");

    bool dumped = true;
    if (!m_opts.strFlashOut.empty()) {
        std::string error;
        dumped = m_flash.Dump(m_opts.strFlashOut, error);
        if (!dumped) std::fprintf(stderr, "kestrel-handset-sim: %s\n", error.c_str());
    }
    m_transcript.Write(CJsonLine("end")
                           .Text("reason", reason)
                           .Number("written", static_cast<int64_t>(m_flash.WrittenBytes()))
                           .Pairs("ranges", rangePairs)
                           .Number("blocks", static_cast<int64_t>(stats.nBlocks))
                           .Number("retransmissions", static_cast<int64_t>(stats.nRetransmissions))
                           .Number("signature_blocks", static_cast<int64_t>(stats.nSignatureBlocks))
                           .Number("faults", static_cast<int64_t>(stats.nFaults))
                           .Number("injected", static_cast<int64_t>(m_nInjected))
                           .Flag("dumped", dumped && !m_opts.strFlashOut.empty()));
    std::fprintf(m_pOut,
                 "summary: written=%" PRIu64 " ranges=%s blocks=%" PRIu64 " retransmissions=%" PRIu64
                 " signature_blocks=%" PRIu64 " faults=%" PRIu64 " injected=%" PRIu64 " end=%s\n",
                 m_flash.WrittenBytes(), ranges.empty() ? "none" : ranges.c_str(), stats.nBlocks, stats.nRetransmissions,
                 stats.nSignatureBlocks, stats.nFaults, m_nInjected, reason.c_str());
    std::fflush(m_pOut);
    if (m_optLink) m_optLink->Remove();
    if (m_optSlotLink) m_optSlotLink->Remove();
    m_line.Close();
    return m_bFailed || !dumped ? 1 : 0;
}

}  // namespace kestrel::sim
