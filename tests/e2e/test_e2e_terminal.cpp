// kestrel-cli with its standard error on a terminal: the status lines redrawn there, and the
// terminal going away in the middle of a run.

#include <fcntl.h>
#include <sys/ioctl.h>

#include <functional>
#include <optional>
#include <set>

#include "several_handsets.h"
#include "tests/support/pty_pair.h"

namespace kestrel::test {
namespace {

// Columns a status line takes on the screen: one for ASCII, two for a Hangul syllable. Nullopt
// for anything else, a cut UTF-8 sequence among it: kestrel-cli draws nothing else there.
std::optional<int> Columns(const std::string& line)
{
    int columns = 0;
    for (std::size_t i = 0; i < line.size();) {
        const auto lead = static_cast<unsigned char>(line[i]);
        if (lead < 0x80) {
            ++columns;
            ++i;
            continue;
        }
        if ((lead & 0xF0) != 0xE0 || i + 3 > line.size()) return std::nullopt;
        const auto second = static_cast<unsigned char>(line[i + 1]);
        const auto third = static_cast<unsigned char>(line[i + 2]);
        if ((second & 0xC0) != 0x80 || (third & 0xC0) != 0x80) return std::nullopt;
        const unsigned c = ((lead & 0x0Fu) << 12) | ((second & 0x3Fu) << 6) | (third & 0x3Fu);
        if (c < 0xAC00 || c > 0xD7A3) return std::nullopt;
        columns += 2;
        i += 3;
    }
    return columns;
}

// A person's terminal: kestrel-cli's standard error is its slave side, the test reads the
// master side and sets the window's size there.
class Terminal : public SeveralHandsets {
protected:
    // A terminal of its own for each run, so that no run reads what another drew.
    void OpenTerminal()
    {
        m_pTerminal = std::make_unique<CPtyPair>();
        m_strScreen.clear();
        ASSERT_TRUE(m_pTerminal->Ok());
    }
    void SetColumns(unsigned short columns) const
    {
        const winsize size{24, columns, 0, 0};
        ASSERT_EQ(ioctl(m_pTerminal->Master(), TIOCSWINSZ, &size), 0);
    }
    std::unique_ptr<CChildProcess> StartOnTerminal(const std::vector<std::string>& args) const
    {
        const int slave = open(m_pTerminal->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(slave, 0);
        auto child = std::make_unique<CChildProcess>(args, slave);
        close(slave);
        return child;
    }

    // Reads the terminal until `enough` holds; false if it did not in time.
    bool ReadUntil(const std::function<bool()>& enough, int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!enough()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            const Bytes bytes = m_pTerminal->Receive(1, 200);
            m_strScreen.append(bytes.begin(), bytes.end());
        }
        return true;
    }
    // The status lines drawn so far, each as it was written after the carriage return that
    // began it (and the erase of the line), up to its end or the next cursor move.
    std::vector<std::string> DrawnLines() const
    {
        std::vector<std::string> lines;
        std::size_t start = m_strScreen.find('\r');
        // The text after the last carriage return may still be coming.
        for (std::size_t next;
             start != std::string::npos && (next = m_strScreen.find('\r', start + 1)) != std::string::npos; start = next) {
            std::string line = m_strScreen.substr(start + 1, next - start - 1);
            if (line.rfind("\x1b[2K", 0) == 0) line.erase(0, 4);
            line = line.substr(0, line.find_first_of("\n\x1b"));
            if (!line.empty()) lines.push_back(line);
        }
        return lines;
    }
    // Whether a line no wider than `columns` was drawn; one that cannot be measured counts, for
    // the checks that follow to name it.
    bool DrawnAt(int columns) const
    {
        for (const std::string& line : DrawnLines())
            if (Columns(line).value_or(-1) <= columns) return true;
        return false;
    }

    // The handsets' slots with Korean labels, as an operator names the places on a bench.
    void LabelSlots(int count) const
    {
        std::filesystem::create_directories(Path("config/NORVALE"));
        std::ofstream ini(Path("config/NORVALE/TIDEWELL.ini"));
        ini << "[General]\n";
        for (int n = 0; n < count; ++n)
            ini << "SLOT" << n + 1 << "=" << Link(n) << "\nSLOT" << n + 1 << "_LABEL=" << n + 1 << "번 작업대\n";
    }
    std::vector<std::string> FlashArgs(int ports, const std::string& type) const
    {
        std::vector<std::string> args = {KESTREL_CLI_BIN, "--baud", "115200"};
        for (int n = 0; n < ports; ++n) args.insert(args.end(), {"--port", "SLOT" + std::to_string(n + 1)});
        args.insert(args.end(), {"flash", WriteImage("image.bin", BootImage(64 * 1024)), "--type", type});
        return args;
    }

    std::unique_ptr<CPtyPair> m_pTerminal;
    std::string m_strScreen;
};

TEST_F(Terminal, StatusLinesAreCutToTheWidthAndFollowAResize)
{
    constexpr int kWide = 40;
    struct Case {
        const char* name;
        int ports;
        int narrow;
    } cases[] = {
        {"the progress line of one port", 1, 25},
        // "1번 작업대" takes 10 columns: at 9 the edge falls inside 대, which is left out whole.
        {"a line per port, each with a Korean label", 2, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_sims.clear();
        ASSERT_NO_FATAL_FAILURE(OpenTerminal());
        for (int n = 0; n < c.ports; ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n, "block@* late 40\n"));
        LabelSlots(c.ports);
        ASSERT_NO_FATAL_FAILURE(SetColumns(kWide));
        auto cli = StartOnTerminal(FlashArgs(c.ports, "CHANGE(EMERGENCY)"));
        ASSERT_TRUE(ReadUntil([&] { return !DrawnLines().empty(); }, 30000)) << m_strScreen;
        ASSERT_NO_FATAL_FAILURE(SetColumns(static_cast<unsigned short>(c.narrow)));
        ASSERT_TRUE(ReadUntil([&] { return DrawnAt(c.narrow); }, 30000)) << m_strScreen;
        const auto r = cli->Finish(60000);
        EXPECT_EQ(r.nExitCode, 0) << r.strOut;

        // Every line is longer than either width, so it fills the width, but for a wide
        // character that would straddle the edge; after the first line at the new width, every
        // line is drawn at that width.
        bool narrowed = false;
        for (const std::string& line : DrawnLines()) {
            const std::optional<int> columns = Columns(line);
            ASSERT_TRUE(columns.has_value()) << testing::PrintToString(line);
            narrowed = narrowed || *columns <= c.narrow;
            const int width = narrowed ? c.narrow : kWide;
            EXPECT_LE(*columns, width) << line;
            EXPECT_GE(*columns, width - 1) << line;
        }
    }
}

// `kestrel-cli ... 2>&1 | tee log` in a terminal that is closed: the terminal and the pipe both
// go, and the hang-up stops the runs as Ctrl+C does; the process ends by itself, with the runs
// stopped in the journal.
TEST_F(Terminal, ATerminalThatGoesAwayUnderTeeStopsTheRuns)
{
    for (int n = 0; n < 2; ++n) ASSERT_NO_FATAL_FAILURE(StartHandset(n, "block@* late 40\n"));
    LabelSlots(2);
    ASSERT_NO_FATAL_FAILURE(OpenTerminal());
    auto cli = StartOnTerminal(FlashArgs(2, "5"));
    // In the boot write Stop is taken at once.
    std::set<std::string> writing;
    while (writing.size() < 2) {
        const auto line = cli->ReadLineWith("] Boot Programming 중", 30000);
        ASSERT_TRUE(line.has_value()) << "the boot write did not start";
        writing.insert(*line);
    }
    m_pTerminal->HangUp();
    cli->CloseOutput();
    cli->Signal(SIGHUP);
    EXPECT_EQ(cli->Wait(60000), 130) << "-N: ended by signal N";

    const auto history = CChildProcess({KESTREL_CLI_BIN, "--json", "history"}).Finish(10000);
    for (int n = 0; n < 2; ++n) {
        const std::regex row(R"re("outcome":"stopped".*"slot":")re" + Link(n) + R"re(")re");
        EXPECT_TRUE(std::regex_search(history.strOut, row)) << Link(n) << "\n" << history.strOut;
    }
    EXPECT_EQ(history.strOut.find("interrupted"), std::string::npos) << history.strOut;
}

}  // namespace
}  // namespace kestrel::test
