// What every port of the station runs: the image and the download type, chosen once, with
// the old image, the font address and the answer to the model-version question where the
// type needs them.

#include <QCheckBox>
#include <QLineEdit>
#include <QSignalBlocker>

#include "app/font_address_dlg.h"
#include "app/image_chooser.h"
#include "app/station_dlg.h"
#include "app/type_list.h"
#include "controls/flat_combo_box.h"
#include "image/download_type.h"
#include "image/image_path.h"
#include "services/settings_store.h"

namespace kestrel {
namespace {

constexpr uint32_t kDefaultFontAddress = 0xE00000;

}  // namespace

void CStationDlg::RestoreJob()
{
    m_nDloadType = ReadNumber(kSettingStationType, ReadNumber(kSettingDloadType, DLOAD_NORMAL));
    m_strBinPath = ReadText(kSettingStationImage);
    m_strOldBinPath = ReadText(kSettingStationOldImage);
    const std::string strFontAddress = ReadText(kSettingStationFontAddress);
    m_editFontAddress->setText(strFontAddress.empty() ? QString::number(kDefaultFontAddress, 16) : QString::fromStdString(strFontAddress));
    // The ports are not made yet: nothing is loaded on the way.
    const QSignalBlocker blockYes(m_checkYes);
    const QSignalBlocker blockArrival(m_checkStartOnArrival);
    // A station runs unattended: the model-version question is answered Yes unless the operator said No.
    m_checkYes->setChecked(ReadNumber(kSettingStationAnswerYes, 1) != 0);
    m_checkStartOnArrival->setChecked(ReadNumber(kSettingStationStartOnArrival, 0) != 0);
    m_editOnUnit->setText(QString::fromStdString(ReadText(kSettingStationOnUnit)));
}

void CStationDlg::StoreJob() const
{
    WriteText(kSettingStationImage, m_strBinPath);
    WriteText(kSettingStationOldImage, m_strOldBinPath);
    WriteNumber(kSettingStationType, m_nDloadType);
    WriteText(kSettingStationFontAddress, m_editFontAddress->text().toStdString());
    WriteNumber(kSettingStationAnswerYes, m_checkYes->isChecked() ? 1 : 0);
}

void CStationDlg::OnOpenNewImage()
{
    if (IsAnyRunOn()) return;
    const QString strPath = ChooseImageFile(this, kSettingBinPath);
    if (!strPath.isEmpty()) OpenNewImage(strPath);
}

void CStationDlg::OnOpenOldImage()
{
    if (IsAnyRunOn()) return;
    const QString strPath = ChooseImageFile(this, kSettingBinPath2);
    if (!strPath.isEmpty()) OpenOldImage(strPath);
}

void CStationDlg::OpenNewImage(const QString& strPath)
{
    // A run reads the image it started with to the end: nothing is loaded under it.
    if (IsAnyRunOn()) return;
    const std::optional<std::string> optFile = TakeImagePath(strPath, kSettingBinPath, kNotNewImageMessage);
    if (!optFile) return;
    m_strBinPath = *optFile;
    LoadJob();
}

void CStationDlg::OpenOldImage(const QString& strPath)
{
    if (IsAnyRunOn()) return;
    const std::optional<std::string> optFile = TakeImagePath(strPath, kSettingBinPath2, kNotOldImageMessage);
    if (!optFile) return;
    m_strOldBinPath = *optFile;
    // As in the main window, an old image selects the comparison.
    m_nDloadType = DLOAD_COMPARE_EMERGENCY;
    LoadJob();
}

std::optional<std::string> CStationDlg::TakeImagePath(const QString& strPath, std::string_view strFolderSetting,
                                                      std::string_view strRefusal)
{
    const std::string strFile = strPath.toStdString();
    if (!HasImageExtension(strFile)) {
        ShowMessageLine(std::string(strRefusal));
        return std::nullopt;
    }
    WriteText(strFolderSetting, FolderOf(strFile));
    return strFile;
}

void CStationDlg::OnSelchangeDloadType()
{
    if (!IsAnyRunOn()) m_nDloadType = SelectedType(*m_comboType);
    LoadJob();
}

void CStationDlg::LoadJob()
{
    // While a run goes on the controls keep showing the job it runs.
    if (!IsAnyRunOn()) m_bJobLoaded = LoadJobIntoPorts();
    if (m_bJobLoaded) StoreJob();
    ShowImageInfo();
    ApplyStartOnArrival();
    UpdateControls();
}

bool CStationDlg::LoadJobIntoPorts()
{
    ShowMessageLine({});
    SStationJob job;
    if (m_strBinPath.empty() || !MakeJob(job)) return false;
    std::string error;
    if (m_pSession && !m_pSession->LoadJob(job, error)) {
        ShowMessageLine(error);
        return false;
    }
    return true;
}

bool CStationDlg::MakeJob(SStationJob& job)
{
    // Loading adapts the type to the image; the list shows the type that runs.
    if (!m_image.Load(m_strBinPath, m_nDloadType)) {
        ShowMessageLine(m_image.LastError());
        return false;
    }
    job.strImage = m_strBinPath;
    job.nType = m_nDloadType;
    if (m_nDloadType == DLOAD_COMPARE_EMERGENCY) job.strOldImage = m_strOldBinPath;
    job.nBaudIndex = ReadNumber(kSettingBaud, 1);
    job.bAnswerYes = m_checkYes->isChecked();
    if (IsFontType(m_nDloadType)) {
        const std::optional<uint32_t> optAddress = ParseFontAddress(m_editFontAddress->text().toStdString());
        if (!optAddress) {
            ShowMessageLine("Start Address : 1 to 8 hexadecimal digits, with or without 0x.");
            return false;
        }
        job.dwFontAddress = *optAddress;
    }
    return true;
}

void CStationDlg::ShowImageInfo()
{
    const bool bLoaded = m_image.IsLoaded() && m_image.Path() == m_strBinPath;
    m_editBinPath->setText(QString::fromStdString(m_strBinPath));
    m_editBinSize->setText(QString::number(bLoaded ? m_image.Size() : 0));
    m_editBinVersion->setText(bLoaded ? QString::fromStdString(m_image.VersionText()) : QString());
    m_editOldBinPath->setText(QString::fromStdString(m_strOldBinPath));
    SelectType(*m_comboType, m_nDloadType);
}

}  // namespace kestrel
