// The window's controls, placed in dialog units as the window was designed.

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/bitmap_button.h"
#include "app/dialog_units.h"
#include "app/log_pane.h"
#include "app/main_dlg.h"
#include "app/run_bar.h"
#include "controls/flat_combo_box.h"
#include "controls/percent_progress_ctrl.h"

namespace kestrel {
namespace {

constexpr int kDialogWidth = 271;
constexpr int kDialogHeight = 341;

enum class EAlign { Left, Right };

QLineEdit* MakeReadOnlyEdit(QWidget* pParent, EAlign eAlign)
{
    auto* pEdit = new QLineEdit(pParent);
    pEdit->setReadOnly(true);
    pEdit->setAlignment((eAlign == EAlign::Right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    return pEdit;
}

}  // namespace

void CMainDlg::CreateControls()
{
    const CDialogUnits du(font());
    setFixedSize(du.Size(kDialogWidth, kDialogHeight));

    auto label = [&](const char* pszText, int x, int y, int cx, int cy, EAlign eAlign = EAlign::Left) {
        auto* pLabel = new QLabel(QString::fromUtf8(pszText), this);
        pLabel->setAlignment((eAlign == EAlign::Right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
        pLabel->setGeometry(du.Rect(x, y, cx, cy));
        return pLabel;
    };
    auto group = [&](const char* pszTitle, int x, int y, int cx, int cy) {
        (new QGroupBox(QString::fromUtf8(pszTitle), this))->setGeometry(du.Rect(x, y, cx, cy));
    };
    auto edit = [&](int nId, int x, int y, int cx, int cy, EAlign eAlign) {
        QLineEdit* pEdit = m_controls.Add(nId, MakeReadOnlyEdit(this, eAlign));
        pEdit->setGeometry(du.Rect(x, y, cx, cy));
        return pEdit;
    };
    auto bitmapButton = [&](int nId, const char* pszText, int x, int y) {
        CBitmapButton* pButton = m_controls.Add(nId, new CBitmapButton(QString::fromUtf8(pszText), this));
        pButton->setGeometry(du.Rect(x, y, 14, 17));
        return pButton;
    };

    // Groups first, so that the controls inside them lie on top.
    group(" New File Information ", 7, 4, 255, 49);
    group(" Old File Information ", 7, 58, 255, 49);
    group(" Phone Information ", 7, 112, 125, 65);
    group(" Control ", 136, 112, 126, 65);

    label("Bin   :", 11, 20, 20, 8);
    m_editBinPath = edit(IDC_BIN_PATH, 32, 17, 207, 12, EAlign::Right);
    m_btnOpen = bitmapButton(IDC_BTN_OPEN, "Open", 242, 13);
    label("Size :", 11, 35, 20, 8);
    m_editBinSize = edit(IDC_BIN_SIZE, 32, 33, 58, 12, EAlign::Right);
    label("byte", 93, 35, 15, 8);
    label("Version :", 138, 35, 31, 8);
    m_editBinVersion = edit(IDC_BIN_VERSION, 171, 33, 68, 12, EAlign::Right);

    label("Bin   :", 11, 74, 20, 8);
    m_editOldBinPath = edit(IDC_OLD_BIN_PATH, 32, 72, 207, 12, EAlign::Right);
    m_btnOpenOld = bitmapButton(IDC_BTN_OPEN_OLD, "Open", 242, 68);
    m_btnCompare = m_controls.Add(IDC_BTN_COMPARE, new QPushButton(QStringLiteral("C"), this));
    m_btnCompare->setGeometry(du.Rect(242, 86, 14, 16));
    label("Size :", 11, 90, 20, 8);
    m_editOldBinSize = edit(IDC_OLD_BIN_SIZE, 32, 88, 58, 12, EAlign::Right);
    label("byte", 93, 90, 15, 8);
    label("Version :", 138, 90, 31, 8);
    m_editOldBinVersion = edit(IDC_OLD_BIN_VERSION, 171, 88, 68, 12, EAlign::Right);

    label("S/W version :", 11, 128, 45, 8);
    m_editSwVersion = edit(IDC_SW_VERSION, 57, 126, 70, 12, EAlign::Left);
    label("Compiled     :", 11, 143, 46, 8);
    m_editCompiled = edit(IDC_COMPILED, 57, 143, 70, 12, EAlign::Left);
    label("PCB version :", 11, 160, 46, 8);
    m_editPcbVersion = edit(IDC_PCB_VERSION, 57, 160, 70, 12, EAlign::Left);

    m_btnRun = bitmapButton(IDC_BTN_RUN, "Run", 141, 127);
    m_btnStop = bitmapButton(IDC_BTN_STOP, "Stop", 157, 127);
    m_btnInfo = bitmapButton(IDC_BTN_INFO, "Info", 173, 127);
    m_labelPort = m_controls.Add(IDC_PORT_LABEL, label("[COM??]", 190, 133, 68, 8, EAlign::Right));
    label("Download Type :", 141, 149, 64, 9);
    m_comboType = m_controls.Add(IDC_COMBO_TYPE, new CFlatComboBox(this));
    // The list's height in the design includes its drop-down part; the box itself is as
    // high as its font needs.
    const QRect rcType = du.Rect(141, 159, 117, 84);
    m_comboType->setGeometry(rcType.x(), rcType.y(), rcType.width(), m_comboType->sizeHint().height());
    m_comboType->setMaxVisibleItems(7);

    m_progressIdle = m_controls.Add(IDC_PROGRESS_IDLE, MakeFramedBar(this));
    m_progressIdle->setGeometry(du.Rect(7, 179, 255, 14));
    m_progress = m_controls.Add(IDC_PROGRESS, MakeFramedBar(this));
    m_progress->setGeometry(du.Rect(7, 181, 255, 14));
    m_progress->hide();

    m_richLog = m_controls.Add(IDC_RICH_LOG, new CLogPane(this));
    m_richLog->setGeometry(du.Rect(7, 194, 255, 125));

    m_editAddrInfo = edit(IDC_ADDR_INFO, 7, 321, 168, 14, EAlign::Left);
    m_editElapsed = edit(IDC_ELAPSED, 174, 321, 88, 14, EAlign::Left);

    // Made as designed, but nothing shows it.
    m_btnToDM = bitmapButton(IDC_BTN_TODM, "ToDM", 226, 222);
    m_btnToDM->setEnabled(false);
    m_btnToDM->hide();

    connect(m_btnOpen, &QAbstractButton::clicked, this, &CMainDlg::OnOpenNewImage);
    connect(m_btnOpenOld, &QAbstractButton::clicked, this, &CMainDlg::OnOpenOldImage);
    connect(m_btnRun, &QAbstractButton::clicked, this, &CMainDlg::OnRun);
    connect(m_btnStop, &QAbstractButton::clicked, this, &CMainDlg::OnStop);
    connect(m_btnInfo, &QAbstractButton::clicked, this, &CMainDlg::OnOptions);
    connect(m_btnToDM, &QAbstractButton::clicked, this, &CMainDlg::OnToDM);
    connect(m_btnCompare, &QAbstractButton::clicked, this, &CMainDlg::OnCompare);
    // Only the operator's choice counts, not the exchange setting the selection.
    connect(m_comboType, &QComboBox::activated, this, &CMainDlg::OnSelchangeDloadType);
}

}  // namespace kestrel
