// The port and the change-download switch: the Options dialog and serial devices coming
// and going.

#include "app/main_dlg.h"
#include "app/options_dlg.h"
#include "app/type_list.h"
#include "controls/flat_combo_box.h"
#include "services/port_watcher.h"
#include "services/settings_store.h"

namespace kestrel {

void CMainDlg::OnOptions()
{
    if (m_engine.IsBusy()) return;
    COptionsDlg dlg(this);
    if (dlg.exec() == QDialog::Accepted) {
        m_nPort = dlg.SavePortSelection();
        m_strPortLabel = PortLabel(m_nPort);
        m_nChangeEnable = ReadNumber(kSettingChangeEnable, 0);
        FillTypeList(*m_comboType, dlg.IsChangeEnabled());
        UpdateData(false);
    } else {
        // The window's copy goes back, whatever the dialog showed.
        WriteNumber(kSettingChangeEnable, m_nChangeEnable);
    }
}

void CMainDlg::WatchPorts()
{
    auto* pWatcher = new CPortWatcher(this);
    connect(pWatcher, &CPortWatcher::PortArrived, this, [this](const QString& strDevNode) { OnDeviceChange(EDeviceChange::Arrival, strDevNode); });
    connect(pWatcher, &CPortWatcher::PortRemoved, this, [this](const QString& strDevNode) { OnDeviceChange(EDeviceChange::Removal, strDevNode); });
}

void CMainDlg::OnDeviceChange(EDeviceChange eChange, const QString& strDevNode)
{
    const SDeviceChangeResult result = DeviceChangeRule(eChange, PortOfDevice(strDevNode.toStdString()));
    if (!result.bChanged) return;
    // The serial port takes a new number when the next run starts.
    if (result.optPort) {
        m_nPort = *result.optPort;
        WriteNumber(kSettingPort, m_nPort);
    }
    m_strPortLabel = result.strPortLabel;
    UpdateData(false);
}

}  // namespace kestrel
