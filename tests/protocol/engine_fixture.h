#pragma once
// The download engine on a virtual clock against a scripted handset.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include "protocol/download_controller.h"
#include "serial/command_packets.h"
#include "tests/support/boot_image.h"
#include "tests/support/recording_view.h"
#include "tests/support/scripted_port_device.h"
#include "tests/support/virtual_scheduler.h"

namespace kestrel::test {

enum class Seen { Start, Jump, Erase, Block, RetryBlock, AtByte, Other };

struct SeenWrite {
    Seen kind = Seen::Other;
    uint32_t dwStart = 0;   // erase start
    uint32_t dwLength = 0;  // erase length
    Bytes data;             // block data
    uint32_t dwBaud = 0;
    int64_t nTimeMs = 0;
};

inline Bytes Reply(uint8_t code, uint8_t p1, uint8_t p2)
{
    Bytes out = {0x7E};
    for (uint8_t b : {code, p1, p2}) {
        if (b >= 0x7D && b <= 0x7F) {
            out.push_back(0x7D);
            out.push_back(static_cast<uint8_t>(b ^ 0x20));
        } else {
            out.push_back(b);
        }
    }
    out.push_back(0x7E);
    return out;
}

inline SeenWrite Classify(const Bytes& w, uint32_t baud, int64_t t)
{
    SeenWrite s;
    s.dwBaud = baud;
    s.nTimeMs = t;
    if (w.size() == kBlockSize) {
        const bool retry = std::equal(kRetransmitSignature.begin(), kRetransmitSignature.end(), w.begin()) && w[7] == 0x01;
        s.kind = retry ? Seen::RetryBlock : Seen::Block;
        s.data = w;
        return s;
    }
    if (w.size() == 1) {
        s.kind = Seen::AtByte;
        s.data = w;
        return s;
    }
    if (w.size() >= 4 && (w[0] == 0x7E || w[0] == 0x7F)) {
        Bytes content;
        for (std::size_t i = 1; i < w.size() && w[i] != 0x7E; ++i) {
            if (w[i] == 0x7D && i + 1 < w.size()) {
                content.push_back(static_cast<uint8_t>(w[++i] ^ 0x20));
            } else {
                content.push_back(w[i]);
            }
        }
        if (content.size() < 3) return s;
        const uint8_t code = content[0];
        if (code == START_REQ) s.kind = Seen::Start;
        if (code == JUMP_REQ) s.kind = Seen::Jump;
        if (code == ERASE_REQ && content.size() >= 11) {
            s.kind = Seen::Erase;
            for (int i = 0; i < 4; ++i) {
                s.dwStart |= static_cast<uint32_t>(content[static_cast<std::size_t>(1 + i)]) << (8 * i);
                s.dwLength |= static_cast<uint32_t>(content[static_cast<std::size_t>(5 + i)]) << (8 * i);
            }
        }
    }
    return s;
}

// What a well-behaved handset answers.
inline std::optional<Bytes> GoodReply(const SeenWrite& w)
{
    switch (w.kind) {
    case Seen::Start:
    case Seen::Jump:
    case Seen::Erase:
        return Reply(ACK, 0, 0);
    case Seen::Block: {
        const uint16_t crc = BlockCrc(w.data.data(), w.data.size());
        return Reply(ACK, static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc & 0xFF));
    }
    case Seen::RetryBlock:
        return Reply(RETRY_ACK, 0x03, 0x03);
    default:
        return std::nullopt;
    }
}

// A boot image of the given size with a recognisable pattern, version "12" and a build date.
inline Bytes BootImage(std::size_t size, uint8_t seed = 1)
{
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(i * 31 + seed + i / 1024);
    StampBootHeader(b);
    return b;
}

// Decides the reply to the n-th write of the given kind (0-based); GoodReply by default.
using Script = std::function<std::optional<Bytes>(const SeenWrite&, int nthOfKind)>;

class EngineTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::filesystem::temp_directory_path() / ("kestrel-engine-" + std::to_string(getpid()) + "-" +
                                                          testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
        auto device = std::make_unique<CScriptedPortDevice>([this] { return m_scheduler.NowMs(); });
        m_pDevice = device.get();
        m_pDevice->SetResponder([this](const Bytes& bytes, uint32_t baud) { return Respond(bytes, baud); });
        m_settings.values["COM1"] = "/dev/kestrel-test-handset";
        m_view.clock = [this] { return m_scheduler.NowMs(); };
        m_pEngine = std::make_unique<CDownloadController>(m_scheduler, m_view, m_settings, std::move(device));
        m_scheduler.SetSettleHook([this] { m_pDevice->Settle(); });
        m_pEngine->SetPort(1);
        m_pEngine->SetBaudIndex(1);
    }
    // A fresh engine, handset and view, for a table of cases in one test.
    void Restart()
    {
        TearDown();
        m_seen.clear();
        m_counts.clear();
        m_view = CRecordingView();
        SetUp();
    }
    void TearDown() override
    {
        m_pEngine.reset();
        std::filesystem::remove_all(m_dir);
    }

    std::optional<Bytes> Respond(const Bytes& bytes, uint32_t baud)
    {
        SeenWrite w = Classify(bytes, baud, m_scheduler.NowMs());
        const int nth = m_counts[static_cast<int>(w.kind)]++;
        m_seen.push_back(w);
        if (m_script) return m_script(w, nth);
        return GoodReply(w);
    }

    std::string WriteImage(const std::string& name, const Bytes& content)
    {
        const auto path = (m_dir / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                    static_cast<std::streamsize>(content.size()));
        return path;
    }
    // Loads the new image and selects the type; returns the type in effect.
    int LoadNew(const Bytes& content, int type)
    {
        int t = type;
        EXPECT_TRUE(m_pEngine->NewImage().Load(WriteImage("new.bin", content), t));
        m_pEngine->SetDloadType(t);
        return t;
    }
    void Run(int64_t forMs = 60000)
    {
        m_pEngine->OnRun();
        m_scheduler.RunFor(forMs);
    }
    std::vector<Seen> Kinds(bool withBlocks = true) const
    {
        std::vector<Seen> k;
        for (const auto& w : m_seen)
            if (w.kind != Seen::AtByte && (withBlocks || w.kind != Seen::Block)) k.push_back(w.kind);
        return k;
    }
    Bytes SentImage() const
    {
        Bytes out;
        for (const auto& w : m_seen)
            if (w.kind == Seen::Block) out.insert(out.end(), w.data.begin(), w.data.end());
        return out;
    }

    std::filesystem::path m_dir;
    CVirtualScheduler m_scheduler;
    CRecordingView m_view;
    CMapSettings m_settings;
    CScriptedPortDevice* m_pDevice = nullptr;
    std::unique_ptr<CDownloadController> m_pEngine;
    Script m_script;
    std::vector<SeenWrite> m_seen;
    std::map<int, int> m_counts;
};

}  // namespace kestrel::test
