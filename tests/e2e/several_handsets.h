#pragma once
// Several simulated handsets at once, each behind a link of its own in the test's folder.

#include <map>
#include <memory>
#include <string>

#include "tests/e2e/e2e_fixture.h"

namespace kestrel::test {

class SeveralHandsets : public EndToEnd {
protected:
    // Starts handset n behind the link "handset<n>"; its flash goes to "flash<n>.bin".
    void StartHandset(int n, const std::string& scenario = "", const std::string& extra = "")
    {
        std::vector<std::string> args = {KESTREL_SIM_BIN, "--mode", "download", "--link", Link(n), "--flash-out",
                                         Flash(n), "--idle-exit", "120"};
        if (!scenario.empty()) {
            const std::string file = Path("scenario" + std::to_string(n) + ".txt");
            std::ofstream(file) << scenario;
            args.insert(args.end(), {"--scenario", file});
        }
        if (!extra.empty()) args.push_back(extra);
        auto sim = std::make_unique<CChildProcess>(args);
        ASSERT_TRUE(sim->ReadLine(5000).has_value()) << "handset " << n << " did not start";
        m_sims[n] = std::move(sim);
    }
    std::string Link(int n) const { return Path("handset" + std::to_string(n)); }
    std::string Flash(int n) const { return Path("flash" + std::to_string(n) + ".bin"); }
    // Ends handset n and returns its flash.
    Bytes FlashOf(int n)
    {
        m_sims[n]->Signal(SIGTERM);
        EXPECT_EQ(m_sims[n]->Wait(10000), 0);
        return ReadFile(Flash(n));
    }

    std::map<int, std::unique_ptr<CChildProcess>> m_sims;
};

}  // namespace kestrel::test
