#pragma once
// A run's step in the words its log uses for it.

#include <string>

#include "protocol/download_run.h"

namespace kestrel {

std::string RunStepText(RunStep step);

}  // namespace kestrel
