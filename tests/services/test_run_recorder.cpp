// The recorder and the writer's thread on a real journal: the row of a completed, a stopped
// and a failed run; an image hashed at its load and not at the run; a journal held by another
// writer; several processes writing at once; one killed in the middle of a run; a folder that
// may not be written; a file moved aside.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <regex>

#include "image/download_type.h"
#include "services/image_digest.h"
#include "services/run_recorder.h"
#include "tests/image/test_files.h"
#include "tests/support/child_process.h"
#include "tests/support/scoped_journal.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

std::string Sha256Of(const Bytes& bytes)
{
    return QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// A boot image: version 12, build date, boot marker.
Bytes BootImage(std::size_t nSize, uint8_t bySeed)
{
    Bytes image = test::Pattern(nSize, bySeed);
    test::Put(image, kBuildDateOffset, "Mar 15 200714:22:05");
    test::Put(image, kVersionDigitsOffset, "12 BOOT");
    for (std::size_t n = kSecondVersionOffset; n < kSecondVersionOffset + 4 && n < nSize; ++n) image[n] = 0xFF;
    return image;
}

class RecorderTest : public testing::Test {
protected:
    // The notices the writer gave, in order.
    std::vector<std::string> Notices()
    {
        m_pWriter->Flush();
        const std::lock_guard lock(m_mutex);
        return m_notices;
    }
    // Waits for a notice that holds the text; the notice, or "" after the timeout.
    std::string WaitForNotice(const std::string& strText, int nTimeoutMs = 30000)
    {
        std::unique_lock lock(m_mutex);
        std::string strFound;
        m_noticed.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] {
            for (const std::string& strNotice : m_notices)
                if (strNotice.find(strText) != std::string::npos) strFound = strNotice;
            return !strFound.empty();
        });
        return strFound;
    }
    std::vector<CJournalRow> Rows()
    {
        m_pWriter->Flush();
        return test::JournalRuns();
    }
    std::string LoadImage(CImageFile& image, const std::string& strName, const Bytes& bytes, int nType = DLOAD_CHANGE_EMERGENCY)
    {
        const std::string strPath = m_files.Write(strName, bytes);
        EXPECT_TRUE(image.Load(strPath, nType)) << image.LastError();
        m_recorder.OnImageLoaded(image);
        return strPath;
    }

    test::CScopedJournal m_journal;
    test::CTempDir m_files;
    std::mutex m_mutex;
    std::vector<std::string> m_notices;
    std::condition_variable m_noticed;
    std::unique_ptr<CJournalWriter> m_pWriter = std::make_unique<CJournalWriter>(JournalFilePath(), [this](const std::string& strText) {
        const std::lock_guard lock(m_mutex);
        m_notices.push_back(strText);
        m_noticed.notify_all();
    });
    CRunRecorder m_recorder{*m_pWriter, "window"};
};

TEST(ImageDigest, Sha256OfKnownTextsAndOfAFileLongerThanOneRead)
{
    test::CTempDir files;
    EXPECT_EQ(Sha256OfFile(files.Write("abc", {'a', 'b', 'c'})), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256OfFile(files.Write("empty", {})), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const Bytes big = test::Pattern(5 * 1024 * 1024 / 2 + 17);
    EXPECT_EQ(Sha256OfFile(files.Write("big", big)), Sha256Of(big));
    EXPECT_EQ(Sha256OfFile(files.Path("missing")), "");
}

TEST_F(RecorderTest, TheRowOfACompletedAStoppedAndAFailedRun)
{
    CImageFile image;
    const Bytes bytes = BootImage(40 * 1024 + 100, 1);
    const std::string strPath = LoadImage(image, "new.bin", bytes);
    struct Case {
        RunOutcome eOutcome;
        SRunStatistics stats;
        const char* pszOutcome;
    } cases[] = {
        {RunOutcome::Completed, {1000, 1, 0, 41, 41060, "", "", 5000}, "completed"},
        {RunOutcome::Stopped, {1000, 0, 0, 20, 20480, "", "", 3000}, "stopped"},
        {RunOutcome::HandsetError, {1000, 3, 2, 7, 6144, "Flash failed: NAK_FAILED p1=0x00 p2=0x00", "", 1000}, "handset-error"},
    };
    const std::string strBefore = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
    for (const Case& c : cases) {
        m_recorder.OnRunStarted({3, "/dev/kestrel-no-such-tty", DLOAD_CHANGE_EMERGENCY, &image, nullptr});
        m_recorder.OnRunEnded(SummarizeRun(c.eOutcome, c.stats, {}), c.stats);
    }
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), std::size(cases));
    for (std::size_t n = 0; n < rows.size(); ++n) {
        const Case& c = cases[std::size(cases) - 1 - n];  // newest first
        const CJournalRow& row = rows[n];
        SCOPED_TRACE(c.pszOutcome);
        EXPECT_EQ(row.Text(JournalField::Outcome), c.pszOutcome);
        EXPECT_EQ(row.Text(JournalField::FrontEnd), "window");
        EXPECT_EQ(row.Number(JournalField::Port), 3);
        EXPECT_EQ(row.Text(JournalField::Device), "/dev/kestrel-no-such-tty");
        EXPECT_EQ(row.Text(JournalField::UsbSerial) + row.Text(JournalField::UsbVendorId) + row.Text(JournalField::UsbProductId), "");
        EXPECT_EQ(row.Text(JournalField::DownloadType), "CHANGE(EMERGENCY)");
        EXPECT_EQ(row.Text(JournalField::Image), strPath);
        EXPECT_EQ(row.Number(JournalField::ImageSize), static_cast<int64_t>(bytes.size()));
        EXPECT_EQ(row.Text(JournalField::ImageSha256), Sha256Of(bytes));
        EXPECT_EQ(row.Text(JournalField::ImageVersion), image.VersionText());
        EXPECT_EQ(row.Text(JournalField::OldImage), "");
        EXPECT_EQ(row.Number(JournalField::Retransmissions), c.stats.nRetransmissions);
        EXPECT_EQ(row.Number(JournalField::SupervisionExpiries), c.stats.nSupervisionExpiries);
        EXPECT_EQ(row.Number(JournalField::BlocksSent), c.stats.nBlocksSent);
        EXPECT_EQ(row.Number(JournalField::BytesWritten), static_cast<int64_t>(c.stats.qwBytesWritten));
        EXPECT_EQ(row.Text(JournalField::LastRedLine), c.stats.strLastRedLine);
        EXPECT_GE(row.Text(JournalField::StartedAt), strBefore);
        EXPECT_GE(row.Text(JournalField::EndedAt), row.Text(JournalField::StartedAt));
        EXPECT_EQ(row.Text(JournalField::EndedAt).back(), 'Z');
        // The run's own time, from Run to the end of its work: a message box after it does not count.
        const int64_t nDuration = c.stats.nEndMs - c.stats.nStartMs;
        EXPECT_EQ(row.Number(JournalField::DurationMs), nDuration);
        if (nDuration > 0) {
            EXPECT_EQ(row.Number(JournalField::BytesPerSecond), static_cast<int64_t>(c.stats.qwBytesWritten) * 1000 / nDuration);
        } else {
            EXPECT_FALSE(row.Number(JournalField::BytesPerSecond).has_value());
        }
    }
    EXPECT_TRUE(Notices().empty());
}

TEST_F(RecorderTest, ACompareRunRecordsTheOldImage)
{
    CImageFile image, old;
    LoadImage(image, "new.bin", BootImage(8 * 1024, 1));
    const Bytes oldBytes = BootImage(8 * 1024, 2);
    const std::string strOld = LoadImage(old, "old.bin", oldBytes);
    for (const int nType : {DLOAD_COMPARE_EMERGENCY, DLOAD_CHANGE_EMERGENCY}) {
        m_recorder.OnRunStarted({3, "/dev/kestrel-no-such-tty", nType, &image, &old});
        m_recorder.OnRunEnded(SummarizeRun(RunOutcome::NothingToDo, SRunStatistics{}, {}), SRunStatistics{});
    }
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].Text(JournalField::DownloadType), "COMPARE(EMERGENCY)");
    EXPECT_EQ(rows[1].Text(JournalField::OldImage), strOld);
    EXPECT_EQ(rows[1].Text(JournalField::OldImageSha256), Sha256Of(oldBytes));
    EXPECT_EQ(rows[1].Text(JournalField::Outcome), "nothing-to-do");
    EXPECT_EQ(rows[0].Text(JournalField::OldImage) + rows[0].Text(JournalField::OldImageSha256), "") << "not a COMPARE run";
}

TEST_F(RecorderTest, TheImageIsHashedWhenLoadedNotWhenRun)
{
    CImageFile image;
    const Bytes first = BootImage(16 * 1024, 1);
    const std::string strPath = LoadImage(image, "new.bin", first);
    m_pWriter->Flush();
    // Changed after the load, with a later time: the run does not take the new content for the loaded one.
    const Bytes second = BootImage(16 * 1024, 9);
    m_files.Write("new.bin", second);
    const timespec times[2] = {{0, UTIME_NOW}, {QDateTime::currentSecsSinceEpoch() + 10, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, strPath.c_str(), times, 0), 0);
    m_recorder.OnRunStarted({3, "", DLOAD_CHANGE_EMERGENCY, &image, nullptr});
    m_recorder.OnRunEnded(SummarizeRun(RunOutcome::Refused, SRunStatistics{}, {}), SRunStatistics{});
    int nType = DLOAD_CHANGE_EMERGENCY;
    ASSERT_TRUE(image.Load(strPath, nType));
    m_recorder.OnImageLoaded(image);
    m_recorder.OnRunStarted({3, "", DLOAD_CHANGE_EMERGENCY, &image, nullptr});
    m_recorder.OnRunEnded(SummarizeRun(RunOutcome::Completed, SRunStatistics{}, {}), SRunStatistics{});

    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].Text(JournalField::ImageSha256), "") << "the file changed since it was loaded";
    EXPECT_EQ(rows[0].Text(JournalField::ImageSha256), Sha256Of(second)) << "loaded again";
}

TEST_F(RecorderTest, AJournalHeldByAnotherWriterDoesNotHoldUpTheRun)
{
    m_pWriter->Flush();
    CSqliteDb other;
    ASSERT_EQ(other.Open(JournalFilePath(), SQLITE_OPEN_READWRITE), SQLITE_OK);
    ASSERT_EQ(other.Exec("BEGIN IMMEDIATE"), SQLITE_OK);
    // Both calls come back while this thread holds the write lock: the writer's thread waits.
    m_recorder.OnRunStarted({4, "", DLOAD_CHANGE_EMERGENCY, nullptr, nullptr});
    m_recorder.OnRunEnded(SummarizeRun(RunOutcome::Completed, SRunStatistics{}, {}), SRunStatistics{});
    ASSERT_EQ(other.Exec("COMMIT"), SQLITE_OK);

    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Text(JournalField::Outcome), "completed");
    EXPECT_TRUE(Notices().empty());
}

// Another process holds the write lock for longer than a statement waits: the rows wait, in
// order, and are written once it lets go; a row that waited is updated, not written twice.
TEST_F(RecorderTest, RowsWaitForALockedJournalAndAreWrittenWhenItIsFree)
{
    m_pWriter->Flush();
    test::CChildProcess lock({KESTREL_JOURNAL_RUNS, "--lock"});
    ASSERT_EQ(lock.ReadLine(10000), "locked");
    m_recorder.OnRunStarted({4, "", DLOAD_CHANGE_EMERGENCY, nullptr, nullptr});
    m_recorder.OnRunEnded(SummarizeRun(RunOutcome::Completed, SRunStatistics{}, {}), SRunStatistics{});
    CRunRecorder second(*m_pWriter, "station");
    second.OnRunStarted({5, "", DLOAD_CHANGE_EMERGENCY, nullptr, nullptr});
    const std::string waiting = WaitForNotice(" wait, and are recorded when the journal is free.");
    EXPECT_NE(waiting.find("is held by another program"), std::string::npos) << waiting;
    EXPECT_NE(waiting.find("the run on port 4 started "), std::string::npos) << waiting;

    lock.Signal(SIGKILL);
    lock.Wait(10000);
    EXPECT_EQ(WaitForNotice("Journal: the runs that waited are recorded now."), "Journal: the runs that waited are recorded now.");
    second.OnRunEnded(SummarizeRun(RunOutcome::HandsetError, SRunStatistics{}, {}), SRunStatistics{});
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].Number(JournalField::Port), 4) << "oldest first";
    EXPECT_EQ(rows[1].Text(JournalField::Outcome), "completed");
    EXPECT_EQ(rows[0].Number(JournalField::Port), 5);
    EXPECT_EQ(rows[0].Text(JournalField::Outcome), "handset-error");
    EXPECT_EQ(Notices().size(), 2u) << "nothing lost";
}

// The lock is held past the close: the close gives up after a moment instead of waiting for
// it (were it to wait, this test would hang), and names the runs it drops.
TEST_F(RecorderTest, TheCloseDropsWhatStillWaitsAndNamesIt)
{
    m_pWriter->Flush();
    test::CChildProcess lock({KESTREL_JOURNAL_RUNS, "--lock"});
    ASSERT_EQ(lock.ReadLine(10000), "locked");
    for (const int nPort : {4, 5}) {
        m_recorder.OnRunStarted({nPort, "", DLOAD_CHANGE_EMERGENCY, nullptr, nullptr});
        m_recorder.OnRunEnded(SummarizeRun(RunOutcome::Completed, SRunStatistics{}, {}), SRunStatistics{});
    }
    m_pWriter->Close();
    const std::vector<std::string> notices = Notices();
    ASSERT_FALSE(notices.empty());
    const std::regex lost("^Journal: 2 runs are not recorded: the run on port 4 started [-0-9T:.]+Z; "
                          "the run on port 5 started [-0-9T:.]+Z\\.$");
    EXPECT_TRUE(std::regex_match(notices.back(), lost)) << notices.back();
    lock.Signal(SIGKILL);
    lock.Wait(10000);
    EXPECT_TRUE(Rows().empty());
}

TEST_F(RecorderTest, AFileMovedAsideIsToldOnce)
{
    m_pWriter.reset();
    std::ofstream(JournalFilePath(), std::ios::trunc) << "these are not the droids you are looking for";
    m_pWriter = std::make_unique<CJournalWriter>(JournalFilePath(), [this](const std::string& strText) {
        const std::lock_guard lock(m_mutex);
        m_notices.push_back(strText);
    });
    CRunRecorder recorder(*m_pWriter, "cli");
    recorder.OnRunStarted({3, "", DLOAD_CHANGE_EMERGENCY, nullptr, nullptr});
    recorder.OnRunEnded(SummarizeRun(RunOutcome::Completed, SRunStatistics{}, {}), SRunStatistics{});
    const auto notices = Notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("moved to " + fs::path(JournalFilePath()).parent_path().string() + "/journal.unreadable-"),
              std::string::npos)
        << notices[0];
    EXPECT_EQ(Rows().size(), 1u);
}

// ---- Processes of their own ----

class JournalProcesses : public testing::Test {
protected:
    static test::CChildProcess Runs(std::vector<std::string> args)
    {
        args.insert(args.begin(), KESTREL_JOURNAL_RUNS);
        return test::CChildProcess(args);
    }
    static std::vector<CJournalRow> Rows(SJournalFilter filter = {}) { return test::JournalRuns(filter); }

    test::CScopedJournal m_journal;
};

TEST_F(JournalProcesses, TwoWritersAtOnceLoseNoRow)
{
    constexpr int kRuns = 150;
    test::CChildProcess first = Runs({std::to_string(kRuns), "1"});
    test::CChildProcess second = Runs({std::to_string(kRuns), "2"});
    const auto r1 = first.Finish(120000);
    const auto r2 = second.Finish(120000);
    EXPECT_EQ(r1.nExitCode, 0) << r1.strOut << r1.strErr;
    EXPECT_EQ(r2.nExitCode, 0) << r2.strOut << r2.strErr;
    EXPECT_EQ(r1.strOut + r2.strOut, "") << "no notice: nothing was lost";
    for (const int nPort : {1, 2}) {
        SJournalFilter filter;
        filter.optPort = nPort;
        const auto rows = Rows(filter);
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRuns)) << "port " << nPort;
        for (std::size_t n = 0; n < rows.size(); ++n) {
            EXPECT_EQ(rows[n].Text(JournalField::Outcome), "completed");
            EXPECT_EQ(rows[n].Number(JournalField::BlocksSent), static_cast<int64_t>(kRuns - 1 - n)) << "in order";
        }
    }
}

TEST_F(JournalProcesses, AWriterKilledInTheMiddleOfARunLeavesItInterrupted)
{
    ASSERT_EQ(Runs({"2", "1"}).Finish(30000).nExitCode, 0);
    test::CChildProcess held = Runs({"--hold", "2"});
    ASSERT_EQ(held.ReadLine(30000), "started");
    ASSERT_EQ(Rows()[0].Text(JournalField::Outcome), "running") << "while its process lives";
    held.Signal(SIGKILL);
    ASSERT_EQ(held.Wait(10000), -SIGKILL);

    // The next start.
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].Text(JournalField::Outcome), "interrupted");
    EXPECT_EQ(rows[0].Text(JournalField::EndedAt), "");
    EXPECT_EQ(rows[1].Text(JournalField::Outcome), "completed");
    EXPECT_EQ(rows[2].Text(JournalField::Outcome), "completed");
}

TEST_F(JournalProcesses, AFolderThatMayNotBeWrittenIsToldOnceAndTheRunsGoOn)
{
    ASSERT_EQ(Runs({"2", "1"}).Finish(30000).nExitCode, 0);
    const fs::path folder = fs::path(JournalFilePath()).parent_path();
    // "nobody" finds its way to the folder but may write neither it nor the journal.
    constexpr auto kReadable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec;
    constexpr auto kWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    for (fs::path dir = folder; dir != fs::path(m_journal.Folder()).parent_path(); dir = dir.parent_path())
        fs::permissions(dir, kReadable);
    fs::permissions(folder, kWrite, fs::perm_options::remove);
    fs::permissions(JournalFilePath(), kWrite, fs::perm_options::remove);

    const auto r = Runs({"--as-nobody", "3", "2"}).Finish(30000);
    fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(r.nExitCode, 0) << r.strErr;
    // Told once when it happens, and which runs at the close.
    EXPECT_EQ(std::count(r.strOut.begin(), r.strOut.end(), '\n'), 2) << r.strOut;
    EXPECT_EQ(r.strOut.rfind("notice: Journal: runs are not recorded.", 0), 0u) << r.strOut;
    EXPECT_NE(r.strOut.find("\nnotice: Journal: 3 runs are not recorded: the run on port 2 started "), std::string::npos) << r.strOut;
    EXPECT_EQ(Rows().size(), 2u) << "the journal is as it was";
}

}  // namespace
}  // namespace kestrel
