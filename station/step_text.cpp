#include "station/step_text.h"

namespace kestrel {

std::string RunStepText(RunStep step)
{
    switch (step) {
    case RunStep::Idle: return "";
    case RunStep::WaitStart:
    case RunStep::WaitRestart: return "다운로드 시작 요청";
    case RunStep::WaitJump:
    case RunStep::WaitReset: return "Jump 요청";
    case RunStep::WaitEraseBoot:
    case RunStep::WaitFlash: return "Flash erase 중..";
    case RunStep::BootWrite: return "Boot Programming 중";
    case RunStep::FlashWrite:
    case RunStep::RangeEnd: return "Flash Programming 중";
    }
    return "";
}

}  // namespace kestrel
