#pragma once
// A view without a window: the calls that only move widgets, bars, titles and the pointer do
// nothing. Front ends without a window derive from it and keep the log, the questions and
// the run's progress and end.

#include "protocol/download_view.h"

namespace kestrel {

class CHeadlessView : public IDownloadView {
public:
    void ClearLog() override {}
    void SetButtons(const SButtonState&) override {}
    void SetDisplayText(DisplayText, const std::string&) override {}
    void SetTitle(const std::string&) override {}
    void ShowPercentBar() override {}
    void ShowIdleBar() override {}
    void SetPercent(int) override {}
    void EnableTypeSelector(bool) override {}
    void SetWaitCursor(bool) override {}
    void CaptureMouse(bool) override {}
    void PlaySound(const std::string&) override {}
};

}  // namespace kestrel
