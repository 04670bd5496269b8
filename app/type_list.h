#pragma once
// The windows' list of download types: one entry per type, the type as the entry's data.

class QComboBox;

namespace kestrel {

// Every type, or every type but the CHANGE ones.
void FillTypeList(QComboBox& combo, bool bWithChangeTypes);
// The type of the selected entry; -1 when none is selected.
int SelectedType(const QComboBox& combo);
// Selects the type's entry; a type without one leaves no selection.
void SelectType(QComboBox& combo, int nType);

}  // namespace kestrel
