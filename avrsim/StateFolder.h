#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace avrsim {

// The files in which a simulated chip keeps its memories between runs:
// flash.bin (image byte order), eeprom.bin, fuses.bin (low, high, extended),
// lock.bin (the lock byte) and device.txt (the part's name).

// Fills the memories from `dir` when its device.txt names `part`; a file
// missing or of the wrong size leaves its memory as it is. Returns whether
// the folder belonged to this part.
bool LoadChipState(const std::string& dir, std::string_view part, std::span<uint8_t> flash,
                   std::span<uint8_t> eeprom, std::array<uint8_t, 3>& fuses);

// Writes all four files (device.txt last, each one replaced whole), creating
// the folder when needed. On failure returns false and describes it in `error`.
bool SaveChipState(const std::string& dir, std::string_view part, std::span<const uint8_t> flash,
                   std::span<const uint8_t> eeprom, const std::array<uint8_t, 3>& fuses,
                   std::string& error);

// The lock byte of lock.bin, read once LoadChipState found the folder to be
// the part's; a missing file leaves `lock` as it is (unlocked). Saving writes
// it whole; false with `error` on failure.
void LoadLockState(const std::string& dir, uint8_t& lock);
bool SaveLockState(const std::string& dir, uint8_t lock, std::string& error);

} // namespace avrsim
