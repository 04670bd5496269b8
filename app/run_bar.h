#pragma once
// The windows' percentage bar: bordered, and coloured as it is while a run writes blocks.

class QWidget;

namespace kestrel {

class CPercentProgressCtrl;

CPercentProgressCtrl* MakeFramedBar(QWidget* pParent);

// From 0 to 100, at 0: a gradient from navy to dark red on silver, the percentage in white.
void PrepareRunBar(CPercentProgressCtrl& bar);

}  // namespace kestrel
