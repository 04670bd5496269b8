// Slots as text, and the nodes they lead to through real files and links in a temporary folder.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>

#include "services/slot_resolver.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

TEST(SlotText, AcceptsComNumbersAbsolutePathsAndUsbIdPaths)
{
    const struct {
        const char* pszSlot;
        SSlotParts parts;
    } cases[] = {
        {"3", {.nPort = 3}},
        {"COM3", {.nPort = 3}},
        {"com255", {.nPort = 255}},
        {"/dev/ttyACM0", {.strPath = "/dev/ttyACM0"}},
        {"/dev//serial/./by-id/../by-path/x", {.strPath = "/dev/serial/by-path/x"}},
        {"/home/op/hub a/port 3", {.strPath = "/home/op/hub a/port 3"}},
        {"usb:pci-0000:00:14.0-usb-0:3:1.0", {.strIdPath = "pci-0000:00:14.0-usb-0:3:1.0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszSlot);
        EXPECT_EQ(ParseSlot(c.pszSlot), c.parts);
    }
}

TEST(SlotText, RefusesWhatNamesNoSlotEverywhere)
{
    for (const char* pszSlot : {"", "0", "256", "COM", "COM0", "-3", " 3", "3 ", "ttyACM0", "./ttyACM0", "dev/ttyACM0",
                                "SLOT3", "usb:", "usb:pci-0000:00:14.0 usb-0:3:1.0", "usb:../by-path", "USB:pci-0000",
                                "/dev/ttyACM0\n", "/dev/tty\x1b[2J"}) {
        SCOPED_TRACE(pszSlot);
        EXPECT_FALSE(ParseSlot(pszSlot).has_value());
    }
}

class SlotResolver : public testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("kestrel-slots-" + std::to_string(::getpid()));
        fs::create_directories(m_dir / "by-path");
        std::ofstream{m_dir / "ttyACM4"};
        fs::create_symlink("../ttyACM4", m_dir / "by-path" / "port3");
        fs::create_symlink(m_dir / "by-path" / "port3", m_dir / "hub-a-3");
        fs::create_symlink("ttyACM9", m_dir / "dangling");
        ::setenv("KESTREL_COM201", (m_dir / "hub-a-3").c_str(), 1);
        ::setenv("KESTREL_COM202", (m_dir / "dangling").c_str(), 1);
        ::setenv("KESTREL_COM203", (m_dir / "by-path" / "port3").c_str(), 1);
        // Where a relative path would lead if it were taken.
        m_oldFolder = fs::current_path();
        fs::current_path(m_dir);
    }
    void TearDown() override
    {
        fs::current_path(m_oldFolder);
        for (const char* pszName : {"KESTREL_COM201", "KESTREL_COM202", "KESTREL_COM203"}) ::unsetenv(pszName);
        fs::remove_all(m_dir);
    }
    SettingLookup Settings() const
    {
        return [this](const std::string& name) {
            const auto it = m_settings.find(name);
            return it == m_settings.end() ? std::string() : it->second;
        };
    }

    fs::path m_dir;
    fs::path m_oldFolder;
    std::map<std::string, std::string> m_settings;
};

TEST_F(SlotResolver, LeadsThroughLinksAndTheComMapToTheNodeThereNow)
{
    const std::string strNode = (m_dir / "ttyACM4").string();
    m_settings = {{"COM203", (m_dir / "dangling").string()}, {"COM204", "ttyACM4"}};
    const struct {
        std::string strSlot;
        std::string strNode;
    } cases[] = {
        {strNode, strNode},
        {(m_dir / "by-path" / "port3").string(), strNode},
        {(m_dir / "hub-a-3").string(), strNode},  // a link to a link
        {(m_dir / "dangling").string(), ""},
        {(m_dir / "absent").string(), ""},
        {(m_dir / "by-path").string(), ""},  // a folder
        {"COM201", strNode},                 // by KESTREL_COM201
        {"202", ""},                         // by KESTREL_COM202, dangling
        {"203", ""},                         // the setting before the variable
        {"COM204", ""},                      // a relative path in the COM map
        {"COM250", ""},                      // the fixed scheme has none
        {"ttyACM4", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.strSlot);
        EXPECT_EQ(ResolveSlotNode(c.strSlot, Settings()), c.strNode);
    }
}

TEST_F(SlotResolver, ALabelBelongsToTheFirstSlotSettingThatNamesTheSameSlot)
{
    m_settings = {{"SLOT1", "usb:pci-0000:00:14.0-usb-0:3:1.0"}, {"SLOT1_LABEL", "Hub A port 3"},
                  {"SLOT2", "COM7"},                              {"SLOT2_LABEL", "Bench"},
                  {"SLOT4", "/dev/serial/by-path/x"},             {"SLOT4_LABEL", "Shelf"},
                  {"SLOT9", "7"},                                 {"SLOT9_LABEL", "Later"},
                  {"SLOT255_LABEL", "Last"},                      {"SLOT256_LABEL", "Beyond"}};
    const struct {
        const char* pszSlot;
        const char* pszLabel;
    } cases[] = {
        {"usb:pci-0000:00:14.0-usb-0:3:1.0", "Hub A port 3"},
        {"7", "Bench"},
        {"com7", "Bench"},
        {"/dev/serial//by-path/x", "Shelf"},
        {"SLOT4", "Shelf"},
        {"SLOT9", "Later"},
        {"SLOT255", "Last"},
        {"SLOT3", ""},
        {"SLOT256", ""},
        {"COM8", ""},
        {"", ""},
        {"bogus", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszSlot);
        EXPECT_EQ(SlotLabelFor(c.pszSlot, Settings()), c.pszLabel);
    }
}

}  // namespace
}  // namespace kestrel
