#include "app/station_tile.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "app/run_bar.h"
#include "controls/percent_progress_ctrl.h"
#include "protocol/text_format.h"
#include "station/station_port.h"

namespace kestrel {
namespace {

constexpr int kTileWidth = 190;
constexpr int kTileHeight = 132;
constexpr int kBarHeight = 20;
constexpr int kMargin = 8;
constexpr int kTextWidth = kTileWidth - 2 * kMargin;
constexpr int kStateLines = 2;

struct SFace {
    QColor clrBack;
    QColor clrText;
};

SFace FaceOf(CStationTile::EState eState)
{
    using EState = CStationTile::EState;
    switch (eState) {
    case EState::Waiting: return {QColor(0xE4, 0xE4, 0xE4), QColor(0x50, 0x50, 0x50)};
    case EState::Ready: return {QColor(Qt::white), QColor(0x00, 0x00, 0xFF)};
    case EState::Running: return {QColor(0xFF, 0xF6, 0xD0), QColor(Qt::black)};
    case EState::Completed: return {QColor(0xB8, 0xE8, 0xB8), QColor(0x00, 0x50, 0x00)};
    case EState::Failed: return {QColor(0xF8, 0xB8, 0xB8), QColor(0x90, 0x00, 0x00)};
    case EState::Stopped: return {QColor(0xF8, 0xD8, 0xA0), QColor(0x60, 0x38, 0x00)};
    }
    return {QColor(Qt::white), QColor(Qt::black)};
}

// The text wrapped at word ends within the width, on at most nLines lines; what does not fit
// ends the last line with "…".
QString WrapToLines(const QFontMetrics& metrics, const QString& strText, int nWidth, int nLines)
{
    const auto fits = [&](const QString& strTry) {
        return metrics.boundingRect(QRect(0, 0, nWidth, 1 << 20), Qt::TextWordWrap | Qt::TextWrapAnywhere, strTry).height() <=
               nLines * metrics.lineSpacing();
    };
    if (fits(strText)) return strText;
    // The longest start that fits with the ellipsis after it.
    qsizetype nLow = 0, nHigh = strText.size();
    while (nLow < nHigh) {
        const qsizetype nMid = (nLow + nHigh + 1) / 2;
        if (fits(strText.left(nMid).trimmed() + QChar(0x2026))) nLow = nMid;
        else nHigh = nMid - 1;
    }
    return strText.left(nLow).trimmed() + QChar(0x2026);
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
    m_labelState->setWordWrap(true);
    m_labelState->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_labelState->setFixedHeight(kStateLines * m_labelState->fontMetrics().lineSpacing());
    pLayout->addWidget(m_labelState);
    m_labelElapsed = MakeLabel(this, false);
    pLayout->addWidget(m_labelElapsed);
    m_labelCounts = MakeLabel(this, false);
    pLayout->addWidget(m_labelCounts);
    pLayout->addStretch(1);
    ShowCounts(0, 0, {});
    ShowState(EState::Waiting, {});
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
    if (eState == m_eState && strText == m_strState && !m_labelState->text().isEmpty()) return;
    if (eState != m_eState || m_labelState->text().isEmpty()) ShowFace(eState);
    m_eState = eState;
    m_strState = strText;
    // A bar half filled would say a failed or stopped run got further than it did.
    m_bar->setVisible(eState == EState::Running);
    const QString strShown = WrapToLines(m_labelState->fontMetrics(), strText, kTextWidth, kStateLines);
    m_labelState->setText(strShown);
    m_labelState->setToolTip(strShown == strText ? QString() : strText);
}

// The state's colours, set when the state changes rather than with every new step text.
void CStationTile::ShowFace(EState eState)
{
    const SFace face = FaceOf(eState);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, face.clrBack);
    setPalette(palette);
    // The labels' own colour, so that the frame's stays the selection's.
    for (QLabel* pLabel : findChildren<QLabel*>()) {
        QPalette labelPalette = pLabel->palette();
        labelPalette.setColor(QPalette::WindowText, face.clrText);
        pLabel->setPalette(labelPalette);
    }
}

QString CStationTile::ShownStateText() const { return m_labelState->text(); }

bool CStationTile::IsBarShown() const { return !m_bar->isHidden(); }

void CStationTile::ShowPercent(int nPercent)
{
    if (nPercent != m_bar->GetPos()) m_bar->SetPos(nPercent);
}

void CStationTile::ShowElapsed(int64_t nMs)
{
    // In the words of the main window's elapsed time.
    const auto nSeconds = static_cast<int>(nMs / 1000);
    const QString strText = QString::fromStdString(Format("Elapsed time : %d min %d sec", nSeconds / 60, nSeconds % 60));
    if (strText != m_labelElapsed->text()) m_labelElapsed->setText(strText);
}

void CStationTile::SetSelected(bool bSelected)
{
    // The face keeps its state's colour: the selection is the frame.
    m_bSelected = bSelected;
    setLineWidth(bSelected ? 3 : 1);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, bSelected ? QColor(0x20, 0x50, 0xC0) : QColor(0x80, 0x80, 0x80));
    setPalette(palette);
}

int CStationTile::Percent() const { return m_bar->GetPos(); }

QString CStationTile::ElapsedText() const { return m_labelElapsed->text(); }

void CStationTile::ShowCounts(int nCompleted, int nFailed, const std::string& strWhole)
{
    // Called with every tick of the clock, for the pace in the tooltip: only a change repaints.
    const QString strText = QStringLiteral("%1 completed, %2 failed").arg(nCompleted).arg(nFailed);
    if (strText != m_labelCounts->text()) m_labelCounts->setText(strText);
    const QString strTip = QString::fromStdString(strWhole);
    if (strTip != m_labelCounts->toolTip()) m_labelCounts->setToolTip(strTip);
}

QString CStationTile::CountsText() const { return m_labelCounts->text(); }

void CStationTile::mousePressEvent(QMouseEvent* pEvent)
{
    if (pEvent->button() == Qt::LeftButton) emit Clicked();
    QFrame::mousePressEvent(pEvent);
}

}  // namespace kestrel
