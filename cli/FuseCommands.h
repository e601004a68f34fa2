// The fuse and lock commands of quillon-isp: printing the bytes with their
// named bits, writing them behind the guard against losing the part, and
// reading back.
#pragma once

#include "IspCommand.h"

#include <optional>
#include <string>

namespace cli {

// One or two hex digits, with or without a "0x" prefix.
std::optional<uint8_t> ParseHexByte(const std::string& text);

// The engine's part identified: `fuses` and `lock`, with or without values.
int FusesCommand(const TCommandLine& command, TAVRisp& engine, std::ostream& out,
                 std::ostream& err);
int LockCommand(const TCommandLine& command, TAVRisp& engine, std::ostream& out, std::ostream& err);

} // namespace cli
