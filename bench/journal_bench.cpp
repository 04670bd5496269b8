// Benchmark of what the run journal costs a run.
//   1. The SHA-256 of a 64 MiB image, taken once per load of the image on the journal's
//      thread: warm cache, best and median of several rounds.
//   2. What the front end's thread spends on OnImageLoaded, OnRunStarted and OnRunEnded (they
//      only hand the work over), and how long until the writer's thread has the row on disk.
//   3. Opening a journal left with 5,000 rows of runs whose processes died: they are marked
//      interrupted at the open.
// Usage: journal_bench [FOLDER]   (the image and a journal are made there, default $TMPDIR or /tmp)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/download_type.h"
#include "services/image_digest.h"
#include "services/run_recorder.h"

namespace {

using namespace kestrel;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kImageSize = 64u * 1024 * 1024;
constexpr int kRounds = 7;
constexpr int kDeadRuns = 5000;

double MsSince(Clock::time_point start) { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); }

struct Spread {
    double best;
    double median;
};

Spread SpreadOf(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return {times.front(), times[times.size() / 2]};
}

// A boot image, so that loading takes it as one.
bool MakeImage(const std::string& strPath)
{
    std::vector<char> bytes(kImageSize);
    uint32_t x = 12345;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    const std::string strDate = "Mar 15 200714:22:05", strVersion = "12 BOOT";
    std::copy(strDate.begin(), strDate.end(), bytes.begin() + kBuildDateOffset);
    std::copy(strVersion.begin(), strVersion.end(), bytes.begin() + kVersionDigitsOffset);
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return out.good();
}

// kDeadRuns running rows, a tenth of them of each of ten processes that no longer run.
bool LeaveDeadRuns(const std::string& strPath)
{
    for (const char* pszSuffix : {"", "-wal", "-shm"}) std::filesystem::remove(strPath + pszSuffix);
    CJournal journal;
    if (!journal.Open(strPath)) return false;
    journal.Close();
    CSqliteDb db;
    const std::string strFill = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(kDeadRuns) +
                                ") INSERT INTO runs (owner, started_at, front_end, outcome)"
                                " SELECT 'gone/' || (i % 10) || '/0', '2026-12-10T08:00:00.000Z', 'station', 'running' FROM n;";
    return db.Open(strPath, SQLITE_OPEN_READWRITE) == SQLITE_OK && db.Exec(strFill.c_str()) == SQLITE_OK;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* pszTmp = std::getenv("TMPDIR");
    const std::filesystem::path folder = std::filesystem::path(argc > 1 ? argv[1] : (pszTmp ? pszTmp : "/tmp")) / "kestrel-journal-bench";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string strImage = (folder / "PHONE.bin").string();
    if (!MakeImage(strImage)) {
        std::fprintf(stderr, "cannot write %s\n", strImage.c_str());
        return 1;
    }

    // 1. The hash, warm cache (one read before the rounds).
    Sha256OfFile(strImage);
    std::vector<double> hashMs;
    for (int n = 0; n < kRounds; ++n) {
        const auto start = Clock::now();
        if (Sha256OfFile(strImage).empty()) return 1;
        hashMs.push_back(MsSince(start));
    }
    const Spread hash = SpreadOf(hashMs);
    std::printf("SHA-256 of a 64 MiB image, warm cache, %d rounds: best %.1f ms, median %.1f ms (%.0f MiB/s)\n", kRounds, hash.best,
                hash.median, 64.0 * 1000.0 / hash.median);

    // 2. The front end's share, and the writer's.
    CJournalWriter writer((folder / "journal.sqlite").string(), [](const std::string& strText) { std::fprintf(stderr, "%s\n", strText.c_str()); });
    CRunRecorder recorder(writer, "cli");
    writer.Flush();
    CImageFile image;
    int nType = DLOAD_CHANGE_EMERGENCY;
    if (!image.Load(strImage, nType)) return 1;
    std::vector<double> loadMs, loadDoneMs, startMs, startDoneMs, endMs, endDoneMs;
    for (int n = 0; n < kRounds; ++n) {
        // A new file each round, as a new image would be.
        std::filesystem::last_write_time(strImage, std::filesystem::file_time_type::clock::now());
        auto start = Clock::now();
        recorder.OnImageLoaded(image);
        loadMs.push_back(MsSince(start));
        writer.Flush();
        loadDoneMs.push_back(MsSince(start));

        start = Clock::now();
        recorder.OnRunStarted({3, "/dev/ttyACM0", nType, &image, nullptr});
        startMs.push_back(MsSince(start));
        writer.Flush();
        startDoneMs.push_back(MsSince(start));

        start = Clock::now();
        recorder.OnRunEnded(SummarizeRun(RunOutcome::Completed, SRunStatistics{}, {}), SRunStatistics{});
        endMs.push_back(MsSince(start));
        writer.Flush();
        endDoneMs.push_back(MsSince(start));
    }
    std::printf("Median of %d rounds, on the front end's thread / until the writer's thread is done:\n", kRounds);
    std::printf("  OnImageLoaded %8.3f ms / %7.1f ms (the hash)\n", SpreadOf(loadMs).median, SpreadOf(loadDoneMs).median);
    std::printf("  OnRunStarted  %8.3f ms / %7.1f ms (USB lookup, row inserted)\n", SpreadOf(startMs).median, SpreadOf(startDoneMs).median);
    std::printf("  OnRunEnded    %8.3f ms / %7.1f ms (row completed)\n", SpreadOf(endMs).median, SpreadOf(endDoneMs).median);

    // 3. Dead runs, as many processes killed over months would leave them.
    const std::string strDeadJournal = (folder / "dead.sqlite").string();
    std::vector<double> markMs;
    for (int n = 0; n < kRounds; ++n) {
        if (!LeaveDeadRuns(strDeadJournal)) return 1;
        const auto start = Clock::now();
        CJournal journal;
        if (!journal.Open(strDeadJournal)) return 1;
        markMs.push_back(MsSince(start));
    }
    std::printf("Opening a journal with %d dead runs (marked interrupted), %d rounds: best %.1f ms, median %.1f ms\n", kDeadRuns,
                kRounds, SpreadOf(markMs).best, SpreadOf(markMs).median);
    std::filesystem::remove_all(folder);
    return 0;
}
