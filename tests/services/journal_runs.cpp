// Records runs into the journal from a process of its own, as a station would: the tests run
// several at once, kill one in the middle of a run, or run one as a user who may not write.
//   journal_runs [--as-nobody] COUNT PORT  COUNT completed runs on the port; prints each notice
//   journal_runs --hold PORT               one run that starts and never ends: prints "started"
//                                          once its row is written, then waits to be killed
//   journal_runs --lock                    takes the journal's write lock as another program
//                                          may: prints "locked", then holds it until killed

#include <grp.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "services/run_recorder.h"

namespace {

using namespace kestrel;

// Root may write anywhere; "nobody" may not.
bool DropRoot()
{
    constexpr gid_t kNobody = 65534;
    if (geteuid() != 0) return true;
    return setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0;
}

SRunSetup Setup(int nPort) { return {nPort, "/dev/kestrel-test-" + std::to_string(nPort), 5, nullptr, nullptr}; }

}  // namespace

// Holds the write lock of the journal (made first if there is none) until the process dies.
int HoldTheWriteLock()
{
    CJournal journal;
    if (!journal.Open(JournalFilePath())) return 1;
    journal.Close();
    CSqliteDb db;
    if (db.Open(JournalFilePath(), SQLITE_OPEN_READWRITE) != SQLITE_OK || db.Exec("BEGIN IMMEDIATE") != SQLITE_OK) return 1;
    std::printf("locked\n");
    std::fflush(stdout);
    for (;;) pause();
}

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--lock") == 0) return HoldTheWriteLock();
    int nArg = 1;
    const bool bHold = argc > nArg && std::strcmp(argv[nArg], "--hold") == 0;
    const bool bAsNobody = argc > nArg && std::strcmp(argv[nArg], "--as-nobody") == 0;
    if (bHold || bAsNobody) ++nArg;
    if (argc != nArg + (bHold ? 1 : 2) || (bAsNobody && !DropRoot())) return 2;
    const int nPort = std::atoi(argv[argc - 1]);

    CJournalWriter writer(JournalFilePath(), [](const std::string& strText) {
        std::printf("notice: %s\n", strText.c_str());
        std::fflush(stdout);
    });
    CRunRecorder recorder(writer, "station");
    if (bHold) {
        recorder.OnRunStarted(Setup(nPort));
        writer.Flush();
        std::printf("started\n");
        std::fflush(stdout);
        for (;;) pause();
    }
    for (int nRun = 0, nCount = std::atoi(argv[nArg]); nRun < nCount; ++nRun) {
        recorder.OnRunStarted(Setup(nPort));
        SRunStatistics stats;
        stats.nBlocksSent = nRun;
        recorder.OnRunEnded(SummarizeRun(RunOutcome::Completed, stats, {}), stats);
    }
    // A station's runs take minutes; these take no time, and the close would give their rows
    // only a fraction of a second.
    writer.Flush();
    return 0;
}
