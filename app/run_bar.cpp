#include "app/run_bar.h"

#include "controls/color_ref.h"
#include "controls/percent_progress_ctrl.h"

namespace kestrel {

CPercentProgressCtrl* MakeFramedBar(QWidget* pParent)
{
    auto* pBar = new CPercentProgressCtrl(pParent);
    pBar->setFrameStyle(QFrame::Box | QFrame::Plain);
    pBar->setLineWidth(1);
    return pBar;
}

void PrepareRunBar(CPercentProgressCtrl& bar)
{
    bar.SetRange(0, 100);
    bar.SetPos(0);
    bar.m_clrStart = ColorFromRef(0x800000);
    bar.m_clrEnd = ColorFromRef(0x000080);
    bar.m_clrBkgnd = ColorFromRef(0xC0C0C0);
    bar.m_clrText = ColorFromRef(0xFFFFFF);
    bar.m_bShowPercent = true;
}

}  // namespace kestrel
