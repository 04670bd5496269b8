// Several engines side by side on one scheduler: each port's run is its own.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "image/download_type.h"
#include "station/station.h"
#include "tests/protocol/engine_fixture.h"

namespace kestrel::test {
namespace {

struct PortRecord {
    std::vector<std::string> lines;
    std::vector<RunOutcome> outcomes;
    int nStarts = 0;
    int nBlocks = 0;
    int64_t nStartMs = -1;
    int64_t nEndMs = -1;
    std::vector<std::string> opened;
};

class CRecordingObserver final : public IStationObserver {
public:
    void OnPortLog(int index, int, const std::string& text) override { ports[index].lines.push_back(text); }
    void OnPortCheckMark(int) override {}
    void OnPortProgress(int index, const SBlockProgress&) override { ++ports[index].nBlocks; }
    void OnPortRunStarted(int index) override
    {
        ++ports[index].nStarts;
        ports[index].nStartMs = pClock->NowMs();
    }
    void OnPortRunEnded(int index, RunOutcome outcome) override
    {
        ports[index].outcomes.push_back(outcome);
        ports[index].nEndMs = pClock->NowMs();
    }
    void OnPortOpened(int index, const std::string& node) override { ports[index].opened.push_back(node); }
    std::map<int, PortRecord> ports;
    const IScheduler* pClock = nullptr;
};

// Answers of one port's handset: good ones, unless the port's script says otherwise.
using PortScript = std::function<std::optional<Bytes>(const SeenWrite&, int nth, CScriptedPortDevice&)>;

class StationTest : public testing::Test {
protected:
    static constexpr int kPorts = 3;

    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / ("kestrel-station-" + std::to_string(getpid()));
        std::filesystem::create_directories(m_dir);
        m_image = BootImage(6 * 1024);
        const std::string path = (m_dir / "image.bin").string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(m_image.data()),
                                                    static_cast<std::streamsize>(m_image.size()));
        m_observer.pClock = &m_scheduler;
        m_station = std::make_unique<CStation>(m_scheduler, m_settings, m_observer);
        m_station->SetSlotResolver(m_resolver);
        for (int i = 0; i < kPorts; ++i) {
            auto device = std::make_unique<CScriptedPortDevice>([this] { return m_scheduler.NowMs(); });
            CScriptedPortDevice* raw = device.get();
            m_devices.push_back(raw);
            m_seen.emplace_back();
            raw->SetResponder([this, i, raw](const Bytes& bytes, uint32_t baud) { return Respond(i, *raw, bytes, baud); });
            m_station->AddPort({3 + i, "/dev/station-test-" + std::to_string(i), ""}, std::move(device));
        }
        m_scheduler.SetSettleHook([this] {
            for (auto* d : m_devices) d->Settle();
        });
        LoadJob(DLOAD_CHANGE_EMERGENCY);
    }
    void LoadJob(int type)
    {
        SStationJob job;
        job.strImage = (m_dir / "image.bin").string();
        job.nType = type;
        std::string error;
        ASSERT_TRUE(m_station->LoadJob(job, error)) << error;
    }
    void TearDown() override
    {
        m_station.reset();
        std::filesystem::remove_all(m_dir);
    }

    std::optional<Bytes> Respond(int port, CScriptedPortDevice& device, const Bytes& bytes, uint32_t baud)
    {
        const SeenWrite w = Classify(bytes, baud, m_scheduler.NowMs());
        const int nth = m_counts[{port, static_cast<int>(w.kind)}]++;
        m_seen[static_cast<std::size_t>(port)].push_back(w);
        if (m_scripts.count(port)) return m_scripts[port](w, nth, device);
        return GoodReply(w);
    }
    Bytes Sent(int port) const
    {
        Bytes out;
        for (const auto& w : m_seen[static_cast<std::size_t>(port)])
            if (w.kind == Seen::Block) out.insert(out.end(), w.data.begin(), w.data.end());
        return out;
    }
    void ExpectCompleted(int port)
    {
        EXPECT_EQ(m_observer.ports[port].outcomes, std::vector<RunOutcome>{RunOutcome::Completed}) << "port " << port;
        EXPECT_EQ(Sent(port), m_image) << "port " << port;
    }

    std::filesystem::path m_dir;
    Bytes m_image;
    CVirtualScheduler m_scheduler;
    CMapSettings m_settings;
    CRecordingObserver m_observer;
    std::vector<CScriptedPortDevice*> m_devices;
    std::vector<std::vector<SeenWrite>> m_seen;
    std::map<std::pair<int, int>, int> m_counts;
    std::map<int, PortScript> m_scripts;
    SlotResolver m_resolver;
    std::unique_ptr<CStation> m_station;
};

// Every port in the middle of the mode switch's waits.
class StationInAWaitTest : public StationTest {
protected:
    void SetUp() override
    {
        StationTest::SetUp();
        LoadJob(DLOAD_CHANGE_NORMAL);
        m_station->StartAll();
        m_scheduler.RunFor(3000);
        ASSERT_TRUE(m_station->AnyBusy());
        for (int i = 0; i < kPorts; ++i) m_nWrites.push_back(m_seen[static_cast<std::size_t>(i)].size());
    }
    // Nothing reaches a handset any more, and no port has anything armed or open.
    void ExpectQuietFromNowOn()
    {
        m_scheduler.RunFor(60000);
        for (int i = 0; i < kPorts; ++i) {
            EXPECT_EQ(m_seen[static_cast<std::size_t>(i)].size(), m_nWrites[static_cast<std::size_t>(i)]) << "port " << i;
            if (!m_devices.empty()) {
                EXPECT_FALSE(m_devices[static_cast<std::size_t>(i)]->IsOpen()) << "port " << i;
            }
        }
    }
    std::vector<std::size_t> m_nWrites;
};

TEST_F(StationTest, EveryPortFlashesTheImage)
{
    m_station->StartAll();
    m_scheduler.RunFor(60000);
    for (int i = 0; i < kPorts; ++i) ExpectCompleted(i);
    EXPECT_FALSE(m_station->AnyRunning());
}

TEST_F(StationTest, APortsWaitsHoldUpNoOtherPort)
{
    // The NORMAL types wait seconds for the handset to change its mode: every port waits at
    // the same time as the others, none inside another's wait.
    LoadJob(DLOAD_CHANGE_NORMAL);
    m_station->StartAll();
    m_scheduler.RunFor(60000);
    for (int i = 0; i < kPorts; ++i) {
        ExpectCompleted(i);
        EXPECT_EQ(m_observer.ports[i].nStartMs, m_observer.ports[0].nStartMs) << "port " << i;
        EXPECT_NEAR(static_cast<double>(m_observer.ports[i].nEndMs), static_cast<double>(m_observer.ports[0].nEndMs), 100) << "port " << i;
    }
}

TEST_F(StationTest, OnePortsFaultDisturbsNoOther)
{
    struct Case {
        const char* name;
        PortScript script;
        RunOutcome outcome;
    } cases[] = {
        {"handset_error",
         [](const SeenWrite& w, int, CScriptedPortDevice&) -> std::optional<Bytes> {
             return w.kind == Seen::Erase ? Reply(NAK_FAILED, 0, 0) : GoodReply(w);
         },
         RunOutcome::HandsetError},
        {"silent_handset",
         [](const SeenWrite& w, int, CScriptedPortDevice&) -> std::optional<Bytes> {
             return w.kind == Seen::Block ? std::nullopt : GoodReply(w);
         },
         RunOutcome::NoResponse},
        {"unplugged_mid_run",
         [](const SeenWrite& w, int nth, CScriptedPortDevice& device) -> std::optional<Bytes> {
             if (w.kind == Seen::Block && nth == 2) {
                 device.HangUp();
                 return std::nullopt;
             }
             return GoodReply(w);
         },
         RunOutcome::PortError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        m_devices.clear();
        m_seen.clear();
        m_counts.clear();
        m_observer.ports.clear();
        m_scripts = {{1, c.script}};
        SetUp();
        m_station->StartAll();
        m_scheduler.RunFor(60000);
        ExpectCompleted(0);
        ExpectCompleted(2);
        EXPECT_EQ(m_observer.ports[1].outcomes, std::vector<RunOutcome>{c.outcome});
    }
}

TEST_F(StationTest, StopAllStopsEveryPortByItsOwnRule)
{
    // Port 0 waits for its erase, the others for a block's reply: Stop ends each of them.
    m_scripts[0] = [](const SeenWrite& w, int, CScriptedPortDevice&) -> std::optional<Bytes> {
        return w.kind == Seen::Erase ? std::nullopt : GoodReply(w);
    };
    m_scripts[1] = m_scripts[2] = [](const SeenWrite& w, int, CScriptedPortDevice&) -> std::optional<Bytes> {
        return w.kind == Seen::Block ? std::nullopt : GoodReply(w);
    };
    m_station->StartAll();
    m_scheduler.RunFor(1000);
    m_station->StopAll();
    m_scheduler.RunFor(3000);
    for (int i = 0; i < kPorts; ++i)
        EXPECT_EQ(m_observer.ports[i].outcomes, std::vector<RunOutcome>{RunOutcome::Stopped}) << i;
    EXPECT_FALSE(m_station->AnyRunning());
}

TEST_F(StationTest, AHandsetIsFlashedOnArrivalAndAgainOnlyAfterItWasGone)
{
    m_station->SetStartOnArrival(true);
    const std::string device = m_station->Port(1).Id().strSlot;
    m_station->OnDeviceArrived(device);
    m_scheduler.RunFor(60000);
    EXPECT_EQ(m_observer.ports[1].nStarts, 1);
    EXPECT_EQ(m_observer.ports[0].nStarts, 0);

    // Still connected after its run: announced again, it is not flashed again.
    m_station->OnDeviceArrived(device);
    m_scheduler.RunFor(60000);
    EXPECT_EQ(m_observer.ports[1].nStarts, 1);

    m_station->OnDeviceGone(device);
    m_station->OnDeviceArrived(device);
    m_scheduler.RunFor(60000);
    EXPECT_EQ(m_observer.ports[1].outcomes, (std::vector<RunOutcome>{RunOutcome::Completed, RunOutcome::Completed}));
}

TEST_F(StationTest, ALimitOfArrivalStartsLeavesTheHandsetsBeyondItAlone)
{
    const auto starts = [this] {
        int nStarts = 0;
        for (int i = 0; i < kPorts; ++i) nStarts += m_observer.ports[i].nStarts;
        return nStarts;
    };
    m_station->SetStartOnArrival(true, 1);
    for (int i = 0; i < kPorts; ++i) m_station->OnDeviceArrived(m_station->Port(i).Id().strSlot);
    m_scheduler.RunFor(60000);
    EXPECT_EQ(starts(), 1);
    // Gone and back: still beyond the limit.
    for (int i = 0; i < kPorts; ++i) m_station->OnDeviceGone(m_station->Port(i).Id().strSlot);
    for (int i = 0; i < kPorts; ++i) m_station->OnDeviceArrived(m_station->Port(i).Id().strSlot);
    m_scheduler.RunFor(60000);
    EXPECT_EQ(starts(), 1);
}

TEST_F(StationInAWaitTest, AbandonEndsEveryRunAsStoppedAtOnce)
{
    m_station->AbandonAll();
    for (int i = 0; i < kPorts; ++i)
        EXPECT_EQ(m_observer.ports[i].outcomes, std::vector<RunOutcome>{RunOutcome::Stopped}) << "port " << i;
    EXPECT_FALSE(m_station->AnyRunning());
    EXPECT_FALSE(m_station->AnyBusy());
    ExpectQuietFromNowOn();
    for (int i = 0; i < kPorts; ++i) EXPECT_EQ(m_observer.ports[i].outcomes.size(), 1u) << "port " << i;
}

TEST_F(StationInAWaitTest, AStationThatGoesTellsNobodyAndTalksNoMore)
{
    // The front end may be half gone: nothing of the ports' ends may reach it.
    m_station.reset();
    // The devices went with their ports.
    m_devices.clear();
    m_scheduler.SetSettleHook(nullptr);
    for (int i = 0; i < kPorts; ++i) EXPECT_TRUE(m_observer.ports[i].outcomes.empty()) << "port " << i;
    ExpectQuietFromNowOn();
}

TEST_F(StationInAWaitTest, StopIsPressedOnceTheWaitIsOver)
{
    const int64_t pressedMs = m_scheduler.NowMs();
    m_station->StopAll();
    EXPECT_TRUE(m_station->AnyRunning());
    m_scheduler.RunFor(30000);
    for (int i = 0; i < kPorts; ++i) {
        EXPECT_EQ(m_observer.ports[i].outcomes, std::vector<RunOutcome>{RunOutcome::Stopped}) << "port " << i;
        // Stopped as the mode switch's waits ended, long before a flash of the image could.
        EXPECT_LT(m_observer.ports[i].nEndMs - pressedMs, 12000) << "port " << i;
        EXPECT_TRUE(Sent(i).empty()) << "port " << i;
    }
}

TEST_F(StationTest, ASlotNeverOpensANodeAnotherSlotHolds)
{
    // Ports 0 and 1 re-enumerated into each other's way: both slots name one node now.
    TearDown();
    m_devices.clear();
    m_seen.clear();
    m_observer.ports.clear();
    m_resolver = [](const std::string& slot) {
        return slot == "/dev/station-test-2" ? slot : std::string("/dev/ttyACM-shared");
    };
    SetUp();
    m_station->StartAll();
    m_scheduler.RunFor(60000);
    ExpectCompleted(0);
    ExpectCompleted(2);
    EXPECT_EQ(m_observer.ports[1].outcomes, std::vector<RunOutcome>{RunOutcome::PortError});
    EXPECT_TRUE(m_devices[1]->Opens().empty());
    EXPECT_EQ(m_observer.ports[0].opened, (std::vector<std::string>(2, "/dev/ttyACM-shared")));
    EXPECT_EQ(m_observer.ports[2].opened, (std::vector<std::string>(2, "/dev/station-test-2")));

    // Once port 0 has let go of it, the node is port 1's to open.
    m_station->Port(1).Start();
    m_scheduler.RunFor(60000);
    EXPECT_EQ(m_observer.ports[1].outcomes, (std::vector<RunOutcome>{RunOutcome::PortError, RunOutcome::Completed}));
}

}  // namespace
}  // namespace kestrel::test
