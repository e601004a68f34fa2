// quillon-isp: the command-line programmer. One command line is parsed into a
// TCommandLine, then run on an engine whose port the caller opens; every
// command first identifies the part, as Init Device does in the window.
#pragma once

#include "AVRisp.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// Exit codes of the program.
inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

enum class TVerb {
    vbIdentify,
    vbWrite,
    vbRead,
    vbVerify,
    vbWriteFlash,
    vbWriteEEprom,
    vbReadFlash,
    vbReadEEprom,
    vbVerifyFlash,
    vbVerifyEEprom,
    vbErase,
    vbFuses,
    vbLock,
    vbRelease,
    vbParts,
    vbCables
};

struct TCommandLine {
    TVerb verb = TVerb::vbIdentify;
    // write, verify: images to load; read: files to save. [0] Flash, [1] EEPROM.
    // The -flash and -eeprom commands: the one file of that memory.
    std::vector<std::string> files;
    // fuses: low, high, extended, as many as were given (none: print them).
    std::vector<uint8_t> fuses;
    // lock: the lock byte to write (none: print it).
    std::optional<uint8_t> lock;
    // The fuse or lock values as typed, for the messages that name them.
    std::vector<std::string> valueText;
    // A fuse or lock value that is not a hex byte, or more fuse bytes than
    // any part has: the one line that says so. The command fails (exit 1)
    // before anything is sent.
    std::string valueError;
    // fuses: write changes that end in-circuit programming (RSTDISBL, DWEN,
    // a clock the board may not have) instead of refusing them.
    bool allowLockout = false;
    // write, verify: an image longer than the part's memory is cut to it
    // (--truncate) instead of refused.
    bool truncate = false;
    // --help or -h: print the usage and do nothing else.
    bool help = false;
    // --fast: the engine's fast programming mode for this command.
    bool fast = false;
    // --cable NAME[:OPTIONS]: the cable, as given (empty: QUILLON_CABLE, or
    // the port library of QUILLON_PORTIO).
    std::string cable;
    // --simulate: the cable's stand-in instead of the hardware.
    bool simulate = false;
};

// The usage text, printed for --help and on wrong usage.
std::string UsageText();

// Parses the arguments after the program name. On wrong usage returns
// nothing and says why in `error`.
std::optional<TCommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                             std::string& error);

// Lists the part catalogue: name, signature, sizes, page and fuse bytes.
void ListParts(std::ostream& out);

// Whether the command drives a part (parts and cables only list).
bool TouchesPart(TVerb verb);

// Runs the command on `engine`, whose port is already open (`parts` and
// `cables` need no port and touch no part). Results go to
// `out`; warnings and the reason of a failure go to `err`. Returns ExitOk or
// ExitFailed.
int RunCommand(const TCommandLine& command, TAVRisp& engine, std::ostream& out, std::ostream& err);

} // namespace cli
