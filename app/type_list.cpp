#include "app/type_list.h"

#include <QComboBox>

#include "image/download_type.h"

namespace kestrel {

void FillTypeList(QComboBox& combo, bool bWithChangeTypes)
{
    combo.clear();
    for (int nType = 0; nType < kDownloadTypeCount; ++nType) {
        const std::string_view strName = kDownloadTypeNames[static_cast<std::size_t>(nType)];
        if (bWithChangeTypes || !IsChangeType(nType))
            combo.addItem(QString::fromUtf8(strName.data(), static_cast<qsizetype>(strName.size())), nType);
    }
}

int SelectedType(const QComboBox& combo) { return combo.currentIndex() < 0 ? -1 : combo.currentData().toInt(); }

void SelectType(QComboBox& combo, int nType) { combo.setCurrentIndex(combo.findData(nType)); }

}  // namespace kestrel
