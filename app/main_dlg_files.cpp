// The two Open buttons: choosing the new and the old image, loading it and showing it.

#include <QDir>
#include <QFileDialog>

#include "app/main_dlg.h"
#include "services/settings_store.h"
#include "image/download_type.h"
#include "image/image_path.h"

namespace kestrel {
namespace {

const QStringList kImageFilters{QStringLiteral("Download Binary File (*.bin)"), QStringLiteral("All Files (*.*)")};

}  // namespace

QString CMainDlg::ChooseImageFile(std::string_view strFolderSetting)
{
    std::string strFolder = ReadText(strFolderSetting);
    if (strFolder.empty()) strFolder = QDir::homePath().toStdString() + '/';
    QFileDialog dlg(this);
    // Qt's own chooser matches "*.bin" in any letter case; a desktop's native one may not.
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setFileMode(QFileDialog::ExistingFile);
    dlg.setAcceptMode(QFileDialog::AcceptOpen);
    dlg.setDirectory(QString::fromStdString(strFolder));
    dlg.setNameFilters(kImageFilters);
    dlg.setDefaultSuffix(QStringLiteral("bin"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    return dlg.selectedFiles().constFirst();
}

void CMainDlg::OnOpenNewImage()
{
    if (m_engine.IsBusy()) return;
    const QString strPath = ChooseImageFile(kSettingBinPath);
    if (!strPath.isEmpty()) OpenNewImage(strPath);
}

void CMainDlg::OnOpenOldImage()
{
    if (m_engine.IsBusy()) return;
    const QString strPath = ChooseImageFile(kSettingBinPath2);
    if (!strPath.isEmpty()) OpenOldImage(strPath);
}

void CMainDlg::OpenNewImage(const QString& strPath)
{
    // A run reads the image it started with to the end: nothing is loaded under it.
    if (m_engine.IsRunActive()) return;
    const std::string strFile = strPath.toStdString();
    if (!HasImageExtension(strFile)) {
        ShowMessage(std::string(kNotNewImageMessage), MessageIcon::None);
        return;
    }
    m_strBinPath = strFile;
    LoadNewImage();
    WriteText(kSettingBinPath, FolderOf(strFile));
    ShowNewImageInfo();
    SetButtons(kButtonsIdle);
}

void CMainDlg::OpenOldImage(const QString& strPath)
{
    if (m_engine.IsRunActive()) return;
    const std::string strFile = strPath.toStdString();
    if (!HasImageExtension(strFile)) {
        ShowMessage(std::string(kNotOldImageMessage), MessageIcon::None);
        return;
    }
    m_strOldBinPath = strFile;
    CImageFile& image = m_engine.OldImage();
    if (!image.Load(m_strOldBinPath, m_nDloadType)) ShowMessage(image.LastError(), MessageIcon::Information);
    WriteText(kSettingBinPath2, FolderOf(strFile));
    ShowOldImageInfo();
    m_nDloadType = DLOAD_COMPARE_EMERGENCY;
    UpdateData(false);
    SetButtons(kButtonsIdle);
}

void CMainDlg::LoadNewImage()
{
    // A failed load still goes on: the window then shows size 0.
    CImageFile& image = m_engine.NewImage();
    if (!image.Load(m_strBinPath, m_nDloadType)) ShowMessage(image.LastError(), MessageIcon::Information);
}

void CMainDlg::ShowNewImageInfo()
{
    const CImageFile& image = m_engine.NewImage();
    m_dwBinSize = static_cast<uint32_t>(image.Size());
    m_strBinVersion = image.VersionText();
    UpdateData(false);
}

void CMainDlg::ShowOldImageInfo()
{
    const CImageFile& image = m_engine.OldImage();
    m_dwOldBinSize = static_cast<uint32_t>(image.Size());
    m_strOldBinVersion = image.VersionText();
    UpdateData(false);
}

}  // namespace kestrel
