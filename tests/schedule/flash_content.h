#pragma once
// What a flash model holds, kept as its written ranges with their bytes: everything else is
// erased (0xFF). Small where the flash is large, so a run's start can be kept and the flash
// it must leave worked out cheaply.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/flash_model.h"

namespace kestrel::test {

// Start address -> bytes; ranges disjoint and not touching, as the flash model keeps them.
using FlashContent = std::map<uint32_t, std::vector<uint8_t>>;

FlashContent CaptureFlash(const sim::CFlashModel& flash);

// The range erased and written with these bytes.
void Overwrite(FlashContent& content, uint32_t address, const std::vector<uint8_t>& bytes);

// Where the two first differ, for a person; empty when they are the same.
std::string FirstDifference(const FlashContent& actual, const FlashContent& expected);

}  // namespace kestrel::test
