#include "app/control_map.h"

#include "app/string_table.h"

namespace kestrel {

QWidget* CControlMap::Get(int nId) const
{
    const auto it = m_controls.find(nId);
    return it == m_controls.end() ? nullptr : it->second;
}

void CControlMap::SetToolTips() const
{
    for (const auto& [nId, pControl] : m_controls) {
        const std::string_view strTip = LoadString(nId);
        // A control of our own keeps the tip it was made with.
        if (strTip.empty()) continue;
        pControl->setToolTip(QString::fromUtf8(strTip.data(), static_cast<qsizetype>(strTip.size())));
    }
}

}  // namespace kestrel
