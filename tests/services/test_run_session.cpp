// A run session over scripted handsets and a real journal: each run's end is worked out once
// and the view, the journal and the counts agree on it; the call for an idle session waits
// for the last engine.

#include <gtest/gtest.h>

#include "image/download_type.h"
#include "services/run_session.h"
#include "tests/image/test_files.h"
#include "tests/protocol/engine_fixture.h"
#include "tests/support/scoped_journal.h"

namespace kestrel::test {
namespace {

// What the view saw at each run's end, read from the session as the view would.
class CSummaryView final : public IStationObserver {
public:
    void OnPortLog(int, int, const std::string&) override {}
    void OnPortCheckMark(int) override {}
    void OnPortProgress(int, const SBlockProgress&) override {}
    void OnPortRunStarted(int) override {}
    void OnPortRunEnded(int index, RunOutcome outcome) override
    {
        ends.push_back({index, outcome, pSession->Summary(index).eOutcome});
    }
    struct SEnd {
        int nIndex;
        RunOutcome eTold;
        RunOutcome eSummarized;
    };
    std::vector<SEnd> ends;
    const CRunSession* pSession = nullptr;
};

using PortScript = std::function<std::optional<Bytes>(const SeenWrite&)>;

class RunSessionTest : public testing::Test {
protected:
    static constexpr int kPorts = 3;

    void SetUp() override
    {
        m_view.pSession = &m_session;
        for (int i = 0; i < kPorts; ++i) {
            auto device = std::make_unique<CScriptedPortDevice>([this] { return m_scheduler.NowMs(); });
            CScriptedPortDevice* raw = device.get();
            m_devices.push_back(raw);
            raw->SetResponder([this, i](const Bytes& bytes, uint32_t baud) -> std::optional<Bytes> {
                const SeenWrite w = Classify(bytes, baud, m_scheduler.NowMs());
                return m_scripts.count(i) ? m_scripts[i](w) : GoodReply(w);
            });
            m_session.AddPort({3 + i, "/dev/session-test-" + std::to_string(i), "bench " + std::to_string(i)}, std::move(device));
        }
        m_scheduler.SetSettleHook([this] {
            for (auto* d : m_devices) d->Settle();
        });
    }
    void LoadJob(int type)
    {
        SStationJob job;
        job.strImage = m_files.Write("image.bin", BootImage(6 * 1024));
        job.nType = type;
        std::string error;
        ASSERT_TRUE(m_session.LoadJob(job, error)) << error;
    }
    std::vector<CJournalRow> Rows()
    {
        m_writer.Flush();
        return test::JournalRuns();
    }

    CScopedJournal m_journal;
    CTempDir m_files;
    CVirtualScheduler m_scheduler;
    CMapSettings m_settings;
    CJournalWriter m_writer{JournalFilePath(), [](const std::string&) {}};
    CSummaryView m_view;
    std::map<int, PortScript> m_scripts;
    std::vector<CScriptedPortDevice*> m_devices;
    CRunSession m_session{m_scheduler, m_settings, m_writer, "station", m_view};
};

TEST_F(RunSessionTest, TheViewTheJournalAndTheCountsAgreeOnHowEachRunEnded)
{
    m_scripts[1] = [](const SeenWrite& w) { return w.kind == Seen::Erase ? Reply(NAK_FAILED, 0, 0) : GoodReply(w); };
    m_scripts[2] = [](const SeenWrite& w) -> std::optional<Bytes> { return w.kind == Seen::Block ? std::nullopt : GoodReply(w); };
    LoadJob(DLOAD_CHANGE_EMERGENCY);
    m_session.Station().StartAll();
    m_scheduler.RunFor(120000);

    const RunOutcome expected[] = {RunOutcome::Completed, RunOutcome::HandsetError, RunOutcome::NoResponse};
    ASSERT_EQ(m_view.ends.size(), std::size(expected));
    for (const auto& end : m_view.ends) EXPECT_EQ(end.eSummarized, end.eTold) << "port " << end.nIndex;

    const std::vector<CJournalRow> rows = Rows();
    ASSERT_EQ(rows.size(), std::size(expected));
    int64_t nTotalMs = 0;
    for (int i = 0; i < kPorts; ++i) {
        SCOPED_TRACE("port " + std::to_string(i));
        const SRunSummary& summary = m_session.Summary(i);
        const SRunStatistics& stats = m_session.Port(i).Engine().Statistics();
        EXPECT_EQ(summary.eOutcome, expected[i]);
        EXPECT_EQ(summary.nDurationMs, stats.nEndMs - stats.nStartMs);
        EXPECT_GT(summary.nDurationMs, 0);
        nTotalMs += summary.nDurationMs;
        if (i == 0) {
            EXPECT_EQ(summary.strReason, "");
        }
        if (i == 1) {
            EXPECT_FALSE(summary.strReason.empty());
            EXPECT_EQ(summary.strReason, LastTextLine(stats.strLastRedLine));
        }
        // A handset that went silent ends without a red line: its message says why.
        if (i == 2) {
            EXPECT_EQ(summary.strReason, "응답없음. 처음부터 다시 해주시기 바랍니다. 지송..");
        }
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const CJournalRow& r) {
            return r.Text(JournalField::Slot) == m_session.Port(i).Id().strSlot;
        });
        ASSERT_NE(row, rows.end());
        EXPECT_EQ(row->Text(JournalField::Outcome), OutcomeName(expected[i]));
        EXPECT_EQ(row->Text(JournalField::SlotLabel), "bench " + std::to_string(i));
        EXPECT_EQ(row->Number(JournalField::DurationMs), summary.nDurationMs);
    }
    EXPECT_EQ(m_session.Counts().nUnits, 3);
    EXPECT_EQ(m_session.Counts().nCompleted, 1);
    EXPECT_EQ(m_session.Counts().nTotalDurationMs, nTotalMs);
    for (int i = 0; i < kPorts; ++i) {
        EXPECT_EQ(m_session.Counts(i).nUnits, 1) << "port " << i;
        EXPECT_EQ(m_session.Counts(i).nCompleted, i == 0 ? 1 : 0) << "port " << i;
        EXPECT_EQ(m_session.Counts(i).nTotalDurationMs, m_session.Summary(i).nDurationMs) << "port " << i;
    }

    // A reset counts from now, for the station and each port; the next series alone counts.
    const int64_t nResetAt = m_scheduler.NowMs();
    m_session.ResetCounts();
    EXPECT_EQ(m_session.Counts().nUnits, 0);
    EXPECT_EQ(m_session.Counts().nSinceMs, nResetAt);
    EXPECT_EQ(m_session.Counts(1).nUnits, 0);
    EXPECT_EQ(m_session.Counts(1).nSinceMs, nResetAt);
    m_session.Station().Port(0).Start();
    m_scheduler.RunFor(120000);
    EXPECT_EQ(m_session.Counts().nUnits, 1);
    EXPECT_EQ(m_session.Counts(0).nUnits, 1);
    EXPECT_EQ(m_session.Counts(1).nUnits, 0);
}

TEST_F(RunSessionTest, AnIdleCallWaitsForTheLastEngineAndComesOnce)
{
    LoadJob(DLOAD_CHANGE_NORMAL);
    int nCalls = 0;
    m_session.CallWhenIdle([&] { ++nCalls; });
    EXPECT_EQ(nCalls, 1) << "an idle session calls at once";

    // Every port in the mode switch's waits.
    m_session.Station().StartAll();
    m_scheduler.RunFor(3000);
    ASSERT_FALSE(m_session.IsIdle());
    m_session.CallWhenIdle([&] { ++nCalls; });
    m_scheduler.RunFor(500);
    EXPECT_EQ(nCalls, 1);
    m_session.Station().AbandonAll();
    m_scheduler.RunFor(60000);
    EXPECT_TRUE(m_session.IsIdle());
    EXPECT_EQ(nCalls, 2);
    for (int i = 0; i < kPorts; ++i) EXPECT_EQ(m_session.Summary(i).eOutcome, RunOutcome::Stopped) << "port " << i;
}

TEST(RunSummary, ReasonDurationAndRate)
{
    struct Case {
        const char* name;
        RunOutcome eOutcome;
        SRunStatistics stats;
        const char* pszLastLogLine;
        SRunSummary expected;
    } cases[] = {
        {"completed, no reason", RunOutcome::Completed, {1000, 0, 0, 10, 10240, "", "", 3000}, "Downloading completed",
         {RunOutcome::Completed, "", 2000, 5120}},
        {"the last line of a red line", RunOutcome::HandsetError, {0, 0, 0, 1, 0, "\nFlash failed\nNAK_FAILED p1=0x00\n", "", 400}, "",
         {RunOutcome::HandsetError, "NAK_FAILED p1=0x00", 400, 0}},
        {"a refusal says its message", RunOutcome::Refused, {500, 0, 0, 0, 0, "", "", 500}, "First, Select right bin file",
         {RunOutcome::Refused, "First, Select right bin file", 0, 0}},
        {"a stop needs no reason", RunOutcome::Stopped, {0, 0, 0, 3, 2048, "", "", 1000}, "Flash Programming 중",
         {RunOutcome::Stopped, "", 1000, 2048}},
        {"an end never stamped", RunOutcome::PortError, {800, 0, 0, 0, 0, "Port error", "", -1}, "",
         {RunOutcome::PortError, "Port error", 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SRunSummary summary = SummarizeRun(c.eOutcome, c.stats, c.pszLastLogLine);
        EXPECT_EQ(summary.eOutcome, c.expected.eOutcome);
        EXPECT_EQ(summary.strReason, c.expected.strReason);
        EXPECT_EQ(summary.nDurationMs, c.expected.nDurationMs);
        EXPECT_EQ(summary.nBytesPerSecond, c.expected.nBytesPerSecond);
    }
}

}  // namespace
}  // namespace kestrel::test
