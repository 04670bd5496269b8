#pragma once
// The real programs end to end: kestrel-cli flashing into kestrel-handset-sim over a
// pseudo-terminal, in real time.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace kestrel::test {

using Bytes = std::vector<uint8_t>;

struct RxUnit {
    std::string strUnit;
    int nBaud = 0;
};

class EndToEnd : public testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() /
                ("kestrel-e2e-" + std::to_string(getpid()) + "-" + testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir / "config");
        setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
    }
    void TearDown() override
    {
        m_pSim.reset();
        std::filesystem::remove_all(m_dir);
    }

    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    // Starts the handset; scenario rules as in its documentation. With a link, the tool is
    // pointed at it, so it follows a handset that comes back on another pseudo-terminal.
    void StartSim(const std::string& mode = "download", const std::string& scenario = "", const std::string& link = "")
    {
        std::vector<std::string> args = {KESTREL_SIM_BIN, "--mode", mode, "--flash-out", Path("flash.bin"),
                                         "--transcript", Path("transcript.jsonl"), "--idle-exit", "120"};
        if (!link.empty()) args.insert(args.end(), {"--link", link});
        if (!scenario.empty()) {
            std::ofstream(Path("scenario.txt")) << scenario;
            args.insert(args.end(), {"--scenario", Path("scenario.txt")});
        }
        m_pSim = std::make_unique<CChildProcess>(args);
        const auto slave = m_pSim->ReadLine(5000);
        ASSERT_TRUE(slave.has_value()) << "the simulator did not start";
        m_strSlave = link.empty() ? *slave : link;
    }

    std::vector<std::string> CliArgs(const std::vector<std::string>& flashArgs) const
    {
        std::vector<std::string> args = {KESTREL_CLI_BIN, "--port", m_strSlave, "--baud", "115200", "--json", "flash"};
        args.insert(args.end(), flashArgs.begin(), flashArgs.end());
        return args;
    }
    ChildResult Flash(const std::vector<std::string>& flashArgs, int timeoutMs = 60000)
    {
        CChildProcess cli(CliArgs(flashArgs));
        return cli.Finish(timeoutMs);
    }

    // Ends the handset and returns what its flash holds.
    Bytes StopSimAndReadFlash()
    {
        m_pSim->Signal(SIGTERM);
        EXPECT_EQ(m_pSim->Wait(10000), 0);
        return ReadFile(Path("flash.bin"));
    }

    std::vector<std::string> Transcript() const
    {
        std::ifstream in(Path("transcript.jsonl"));
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // The requests, blocks and other units the handset received, in order, with the speed.
    std::vector<RxUnit> Received() const
    {
        static const std::regex unit(R"re("event":"rx","unit":"([^"]+)","baud":(\d+))re");
        std::vector<RxUnit> units;
        for (const auto& line : Transcript()) {
            std::smatch m;
            if (std::regex_search(line, m, unit)) units.push_back({m[1], std::stoi(m[2])});
        }
        return units;
    }
    // The units other than blocks, as "NAME@baud".
    std::vector<std::string> Requests() const
    {
        std::vector<std::string> out;
        for (const auto& u : Received())
            if (u.strUnit != "block") out.push_back(u.strUnit + "@" + std::to_string(u.nBaud));
        return out;
    }
    int CountTranscript(const std::string& text) const
    {
        int n = 0;
        for (const auto& line : Transcript()) n += line.find(text) != std::string::npos;
        return n;
    }

    static Bytes ReadFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    std::string WriteImage(const std::string& name, const Bytes& content) const
    {
        std::ofstream(Path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
        return Path(name);
    }
    // A boot image (marker, version, build date) with content that changes from block to block.
    static Bytes BootImage(std::size_t size, uint8_t seed = 7)
    {
        Bytes b(size);
        uint32_t x = 0x12345678u + seed;
        for (auto& v : b) {
            x = x * 1103515245u + 12345u;
            v = static_cast<uint8_t>(x >> 16);
        }
        const std::string date = "Mar 15 200714:22:05";
        std::copy(date.begin(), date.end(), b.begin() + 0x20);
        const std::string version = "12 BOOT";
        std::copy(version.begin(), version.end(), b.begin() + 0x34);
        // No second version field: version and date come from the first place.
        for (std::size_t i = 0x20024; i < 0x20028 && i < size; ++i) b[i] = 0xFF;
        return b;
    }
    static Bytes FontImage(std::size_t size)
    {
        Bytes b = BootImage(size, 3);
        b[0x37] = 'F';  // no boot marker
        return b;
    }
    // The flash from an address on, as long as the image.
    static Bytes FlashAt(const Bytes& flash, std::size_t address, std::size_t length)
    {
        if (flash.size() < address + length) return {};
        return Bytes(flash.begin() + static_cast<std::ptrdiff_t>(address),
                     flash.begin() + static_cast<std::ptrdiff_t>(address + length));
    }
    // CPU seconds used by children that have been waited for.
    static double ChildrenCpuSeconds()
    {
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }

    std::filesystem::path m_dir;
    std::unique_ptr<CChildProcess> m_pSim;
    std::string m_strSlave;
};

}  // namespace kestrel::test
