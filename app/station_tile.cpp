#include "app/station_tile.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "app/log_colours.h"
#include "app/run_bar.h"
#include "controls/color_ref.h"
#include "controls/percent_progress_ctrl.h"
#include "protocol/text_format.h"
#include "station/station_port.h"

namespace kestrel {
namespace {

constexpr int kTileWidth = 220;
constexpr int kTileHeight = 100;
constexpr int kBarHeight = 20;
constexpr int kMargin = 8;
constexpr int kTextWidth = kTileWidth - 2 * kMargin;

uint32_t StateColour(CStationTile::EState eState)
{
    switch (eState) {
    case CStationTile::EState::Waiting:
    case CStationTile::EState::Done: return kColourBlue;
    case CStationTile::EState::Step: return kColourBlack;
    case CStationTile::EState::Failed: return kColourRed;
    }
    return kColourBlack;
}

// A label that keeps to the tile's width: a longer text is cut in the middle and shown whole
// in its tooltip.
QLabel* MakeLabel(QWidget* pParent, bool bBold)
{
    auto* pLabel = new QLabel(pParent);
    pLabel->setMinimumWidth(0);
    pLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    if (bBold) {
        QFont font = pLabel->font();
        font.setBold(true);
        pLabel->setFont(font);
    }
    return pLabel;
}

void SetElided(QLabel* pLabel, const QString& strText, int nWidth, Qt::TextElideMode eMode = Qt::ElideMiddle)
{
    pLabel->setText(pLabel->fontMetrics().elidedText(strText, eMode, nWidth));
    pLabel->setToolTip(pLabel->text() == strText ? QString() : strText);
}

}  // namespace

CStationTile::CStationTile(const SStationPortId& id, QWidget* pParent) : QFrame(pParent)
{
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    setFixedSize(kTileWidth, kTileHeight);
    setAutoFillBackground(true);
    setCursor(Qt::PointingHandCursor);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->setContentsMargins(kMargin, 6, kMargin, 6);
    pLayout->setSpacing(4);

    auto* pHeader = new QHBoxLayout;
    pHeader->setSpacing(6);
    QLabel* pPort = MakeLabel(this, true);
    pHeader->addWidget(pPort);
    // A port given as a device path is labelled by it already.
    if (id.nPort > 0) {
        QLabel* pDevice = MakeLabel(this, false);
        pHeader->addWidget(pDevice, 1);
        const QString strLabel = QString::fromStdString(id.Label());
        pPort->setText(strLabel);
        pPort->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        SetElided(pDevice, QString::fromStdString(id.strSlot), kTextWidth - pPort->sizeHint().width() - pHeader->spacing());
    } else {
        SetElided(pPort, QString::fromStdString(id.Label()), kTextWidth);
    }
    pLayout->addLayout(pHeader);

    m_bar = MakeFramedBar(this);
    m_bar->setFixedHeight(kBarHeight);
    pLayout->addWidget(m_bar);
    m_labelState = MakeLabel(this, true);
    pLayout->addWidget(m_labelState);
    m_labelElapsed = MakeLabel(this, false);
    pLayout->addWidget(m_labelElapsed);
    m_labelCounts = MakeLabel(this, false);
    pLayout->addWidget(m_labelCounts);
    pLayout->addStretch(1);
    ShowCounts(0, 0, {});
    SetSelected(false);
}

void CStationTile::ShowRunStarted()
{
    PrepareRunBar(*m_bar);
    m_bar->update();
    ShowElapsed(0);
}

void CStationTile::ShowState(EState eState, const std::string& text)
{
    const QString strText = QString::fromStdString(text);
    if (eState == m_eState && strText == m_strState) return;
    m_eState = eState;
    m_strState = strText;
    QPalette palette = m_labelState->palette();
    palette.setColor(QPalette::WindowText, ColorFromRef(StateColour(eState)));
    m_labelState->setPalette(palette);
    SetElided(m_labelState, strText, kTextWidth, Qt::ElideRight);
}

void CStationTile::ShowPercent(int nPercent)
{
    if (nPercent != m_bar->GetPos()) m_bar->SetPos(nPercent);
}

void CStationTile::ShowElapsed(int64_t nMs, const std::string& strTimeLeft)
{
    // In the words of the main window's elapsed time.
    const auto nSeconds = static_cast<int>(nMs / 1000);
    std::string strElapsed = Format("Elapsed time : %d min %d sec", nSeconds / 60, nSeconds % 60);
    if (!strTimeLeft.empty()) strElapsed += ", " + strTimeLeft;
    const QString strText = QString::fromStdString(strElapsed);
    if (strText != m_labelElapsed->text()) m_labelElapsed->setText(strText);
}

void CStationTile::SetSelected(bool bSelected)
{
    m_bSelected = bSelected;
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, bSelected ? QColor(0xDC, 0xE6, 0xF5) : QColor(Qt::white));
    setPalette(palette);
}

int CStationTile::Percent() const { return m_bar->GetPos(); }

QString CStationTile::ElapsedText() const { return m_labelElapsed->text(); }

void CStationTile::ShowCounts(int nCompleted, int nFailed, const std::string& strWhole)
{
    m_labelCounts->setText(QStringLiteral("%1 completed, %2 failed").arg(nCompleted).arg(nFailed));
    m_labelCounts->setToolTip(QString::fromStdString(strWhole));
}

QString CStationTile::CountsText() const { return m_labelCounts->text(); }

void CStationTile::mousePressEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() == Qt::LeftButton) emit Clicked();
    QFrame::mousePressEvent(pEvent);
}

}  // namespace kestrel
