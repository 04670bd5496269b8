#pragma once
// The station window: one image and download type, chosen once, flashed into the handsets on
// several ports at once. A tile per port shows its run; a click on a tile shows that port's
// log. The ports' engines share the window's scheduler (see station/station.h), and nothing
// in the window waits for the operator while a run goes on: the job answers the questions.

#include <QDialog>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/control_ids.h"
#include "app/control_map.h"
#include "image/image_file.h"
#include "protocol/time_left.h"
#include "services/journal_writer.h"
#include "services/qt_scheduler.h"
#include "services/run_session.h"
#include "services/stored_settings.h"
#include "station/station.h"

class QCheckBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QSplitter;
class QStackedWidget;

namespace kestrel {

// The window's title; the main window's context menu names it too.
inline constexpr std::string_view kStationTitle = "Kestrel 스테이션";
// A tile's state before its port's first run: without a handset, and with one.
inline constexpr std::string_view kWaitingText = "waiting for handset";
inline constexpr std::string_view kReadyText = "handset connected";

class CBitmapButton;
class CFlatComboBox;
class CLogPane;
class CStationTile;

class CStationDlg final : public QDialog, private IStationObserver {
    Q_OBJECT

public:
    explicit CStationDlg(QWidget* pParent = nullptr);
    ~CStationDlg() override;

    QWidget* GetDlgItem(int nId) const { return m_controls.Get(nId); }
    int TileCount() const { return static_cast<int>(m_ports.size()); }
    CStationTile& Tile(int nIndex) const { return *m_ports[static_cast<std::size_t>(nIndex)].pTile; }
    CLogPane& Log(int nIndex) const { return *m_ports[static_cast<std::size_t>(nIndex)].pLog; }
    // Null until the ports are set.
    const CStation* Station() const { return m_pSession ? &m_pSession->Station() : nullptr; }
    // The job can be run: an image is chosen and every port has loaded it.
    bool IsJobLoaded() const { return m_bJobLoaded; }

    // The Open buttons once a file is chosen.
    void OpenNewImage(const QString& strPath);
    void OpenOldImage(const QString& strPath);
    // The ports as the operator writes them: numbers, COMn, ranges N-M and device paths,
    // apart by spaces or commas. A tile each; refused while a run goes on.
    void SetPorts(const QString& strPorts);
    void SelectTile(int nIndex);
    void OnStartAll();
    void OnStopAll();
    // Starts every slot whose last run failed and whose handset is still there.
    void OnFlashFailedAgain();

    // Enter and Escape do not end the window.
    void accept() override {}
    void reject() override {}

protected:
    void closeEvent(QCloseEvent* pEvent) override;
    // The tiles follow the width of their area.
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    struct SPortView {
        CStationTile* pTile = nullptr;
        CLogPane* pLog = nullptr;
        CTimeLeft timeLeft;                        // of the write going on
    };

    // The controls from top to bottom: the job, the ports, the tiles, the log and the buttons.
    void CreateControls();
    QLayout* CreateJobRow();
    QWidget* CreateFileGroup();
    QWidget* CreateControlGroup();
    QWidget* CreatePortsGroup();
    QWidget* CreateTileArea();
    QWidget* CreateLogGroup();
    QLayout* CreateButtonRow();
    QLayout* CreateCountsRow();
    void ConnectControls();

    // The job: what every port runs, as the window last had it.
    void RestoreJob();
    void StoreJob() const;
    void OnOpenNewImage();
    void OnOpenOldImage();
    // The chosen path when it names an image file, its folder then kept for the next choice;
    // otherwise nothing, and the refusal on the message line.
    std::optional<std::string> TakeImagePath(const QString& strPath, std::string_view strFolderSetting,
                                             std::string_view strRefusal);
    void OnSelchangeDloadType();
    void LoadJob();
    bool LoadJobIntoPorts();
    bool MakeJob(SStationJob& job);
    void ShowImageInfo();

    // Ports and tiles.
    void OnPortsEdited();
    // The ports field made into tiles; false when it cannot be now.
    bool ApplyPortsField();
    void BuildStation(const std::vector<SStationPortId>& ids);
    void ClearPorts();
    void ApplyStartOnArrival();
    // Lays the tiles out in as many columns as the area's width takes, and gives the tiles
    // the height they need before the log, until the operator moves the splitter himself.
    void ReflowTiles();
    void OnStartOnArrivalToggled();
    void OnUnitHookEdited();

    // IStationObserver
    void OnPortLog(int index, int kind, const std::string& text) override;
    void OnPortCheckMark(int index) override;
    void OnPortProgress(int index, const SBlockProgress& progress) override;
    void OnPortRunStarted(int index) override;
    void OnPortRunEnded(int index, RunOutcome outcome) override;
    void OnPortPresence(int index, bool bPresent) override;
    // Before the port's first run: whether its handset is there.
    void ShowPresence(int nIndex);
    // The step and elapsed time of a port whose run goes on.
    void ShowRunning(int nIndex);
    void OnClockTick();
    // The counts of the station and of every slot since the window opened or Reset.
    void ShowCounts();
    void OnResetCounts();

    bool IsAnyRunOn() const;
    std::vector<int> FailedSlotsPresent() const;
    void UpdateControls();
    void ShowMessageLine(const std::string& text);

    // Owned objects, in the order they are needed: the session uses the others.
    CQtScheduler m_qtScheduler;
    CStoredSettings m_settings;
    CJournalWriter m_journal;
    std::unique_ptr<CRunSession> m_pSession;
    std::vector<SPortView> m_ports;
    // Refreshes the elapsed times while a run goes on.
    QTimer m_clock;
    // Shows the image's size and version, and adapts the type to it, as the main window does.
    CImageFile m_image;

    // Controls.
    CControlMap m_controls;
    QLineEdit* m_editBinPath = nullptr;
    QLineEdit* m_editBinSize = nullptr;
    QLineEdit* m_editBinVersion = nullptr;
    CBitmapButton* m_btnOpen = nullptr;
    CFlatComboBox* m_comboType = nullptr;
    QLineEdit* m_editFontAddress = nullptr;
    QLineEdit* m_editOldBinPath = nullptr;
    CBitmapButton* m_btnOpenOld = nullptr;
    QCheckBox* m_checkYes = nullptr;
    QLineEdit* m_editPorts = nullptr;
    QLineEdit* m_editOnUnit = nullptr;
    QGridLayout* m_gridTiles = nullptr;
    QScrollArea* m_scrollTiles = nullptr;
    QSplitter* m_splitter = nullptr;
    QGroupBox* m_groupLog = nullptr;
    QStackedWidget* m_stackLogs = nullptr;
    QPushButton* m_btnStartAll = nullptr;
    QPushButton* m_btnStopAll = nullptr;
    QPushButton* m_btnFlashFailed = nullptr;
    QCheckBox* m_checkStartOnArrival = nullptr;
    QLabel* m_labelMessage = nullptr;
    QLabel* m_labelCounts = nullptr;
    QPushButton* m_btnResetCounts = nullptr;

    // Fields.
    std::string m_strBinPath;
    std::string m_strOldBinPath;
    int m_nDloadType = -1;
    bool m_bJobLoaded = false;
    int m_nSelected = -1;
    QString m_strPortsApplied;
    int m_nTileColumns = 0;
    bool m_bSplitterMoved = false;
};

}  // namespace kestrel
