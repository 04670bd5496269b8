#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "image/download_type.h"
#include "image/image_compare.h"
#include "test_files.h"

namespace kestrel {
namespace {

using test::Bytes;
using test::CTempDir;
using test::Pattern;

constexpr std::size_t kBlock = kCompareBlockSize;
using Runs = std::vector<std::pair<int32_t, int32_t>>;
using LogLines = std::vector<std::pair<int, std::string>>;

class CompareTest : public ::testing::Test {
protected:
    // Writes both images and loads them as the window would.
    void Prepare(const Bytes& newImage, const Bytes& oldImage)
    {
        int nType = DLOAD_COMPARE_EMERGENCY;
        ASSERT_TRUE(m_new.Load(m_dir.Write("new.bin", newImage), nType));
        ASSERT_TRUE(m_old.Load(m_dir.Write("old.bin", oldImage), nType));
    }

    CompareStatus Compare()
    {
        m_log.clear();
        return CompareImages(m_new, m_old, m_table, [this](int nKind, std::string_view text) { m_log.emplace_back(nKind, text); },
                             m_strError);
    }

    Runs TableRuns() const
    {
        Runs runs;
        for (int32_t i = 0; i < m_table.RunCount(); ++i) runs.emplace_back(m_table.Run(i).nStartBlock, m_table.Run(i).nBlockCount);
        return runs;
    }

    CTempDir m_dir;
    CImageFile m_new;
    CImageFile m_old;
    CRunTable m_table;
    LogLines m_log;
    std::string m_strError;
};

// The old image: the new one with one byte changed in each listed block, then cut or extended.
Bytes OldImage(const Bytes& newImage, const std::vector<std::size_t>& differing, std::size_t oldSize)
{
    Bytes old = newImage;
    old.resize(oldSize, 0x5A);
    for (const std::size_t block : differing) {
        // The last byte the new image has in the block, so a short final block is covered too.
        const std::size_t at = std::min(newImage.size(), (block + 1) * kBlock) - 1;
        if (at < old.size()) old[at] = static_cast<uint8_t>(~old[at]);
    }
    return old;
}

TEST_F(CompareTest, RunsOfDifferingBlocks)
{
    struct Case {
        const char* name;
        std::size_t newSize;
        std::size_t oldSize;
        std::vector<std::size_t> differing;
        Runs runs;
    };
    const Case cases[] = {
        {"worked example", 10 * kBlock, 10 * kBlock, {2, 3, 7}, {{2, 2}, {7, 1}}},
        {"identical", 10 * kBlock, 10 * kBlock, {}, {}},
        {"all differ", 5 * kBlock, 5 * kBlock, {0, 1, 2, 3, 4}, {{0, 5}}},
        {"alternating", 6 * kBlock, 6 * kBlock, {0, 2, 4}, {{0, 1}, {2, 1}, {4, 1}}},
        {"first and last", 6 * kBlock, 6 * kBlock, {0, 5}, {{0, 1}, {5, 1}}},
        {"only the last block, exact multiple", 4 * kBlock, 4 * kBlock, {3}, {{3, 1}}},
        {"two equal blocks between", 6 * kBlock, 6 * kBlock, {1, 4}, {{1, 1}, {4, 1}}},
        {"old longer, extra blocks never compared", 3 * kBlock, 5 * kBlock, {}, {}},
        {"old shorter by whole blocks", 3 * kBlock, 2 * kBlock, {}, {{2, 1}}},
        {"old empty", 2 * kBlock, 0, {}, {{0, 2}}},
        {"empty new", 0, 3 * kBlock, {}, {}},
        {"short final block, old has every byte", 2 * kBlock + 100, 3 * kBlock, {}, {}},
        {"short final block, its last byte differs", 2 * kBlock + 100, 2 * kBlock + 100, {2}, {{2, 1}}},
        {"short final block, old one byte shorter", 2 * kBlock + 100, 2 * kBlock + 99, {}, {{2, 1}}},
        {"one short block only", 100, 100, {0}, {{0, 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes newImage = Pattern(c.newSize);
        Prepare(newImage, OldImage(newImage, c.differing, c.oldSize));
        ASSERT_EQ(Compare(), CompareStatus::kCompared);
        EXPECT_EQ(TableRuns(), c.runs);
        EXPECT_EQ(m_table.Run(0).nBlockCount == 0, c.runs.empty());
        EXPECT_FALSE(m_new.IsOpen());
        EXPECT_FALSE(m_old.IsOpen());
        int32_t nTotal = 0;
        for (const auto& run : c.runs) nTotal += run.second;
        ASSERT_GE(m_log.size(), 3u);
        const LogLines closing(m_log.end() - 3, m_log.end());
        const LogLines expected{{2, "다운로드 반복 횟수 " + std::to_string(c.runs.size())},
                                {2, "Total Different Download Blocks: " + std::to_string(nTotal)},
                                {3, "Compare Complete"}};
        EXPECT_EQ(closing, expected);
    }
}

TEST_F(CompareTest, WorkedExampleLogsAsTheButtonShows)
{
    const Bytes newImage = Pattern(10 * kBlock);
    Prepare(newImage, OldImage(newImage, {2, 3, 7}, 10 * kBlock));
    ASSERT_EQ(Compare(), CompareStatus::kCompared);
    const LogLines expected{{2, "Different Start Block Index is 2 &&& Count is 2"},
                            {2, "Different Start Block Index is 7 &&& Count is 1"},
                            {2, "다운로드 반복 횟수 2"},
                            {2, "Total Different Download Blocks: 3"},
                            {3, "Compare Complete"}};
    EXPECT_EQ(m_log, expected);
    EXPECT_EQ(m_table.TotalDifferentBlocks(m_table.RunCount()), 3);
    EXPECT_EQ(m_table.TotalDifferentBlocks(1), 2);
}

TEST_F(CompareTest, MoreThan128RunsMergeIntoTheLast)
{
    // 150 differing blocks, each between equal ones.
    const std::size_t nBlocks = 300;
    std::vector<std::size_t> differing;
    for (std::size_t b = 0; b < nBlocks; b += 2) differing.push_back(b);
    const Bytes newImage = Pattern(nBlocks * kBlock);
    Prepare(newImage, OldImage(newImage, differing, newImage.size()));
    ASSERT_EQ(Compare(), CompareStatus::kCompared);

    ASSERT_EQ(m_table.RunCount(), CRunTable::kMaxRuns);
    for (int32_t i = 0; i + 1 < CRunTable::kMaxRuns; ++i) {
        ASSERT_EQ(m_table.Run(i).nStartBlock, 2 * i);
        ASSERT_EQ(m_table.Run(i).nBlockCount, 1);
    }
    // The last run reaches from block 254 to the last differing block, 298.
    EXPECT_EQ(m_table.Run(127).nStartBlock, 254);
    EXPECT_EQ(m_table.Run(127).nBlockCount, 45);
    for (const std::size_t b : differing) {
        bool covered = false;
        for (int32_t i = 0; i < m_table.RunCount(); ++i) {
            const SRunEntry run = m_table.Run(i);
            covered = covered || (static_cast<int32_t>(b) >= run.nStartBlock && static_cast<int32_t>(b) < run.nStartBlock + run.nBlockCount);
        }
        EXPECT_TRUE(covered) << b;
    }
    const LogLines tail(m_log.end() - 5, m_log.end());
    const LogLines expected{{2, "More than 128 different ranges: Block Index 254 to 298 are downloaded as one range"},
                            {2, "Different Start Block Index is 254 &&& Count is 45"},
                            {2, "다운로드 반복 횟수 128"},
                            {2, "Total Different Download Blocks: 172"},
                            {3, "Compare Complete"}};
    EXPECT_EQ(tail, expected);
    EXPECT_EQ(m_log.size(), 127u + 5u);
}

TEST_F(CompareTest, ExactlyOneHundredTwentyEightRunsNeedNoMerge)
{
    std::vector<std::size_t> differing;
    for (std::size_t b = 0; b < 256; b += 2) differing.push_back(b);
    const Bytes newImage = Pattern(256 * kBlock);
    Prepare(newImage, OldImage(newImage, differing, newImage.size()));
    ASSERT_EQ(Compare(), CompareStatus::kCompared);
    EXPECT_EQ(m_table.RunCount(), 128);
    EXPECT_EQ(m_table.Run(127).nStartBlock, 254);
    EXPECT_EQ(m_table.Run(127).nBlockCount, 1);
    EXPECT_EQ(m_log.size(), 128u + 3u);
    EXPECT_EQ(m_log[127].second, "Different Start Block Index is 254 &&& Count is 1");
}

TEST_F(CompareTest, AComparisonThatCannotRunIsAnError)
{
    const Bytes newImage = Pattern(3 * kBlock);
    Prepare(newImage, OldImage(newImage, {1}, newImage.size()));
    ASSERT_EQ(Compare(), CompareStatus::kCompared);
    ASSERT_EQ(m_table.RunCount(), 1);

    const std::string oldMessage = " Fail to read from " + m_old.Path() + "\n Please Check bin_file !";
    const std::string newMessage = " Fail to read from " + m_new.Path() + "\n Please Check bin_file !";
    struct Case {
        const char* name;
        void (*damage)(const std::string& newPath, const std::string& oldPath);
        bool bOldFails;
    };
    const Case cases[] = {
        {"old image gone", [](const std::string&, const std::string& o) { std::filesystem::remove(o); }, true},
        {"old image is a folder now",
         [](const std::string&, const std::string& o) {
             std::filesystem::remove(o);
             std::filesystem::create_directory(o);
         },
         true},
        {"new image gone", [](const std::string& n, const std::string&) { std::filesystem::remove(n); }, false},
        {"new image shorter than at load", [](const std::string& n, const std::string&) { std::filesystem::resize_file(n, kBlock + 1); },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Prepare(newImage, OldImage(newImage, {1}, newImage.size()));
        c.damage(m_new.Path(), m_old.Path());
        EXPECT_EQ(Compare(), CompareStatus::kFailed);
        const std::string& message = c.bOldFails ? oldMessage : newMessage;
        EXPECT_EQ(m_strError, message);
        EXPECT_EQ(m_log, (LogLines{{3, message}}));
        EXPECT_EQ(m_table.RunCount(), 0);
        EXPECT_EQ(m_table.Run(0).nBlockCount, 0);
        EXPECT_FALSE(m_new.IsOpen());
        EXPECT_FALSE(m_old.IsOpen());
        std::filesystem::remove_all(m_old.Path());
    }

    // A new image whose load failed cannot be compared either.
    int nType = DLOAD_NORMAL;
    EXPECT_FALSE(m_new.Load(m_dir.Path("missing.bin"), nType));
    EXPECT_EQ(Compare(), CompareStatus::kFailed);
    EXPECT_EQ(m_strError, " Fail to read from " + m_dir.Path("missing.bin") + "\n Please Check bin_file !");
}

TEST_F(CompareTest, WithoutAnOldImageNothingHappens)
{
    const Bytes newImage = Pattern(3 * kBlock);
    Prepare(newImage, OldImage(newImage, {1}, newImage.size()));
    ASSERT_EQ(Compare(), CompareStatus::kCompared);

    CImageFile noImage;
    m_log.clear();
    EXPECT_EQ(CompareImages(m_new, noImage, m_table, [this](int k, std::string_view t) { m_log.emplace_back(k, t); }, m_strError),
              CompareStatus::kNotRun);
    EXPECT_EQ(CompareImages(noImage, m_old, m_table, [this](int k, std::string_view t) { m_log.emplace_back(k, t); }, m_strError),
              CompareStatus::kNotRun);
    EXPECT_TRUE(m_log.empty());
    EXPECT_EQ(TableRuns(), (Runs{{1, 1}}));
}

}  // namespace
}  // namespace kestrel
