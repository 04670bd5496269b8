// The window itself: start-up, the exchange between fields and controls, and the handlers
// that belong to the window rather than to a download.

#include "app/main_dlg.h"

#include "services/fleet_settings.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QWindow>

#include "app/about_dlg.h"
#include "app/app_startup.h"
#include "app/bitmap_button.h"
#include "app/history_dlg.h"
#include "app/station_dlg.h"
#include "services/settings_store.h"
#include "app/string_table.h"
#include "app/type_list.h"
#include "controls/flat_combo_box.h"
#include "image/download_type.h"

namespace kestrel {
namespace {

QString FromStd(std::string_view str) { return QString::fromUtf8(str.data(), static_cast<qsizetype>(str.size())); }

void SetText(QLineEdit* pEdit, const std::string& str)
{
    const QString strText = FromStd(str);
    if (pEdit->text() != strText) pEdit->setText(strText);
}

}  // namespace

CMainDlg::CMainDlg(QWidget* pParent)
    : QDialog(pParent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_scheduler(m_qtScheduler, [this] { RetryPendingClose(); }),
      m_journal(JournalFilePath(), NoticeOnThreadOf(this, [this](const std::string& text) { WriteLog(kLogInfo, text); })),
      m_recorder(m_journal, "window"),
      m_engine(m_scheduler, *this, m_settings)
{
    m_journal.ForwardTo(FleetJournalUrl(), ThisStationName());
    CreateControls();
    OnInitDialog();
    WatchPorts();
}

CMainDlg::~CMainDlg()
{
    SetWaitCursor(false);
    CaptureMouse(false);
}

void CMainDlg::OnInitDialog()
{
    UpdateData(false);

    // Window managers keep the window menu to themselves: the About entry goes into the
    // window's own context menu, and the station window's with it.
    const std::string_view strAbout = LoadString(IDS_ABOUTBOX);
    if (!strAbout.empty()) {
        m_actAbout = new QAction(FromStd(strAbout), this);
        connect(m_actAbout, &QAction::triggered, this, &CMainDlg::OnAbout);
    }
    m_actHistory = new QAction(FromStd(LoadString(IDS_HISTORY)), this);
    connect(m_actHistory, &QAction::triggered, this, &CMainDlg::OnHistory);
    m_actStation = new QAction(FromStd(LoadString(IDS_STATION)), this);
    connect(m_actStation, &QAction::triggered, this, &CMainDlg::OnStation);
    setWindowIcon(QIcon(FromStd(kIconResource)));

    m_nBaud = ReadNumber(kSettingBaud, 1);
    WriteNumber(kSettingChangeEnable, 1);
    m_nChangeEnable = 0;
    FillTypeList(*m_comboType, true);
    m_nDloadType = ReadNumber(kSettingDloadType, DLOAD_NORMAL);
    if (IsChangeType(m_nDloadType)) m_nDloadType = DLOAD_EMERGENCY;
    ShowIdleBar();

    m_btnOpen->LoadBitmaps("OPEN");
    m_btnOpenOld->LoadBitmaps("OPEN");
    m_btnRun->LoadBitmaps("RUN");
    m_btnToDM->LoadBitmaps("TODM");
    m_btnInfo->LoadBitmaps("INFO");
    m_btnStop->LoadBitmaps("STOP");
    SetButtons(kButtonsAtStart);

    m_controls.SetToolTips();

    // A stored number that names no port is kept as it is but never opened.
    m_nPort = ReadNumber(kSettingPort, 1);
    if (IsUsablePortNumber(m_nPort)) WriteNumber(kSettingPort, m_nPort);
    PushSelectionToEngine();

    m_engine.SetBanner(std::string(g_strBanner));
    SetTitle(std::string(g_strBanner));
    m_strPortLabel = PortLabel(m_nPort);
    UpdateData(false);
    if (const std::string strProblem = SettingsFileProblem(); !strProblem.empty()) WriteLog(kLogError, strProblem);
}

void CMainDlg::UpdateData(bool bSaveAndValidate)
{
    if (bSaveAndValidate) {
        m_nDloadType = SelectedType(*m_comboType);
        return;
    }
    SetText(m_editBinPath, m_strBinPath);
    SetText(m_editBinSize, std::to_string(m_dwBinSize));
    SetText(m_editBinVersion, m_strBinVersion);
    SetText(m_editOldBinPath, m_strOldBinPath);
    SetText(m_editOldBinSize, std::to_string(m_dwOldBinSize));
    SetText(m_editOldBinVersion, m_strOldBinVersion);
    SetText(m_editSwVersion, m_strSwVersion);
    SetText(m_editCompiled, m_strCompiled);
    SetText(m_editPcbVersion, m_strPcbVersion);
    SetText(m_editAddrInfo, m_strAddrInfo);
    SetText(m_editElapsed, m_strElapsed);
    m_labelPort->setText(FromStd(m_strPortLabel));
    SelectType(*m_comboType, m_nDloadType);
}

void CMainDlg::PushSelectionToEngine()
{
    m_engine.SetDloadType(m_nDloadType);
    m_engine.SetBaudIndex(m_nBaud);
    m_engine.SetPort(EnginePort());
}

int CMainDlg::EnginePort() const { return IsUsablePortNumber(m_nPort) ? m_nPort : 0; }

void CMainDlg::OnSelchangeDloadType()
{
    // While the engine waits, the list keeps showing the type the run was started with.
    if (m_engine.IsBusy()) {
        UpdateData(false);
        return;
    }
    UpdateData(true);
    WriteNumber(kSettingDloadType, m_nDloadType);
    // Loading may adapt the type to the image; the list shows that at the next exchange.
    if (!m_strBinPath.empty()) LoadNewImage();
}

void CMainDlg::OnRun()
{
    if (m_engine.IsBusy()) return;
    PushSelectionToEngine();
    m_engine.OnRun();
}

void CMainDlg::OnStop() { m_engine.OnStop(); }

void CMainDlg::OnToDM() { m_engine.OnToDM(); }

void CMainDlg::OnCompare() { m_engine.OnCompare(); }

void CMainDlg::OnAbout()
{
    CAboutDlg dlg(FromStd(g_strBanner), this);
    dlg.exec();
}

void CMainDlg::OnHistory()
{
    CHistoryDlg dlg(this);
    dlg.exec();
}

void CMainDlg::OnStation()
{
    // The two windows could open the same port: not while this one runs.
    if (m_engine.IsBusy() || m_engine.IsRunActive()) return;
    CStationDlg dlg(this);
    dlg.exec();
}

void CMainDlg::closeEvent(QCloseEvent* pEvent)
{
    pEvent->ignore();
    // The engine is in the middle of a wait: the window closes as soon as that ends.
    if (m_engine.IsBusy()) {
        m_bClosePending = true;
        return;
    }
    m_bClosePending = false;
    m_engine.OnClose();
    UpdateData(true);
    QDialog::done(QDialog::Accepted);
    pEvent->accept();
}

void CMainDlg::RetryPendingClose()
{
    if (!m_bClosePending) return;
    m_bClosePending = false;
    QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
}

void CMainDlg::mousePressEvent(QMouseEvent* pEvent)
{
    QDialog::mousePressEvent(pEvent);
    if (pEvent->button() != Qt::LeftButton) return;
    pEvent->accept();
    if (windowHandle() != nullptr && windowHandle()->startSystemMove()) return;
    m_optDragOffset = pEvent->globalPosition().toPoint() - pos();
}

void CMainDlg::mouseMoveEvent(QMouseEvent* pEvent)
{
    if (m_optDragOffset && (pEvent->buttons() & Qt::LeftButton)) {
        move(pEvent->globalPosition().toPoint() - *m_optDragOffset);
        pEvent->accept();
        return;
    }
    QDialog::mouseMoveEvent(pEvent);
}

void CMainDlg::mouseReleaseEvent(QMouseEvent* pEvent)
{
    m_optDragOffset.reset();
    QDialog::mouseReleaseEvent(pEvent);
}

void CMainDlg::contextMenuEvent(QContextMenuEvent* pEvent)
{
    QMenu menu(this);
    if (m_actAbout != nullptr) menu.addAction(m_actAbout);
    menu.addAction(m_actHistory);
    menu.addAction(m_actStation);
    menu.exec(pEvent->globalPos());
}

bool CMainDlg::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    // Installed only while the mouse is captured: the window's controls take no clicks; a
    // question the engine asks meanwhile is a window of its own and takes them.
    const QEvent::Type eType = pEvent->type();
    if (eType == QEvent::MouseButtonPress || eType == QEvent::MouseButtonRelease || eType == QEvent::MouseButtonDblClick) {
        auto* pWidget = qobject_cast<QWidget*>(pWatched);
        if (pWidget != nullptr && pWidget != this && pWidget->window() == this) return true;
    }
    return QDialog::eventFilter(pWatched, pEvent);
}

}  // namespace kestrel
