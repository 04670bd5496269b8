#pragma once
// The program's one window. It holds every control the operator sees and the fields shown
// in them, with one exchange each way between the two; it owns the download engine and is
// its view. Handlers change fields and then exchange them to the controls, or exchange from
// the controls before reading what the operator chose.

#include <QDialog>
#include <QPoint>
#include <QTextCharFormat>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "app/device_change.h"
#include "services/qt_scheduler.h"
#include "app/sound_player.h"
#include "services/stored_settings.h"
#include "app/wait_reporting_scheduler.h"
#include "protocol/download_controller.h"
#include "protocol/download_view.h"

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QTextCursor;
class QTextEdit;

namespace kestrel {

class CBitmapButton;
class CFlatComboBox;
class CPercentProgressCtrl;

// Ids of the window's controls.
enum ControlId : int {
    IDC_RICH_LOG = 1000,
    IDC_BTN_OPEN = 1001,
    IDC_BIN_PATH = 1002,
    IDC_BTN_RUN = 1003,
    IDC_SW_VERSION = 1004,
    IDC_PROGRESS = 1005,
    IDC_BIN_SIZE = 1006,
    IDC_BIN_VERSION = 1007,
    IDC_BTN_STOP = 1008,
    IDC_COMBO_TYPE = 1011,
    IDC_BTN_OPEN_OLD = 1012,
    IDC_COMPILED = 1013,
    IDC_PCB_VERSION = 1014,
    IDC_OLD_BIN_PATH = 1015,
    IDC_OLD_BIN_SIZE = 1016,
    IDC_OLD_BIN_VERSION = 1017,
    IDC_ADDR_INFO = 1018,
    IDC_BTN_COMPARE = 1019,
    IDC_PROGRESS_IDLE = 1020,
    IDC_BTN_INFO = 1021,
    IDC_BTN_TODM = 1023,
    IDC_ELAPSED = 1029,
    IDC_PORT_LABEL = 1036,
};

class CMainDlg final : public QDialog, public IDownloadView {
    Q_OBJECT

public:
    explicit CMainDlg(QWidget* pParent = nullptr);
    ~CMainDlg() override;

    // The control with the id; null for an id the window does not have.
    QWidget* GetDlgItem(int nId) const;
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
    // A serial device appeared or went away.
    void OnDeviceChange(EDeviceChange eChange, const QString& strDevNode);

    // Fields to controls (false) or controls to fields (true).
    void UpdateData(bool bSaveAndValidate);

    // IDownloadView
    void WriteLog(int kind, const std::string& text) override;
    void MarkStepDone() override;
    void ClearLog() override;
    void SetButtons(const ButtonState& state) override;
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
    void FillTypeList(bool bWithChangeTypes);
    void LoadNewImage();
    void ShowNewImageInfo();
    void ShowOldImageInfo();
    // The file the operator picks, starting in the folder kept under the setting; empty
    // when the choice is cancelled.
    QString ChooseImageFile(std::string_view strFolderSetting);
    void PushSelectionToEngine();
    void ShowLogEnd(const QTextCursor& cursor);
    void RetryPendingClose();
    template <class T>
    T* AddControl(int nId, T* pControl);

    // Owned objects, in the order they are needed: the engine uses the others.
    CQtScheduler m_qtScheduler;
    CWaitReportingScheduler m_scheduler;
    CStoredSettings m_settings;
    CSoundPlayer m_soundPlayer;
    CDownloadController m_engine;

    // Controls.
    std::map<int, QWidget*> m_controls;
    CBitmapButton* m_btnOpen = nullptr;
    CBitmapButton* m_btnOpenOld = nullptr;
    CBitmapButton* m_btnRun = nullptr;
    CBitmapButton* m_btnToDM = nullptr;
    CBitmapButton* m_btnInfo = nullptr;
    CBitmapButton* m_btnStop = nullptr;
    QPushButton* m_btnCompare = nullptr;
    QTextEdit* m_richLog = nullptr;
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

    // Log lines: bold 10 point, the colour set per line.
    QTextCharFormat m_cfLog;

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
