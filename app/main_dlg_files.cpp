// The two Open buttons: choosing the new and the old image, loading it and showing it.

#include "app/image_chooser.h"
#include "app/main_dlg.h"
#include "services/settings_store.h"
#include "image/download_type.h"
#include "image/image_path.h"

namespace kestrel {

void CMainDlg::OnOpenNewImage()
{
    if (m_engine.IsBusy()) return;
    const QString strPath = ChooseImageFile(this, kSettingBinPath);
    if (!strPath.isEmpty()) OpenNewImage(strPath);
}

void CMainDlg::OnOpenOldImage()
{
    if (m_engine.IsBusy()) return;
    const QString strPath = ChooseImageFile(this, kSettingBinPath2);
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
    m_recorder.OnImageLoaded(image);
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
    m_recorder.OnImageLoaded(image);
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
