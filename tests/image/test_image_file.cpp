#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "image/build_date_code.h"
#include "image/download_type.h"
#include "image/image_file.h"
#include "test_files.h"

namespace kestrel {
namespace {

using test::Bytes;
using test::CTempDir;
using test::Pattern;
using test::Put;

// A boot image of the given size: the marker, version digits and a build stamp at 0x20.
Bytes BootImage(std::size_t size, std::string_view digits = "123", std::string_view stamp = "Mar 15 200714:22:05")
{
    Bytes image(size, 0xFF);
    Put(image, kBuildDateOffset, stamp);
    Put(image, kVersionDigitsOffset, digits);
    Put(image, kBootMarkerOffset, "BOOT");
    image.resize(size);
    return image;
}

bool IsPrintableAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

TEST(BuildDateCode, FromDateAndTime)
{
    struct Case {
        std::string_view stamp;  // 11 date and 8 time characters
        std::optional<std::string> code;
    };
    const Case cases[] = {
        {"Mar 15 200714:22:05", "AC15 [14:22:05]"},
        {"Jan  5 200809:03:01", "BA 5 [09:03:01]"},
        {"Dec 31 199923:59:59", "SL31 [23:59:59]"},
        {"Jan 01 198100:00:00", "AA01 [00:00:00]"},
        {"Jan 01 200600:00:00", "ZA01 [00:00:00]"},
        {"Jan 01 208000:00:00", "VA01 [00:00:00]"},  // the last year before the letters repeat
        {"Jan 01 208100:00:00", "AA01 [00:00:00]"},
        {"Sep 09 198009:09:09", "VI09 [09:09:09]"},  // 1980 reads as 2080
        {"MAR 15 200714:22:05", std::nullopt},
        {"mar 15 200714:22:05", std::nullopt},
        {"Ma  15 200714:22:05", std::nullopt},
        {"Mar 15 200714:22:0", std::nullopt},  // cut short
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.stamp));
        EXPECT_EQ(MakeBuildDateCode(c.stamp), c.code);
    }
}

TEST(BuildDateCode, BytesFromTheImageGiveValidText)
{
    const std::string_view stamps[] = {
        {"Jan 0/ 20xy12:3\x00:\xff\xfe", 19},
        {"Feb \x1b\n 19\x80\x7f\xc3\xa9:00:00", 19},
        {"Dec ab 2\xff\xff\xff" "AB/CD\\EF", 19},
    };
    for (const auto stamp : stamps) {
        const auto code = MakeBuildDateCode(stamp);
        ASSERT_TRUE(code.has_value());
        EXPECT_EQ(code->size(), 15u);
        EXPECT_TRUE(IsPrintableAscii(*code)) << *code;
        EXPECT_GE((*code)[0], 'A');
        EXPECT_LE((*code)[0], 'Z');
    }
}

struct LoadedImage {
    bool bLoaded;
    int nType;
    int32_t nVersion;
    std::string strCode;
};

class ImageFileTest : public ::testing::Test {
protected:
    LoadedImage Load(const std::string& path, int nType = DLOAD_NORMAL)
    {
        const bool bLoaded = m_image.Load(path, nType);
        return {bLoaded, nType, m_image.VersionNumber(), m_image.BuildDateCode()};
    }

    CTempDir m_dir;
    CImageFile m_image;
};

TEST_F(ImageFileTest, VersionAndDateFromEitherPlace)
{
    struct Case {
        const char* name;
        Bytes image;
        int32_t nVersion;
        const char* code;
    };
    Bytes second = BootImage(0x20100, "999");
    Put(second, kSecondVersionOffset, std::string_view("\x34\x12\x00\x00", 4));
    Put(second, kSecondBuildDateOffset, "Jan  5 200809:03:01");
    Bytes secondAtEnd = BootImage(0x20026);  // ends inside the field: 01 00, then read as FF FF
    Put(secondAtEnd, kSecondVersionOffset, std::string_view("\x01\x00", 2));
    Bytes secondDateCut = second;
    secondDateCut.resize(kSecondBuildDateOffset + 18);
    Bytes oneFF = BootImage(0x20100, "7");
    Put(oneFF, kSecondVersionOffset, std::string_view("\xff\xff\xff\xfe", 4));
    const Case cases[] = {
        {"all FF at 0x20024", BootImage(0x20100, "12A"), 12, "AC15 [14:22:05]"},
        {"file ends before 0x20024", BootImage(0x1000, " 7 "), 7, "AC15 [14:22:05]"},
        {"exactly 0x3B bytes", BootImage(0x3B, "-5x"), -5, "AC15 [14:22:05]"},
        {"no digits", BootImage(0x1000, "abc"), 0, "AC15 [14:22:05]"},
        {"second field", second, 0x1234, "BA 5 [09:03:01]"},
        {"one byte not FF", oneFF, 0xFFFF, "0000 [00:00:00]"},
        {"second field cut by the end", secondAtEnd, 1, "0000 [00:00:00]"},
        {"second date one byte short", secondDateCut, 0x1234, "0000 [00:00:00]"},
        {"month in capitals", BootImage(0x1000, "1", "MAR 15 200714:22:05"), 1, "0000 [00:00:00]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto loaded = Load(m_dir.Write("img.bin", c.image));
        EXPECT_TRUE(loaded.bLoaded);
        EXPECT_TRUE(m_image.IsBootImage());
        EXPECT_EQ(loaded.nVersion, c.nVersion);
        EXPECT_EQ(loaded.strCode, c.code);
        EXPECT_EQ(m_image.Size(), static_cast<int32_t>(c.image.size()));
    }
}

TEST_F(ImageFileTest, VersionTextAsTheWindowShowsIt)
{
    Load(m_dir.Write("boot.bin", BootImage(4096)));
    EXPECT_EQ(m_image.VersionText(), "123.AC15 [14:22:05]");
    Load(m_dir.Write("font.bin", Bytes(4096, 0x00)));
    EXPECT_EQ(m_image.VersionText(), "0.");
    Load(m_dir.Write("odd.bin", BootImage(4096, "1", std::string_view("Apr \xff\x01 2010\xc3(:\n\t:00\x00", 19))));
    EXPECT_EQ(m_image.VersionText(), "1.DD?? [?(:??:00]");
}

TEST_F(ImageFileTest, LoadAdaptsTheDownloadType)
{
    const std::string boot = m_dir.Write("boot.bin", BootImage(2048));
    const std::string font = m_dir.Write("font.bin", Pattern(2048));
    Bytes cutMarker = BootImage(0x3B);
    cutMarker.pop_back();
    const std::string shortBoot = m_dir.Write("short.bin", cutMarker);
    struct Case {
        int nSelected;
        int nBoot;
        int nFont;
    };
    const Case cases[] = {
        {DLOAD_NORMAL, DLOAD_CHANGE_EMERGENCY, DLOAD_FONT_EMERGENCY},
        {DLOAD_EMERGENCY, DLOAD_CHANGE_EMERGENCY, DLOAD_FONT_EMERGENCY},
        {DLOAD_FONT_NORMAL, DLOAD_CHANGE_EMERGENCY, DLOAD_FONT_NORMAL},
        {DLOAD_FONT_EMERGENCY, DLOAD_CHANGE_EMERGENCY, DLOAD_FONT_EMERGENCY},
        {DLOAD_CHANGE_NORMAL, DLOAD_CHANGE_NORMAL, DLOAD_FONT_EMERGENCY},
        {DLOAD_CHANGE_EMERGENCY, DLOAD_CHANGE_EMERGENCY, DLOAD_FONT_EMERGENCY},
        {DLOAD_COMPARE_EMERGENCY, DLOAD_COMPARE_EMERGENCY, DLOAD_FONT_EMERGENCY},
        {9, 9, DLOAD_FONT_EMERGENCY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nSelected);
        EXPECT_EQ(Load(boot, c.nSelected).nType, c.nBoot);
        const auto loadedFont = Load(font, c.nSelected);
        EXPECT_EQ(loadedFont.nType, c.nFont);
        EXPECT_FALSE(m_image.IsBootImage());
        EXPECT_EQ(loadedFont.nVersion, 0);
        EXPECT_EQ(loadedFont.strCode, "");
        // A file that ends inside the marker has none.
        EXPECT_EQ(Load(shortBoot, c.nSelected).nType, c.nFont);
    }
}

TEST_F(ImageFileTest, LoadRefusesWhatIsNoImageFile)
{
    const std::string fifo = m_dir.Path("fifo.bin");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string plain = m_dir.Write("plain.bin", Bytes(10, 1));
    std::filesystem::create_directory(m_dir.Path("folder.bin"));
    // The reason follows the path, except for a file that is not there.
    const std::pair<std::string, std::string> cases[] = {
        {m_dir.Path("missing.bin"), ""},
        {m_dir.Path("folder.bin"), " (a folder, not a file)"},
        {fifo, " (a FIFO, not a file)"},
        {"/dev/null", " (not a regular file)"},
        {plain + "/x.bin", " (Not a directory)"},
        {"", ""},
    };
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path);
        // A good load first, so that the failure must reset everything.
        ASSERT_TRUE(Load(m_dir.Write("good.bin", BootImage(2048))).bLoaded);
        const auto loaded = Load(path, DLOAD_NORMAL);
        EXPECT_FALSE(loaded.bLoaded);
        EXPECT_EQ(loaded.nType, DLOAD_NORMAL);
        EXPECT_EQ(m_image.LastError(), "다음 파일을 열 수 없습니다. " + path + reason);
        EXPECT_EQ(m_image.Path(), path);
        EXPECT_EQ(m_image.Size(), 0);
        EXPECT_EQ(m_image.VersionText(), "0.");
        EXPECT_FALSE(m_image.IsOpen());
    }
}

TEST_F(ImageFileTest, ImagesOfTwoGibibytesAreRefused)
{
    // Sparse files: no disk space is used.
    const std::string largest = m_dir.Path("largest.bin");
    const std::string tooLarge = m_dir.Path("large.bin");
    std::filesystem::resize_file(m_dir.Write("largest.bin", {}), 0x7FFFFFFF);
    std::filesystem::resize_file(m_dir.Write("large.bin", {}), 0x80000000);

    EXPECT_TRUE(Load(largest).bLoaded);
    EXPECT_EQ(m_image.Size(), 0x7FFFFFFF);
    BlockPacket block;
    bool bPending = false;
    EXPECT_TRUE(m_image.ReadBlock(0, 0x1FFFFF, block, bPending));
    EXPECT_EQ(block.dwOffset, 0x7FFFFC00u);
    EXPECT_EQ(block.data[1022], 0x00);
    EXPECT_EQ(block.data[1023], 0xFF);

    const auto loaded = Load(tooLarge, DLOAD_EMERGENCY);
    EXPECT_FALSE(loaded.bLoaded);
    EXPECT_EQ(loaded.nType, DLOAD_EMERGENCY);
    EXPECT_EQ(m_image.Size(), 0);
    EXPECT_EQ(m_image.LastError(), " " + tooLarge + " is 2 GiB or larger and cannot be downloaded\n Please Check bin_file !");
}

class ImageBlockTest : public ImageFileTest {
protected:
    void SetUp() override
    {
        m_content = Pattern(2500);
        m_strPath = m_dir.Write("img.bin", m_content);
        ASSERT_TRUE(Load(m_strPath).bLoaded);
    }

    Bytes Expected(std::size_t offset) const
    {
        Bytes expected(kBlockSize, 0xFF);
        for (std::size_t i = 0; i < kBlockSize && offset + i < m_content.size(); ++i) expected[i] = m_content[offset + i];
        return expected;
    }

    Bytes m_content;
    std::string m_strPath;
    BlockPacket m_block;
    bool m_bPending = false;
};

TEST_F(ImageBlockTest, BlocksArePaddedWithFF)
{
    struct Case {
        uint32_t dwBase;
        uint32_t dwIndex;
        bool bBounded;
        bool bRead;
        uint32_t dwOffset;
    };
    const Case cases[] = {
        {0, 0, true, true, 0},
        {0, 2, true, true, 2048},  // 452 bytes of the file, then FF
        {0x400, 1, true, true, 0x800},
        {0, 3, true, false, 3072},
        {2500, 0, true, false, 2500},  // offset equal to the size
        {2499, 0, true, true, 2499},
        {2500, 0, false, true, 2500},
        {0, 3, false, true, 3072},
        {0xFFFFFC00, 2, false, true, 0x400},  // 32-bit arithmetic wraps
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.dwBase << "+" << c.dwIndex << (c.bBounded ? " bounded" : " unbounded"));
        m_block.wLength = 0;
        const bool bRead = c.bBounded ? m_image.ReadBlock(c.dwBase, c.dwIndex, m_block, m_bPending)
                                      : m_image.ReadBlockUnbounded(c.dwBase, c.dwIndex, m_block, m_bPending);
        EXPECT_EQ(bRead, c.bRead);
        EXPECT_EQ(m_block.dwOffset, c.dwOffset);
        EXPECT_EQ(m_image.LastError(), "");
        EXPECT_TRUE(m_image.IsOpen()) << "kept open for the next block";
        if (c.bRead) {
            EXPECT_EQ(m_block.wLength, kBlockSize);
            EXPECT_EQ(Bytes(m_block.data.begin(), m_block.data.end()), Expected(c.dwOffset));
        }
    }
}

TEST_F(ImageBlockTest, SignatureBlocksAreMarkedOneAtATime)
{
    const std::string_view signature("\x01\x12\x73\x80\x40\x67\x24\x01", 8);
    Put(m_content, 0, signature);
    Put(m_content, 1024, signature);
    Put(m_content, 2048, signature);
    ASSERT_TRUE(Load(m_dir.Write("img.bin", m_content)).bLoaded);

    ASSERT_TRUE(m_image.ReadBlock(0, 0, m_block, m_bPending));
    EXPECT_EQ(m_block.data[7], 0x02);
    EXPECT_TRUE(m_bPending);
    ASSERT_TRUE(m_image.ReadBlock(0, 1, m_block, m_bPending));  // only clears the flag
    EXPECT_EQ(m_block.data[7], 0x01);
    EXPECT_FALSE(m_bPending);
    // A failed read leaves the flag alone.
    m_bPending = true;
    EXPECT_FALSE(m_image.ReadBlock(0, 3, m_block, m_bPending));
    EXPECT_TRUE(m_bPending);
    ASSERT_TRUE(m_image.ReadBlock(0, 2, m_block, m_bPending));
    EXPECT_EQ(m_block.data[7], 0x01);
    EXPECT_FALSE(m_bPending);
    ASSERT_TRUE(m_image.ReadBlockUnbounded(0, 2, m_block, m_bPending));
    EXPECT_EQ(m_block.data[7], 0x02);
    EXPECT_TRUE(m_bPending);
}

TEST_F(ImageBlockTest, ARunReadsTheFileItLoadedWhateverHappensToThePath)
{
    const std::string changed = " " + m_strPath + " has changed since it was loaded\n Please Check bin_file !";
    const std::string unreadable = " Fail to read from " + m_strPath + "\n Please Check bin_file !";
    ASSERT_TRUE(m_image.OpenForRun());

    // Another file moved over the path mid-run: the blocks still come from the loaded one.
    const std::string other = m_dir.Write("other.bin", Pattern(2500, 77));
    std::filesystem::rename(other, m_strPath);
    ASSERT_TRUE(m_image.ReadBlock(0, 2, m_block, m_bPending));
    EXPECT_EQ(Bytes(m_block.data.begin(), m_block.data.end()), Expected(2048));

    // Once closed, neither a run nor a block read takes the file now behind the path.
    m_image.Close();
    EXPECT_FALSE(m_image.OpenForRun());
    EXPECT_EQ(m_image.LastError(), changed);
    EXPECT_FALSE(m_image.ReadBlock(0, 0, m_block, m_bPending));
    EXPECT_EQ(m_image.LastError(), unreadable);
    EXPECT_FALSE(m_image.IsOpen());
}

TEST_F(ImageBlockTest, ReadsFailWhenTheFileChangedUnderneath)
{
    const std::string changed = " " + m_strPath + " has changed since it was loaded\n Please Check bin_file !";
    const std::string unreadable = " Fail to read from " + m_strPath + "\n Please Check bin_file !";
    ASSERT_TRUE(m_image.OpenForRun());

    // Longer: bytes past the size seen at load do not belong to the image.
    std::filesystem::resize_file(m_strPath, 3000);
    ASSERT_TRUE(m_image.ReadBlock(0, 2, m_block, m_bPending));
    EXPECT_EQ(Bytes(m_block.data.begin(), m_block.data.end()), Expected(2048));
    m_image.Close();
    EXPECT_FALSE(m_image.OpenForRun());
    EXPECT_EQ(m_image.LastError(), changed);

    // Shorter under an open run: the missing bytes are not replaced by padding.
    std::filesystem::resize_file(m_strPath, 2500);
    ASSERT_TRUE(m_image.OpenForRun());
    std::filesystem::resize_file(m_strPath, 1500);
    EXPECT_TRUE(m_image.ReadBlock(0, 0, m_block, m_bPending));
    for (const bool bBounded : {true, false}) {
        EXPECT_FALSE(bBounded ? m_image.ReadBlock(0, 1, m_block, m_bPending)
                              : m_image.ReadBlockUnbounded(0, 1, m_block, m_bPending));
        EXPECT_EQ(m_image.LastError(), unreadable);
        EXPECT_FALSE(m_image.IsOpen());
    }

    std::filesystem::remove(m_strPath);
    EXPECT_FALSE(m_image.ReadBlockUnbounded(0, 5, m_block, m_bPending));
    EXPECT_EQ(m_image.LastError(), unreadable);
    EXPECT_FALSE(m_image.OpenForReading());
    EXPECT_EQ(m_image.LastError(), unreadable);
    EXPECT_FALSE(m_image.OpenForRun());
}

}  // namespace
}  // namespace kestrel
