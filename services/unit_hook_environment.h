#pragma once
// What the after-unit command is told of the unit, taken from its journal row.

#include <string>

#include "services/journal_fields.h"
#include "services/unit_hook.h"

namespace kestrel {

// strPort: the port as the log and the unit line name it. Values the row does not have are
// empty; KESTREL_RUN_ID is, while the journal has not taken the row yet.
HookEnvironment UnitHookEnvironment(const CJournalRow& row, const std::string& strPort, int nExitCode);

}  // namespace kestrel
