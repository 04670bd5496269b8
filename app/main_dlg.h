#pragma once
// The program's main window, for one port. It holds every control the operator sees and the fields shown
// in them, with one exchange each way between the two; it owns the download engine and is
// its view. Handlers change fields and then exchange them to the controls, or exchange from
// the controls before reading what the operator chose.

#include <QDialog>
#include <QPoint>
#include <cstdint>
#include <optional>
#include <string>

#include "app/control_ids.h"
#include "app/control_map.h"
#include "app/device_change.h"
#include "services/journal_writer.h"
#include "services/qt_scheduler.h"
#include "app/sound_player.h"
#include "services/run_recorder.h"
#include "services/stored_settings.h"
#include "app/wait_reporting_scheduler.h"
#include "protocol/download_controller.h"
#include "protocol/download_view.h"

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrel {

class CBitmapButton;
class CFlatComboBox;
class CLogPane;
class CPercentProgressCtrl;

class CMainDlg final : public QDialog, public IDownloadView {
    Q_OBJECT

public:
    explicit CMainDlg(QWidget* pParent = nullptr);
    ~CMainDlg() override;

    // The control with the id; null for an id the window does not have.
    QWidget* GetDlgItem(int nId) const { return m_controls.Get(nId); }
    CDownloadController& Engine() { return m_engine; }
    int Port() const { return m_nPort; }
    int DloadType() const { return m_nDloadType; }

    // Buttons and lists.
    void OnOpenNewImage();
    void OnOpenOldImage();
    // The Open buttons once a file is chosen.
    void OpenNewImage(const QString& strPath);
    void OpenOldImage(const QString& strPath);
    void OnRun();
    void OnStop();
    void OnToDM();
    void OnCompare();
    void OnOptions();
    void OnSelchangeDloadType();
    void OnAbout();
    void OnHistory();
    // Opens the station window, unless a run of this window goes on.
    void OnStation();
    // A serial device appeared or went away.
    void OnDeviceChange(EDeviceChange eChange, const QString& strDevNode);

    // Fields to controls (false) or controls to fields (true).
    void UpdateData(bool bSaveAndValidate);

    // IDownloadView
    void WriteLog(int kind, const std::string& text) override;
    void MarkStepDone() override;
    void ClearLog() override;
    void SetButtons(const SButtonState& state) override;
    void SetDisplayText(DisplayText which, const std::string& text) override;
    void SetTitle(const std::string& text) override;
    void ShowPercentBar() override;
    void ShowIdleBar() override;
    void SetPercent(int percent) override;
    void EnableTypeSelector(bool enable) override;
    void SetWaitCursor(bool on) override;
    void CaptureMouse(bool on) override;
    void PlaySound(const std::string& resourceName) override;
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    bool AskYesNo(const std::string& text) override;
    bool AskFontAddress(uint32_t& address) override;
    void OnRunStarted() override;
    void OnRunEnded(RunOutcome outcome) override;

    // Enter and Escape do not end the window.
    void accept() override {}
    void reject() override {}

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void CreateControls();
    void OnInitDialog();
    void WatchPorts();
    void LoadNewImage();
    void ShowNewImageInfo();
    void ShowOldImageInfo();
    void PushSelectionToEngine();
    // The port the engine opens: 0 for a stored number that names no port.
    int EnginePort() const;
    void RetryPendingClose();

    // Owned objects, in the order they are needed: the engine uses the others.
    CQtScheduler m_qtScheduler;
    CWaitReportingScheduler m_scheduler;
    CStoredSettings m_settings;
    CSoundPlayer m_soundPlayer;
    CJournalWriter m_journal;
    CRunRecorder m_recorder;
    CDownloadController m_engine;

    // Controls.
    CControlMap m_controls;
    CBitmapButton* m_btnOpen = nullptr;
    CBitmapButton* m_btnOpenOld = nullptr;
    CBitmapButton* m_btnRun = nullptr;
    CBitmapButton* m_btnToDM = nullptr;
    CBitmapButton* m_btnInfo = nullptr;
    CBitmapButton* m_btnStop = nullptr;
    QPushButton* m_btnCompare = nullptr;
    CLogPane* m_richLog = nullptr;
    CFlatComboBox* m_comboType = nullptr;
    CPercentProgressCtrl* m_progress = nullptr;
    CPercentProgressCtrl* m_progressIdle = nullptr;
    QLineEdit* m_editBinPath = nullptr;
    QLineEdit* m_editBinSize = nullptr;
    QLineEdit* m_editBinVersion = nullptr;
    QLineEdit* m_editOldBinPath = nullptr;
    QLineEdit* m_editOldBinSize = nullptr;
    QLineEdit* m_editOldBinVersion = nullptr;
    QLineEdit* m_editSwVersion = nullptr;
    QLineEdit* m_editCompiled = nullptr;
    QLineEdit* m_editPcbVersion = nullptr;
    QLineEdit* m_editAddrInfo = nullptr;
    QLineEdit* m_editElapsed = nullptr;
    QLabel* m_labelPort = nullptr;
    QAction* m_actAbout = nullptr;
    QAction* m_actHistory = nullptr;
    QAction* m_actStation = nullptr;

    // Fields.
    int m_nChangeEnable = 0;
    std::string m_strBinPath;
    std::string m_strBinVersion;
    uint32_t m_dwBinSize = 0;
    int m_nDloadType = -1;
    int m_nPort = -1;
    int m_nBaud = -1;
    std::string m_strAddrInfo;
    std::string m_strEraseInfo;
    std::string m_strPcbVersion;
    std::string m_strSwVersion;
    std::string m_strCompiled;
    std::string m_strElapsed;
    std::string m_strEraseTime;
    std::string m_strPortLabel;
    uint32_t m_dwOldBinSize = 0;
    std::string m_strOldBinPath;
    std::string m_strOldBinVersion;

    bool m_bWaitCursor = false;
    bool m_bMouseCaptured = false;
    // A close that came while the engine waited or asked; it is taken up when that ends.
    bool m_bClosePending = false;
    // Where the window system cannot move the window, it follows the mouse by itself.
    std::optional<QPoint> m_optDragOffset;
};

}  // namespace kestrel
