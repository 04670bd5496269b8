// Which slots are there, as real folders, files and links change under a temporary folder.
// Each step waits for the reports it should bring; a report that should not come would show up
// before them or beside them, so the whole log is compared after every step.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "services/device_presence.h"
#include "tests/services/port_signal_log.h"
#include "tests/support/qt_app_environment.h"

namespace kestrel {
namespace {

const auto* const g_pQtApp = ::testing::AddGlobalTestEnvironment(new CQtAppEnvironment);

struct SStep {
    // Changes made in one go, separated by "; ": "mkdir a", "touch a/f", "rm a/f", "rmdir a",
    // "ln a/l t/f" (points a/l at t/f, replacing an earlier link in one step; a target
    // starting with "." is kept relative).
    const char* pszChanges;
    std::vector<std::string> reports;  // what the step adds to the log, "arrived a/f" or "gone a/f"
};

struct SScenario {
    const char* pszName;
    std::vector<std::string> slotPaths;  // below the temporary folder
    const char* pszBefore;               // changes made before the presence starts
    std::vector<std::string> present;    // what AnnouncePresent reports
    std::vector<SStep> steps;
};

class CScratch {
public:
    std::string Root() const { return m_dir.path().toStdString(); }
    std::string Path(const std::string& strRelative) const { return Root() + "/" + strRelative; }

    void Change(const std::string& strChanges) const
    {
        std::istringstream changes(strChanges);
        for (std::string strChange; std::getline(changes, strChange, ';');) {
            std::istringstream words(strChange);
            std::string strVerb, strPath, strTarget;
            words >> strVerb >> strPath >> strTarget;
            if (strVerb.empty()) continue;
            const std::string strFull = Path(strPath);
            bool bDone = false;
            if (strVerb == "mkdir") bDone = ::mkdir(strFull.c_str(), 0755) == 0;
            else if (strVerb == "rmdir") bDone = ::rmdir(strFull.c_str()) == 0;
            else if (strVerb == "rm") bDone = ::unlink(strFull.c_str()) == 0;
            else if (strVerb == "touch") bDone = std::ofstream(strFull).good();
            else if (strVerb == "ln") bDone = Link(strFull, strTarget.starts_with('.') ? strTarget : Path(strTarget));
            ASSERT_TRUE(bDone) << strChange;
        }
    }

private:
    // As the simulator re-points its link: a new link renamed over the old one.
    static bool Link(const std::string& strLink, const std::string& strTarget)
    {
        const std::string strTemp = strLink + ".new";
        return ::symlink(strTarget.c_str(), strTemp.c_str()) == 0 && std::rename(strTemp.c_str(), strLink.c_str()) == 0;
    }

    QTemporaryDir m_dir;
};

void PlayScenario(const SScenario& scenario)
{
    CScratch scratch;
    ASSERT_NO_FATAL_FAILURE(scratch.Change(scenario.pszBefore));
    std::vector<std::string> vecSlots;
    for (const std::string& strSlot : scenario.slotPaths) vecSlots.push_back(scratch.Path(strSlot));
    CDevicePresence presence(vecSlots);
    CPortSignalLog log(presence);
    const auto relative = [&](std::vector<std::string> lines) {
        for (std::string& strLine : lines) strLine.erase(strLine.find(scratch.Root() + "/"), scratch.Root().size() + 1);
        return lines;
    };

    presence.AnnouncePresent();
    std::vector<std::string> expected = scenario.present;
    ASSERT_EQ(relative(log.WaitFor(expected.size())), expected) << "at the start";
    for (const SStep& step : scenario.steps) {
        ASSERT_NO_FATAL_FAILURE(scratch.Change(step.pszChanges));
        expected.insert(expected.end(), step.reports.begin(), step.reports.end());
        ASSERT_EQ(relative(log.WaitFor(expected.size())), expected) << "after " << step.pszChanges;
    }
}

TEST(DevicePresence, FollowsFilesLinksAndFoldersAsTheyChange)
{
    const SScenario kScenarios[] = {
        {"folders that appear later are watched as they come and as they go",
         {"a/b/port", "c/other"},
         "mkdir c",
         {},
         {// Steps that change c/other only prove that what came before has been looked at.
          {"mkdir a; touch c/other", {"arrived c/other"}},
          {"mkdir a/b; touch a/b/port", {"arrived a/b/port"}},
          {"rm a/b/port", {"gone a/b/port"}},
          {"rmdir a/b; rmdir a; rm c/other", {"gone c/other"}},
          {"mkdir a; mkdir a/b; touch a/b/port", {"arrived a/b/port"}}}},
        {"a link that dangles is gone, and back when re-pointed or when its target returns",
         {"links/port"},
         "mkdir links; mkdir t; touch t/one; ln links/port t/one",
         {"arrived links/port"},
         {{"rm t/one", {"gone links/port"}},
          {"touch t/two; ln links/port t/two", {"arrived links/port"}},
          {"rm t/two", {"gone links/port"}},
          {"touch t/two", {"arrived links/port"}}}},
        {"a link re-pointed from one live target to another in one step is gone, then arrived",
         {"links/port"},
         "mkdir links; mkdir t; touch t/one; touch t/two; ln links/port ../t/one",
         {"arrived links/port"},
         {{"ln links/port ../t/two", {"gone links/port", "arrived links/port"}},
          {"ln links/port t/one", {"gone links/port", "arrived links/port"}}}},
        {"every link along a chain is watched",
         {"links/port"},
         "mkdir links; mkdir mid; mkdir t; touch t/one; touch t/two; ln mid/hop t/one; ln links/port mid/hop",
         {"arrived links/port"},
         {{"ln mid/hop t/two", {"gone links/port", "arrived links/port"}},
          {"rm t/two", {"gone links/port"}},
          {"touch t/two", {"arrived links/port"}}}},
        {"a link whose folder appears later is picked up",
         {"links/port"},
         "mkdir t; touch t/one",
         {},
         {{"mkdir links; ln links/port t/one", {"arrived links/port"}}, {"rm links/port", {"gone links/port"}}}},
        {"a folder or an unrelated file at or beside a slot is not its device",
         {"port", "other"},
         "",
         {},
         {{"mkdir port; touch unrelated; touch other", {"arrived other"}}}},
    };
    for (const SScenario& scenario : kScenarios) {
        SCOPED_TRACE(scenario.pszName);
        PlayScenario(scenario);
    }
}

}  // namespace
}  // namespace kestrel
