// The station window's controls: the job above, the ports, the tiles, the selected port's log
// and the buttons below. Labels and groups are worded as in the main window.

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/bitmap_button.h"
#include "app/dialog_units.h"
#include "app/log_pane.h"
#include "app/station_dlg.h"
#include "app/type_list.h"
#include "app/log_colours.h"
#include "controls/color_ref.h"
#include "controls/flat_combo_box.h"

namespace kestrel {
namespace {

constexpr int kWidth = 976;
constexpr int kHeight = 680;

QLineEdit* MakeReadOnlyEdit(QWidget* pParent, Qt::Alignment eAlign)
{
    auto* pEdit = new QLineEdit(pParent);
    pEdit->setReadOnly(true);
    pEdit->setAlignment(eAlign | Qt::AlignVCenter);
    return pEdit;
}

QLabel* MakeLabel(const char* pszText, QWidget* pParent) { return new QLabel(QString::fromUtf8(pszText), pParent); }

}  // namespace

void CStationDlg::CreateControls()
{
    resize(kWidth, kHeight);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(CreateJobRow());
    pLayout->addWidget(CreatePortsGroup());
    // The tiles first; the log takes what they leave and can be folded away.
    m_splitter = new QSplitter(Qt::Vertical, this);
    m_splitter->addWidget(CreateTileArea());
    m_splitter->addWidget(CreateLogGroup());
    m_splitter->setCollapsible(0, false);
    m_splitter->setCollapsible(1, true);
    connect(m_splitter, &QSplitter::splitterMoved, this, [this] { m_bSplitterMoved = true; });
    pLayout->addWidget(m_splitter, 1);
    pLayout->addLayout(CreateButtonRow());
    pLayout->addLayout(CreateCountsRow());
    ConnectControls();
}

QLayout* CStationDlg::CreateJobRow()
{
    QWidget* pFile = CreateFileGroup();
    QWidget* pControl = CreateControlGroup();
    auto* pJob = new QHBoxLayout;
    pJob->addWidget(pFile, 3);
    pJob->addWidget(pControl, 2);
    return pJob;
}

// The image, as in the main window's file groups.
QWidget* CStationDlg::CreateFileGroup()
{
    const CDialogUnits du(font());
    auto openButton = [&](int nId, QWidget* pParent) {
        CBitmapButton* pButton = m_controls.Add(nId, new CBitmapButton(QStringLiteral("Open"), pParent));
        pButton->setFixedSize(du.Size(14, 17));
        pButton->LoadBitmaps("OPEN");
        return pButton;
    };

    auto* pFile = new QGroupBox(QStringLiteral(" New File Information "), this);
    auto* pFileGrid = new QGridLayout(pFile);
    pFileGrid->addWidget(MakeLabel("Bin   :", pFile), 0, 0);
    m_editBinPath = m_controls.Add(IDC_BIN_PATH, MakeReadOnlyEdit(pFile, Qt::AlignRight));
    pFileGrid->addWidget(m_editBinPath, 0, 1, 1, 4);
    m_btnOpen = openButton(IDC_BTN_OPEN, pFile);
    pFileGrid->addWidget(m_btnOpen, 0, 5);
    pFileGrid->addWidget(MakeLabel("Size :", pFile), 1, 0);
    m_editBinSize = m_controls.Add(IDC_BIN_SIZE, MakeReadOnlyEdit(pFile, Qt::AlignRight));
    pFileGrid->addWidget(m_editBinSize, 1, 1);
    pFileGrid->addWidget(MakeLabel("byte", pFile), 1, 2);
    pFileGrid->addWidget(MakeLabel("Version :", pFile), 1, 3, Qt::AlignRight);
    m_editBinVersion = m_controls.Add(IDC_BIN_VERSION, MakeReadOnlyEdit(pFile, Qt::AlignRight));
    pFileGrid->addWidget(m_editBinVersion, 1, 4);
    pFileGrid->addWidget(MakeLabel("Old Bin :", pFile), 2, 0);
    m_editOldBinPath = m_controls.Add(IDC_OLD_BIN_PATH, MakeReadOnlyEdit(pFile, Qt::AlignRight));
    pFileGrid->addWidget(m_editOldBinPath, 2, 1, 1, 4);
    m_btnOpenOld = openButton(IDC_BTN_OPEN_OLD, pFile);
    pFileGrid->addWidget(m_btnOpenOld, 2, 5);
    pFileGrid->setColumnStretch(1, 1);
    pFileGrid->setColumnStretch(4, 1);
    return pFile;
}

// The type and what it may need.
QWidget* CStationDlg::CreateControlGroup()
{
    auto* pControl = new QGroupBox(QStringLiteral(" Control "), this);
    auto* pControlGrid = new QGridLayout(pControl);
    pControlGrid->addWidget(MakeLabel("Download Type :", pControl), 0, 0);
    m_comboType = m_controls.Add(IDC_COMBO_TYPE, new CFlatComboBox(pControl));
    m_comboType->setMaxVisibleItems(7);
    FillTypeList(*m_comboType, true);
    pControlGrid->addWidget(m_comboType, 0, 1, 1, 2);
    pControlGrid->addWidget(MakeLabel("Start Address :", pControl), 1, 0);
    pControlGrid->addWidget(MakeLabel("0x", pControl), 1, 1);
    m_editFontAddress = m_controls.Add(IDC_STATION_FONT_ADDRESS, new QLineEdit(pControl));
    m_editFontAddress->setMaxLength(8);
    pControlGrid->addWidget(m_editFontAddress, 1, 2);
    const std::string_view strQuestion = kModelVersionQuestion;
    pControlGrid->addWidget(new QLabel(QString::fromUtf8(strQuestion.data(), static_cast<qsizetype>(strQuestion.size())),
                                       pControl),
                            2, 0, 1, 2);
    m_checkYes = m_controls.Add(IDC_STATION_ANSWER_YES, new QCheckBox(QStringLiteral("Yes"), pControl));
    pControlGrid->addWidget(m_checkYes, 2, 2);
    pControlGrid->setColumnStretch(2, 1);
    return pControl;
}

QWidget* CStationDlg::CreatePortsGroup()
{
    auto* pPorts = new QGroupBox(QStringLiteral(" Ports "), this);
    auto* pGrid = new QGridLayout(pPorts);
    m_editPorts = m_controls.Add(IDC_STATION_PORTS, new QLineEdit(pPorts));
    pGrid->addWidget(m_editPorts, 0, 0, 1, 2);
    pGrid->addWidget(MakeLabel("COM numbers, ranges (3-10) or device paths", pPorts), 0, 2);
    pGrid->addWidget(MakeLabel("After each unit :", pPorts), 1, 0);
    m_editOnUnit = m_controls.Add(IDC_STATION_ON_UNIT, new QLineEdit(pPorts));
    m_editOnUnit->setToolTip(QStringLiteral("Run through /bin/sh -c after each unit, for at most 30 s. KESTREL_PORT, "
                                            "KESTREL_SLOT, KESTREL_DEVICE, KESTREL_OUTCOME, KESTREL_EXIT_CODE, "
                                            "KESTREL_SECONDS, KESTREL_IMAGE, KESTREL_IMAGE_SHA256, KESTREL_USB_SERIAL "
                                            "and KESTREL_RUN_ID tell it of the unit."));
    pGrid->addWidget(m_editOnUnit, 1, 1);
    pGrid->addWidget(MakeLabel("a shell command, told of the unit in KESTREL_* variables", pPorts), 1, 2);
    pGrid->setColumnStretch(1, 1);
    return pPorts;
}

// The tiles, as many to a row as the width takes, scrolled when there are more than fit.
QWidget* CStationDlg::CreateTileArea()
{
    auto* pScroll = new QScrollArea(this);
    m_scrollTiles = pScroll;
    pScroll->setWidgetResizable(true);
    pScroll->viewport()->installEventFilter(this);
    auto* pTiles = new QWidget(pScroll);
    m_gridTiles = new QGridLayout(pTiles);
    m_gridTiles->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_gridTiles->setSpacing(8);
    m_gridTiles->setContentsMargins(4, 4, 4, 4);
    pScroll->setWidget(pTiles);
    return pScroll;
}

// The selected port's log; each port has its page in the stack.
QWidget* CStationDlg::CreateLogGroup()
{
    m_groupLog = m_controls.Add(IDC_STATION_LOG_GROUP, new QGroupBox(QStringLiteral(" Log "), this));
    auto* pLogBox = new QVBoxLayout(m_groupLog);
    m_stackLogs = m_controls.Add(IDC_RICH_LOG, new QStackedWidget(m_groupLog));
    pLogBox->addWidget(m_stackLogs);
    // A few lines are enough beside many tiles; the splitter gives it more.
    m_groupLog->setMinimumHeight(m_groupLog->fontMetrics().lineSpacing() * 4);
    return m_groupLog;
}

QLayout* CStationDlg::CreateButtonRow()
{
    auto* pButtons = new QHBoxLayout;
    m_btnStartAll = m_controls.Add(IDC_BTN_RUN, new QPushButton(QStringLiteral("Start all"), this));
    m_btnStopAll = m_controls.Add(IDC_BTN_STOP, new QPushButton(QStringLiteral("Stop all"), this));
    m_btnFlashFailed = m_controls.Add(IDC_STATION_FLASH_FAILED, new QPushButton(QStringLiteral("Flash failed again"), this));
    // Enter in the ports field must not start the runs.
    for (QPushButton* pButton : {m_btnStartAll, m_btnStopAll, m_btnFlashFailed}) pButton->setAutoDefault(false);
    m_checkStartOnArrival =
        m_controls.Add(IDC_STATION_START_ON_ARRIVAL, new QCheckBox(QStringLiteral("start when a handset appears"), this));
    m_labelMessage = m_controls.Add(IDC_STATION_MESSAGE, new QLabel(this));
    QPalette palette = m_labelMessage->palette();
    palette.setColor(QPalette::WindowText, ColorFromRef(kColourRed));
    m_labelMessage->setPalette(palette);
    pButtons->addWidget(m_btnStartAll);
    pButtons->addWidget(m_btnStopAll);
    pButtons->addWidget(m_btnFlashFailed);
    pButtons->addSpacing(12);
    pButtons->addWidget(m_checkStartOnArrival);
    pButtons->addStretch(1);
    pButtons->addWidget(m_labelMessage);
    return pButtons;
}

// The station's counts, under everything else so that they are always in sight.
QLayout* CStationDlg::CreateCountsRow()
{
    auto* pRow = new QHBoxLayout;
    m_labelCounts = m_controls.Add(IDC_STATION_COUNTS, new QLabel(this));
    m_btnResetCounts = m_controls.Add(IDC_STATION_RESET_COUNTS, new QPushButton(QStringLiteral("Reset"), this));
    m_btnResetCounts->setAutoDefault(false);
    pRow->addWidget(m_labelCounts, 1);
    pRow->addWidget(m_btnResetCounts);
    return pRow;
}

void CStationDlg::ConnectControls()
{
    connect(m_btnOpen, &QAbstractButton::clicked, this, &CStationDlg::OnOpenNewImage);
    connect(m_btnOpenOld, &QAbstractButton::clicked, this, &CStationDlg::OnOpenOldImage);
    // Only the operator's choice counts, not the exchange setting the selection.
    connect(m_comboType, &QComboBox::activated, this, &CStationDlg::OnSelchangeDloadType);
    connect(m_editFontAddress, &QLineEdit::editingFinished, this, &CStationDlg::LoadJob);
    connect(m_checkYes, &QCheckBox::toggled, this, &CStationDlg::LoadJob);
    connect(m_editPorts, &QLineEdit::editingFinished, this, &CStationDlg::OnPortsEdited);
    connect(m_editOnUnit, &QLineEdit::editingFinished, this, &CStationDlg::OnUnitHookEdited);
    connect(m_btnStartAll, &QPushButton::clicked, this, &CStationDlg::OnStartAll);
    connect(m_btnStopAll, &QPushButton::clicked, this, &CStationDlg::OnStopAll);
    connect(m_btnFlashFailed, &QPushButton::clicked, this, &CStationDlg::OnFlashFailedAgain);
    connect(m_checkStartOnArrival, &QCheckBox::toggled, this, &CStationDlg::OnStartOnArrivalToggled);
    connect(m_btnResetCounts, &QPushButton::clicked, this, &CStationDlg::OnResetCounts);
}

void CStationDlg::ShowMessageLine(const std::string& text) { m_labelMessage->setText(QString::fromStdString(text)); }

}  // namespace kestrel
