#include "app/options_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QRect>
#include <string>

#include "app/dialog_units.h"
#include "services/settings_store.h"
#include "serial/com_map.h"

namespace kestrel {
namespace {

constexpr int kPortCount = 20;  // COM1 to COM20

QString PortEntryText(int nPort)
{
    const std::string strDevice = DevicePathForPort(nPort, StoredSettingLookup());
    const QString strName = QString::fromStdString(PortName(nPort));
    return strDevice.empty() ? strName : QStringLiteral("%1  (%2)").arg(strName, QString::fromStdString(strDevice));
}

}  // namespace

COptionsDlg::COptionsDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Option"));
    setFont(QFont(QStringLiteral("NanumGothic"), 9));
    const CDialogUnits du(font());
    setFixedSize(du.X(123), du.Y(169));

    const auto addGroup = [&](const char* pszTitle, const QRect& rect) {
        auto* pGroup = new QGroupBox(QString::fromLatin1(pszTitle), this);
        pGroup->setGeometry(rect);
    };
    const auto addSwitch = [&](const char* pszText, const QRect& rect, int32_t& nFlag, std::string_view strSetting) {
        auto* pBox = new QCheckBox(QString::fromLatin1(pszText), this);
        pBox->setGeometry(rect);
        connect(pBox, &QCheckBox::clicked, this, [this, &nFlag, strSetting] { OnSwitchClicked(nFlag, strSetting); });
        return pBox;
    };

    addGroup(" COM Port ", du.Rect(7, 7, 109, 34));
    // A list without an edit field: only the selected entry is ever read, so typed text
    // could never take effect.
    m_pPortList = new QComboBox(this);
    m_pPortList->setGeometry(du.Rect(12, 20, 101, 13));
    for (int nPort = 1; nPort <= kPortCount; ++nPort) m_pPortList->addItem(PortEntryText(nPort));
    connect(m_pPortList, &QComboBox::activated, this, [this](int nIndex) { m_nPortIndex = nIndex; });

    addGroup(" Sound Effect ", du.Rect(7, 48, 109, 40));
    m_pErrorSoundBox = addSwitch("Error sound", du.Rect(12, 61, 101, 10), m_nErrorSound, kSettingSoundError);
    m_pSuccessSoundBox = addSwitch("Download Success Sound", du.Rect(12, 74, 101, 10), m_nSuccessSound, kSettingSoundSuccess);

    addGroup(" Change Download ", du.Rect(7, 95, 109, 40));
    // Saved on the click like the others: the main window reads CHANGE_ENABLE back after
    // "Apply", and that must agree with the type list it builds from IsChangeEnabled.
    m_pChangeEnableBox = addSwitch("Enable Change Download", du.Rect(12, 108, 101, 10), m_nChangeEnable, kSettingChangeEnable);
    m_pBackupOldFileBox = addSwitch("Backup Old File", du.Rect(12, 121, 101, 10), m_nBackupOldFile, kSettingBackupOldFile);

    auto* pApply = new QPushButton(QStringLiteral("Apply"), this);
    pApply->setGeometry(du.Rect(7, 148, 50, 14));
    pApply->setDefault(true);
    connect(pApply, &QPushButton::clicked, this, &COptionsDlg::accept);
    auto* pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    pCancel->setGeometry(du.Rect(66, 148, 50, 14));
    connect(pCancel, &QPushButton::clicked, this, &COptionsDlg::reject);

    const int32_t nPort = ReadNumber(kSettingPort, 0);
    m_pPortList->setCurrentIndex(nPort >= 1 && nPort <= kPortCount ? nPort - 1 : -1);
    m_nPortIndex = m_pPortList->currentIndex();
    m_nErrorSound = ReadNumber(kSettingSoundError, 0);
    m_nSuccessSound = ReadNumber(kSettingSoundSuccess, 0);
    m_nChangeEnable = ReadNumber(kSettingChangeEnable, 1);
    m_nBackupOldFile = ReadNumber(kSettingBackupOldFile, 1);
    ExchangeToControls();
}

int COptionsDlg::SavePortSelection()
{
    const int32_t nPort = m_nPortIndex + 1;
    WriteNumber(kSettingPort, nPort);
    return nPort;
}

bool COptionsDlg::IsChangeEnabled() const { return m_nChangeEnable != 0; }

void COptionsDlg::accept()
{
    ExchangeFromControls();
    QDialog::accept();
}

void COptionsDlg::ExchangeToControls()
{
    m_pPortList->setCurrentIndex(m_nPortIndex);
    m_pErrorSoundBox->setChecked(m_nErrorSound != 0);
    m_pSuccessSoundBox->setChecked(m_nSuccessSound != 0);
    m_pChangeEnableBox->setChecked(m_nChangeEnable != 0);
    m_pBackupOldFileBox->setChecked(m_nBackupOldFile != 0);
}

void COptionsDlg::ExchangeFromControls()
{
    m_nPortIndex = m_pPortList->currentIndex();
    m_nErrorSound = m_pErrorSoundBox->isChecked() ? 1 : 0;
    m_nSuccessSound = m_pSuccessSoundBox->isChecked() ? 1 : 0;
    m_nChangeEnable = m_pChangeEnableBox->isChecked() ? 1 : 0;
    m_nBackupOldFile = m_pBackupOldFileBox->isChecked() ? 1 : 0;
}

// The box has already toggled itself; the flag still holds the old state. A stored value
// other than 0 or 1 counts as on, so the first click always turns it off.
void COptionsDlg::OnSwitchClicked(int32_t& nFlag, std::string_view strSetting)
{
    nFlag = nFlag != 0 ? 0 : 1;
    WriteNumber(strSetting, nFlag);
    ExchangeToControls();
}

}  // namespace kestrel
