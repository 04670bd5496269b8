// The window as the download engine's view: log lines, buttons, display texts, bars,
// questions and message boxes.

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "app/bitmap_button.h"
#include "app/font_address_dlg.h"
#include "app/log_pane.h"
#include "app/main_dlg.h"
#include "app/run_bar.h"
#include "controls/flat_combo_box.h"
#include "controls/percent_progress_ctrl.h"
#include "serial/com_map.h"

namespace kestrel {
namespace {

QString FromStd(const std::string& str) { return QString::fromStdString(str); }

void SetButton(CBitmapButton* pButton, bool bOn)
{
    pButton->setEnabled(bOn);
    pButton->setChecked(bOn);
}

// The application's title is the caption of every message box.
QMessageBox::StandardButton MessageBox(QWidget* pParent, QMessageBox::Icon eIcon, const std::string& text,
                                       QMessageBox::StandardButtons buttons)
{
    QMessageBox box(eIcon, QCoreApplication::applicationName(), FromStd(text), buttons, pParent);
    box.setTextFormat(Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void CMainDlg::WriteLog(int kind, const std::string& text) { m_richLog->WriteLog(kind, text); }

void CMainDlg::MarkStepDone() { m_richLog->MarkStepDone(); }

void CMainDlg::ClearLog() { m_richLog->clear(); }

void CMainDlg::SetButtons(const SButtonState& state)
{
    SetButton(m_btnOpen, state.bOpen);
    SetButton(m_btnOpenOld, state.bOpen);
    // The comparison rebuilds the run table: not while a run uses it.
    m_btnCompare->setEnabled(state.bOpen);
    SetButton(m_btnRun, state.bRun);
    SetButton(m_btnToDM, state.bToDm);
    SetButton(m_btnInfo, state.bInfo);
    SetButton(m_btnStop, state.bStop);
}

void CMainDlg::SetDisplayText(DisplayText which, const std::string& text)
{
    switch (which) {
    case DisplayText::AddrInfo: m_strAddrInfo = text; break;
    case DisplayText::EraseInfo: m_strEraseInfo = text; break;
    case DisplayText::Elapsed: m_strElapsed = text; break;
    case DisplayText::EraseTime: m_strEraseTime = text; break;
    }
    UpdateData(false);
}

void CMainDlg::SetTitle(const std::string& text) { setWindowTitle(FromStd(text)); }

void CMainDlg::ShowPercentBar()
{
    m_progressIdle->hide();
    m_progress->show();
    PrepareRunBar(*m_progress);
}

void CMainDlg::ShowIdleBar()
{
    m_progress->hide();
    m_progressIdle->show();
}

void CMainDlg::SetPercent(int percent) { m_progress->SetPos(percent); }

void CMainDlg::EnableTypeSelector(bool enable) { m_comboType->setEnabled(enable); }

void CMainDlg::SetWaitCursor(bool on)
{
    if (on == m_bWaitCursor) return;
    m_bWaitCursor = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void CMainDlg::CaptureMouse(bool on)
{
    // Not a grab of the pointer: that would take the whole desktop's mouse for as long as
    // an erase lasts. The window's own controls stop taking clicks instead.
    if (on == m_bMouseCaptured) return;
    m_bMouseCaptured = on;
    if (on)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
}

void CMainDlg::PlaySound(const std::string& resourceName) { m_soundPlayer.PlayWaveResource(resourceName); }

void CMainDlg::ShowMessage(const std::string& text, MessageIcon icon)
{
    MessageBox(this, icon == MessageIcon::Information ? QMessageBox::Information : QMessageBox::NoIcon, text, QMessageBox::Ok);
    RetryPendingClose();
}

bool CMainDlg::AskYesNo(const std::string& text)
{
    const bool bYes = MessageBox(this, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    RetryPendingClose();
    return bYes;
}

void CMainDlg::OnRunStarted()
{
    const int nPort = EnginePort();
    const std::string strDevice =
        DevicePathForPort(nPort, [this](const std::string& strName) { return m_settings.ReadText(strName, ""); });
    m_recorder.OnRunStarted({nPort, strDevice, m_engine.DloadType(), &m_engine.NewImage(), &m_engine.OldImage()});
}

void CMainDlg::OnRunEnded(RunOutcome outcome)
{
    // The journal keeps what the run ended with; the log's last line is the window's to show.
    m_recorder.OnRunEnded(SummarizeRun(outcome, m_engine.Statistics(), {}), m_engine.Statistics());
}

bool CMainDlg::AskFontAddress(uint32_t& address)
{
    CFontAddressDlg dlg(address, this);
    const bool bOk = dlg.exec() == QDialog::Accepted;
    if (bOk) address = dlg.Address();
    RetryPendingClose();
    return bOk;
}

}  // namespace kestrel
