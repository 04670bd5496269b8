// The station window itself: start-up, the ports and their tiles, Start all and Stop all,
// handsets coming and going, and closing.

#include "app/station_dlg.h"

#include "services/fleet_settings.h"

#include <sys/stat.h>

#include <algorithm>

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QIcon>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSplitter>
#include <QStackedWidget>
#include <QTextDocument>

#include "app/app_startup.h"
#include "app/bitmap_button.h"
#include "app/log_pane.h"
#include "app/station_tile.h"
#include "app/type_list.h"
#include "controls/flat_combo_box.h"
#include "image/download_type.h"
#include "services/journal.h"
#include "services/port_options.h"
#include "services/settings_store.h"

namespace kestrel {
namespace {

constexpr int kLogLinesKept = 20000;

bool DeviceExists(const std::string& strPath)
{
    struct stat st {};
    return !strPath.empty() && ::stat(strPath.c_str(), &st) == 0;
}

QString PortsText(const std::vector<int>& ports)
{
    QStringList names;
    for (const int nPort : ports) names.push_back(QString::fromStdString(PortName(nPort)));
    return names.join(QLatin1Char(' '));
}

}  // namespace

CStationDlg::CStationDlg(QWidget* pParent)
    : QDialog(pParent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                           Qt::WindowCloseButtonHint),
      m_journal(JournalFilePath(), NoticeOnThreadOf(this, [this](const std::string& text) { ShowMessageLine(text); }))
{
    m_journal.ForwardTo(FleetJournalUrl(), ThisStationName());
    setWindowTitle(QString::fromUtf8(kStationTitle.data(), static_cast<qsizetype>(kStationTitle.size())));
    setWindowIcon(QIcon(QString::fromUtf8(kIconResource.data(), static_cast<qsizetype>(kIconResource.size()))));
    CreateControls();
    m_controls.SetToolTips();
    connect(&m_clock, &QTimer::timeout, this, &CStationDlg::OnClockTick);

    RestoreJob();
    const std::string strPorts = ReadText(kSettingStationPorts);
    // The ports found now until the operator chooses some; his choice is kept.
    m_editPorts->setText(strPorts.empty() ? PortsText(DefaultStationPorts(StoredSettingLookup(), DeviceExists))
                                          : QString::fromStdString(strPorts));
    ApplyPortsField();
    UpdateControls();
}

CStationDlg::~CStationDlg() = default;

void CStationDlg::SetPorts(const QString& strPorts)
{
    m_editPorts->setText(strPorts);
    OnPortsEdited();
}

void CStationDlg::OnPortsEdited()
{
    if (ApplyPortsField()) WriteText(kSettingStationPorts, m_strPortsApplied.toStdString());
}

bool CStationDlg::ApplyPortsField()
{
    if (IsAnyRunOn()) {
        m_editPorts->setText(m_strPortsApplied);
        return false;
    }
    const QString strPorts = m_editPorts->text().simplified();
    if (m_pSession && strPorts == m_strPortsApplied) return true;
    std::vector<std::string> args;
    for (const QString& strArg : strPorts.split(QRegularExpression(QStringLiteral("[\\s,;]+")), Qt::SkipEmptyParts))
        args.push_back(strArg.toStdString());
    // No port at all is an empty grid, not the stored port the command line would take.
    std::vector<CPortOptions> ports;
    std::string error;
    if (!args.empty() && !ResolvePortList(args, "", StoredSettingLookup(), ports, error)) {
        ShowMessageLine(error);
        return false;
    }
    m_strPortsApplied = strPorts;
    std::vector<SStationPortId> ids;
    for (const CPortOptions& port : ports) ids.push_back({port.nPort, port.strDevicePath, port.strLabel});
    BuildStation(ids);
    return true;
}

void CStationDlg::BuildStation(const std::vector<SStationPortId>& ids)
{
    // The station's counts go on over a change of its ports; a slot's begin with its tile.
    const std::optional<SUnitCounts> optKept = m_pSession ? std::optional(m_pSession->Counts()) : std::nullopt;
    ClearPorts();
    m_pSession = std::make_unique<CRunSession>(m_qtScheduler, m_settings, m_journal, "station",
                                               static_cast<IStationObserver&>(*this));
    if (optKept) m_pSession->ContinueCounts(*optKept);
    m_pSession->SetUnitHook(m_editOnUnit->text().trimmed().toStdString());
    for (const SStationPortId& id : ids) {
        const int nIndex = m_pSession->AddPort(id);
        SPortView view;
        view.pTile = new CStationTile(id);
        connect(view.pTile, &CStationTile::Clicked, this, [this, nIndex] { SelectTile(nIndex); });
        view.pLog = new CLogPane;
        // A port's log keeps its runs one after another; a day's worth, not forever.
        view.pLog->document()->setMaximumBlockCount(kLogLinesKept);
        m_stackLogs->addWidget(view.pLog);
        m_ports.push_back(view);
    }
    for (int i = 0; i < TileCount(); ++i) ShowPresence(i);
    m_nTileColumns = 0;
    ReflowTiles();
    SelectTile(ids.empty() ? -1 : 0);
    ShowCounts();
    LoadJob();
    m_pSession->WatchHandsets();
}

bool CStationDlg::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pEvent->type() == QEvent::Resize && pWatched == m_scrollTiles->viewport()) ReflowTiles();
    return QDialog::eventFilter(pWatched, pEvent);
}

void CStationDlg::ReflowTiles()
{
    if (TileCount() == 0) return;
    const int nSpacing = m_gridTiles->spacing();
    const QMargins margins = m_gridTiles->contentsMargins();
    const int nTileWidth = Tile(0).width(), nTileHeight = Tile(0).height();
    const int nWidth = m_scrollTiles->viewport()->width() - margins.left() - margins.right();
    const int nColumns = std::max(1, (nWidth + nSpacing) / (nTileWidth + nSpacing));
    if (nColumns != m_nTileColumns) {
        m_nTileColumns = nColumns;
        for (int i = 0; i < TileCount(); ++i) m_gridTiles->removeWidget(&Tile(i));
        for (int i = 0; i < TileCount(); ++i) m_gridTiles->addWidget(&Tile(i), i / nColumns, i % nColumns);
    }
    if (m_bSplitterMoved) return;
    const int nRows = (TileCount() + nColumns - 1) / nColumns;
    const int nFrame = 2 * m_scrollTiles->frameWidth();
    const int nNeeded = nRows * nTileHeight + (nRows - 1) * nSpacing + margins.top() + margins.bottom() + nFrame;
    const int nTotal = m_splitter->height() - m_splitter->handleWidth();
    const int nTiles = std::min(nNeeded, nTotal);
    m_splitter->setSizes({nTiles, nTotal - nTiles});
}

void CStationDlg::ClearPorts()
{
    if (m_pSession) m_pSession->StopUnitHooks();
    m_pSession.reset();
    for (const SPortView& view : m_ports) {
        delete view.pTile;
        delete view.pLog;
    }
    m_ports.clear();
    m_nSelected = -1;
}

void CStationDlg::ApplyStartOnArrival()
{
    if (m_pSession) m_pSession->Station().SetStartOnArrival(m_checkStartOnArrival->isChecked() && m_bJobLoaded);
}

void CStationDlg::OnStartOnArrivalToggled()
{
    WriteNumber(kSettingStationStartOnArrival, m_checkStartOnArrival->isChecked() ? 1 : 0);
    ApplyStartOnArrival();
}

void CStationDlg::OnUnitHookEdited()
{
    const QString strCommand = m_editOnUnit->text().trimmed();
    if (m_pSession) m_pSession->SetUnitHook(strCommand.toStdString());
    if (static_cast<std::size_t>(strCommand.toUcs4().size()) <= kMaxSettingLength)
        WriteText(kSettingStationOnUnit, strCommand.toStdString());
    else
        ShowMessageLine("The command runs, but the settings file keeps at most " + std::to_string(kMaxSettingLength) +
                        " characters: put a longer one in a script to have it next time.");
}

void CStationDlg::SelectTile(int nIndex)
{
    m_nSelected = nIndex;
    QString strTitle = QStringLiteral(" Log ");
    for (int i = 0; i < TileCount(); ++i) {
        Tile(i).SetSelected(i == nIndex);
        if (i != nIndex) continue;
        m_stackLogs->setCurrentWidget(&Log(i));
        strTitle = QStringLiteral(" Log : %1 ").arg(QString::fromStdString(m_pSession->Port(i).Id().Label()));
    }
    m_groupLog->setTitle(strTitle);
}

void CStationDlg::OnStartAll()
{
    if (!m_pSession || !m_bJobLoaded || m_pSession->Station().AnyBusy()) return;
    m_pSession->Station().StartAll();
}

void CStationDlg::OnFlashFailedAgain()
{
    if (!m_pSession || !m_bJobLoaded) return;
    m_pSession->Station().Start(FailedSlotsPresent());
}

std::vector<int> CStationDlg::FailedSlotsPresent() const
{
    std::vector<int> failed;
    for (int i = 0; i < TileCount(); ++i) {
        // Before its first run a port's summary is a stop, not a failure.
        if (IsFailure(m_pSession->Summary(i).eOutcome) && !m_pSession->Port(i).IsRunning() && m_pSession->Station().IsPresent(i))
            failed.push_back(i);
    }
    return failed;
}

void CStationDlg::OnStopAll()
{
    if (m_pSession) m_pSession->Station().StopAll();
}

bool CStationDlg::IsAnyRunOn() const { return m_pSession && (m_pSession->Station().AnyRunning() || m_pSession->Station().AnyBusy()); }

void CStationDlg::UpdateControls()
{
    // Buttons follow the runs; a handler pressed while an engine waits refuses by itself.
    const bool bIdle = !(m_pSession && m_pSession->Station().AnyRunning());
    for (CBitmapButton* pButton : {m_btnOpen, m_btnOpenOld}) {
        pButton->setEnabled(bIdle);
        pButton->setChecked(bIdle);
    }
    m_comboType->setEnabled(bIdle);
    m_editFontAddress->setEnabled(bIdle && IsFontType(m_nDloadType));
    m_checkYes->setEnabled(bIdle);
    m_editPorts->setEnabled(bIdle);
    bool bAnyIdlePort = false;
    for (int i = 0; i < TileCount(); ++i) bAnyIdlePort = bAnyIdlePort || !m_pSession->Port(i).IsRunning();
    m_btnStartAll->setEnabled(m_bJobLoaded && bAnyIdlePort);
    m_btnFlashFailed->setEnabled(m_bJobLoaded && m_pSession && !FailedSlotsPresent().empty());
    m_btnStopAll->setEnabled(!bIdle);
}

void CStationDlg::closeEvent(QCloseEvent* pEvent)
{
    pEvent->ignore();
    // Runs still going on end where they stand, as in the main window; a wait under way is
    // cancelled, so each run has ended as stopped, in the journal too, before the ports go.
    if (m_pSession) m_pSession->Station().AbandonAll();
    // An after-unit command does not keep the window open either.
    if (m_pSession) m_pSession->StopUnitHooks();
    // An engine at work further up this very call lets go once it is free.
    if (m_pSession && !m_pSession->IsIdle()) {
        m_pSession->CallWhenIdle([this] { QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection); });
        return;
    }
    ClearPorts();
    QDialog::done(QDialog::Accepted);
    pEvent->accept();
}

}  // namespace kestrel
