#include "app/image_chooser.h"

#include <QDir>
#include <QFileDialog>
#include <string>

#include "services/settings_store.h"

namespace kestrel {
namespace {

const QStringList kImageFilters{QStringLiteral("Download Binary File (*.bin)"), QStringLiteral("All Files (*.*)")};

}  // namespace

QString ChooseImageFile(QWidget* pParent, std::string_view strFolderSetting)
{
    std::string strFolder = ReadText(strFolderSetting);
    if (strFolder.empty()) strFolder = QDir::homePath().toStdString() + '/';
    QFileDialog dlg(pParent);
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

}  // namespace kestrel
