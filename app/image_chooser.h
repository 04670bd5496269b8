#pragma once
// The file chooser behind the windows' Open buttons.

#include <QString>
#include <string_view>

class QWidget;

namespace kestrel {

// The file the operator picks among the *.bin files (or all files), starting in the folder
// kept under the setting; empty when the choice is cancelled.
QString ChooseImageFile(QWidget* pParent, std::string_view strFolderSetting);

}  // namespace kestrel
