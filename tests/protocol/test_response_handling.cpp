// Every row of the reply table, met at the point of a run where it matters.

#include "engine_fixture.h"

#include "image/download_type.h"

namespace kestrel::test {
namespace {

struct ReplyRow {
    const char* name;
    Seen at;            // the write whose reply is replaced
    int nth;            // which one of that kind
    Bytes reply;
    const char* line;   // the line it writes ("" for none)
    int kind;
    Seen resent;        // what goes out next (Other: nothing, the run stalls)
    bool completes;     // the run still reaches its end
};

void PrintTo(const ReplyRow& row, std::ostream* os) { *os << row.name; }

class ReplyTable : public EngineTest, public testing::WithParamInterface<ReplyRow> {};

TEST_P(ReplyTable, Row)
{
    const ReplyRow& row = GetParam();
    LoadNew(BootImage(4 * 1024), DLOAD_CHANGE_EMERGENCY);
    std::size_t replacedAt = 0;
    m_script = [&](const SeenWrite& w, int nth) -> std::optional<Bytes> {
        // A reply to the retransmit request block needs one first: damage the first block's ACK.
        if (row.at == Seen::RetryBlock && w.kind == Seen::Block && nth == 0) return Reply(ACK, 0xDE, 0xAD);
        if (w.kind == row.at && nth == row.nth) {
            replacedAt = m_seen.size();
            return row.reply;
        }
        return GoodReply(w);
    };
    Run();

    ASSERT_GT(replacedAt, 0u);
    if (*row.line) {
        EXPECT_TRUE(m_view.HasLine(row.line, row.kind)) << row.line;
    }
    if (row.resent == Seen::Other) {
        EXPECT_EQ(m_seen.size(), replacedAt) << "nothing more may be sent after an error stop";
        EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::HandsetError});
        EXPECT_FALSE(m_scheduler.TimerPending(kTimerRequest));
        EXPECT_FALSE(m_scheduler.TimerPending(kTimerBlock));
        EXPECT_FALSE(m_view.bMouseCaptured);
        EXPECT_FALSE(m_view.bWaitCursor);
        EXPECT_FALSE(m_pEngine->IsLinkUp()) << "an error stop ends the run: no late reply can take it up again";
    } else {
        ASSERT_GT(m_seen.size(), replacedAt);
        EXPECT_EQ(m_seen[replacedAt].kind, row.resent);
    }
    if (row.completes) {
        EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
    }
}

const Bytes kAck00 = Reply(ACK, 0x00, 0x00);

INSTANTIATE_TEST_SUITE_P(
    Rows, ReplyTable,
    testing::Values(
        ReplyRow{"ack_any_p1p2_for_a_request", Seen::Erase, 0, Reply(ACK, 0x12, 0x34), "", 0, Seen::Block, true},
        ReplyRow{"ack_crc_mismatch", Seen::Block, 1, Reply(ACK, 0x12, 0x34), "CRC Calc result Error at 0x400, (12,34)",
                 kLogInfo, Seen::RetryBlock, true},
        // The last block of a range is checked like every other.
        ReplyRow{"ack_wrong_crc_for_last_block", Seen::Block, 3, Reply(ACK, 0x12, 0x34),
                 "CRC Calc result Error at 0xc00, (12,34)", kLogInfo, Seen::RetryBlock, true},
        ReplyRow{"ack_while_retransmit_pending", Seen::RetryBlock, 0, kAck00, "재전송 Cmd를 보내고 0x02 ACK 받음",
                 kLogError, Seen::Other, false},
        ReplyRow{"retry_ack_not_pending_good", Seen::Block, 0, Reply(RETRY_ACK, 3, 3), "Unknow Error!", kLogError,
                 Seen::Other, false},
        ReplyRow{"retry_ack_not_pending_damaged", Seen::Block, 0, Reply(RETRY_ACK, 3, 4),
                 "Retry ACK, but crc error. Retry.", kLogInfo, Seen::RetryBlock, true},
        ReplyRow{"retry_ack_not_pending_damaged_on_request", Seen::Jump, 0, Reply(RETRY_ACK, 0, 0),
                 "Retry ACK, but crc error. Retry.", kLogInfo, Seen::Jump, true},
        ReplyRow{"retry_ack_pending_damaged", Seen::RetryBlock, 0, Reply(RETRY_ACK, 3, 9),
                 "Unknown Reason  rspCmd 3, crcMSB 3, crcLSB 9", kLogError, Seen::Other, false},
        ReplyRow{"nak_bad_crc_on_request", Seen::Start, 0, Reply(NAK_BAD_CRC, 0, 0), "NAK_BAD_CRC received!!",
                 kLogInfo, Seen::Start, true},
        ReplyRow{"nak_bad_crc_on_block", Seen::Block, 2, Reply(NAK_BAD_CRC, 1, 2), "NAK_BAD_CRC received!!",
                 kLogInfo, Seen::RetryBlock, true},
        ReplyRow{"nak_invalid_cmd", Seen::Erase, 0, Reply(NAK_INVALID_CMD, 0x9E, 0x4C), "Invalid command!!", kLogError,
                 Seen::Other, false},
        ReplyRow{"nak_invalid_cmd_damaged", Seen::Erase, 0, Reply(NAK_INVALID_CMD, 0x9E, 0x4D),
                 "NAK_INVALID_CMD, but crc error. Retry", kLogInfo, Seen::Erase, true},
        ReplyRow{"nak_failed", Seen::Erase, 0, Reply(NAK_FAILED, 0, 0), "Flash error!!", kLogError, Seen::Other, false},
        ReplyRow{"nak_failed_damaged", Seen::Block, 1, Reply(NAK_FAILED, 0, 1), "NAK_FAILED, but crc error. Retry",
                 kLogInfo, Seen::RetryBlock, true},
        ReplyRow{"unknown_code", Seen::Jump, 0, Reply(0x55, 0, 0), "Unknown error!!", kLogError, Seen::Other, false}),
    [](const testing::TestParamInfo<ReplyRow>& param) { return std::string(param.param.name); });

TEST_F(EngineTest, CrcMismatchNamesTheBlockFromTheBaseOffset)
{
    const std::size_t block = 0x20000;
    Bytes oldImage = BootImage(2 * block);
    Bytes newImage = oldImage;
    newImage[0x10000 + block - 0x10000] ^= 1;  // block 1 differs: base offset 0x20000
    int type = DLOAD_COMPARE_EMERGENCY;
    ASSERT_TRUE(m_pEngine->OldImage().Load(WriteImage("old.bin", oldImage), type));
    LoadNew(newImage, DLOAD_COMPARE_EMERGENCY);
    m_settings.values["BACKUP_OLD_FILE"] = "0";
    m_script = [](const SeenWrite& w, int nth) -> std::optional<Bytes> {
        if (w.kind == Seen::Block && nth == 4) return Reply(ACK, 0x12, 0x34);
        return GoodReply(w);
    };
    Run(600000);
    EXPECT_TRUE(m_view.HasLine("CRC Calc result Error at 0x21000, (12,34)", kLogInfo));
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
}

TEST_F(EngineTest, GoodRetryAckResendsTheLastTrackedBlock)
{
    LoadNew(BootImage(4 * 1024), DLOAD_CHANGE_EMERGENCY);
    m_script = [](const SeenWrite& w, int nth) -> std::optional<Bytes> {
        if (w.kind == Seen::Block && nth == 2) return Reply(ACK, 0xDE, 0xAD);  // block 2 damaged
        return GoodReply(w);
    };
    Run();
    // Blocks 0, 1, 2, retransmit request, block 2 again, block 3.
    std::vector<Bytes> blocks;
    std::vector<Seen> kinds;
    for (const auto& w : m_seen)
        if (w.kind == Seen::Block || w.kind == Seen::RetryBlock) {
            kinds.push_back(w.kind);
            blocks.push_back(w.data);
        }
    ASSERT_EQ(kinds, (std::vector<Seen>{Seen::Block, Seen::Block, Seen::Block, Seen::RetryBlock, Seen::Block, Seen::Block}));
    EXPECT_EQ(blocks[4], blocks[2]);
    EXPECT_TRUE(m_view.HasLine("재전송 ACK 받음", kLogInfo));
    EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
}

TEST_F(EngineTest, ModelVersionQuestion)
{
    for (bool yes : {true, false}) {
        SCOPED_TRACE(yes);
        Restart();
        m_view.bAnswerYes = yes;
        LoadNew(BootImage(2 * 1024), DLOAD_CHANGE_EMERGENCY);
        m_script = [](const SeenWrite& w, int nth) -> std::optional<Bytes> {
            if (w.kind == Seen::Start && nth == 1) return Reply(NAK_MODEL_VERSION, 0, 0);
            return GoodReply(w);
        };
        Run();
        EXPECT_EQ(m_view.questions, std::vector<std::string>{"모델 버전이 틀립니다. 계속 할까요?"});
        if (yes) {
            EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::Completed});
        } else {
            EXPECT_EQ(m_view.outcomes, std::vector<RunOutcome>{RunOutcome::HandsetError});
            EXPECT_EQ(m_seen.back().kind, Seen::Start);
            EXPECT_FALSE(m_scheduler.TimerPending(kTimerRequest));
        }
    }
}

}  // namespace
}  // namespace kestrel::test
