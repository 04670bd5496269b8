#pragma once
// An IDownloadView that records what a run shows and answers its questions as told.

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "protocol/download_view.h"
#include "protocol/settings_reader.h"

namespace kestrel::test {

// The kind a check mark is recorded with: no LogKind has it.
inline constexpr int kCheckMarkLine = 0;

struct LogLine {
    int kind;
    std::string text;
    bool operator==(const LogLine&) const = default;
};

class CRecordingView final : public IDownloadView {
public:
    void WriteLog(int kind, const std::string& text) override
    {
        lines.push_back({kind, text});
        lineTimes.push_back(clock ? clock() : 0);
    }
    void MarkStepDone() override
    {
        lines.push_back({kCheckMarkLine, "  √"});
        lineTimes.push_back(clock ? clock() : 0);
    }
    void ClearLog() override { ++nClears; }
    void SetButtons(const SButtonState& state) override
    {
        buttons = {state.bOpen, state.bRun, state.bToDm, state.bInfo, state.bStop};
    }
    void SetDisplayText(DisplayText which, const std::string& text) override
    {
        texts[which] = text;
        if (which == DisplayText::AddrInfo && !text.empty() && (addresses.empty() || addresses.back() != text))
            addresses.push_back(text);
    }
    void SetTitle(const std::string& text) override { title = text; }
    void ShowPercentBar() override
    {
        bPercentBar = true;
        nPercent = 0;
    }
    void ShowIdleBar() override { bPercentBar = false; }
    void SetPercent(int percent) override
    {
        nPercent = percent;
        percents.push_back(percent);
    }
    void EnableTypeSelector(bool enable) override { bTypeSelector = enable; }
    void SetWaitCursor(bool on) override { bWaitCursor = on; }
    void CaptureMouse(bool on) override { bMouseCaptured = on; }
    void PlaySound(const std::string& name) override { sounds.push_back(name); }
    void ShowMessage(const std::string& text, MessageIcon) override
    {
        messages.push_back(text);
        messageTimes.push_back(clock ? clock() : 0);
        if (onMessage) onMessage();
    }
    bool AskYesNo(const std::string& text) override
    {
        questions.push_back(text);
        return bAnswerYes;
    }
    bool AskFontAddress(uint32_t& address) override
    {
        fontPresets.push_back(address);
        if (!bFontOk) return false;
        address = dwFontAddress;
        return true;
    }
    void OnBlockSent(const SBlockProgress& progress) override { blocks.push_back(progress); }
    void OnRunEnded(RunOutcome outcome) override { outcomes.push_back(outcome); }

    // Whether some line has exactly this text (and kind, when given).
    bool HasLine(const std::string& text, int kind = -1) const
    {
        for (const auto& l : lines)
            if (l.text == text && (kind < 0 || l.kind == kind)) return true;
        return false;
    }
    int CountLines(const std::string& text) const
    {
        int n = 0;
        for (const auto& l : lines) n += l.text == text;
        return n;
    }

    std::vector<LogLine> lines;
    std::vector<int64_t> lineTimes;  // when each line was written, when the clock is set
    int nClears = 0;
    std::vector<bool> buttons;
    std::map<DisplayText, std::string> texts;
    std::vector<std::string> addresses;  // each address line shown, once per change
    std::string title;
    bool bPercentBar = false;
    int nPercent = 0;
    std::vector<int> percents;
    bool bTypeSelector = true;
    bool bWaitCursor = false;
    bool bMouseCaptured = false;
    std::vector<std::string> sounds;
    std::vector<std::string> messages;
    std::vector<int64_t> messageTimes;
    std::function<int64_t()> clock;  // when set, stamps each line and message
    std::function<void()> onMessage;  // the operator reading a message box
    std::vector<std::string> questions;
    bool bAnswerYes = true;
    bool bFontOk = true;
    uint32_t dwFontAddress = 0xE00000;
    std::vector<uint32_t> fontPresets;
    std::vector<SBlockProgress> blocks;
    std::vector<RunOutcome> outcomes;
};

// Settings held in a map, numbers as text as the store keeps them.
class CMapSettings final : public ISettingsReader {
public:
    long ReadNumber(const std::string& name, long defaultValue) override
    {
        auto it = values.find(name);
        return it == values.end() ? defaultValue : std::atol(it->second.c_str());
    }
    std::string ReadText(const std::string& name, const std::string& defaultValue) override
    {
        auto it = values.find(name);
        return it == values.end() ? defaultValue : it->second;
    }
    std::map<std::string, std::string> values;
};

}  // namespace kestrel::test
