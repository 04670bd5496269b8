#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "services/port_watcher.h"
#include "tests/services/port_signal_log.h"
#include "tests/support/qt_app_environment.h"

namespace kestrel {
namespace {

const auto* const g_pQtApp = ::testing::AddGlobalTestEnvironment(new CQtAppEnvironment);

// Announcements queued by the test; like a datagram socket, the pipe holds one byte for
// each waiting announcement, so the descriptor is readable exactly while some wait.
class CScriptedSource final : public IDeviceEventSource {
public:
    CScriptedSource()
    {
        EXPECT_EQ(pipe2(m_afd, O_NONBLOCK | O_CLOEXEC), 0);
    }
    ~CScriptedSource() override
    {
        close(m_afd[0]);
        close(m_afd[1]);
    }
    CScriptedSource(const CScriptedSource&) = delete;
    CScriptedSource& operator=(const CScriptedSource&) = delete;

    void Announce(const SDeviceEvent& event)
    {
        m_events.push_back(event);
        EXPECT_EQ(write(m_afd[1], "e", 1), 1);
    }

    int Descriptor() const override { return m_afd[0]; }
    std::optional<SDeviceEvent> Next() override
    {
        char ch = 0;
        if (read(m_afd[0], &ch, 1) != 1) return std::nullopt;
        SDeviceEvent event = m_events.front();
        m_events.pop_front();
        return event;
    }

private:
    int m_afd[2] = {-1, -1};
    std::deque<SDeviceEvent> m_events;
};

TEST(PortWatcher, ReportsArrivalsAndRemovalsOfDeviceNodesOnly)
{
    struct SCase {
        SDeviceEvent event;
        const char* pszReported;  // nullptr: ignored
    };
    const SCase kCases[] = {
        {{"add", "/dev/ttyACM0"}, "arrived /dev/ttyACM0"},
        {{"remove", "/dev/ttyUSB1"}, "removed /dev/ttyUSB1"},
        {{"change", "/dev/ttyACM0"}, nullptr},
        {{"bind", "/dev/ttyACM0"}, nullptr},
        {{"move", "/dev/ttyACM0"}, nullptr},
        {{"", "/dev/ttyACM0"}, nullptr},
        {{"add", ""}, nullptr},
        {{"remove", ""}, nullptr},
    };
    for (const SCase& c : kCases) {
        SCOPED_TRACE(c.event.strAction + " " + c.event.strDevNode);
        auto pSource = std::make_unique<CScriptedSource>();
        CScriptedSource& source = *pSource;
        CPortWatcher watcher(std::move(pSource));
        ASSERT_TRUE(watcher.IsWatching());
        CPortSignalLog log(watcher);
        // An arrival after the case: once it is reported, the case has been dealt with.
        source.Announce(c.event);
        source.Announce({"add", "/dev/ttyS1"});
        std::vector<std::string> expected;
        if (c.pszReported) expected.emplace_back(c.pszReported);
        expected.emplace_back("arrived /dev/ttyS1");
        EXPECT_EQ(log.WaitFor(expected.size()), expected);
    }
}

// What the device presence matches slots against comes along whole; a line per report.
TEST(PortWatcher, PassesLinksAndIdPathOnWithEachReport)
{
    auto pSource = std::make_unique<CScriptedSource>();
    CScriptedSource& source = *pSource;
    CPortWatcher watcher(std::move(pSource));
    ASSERT_TRUE(watcher.IsWatching());
    std::vector<std::string> lines;
    QObject::connect(&watcher, &CPortWatcher::Announced, [&](const SDeviceEvent& event) {
        std::string strLine = event.strAction + " " + event.strDevNode + " id=" + event.strIdPath;
        for (const std::string& strLink : event.vecLinks) strLine += " " + strLink;
        lines.push_back(strLine);
    });
    CPortSignalLog log(watcher);

    const std::vector<std::string> kLinks{"/dev/serial/by-id/usb-X-if00", "/dev/serial/by-path/pci-0:3:1.0"};
    source.Announce({"add", "/dev/ttyACM0", kLinks, "pci-0:3:1.0"});
    source.Announce({"change", "/dev/ttyACM0", kLinks, "pci-0:3:1.0"});
    source.Announce({"add", "", kLinks, "pci-0:3:1.0"});
    source.Announce({"remove", "/dev/ttyACM0", {}, ""});
    const std::vector<std::string> reported{"arrived /dev/ttyACM0", "removed /dev/ttyACM0"};
    ASSERT_EQ(log.WaitFor(reported.size()), reported);
    const std::vector<std::string> expected{"add /dev/ttyACM0 id=pci-0:3:1.0 " + kLinks[0] + " " + kLinks[1],
                                            "remove /dev/ttyACM0 id="};
    EXPECT_EQ(lines, expected);
}

// No udev socket can be made once the process has used up its descriptors.
TEST(PortWatcher, StaysSilentWhenUdevCannotBeOpened)
{
    if (!CPortWatcher().IsWatching()) GTEST_SKIP() << "udev cannot be opened here even with descriptors to spare";
    const int fdNext = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fdNext, 0);
    close(fdNext);
    rlimit limits{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limits), 0);
    const rlimit full = limits;
    limits.rlim_cur = static_cast<rlim_t>(fdNext);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limits), 0);
    const CPortWatcher watcher;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &full), 0);
    EXPECT_FALSE(watcher.IsWatching());
}

}  // namespace
}  // namespace kestrel
