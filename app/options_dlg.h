#pragma once
// The Options dialog: the COM port and four switches. The sound and backup switches, and the
// change-download switch, are saved the moment they are clicked; the port is saved only when
// the caller asks after "Apply" (SavePortSelection). exec() gives Accepted for "Apply" and
// Rejected for "Cancel", Escape or the close box.

#include <QDialog>
#include <cstdint>
#include <string_view>

class QCheckBox;
class QComboBox;

namespace kestrel {

class COptionsDlg : public QDialog {
    Q_OBJECT

public:
    explicit COptionsDlg(QWidget* parent = nullptr);

    // Writes PORT = port index + 1 and returns it: 0 when no entry is selected.
    int SavePortSelection();
    // The change-download switch as "Apply" read it.
    bool IsChangeEnabled() const;

    void accept() override;

private:
    void ExchangeToControls();
    void ExchangeFromControls();
    void OnSwitchClicked(int32_t& nFlag, std::string_view strSetting);

    QComboBox* m_pPortList = nullptr;
    QCheckBox* m_pErrorSoundBox = nullptr;
    QCheckBox* m_pSuccessSoundBox = nullptr;
    QCheckBox* m_pChangeEnableBox = nullptr;
    QCheckBox* m_pBackupOldFileBox = nullptr;

    int32_t m_nErrorSound = 0;
    int32_t m_nSuccessSound = 0;
    int32_t m_nChangeEnable = 1;
    int32_t m_nBackupOldFile = 1;
    int32_t m_nPortIndex = -1;  // 0-based entry of the port list; -1 for none
};

}  // namespace kestrel
