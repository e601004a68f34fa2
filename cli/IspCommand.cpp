#include "IspCommand.h"

#include "CableChoice.h"
#include "EngineText.h"
#include "FuseCommands.h"
#include "MemoryImage.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <ostream>

namespace cli {

namespace {

struct TVerbInfo {
    const char* name;
    TVerb verb;
    std::size_t minArgs;
    std::size_t maxArgs;
};

// No limit: the values of fuses are counted against the part.
constexpr std::size_t AnyCount = std::numeric_limits<std::size_t>::max();

constexpr TVerbInfo Verbs[] = {
    {"identify", TVerb::vbIdentify, 0, 0},
    {"write", TVerb::vbWrite, 1, 2},
    {"read", TVerb::vbRead, 1, 2},
    {"verify", TVerb::vbVerify, 1, 2},
    {"write-flash", TVerb::vbWriteFlash, 1, 1},
    {"write-eeprom", TVerb::vbWriteEEprom, 1, 1},
    {"read-flash", TVerb::vbReadFlash, 1, 1},
    {"read-eeprom", TVerb::vbReadEEprom, 1, 1},
    {"verify-flash", TVerb::vbVerifyFlash, 1, 1},
    {"verify-eeprom", TVerb::vbVerifyEEprom, 1, 1},
    {"erase", TVerb::vbErase, 0, 0},
    {"fuses", TVerb::vbFuses, 0, AnyCount},
    {"lock", TVerb::vbLock, 0, 1},
    {"release", TVerb::vbRelease, 0, 0},
    {"parts", TVerb::vbParts, 0, 0},
    {"cables", TVerb::vbCables, 0, 0},
};

// The commands that load an image: --truncate goes with them.
bool LoadsImage(TVerb verb) {
    return verb == TVerb::vbWrite || verb == TVerb::vbVerify || verb == TVerb::vbWriteFlash ||
           verb == TVerb::vbWriteEEprom || verb == TVerb::vbVerifyFlash ||
           verb == TVerb::vbVerifyEEprom;
}

const char* const FuseNames[] = {"low", "high", "extended"};

// Says what went wrong with a load, if anything; true when the image is in
// the buffer. An image longer than the memory (`size` bytes) is refused, as a
// script cannot see a warning, unless the user accepted the cut.
bool Accepted(const std::string& name, const imagefile::TLoadOutcome& outcome, std::size_t size,
              bool truncate, std::ostream& err) {
    if (!outcome.message.empty()) {
        err << "quillon-isp: " << name << ": " << outcome.message;
        if (!outcome.detail.empty()) err << " (" << outcome.detail << ")";
        if (outcome.result == imagefile::TLoadResult::lrTooLong)
            err << (truncate ? " (only its first " : " (the part holds ") << size
                << (truncate ? " bytes are taken)" : " bytes; --truncate takes the first part)");
        err << '\n';
    }
    if (outcome.result == imagefile::TLoadResult::lrTooLong) return truncate;
    return outcome.Accepted();
}

// Loads one image into the engine's buffer of its memory; a refusal ends the
// command before the part is touched.
bool LoadImage(const std::string& name, bool eeprom, const TCommandLine& command, TAVRisp& engine,
               std::ostream& err) {
    const auto size = static_cast<std::size_t>(eeprom ? engine.EEpromSize() : engine.FlashSize());
    const auto outcome = eeprom ? imagefile::LoadEEpromImage(name, size, engine.EEpromBuffer)
                                : imagefile::LoadFlashImage(name, size, engine.FlashBuffer);
    return Accepted(name, outcome, size, command.truncate, err);
}

// The images of write and verify. Without an EEPROM image the EEPROM buffer
// is erased, as the window does when its EEPROM data box is unticked.
bool LoadImages(const TCommandLine& command, TAVRisp& engine, std::ostream& err) {
    if (!LoadImage(command.files[0], false, command, engine, err)) return false;
    if (command.files.size() > 1) return LoadImage(command.files[1], true, command, engine, err);
    std::fill_n(engine.EEpromBuffer.begin(), engine.EEpromSize(), uint8_t{0xFF});
    return true;
}

bool SaveImage(const std::string& name, bool eeprom, TAVRisp& engine, std::ostream& err) {
    const auto outcome =
        eeprom ? imagefile::SaveEEpromImage(name, static_cast<std::size_t>(engine.EEpromSize()),
                                            engine.EEpromBuffer)
               : imagefile::SaveFlashImage(name, static_cast<std::size_t>(engine.FlashSize()),
                                           engine.FlashBuffer);
    if (!outcome.saved) err << "quillon-isp: " << name << ": " << outcome.message << '\n';
    return outcome.saved;
}

int Failed(std::ostream& err, const std::string& why) {
    err << "quillon-isp: " << why << '\n';
    return ExitFailed;
}

// A verification that failed: a memory that differs, or a part whose lock
// bits forbid reading it back, which is no fault of the memory.
int VerifyFailed(const TAVRisp& engine, std::ostream& err, const char* memoryError) {
    return Failed(err, engine.MismatchFromLock() ? engine.StatusText() : memoryError);
}

bool Verify(TAVRisp& engine, bool eeprom) {
    return eeprom ? engine.VerifyEEprom(engine.EEpromSize()) : engine.VerifyFlash(engine.FlashSize());
}

const char* MemoryError(bool eeprom) {
    return eeprom ? "Error in EEPROM" : "Error in Flash";
}

int Identify(TAVRisp& engine, std::ostream& out) {
    out << "Device: " << engine.AVRversion() << '\n'
        << "Flash: " << engine.FlashSize() << " bytes (0x" << Hex(engine.FlashSize(), 4) << ")\n"
        << "EEPROM: " << engine.EEpromSize() << " bytes (0x" << Hex(engine.EEpromSize(), 4)
        << ")\n";
    const uint8_t fuses[] = {engine.AVRlfb(), engine.AVRhfb(), engine.AVRefb()};
    if (engine.AVRfuse() == 0) out << "Fuses: none\n";
    for (int k = 0; k < engine.AVRfuse() && k < 3; ++k)
        out << "Fuse " << FuseNames[k] << ": 0x" << Hex(fuses[k], 2) << '\n';
    return ExitOk;
}

// One memory alone. Flash: the chip erase first (the only way back to
// erased Flash; the EEPROM goes with it unless EESAVE keeps it), then the
// write and its verification. EEPROM: written over what it holds, the Flash
// neither erased nor touched.
int WriteOneMemory(const TCommandLine& command, TAVRisp& engine, bool eeprom, std::ostream& err) {
    if (!LoadImage(command.files[0], eeprom, command, engine, err)) return ExitFailed;
    if (eeprom) {
        if (!engine.WriteEEprom(0, engine.EEpromSize())) return Failed(err, "EEPROM write aborted");
    } else {
        if (!engine.EraseDevice()) return Failed(err, "Can NOT Erease AVR device.");
        if (!engine.WriteFlash(0, engine.FlashSize())) return Failed(err, "Flash write aborted");
    }
    if (!Verify(engine, eeprom)) return VerifyFailed(engine, err, MemoryError(eeprom));
    return ExitOk;
}

int ReadOneMemory(const TCommandLine& command, TAVRisp& engine, bool eeprom, std::ostream& err) {
    const bool read = eeprom ? engine.ReadEEprom(0, engine.EEpromSize())
                             : engine.ReadFlash(0, engine.FlashSize());
    if (!read) return Failed(err, eeprom ? "EEPROM read aborted" : "Flash read aborted");
    return SaveImage(command.files[0], eeprom, engine, err) ? ExitOk : ExitFailed;
}

int VerifyOneMemory(const TCommandLine& command, TAVRisp& engine, bool eeprom, std::ostream& err) {
    if (!LoadImage(command.files[0], eeprom, command, engine, err)) return ExitFailed;
    if (!Verify(engine, eeprom)) return VerifyFailed(engine, err, MemoryError(eeprom));
    return ExitOk;
}

} // namespace

std::string UsageText() {
    return "usage: quillon-isp [--fast] [--cable NAME[:OPTIONS]] [--simulate] COMMAND [--truncate] [FILE...]\n"
           "  identify                      name, Flash and EEPROM sizes, fuse bytes\n"
           "  write FLASH [EEPROM]          erase, write Flash (and EEPROM), verify both;\n"
           "                                without an EEPROM image the EEPROM must be erased\n"
           "  read FLASH_OUT [EEPROM_OUT]   read the memories and save them (.hex: Intel HEX)\n"
           "  verify FLASH [EEPROM]         compare the part with the images\n"
           "  write-flash FLASH             erase, write the Flash, verify it (the erase also\n"
           "                                clears the EEPROM unless EESAVE is programmed)\n"
           "  write-eeprom EEPROM           write the EEPROM and verify it; no erase, the Flash\n"
           "                                is not touched\n"
           "  read-flash FLASH_OUT          read the Flash alone and save it\n"
           "  read-eeprom EEPROM_OUT        read the EEPROM alone and save it\n"
           "  verify-flash FLASH            compare the Flash alone with the image\n"
           "  verify-eeprom EEPROM          compare the EEPROM alone with the image\n"
           "  erase                         chip erase: Flash and EEPROM (unless EESAVE) to\n"
           "                                0xFF, lock bits cleared\n"
           "  fuses                         print the fuse bytes and their named bits\n"
           "                                (programmed = 0)\n"
           "  fuses LOW [HIGH [EXTENDED]]   write the fuse bytes the part has (hex), read\n"
           "                                them back; a bit that did not take is an error\n"
           "  lock                          print the lock byte\n"
           "  lock VALUE                    write the lock byte (hex) and read it back; only a\n"
           "                                chip erase clears lock bits\n"
           "  release                       release the part\n"
           "  parts                         list the parts this tool knows, by family\n"
           "  cables                        list the cables, their options and wiring\n"
           "  --truncate                    write, verify and the -flash and -eeprom commands:\n"
           "                                take the first part of an image longer than the\n"
           "                                memory instead of refusing it\n"
           "  --allow-lockout               fuses: write a change that ends in-circuit\n"
           "                                programming (RSTDISBL, DWEN, CKSEL for a clock or\n"
           "                                crystal the board may not have), refused without it\n"
           "  --fast                        fast programming: wait for the part instead of\n"
           "                                the fixed times, skip what the erased part already\n"
           "                                holds, clock bits as fast as the part allows\n"
           "  --cable NAME[:OPTIONS]        the cable or programmer: lpt (default), sim, gpio,\n"
           "                                spidev, ftdi, serial, arduino, usbasp; options are\n"
           "                                NAME=VALUE items separated by commas\n"
           "  --simulate                    the cable's stand-in and the simulated part instead\n"
           "                                of the hardware\n"
           "  -h, --help                    print this text\n"
           "  --version                     print the version\n"
           "Without --cable, QUILLON_CABLE names the cable; without either, QUILLON_PORTIO\n"
           "chooses the parallel port's library (lpt, sim or a path).\n";
}

std::optional<TCommandLine> ParseCommandLine(const std::vector<std::string>& args,
                                             std::string& error) {
    // Options may stand anywhere; the other words are the command and its files.
    std::vector<std::string> words;
    bool truncate = false;
    bool fast = false;
    bool simulate = false;
    bool allowLockout = false;
    std::optional<std::string> cable;
    std::string unknown;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            TCommandLine help;
            help.help = true;
            return help;
        }
        if (arg == "--truncate") {
            truncate = true;
        } else if (arg == "--fast") {
            fast = true;
        } else if (arg == "--simulate") {
            simulate = true;
        } else if (arg == "--allow-lockout") {
            allowLockout = true;
        } else if (arg == "--cable" || arg.rfind("--cable=", 0) == 0) {
            std::string value = arg.size() > 7 ? arg.substr(8) : std::string();
            if (arg == "--cable") {
                if (i + 1 == args.size()) {
                    error = "--cable needs a cable, e.g. --cable gpio";
                    return std::nullopt;
                }
                value = args[++i];
            }
            if (cable) {
                error = "--cable given twice";
                return std::nullopt;
            }
            if (value.empty()) {
                error = "--cable needs a cable, e.g. --cable gpio";
                return std::nullopt;
            }
            cable = value;
        } else if (arg.size() > 1 && arg[0] == '-')
            unknown = unknown.empty() ? arg : unknown;
        else
            words.push_back(arg);
    }
    if (!unknown.empty()) {
        error = "unknown option '" + unknown + "'";
        return std::nullopt;
    }
    if (words.empty()) {
        error = "no command given";
        return std::nullopt;
    }
    const auto* info = std::find_if(std::begin(Verbs), std::end(Verbs),
                                    [&](const TVerbInfo& v) { return words[0] == v.name; });
    if (info == std::end(Verbs)) {
        error = "unknown command '" + words[0] + "'";
        return std::nullopt;
    }
    const std::size_t n = words.size() - 1;
    if (n < info->minArgs || n > info->maxArgs) {
        error = "wrong number of arguments for '" + words[0] + "'";
        return std::nullopt;
    }
    if (truncate && !LoadsImage(info->verb)) {
        error = "--truncate goes with the commands that load an image only";
        return std::nullopt;
    }
    if (allowLockout && info->verb != TVerb::vbFuses) {
        error = "--allow-lockout goes with fuses only";
        return std::nullopt;
    }
    TCommandLine command;
    command.verb = info->verb;
    command.truncate = truncate;
    command.fast = fast;
    command.simulate = simulate;
    command.allowLockout = allowLockout;
    command.cable = cable.value_or(std::string());
    const bool values = command.verb == TVerb::vbFuses || command.verb == TVerb::vbLock;
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (values) {
            command.valueText.push_back(words[i]);
            const auto value = ParseHexByte(words[i]);
            if (!value) {
                if (command.valueError.empty())
                    command.valueError = "'" + words[i] + "' is not a " +
                                         (command.verb == TVerb::vbFuses ? "fuse" : "lock") +
                                         " byte (one or two hex digits)";
            } else if (command.verb == TVerb::vbLock) {
                command.lock = *value;
            } else {
                command.fuses.push_back(*value);
            }
        } else {
            if (words[i].empty()) {
                error = "empty file name";
                return std::nullopt;
            }
            command.files.push_back(words[i]);
        }
    }
    if (command.verb == TVerb::vbFuses && command.valueError.empty() && command.valueText.size() > 3)
        command.valueError = "'" + command.valueText[3] +
                             "': no part has more than three fuse bytes (low, high, extended)";
    return command;
}

// The catalogue by family, in its own order: a heading per family, then
// one line per signature with every name sold with it.
void ListParts(std::ostream& out) {
    static const char* const fuseColumn[] = {"none", "L", "L/H", "L/H/E"};
    std::size_t width = 0;
    for (const TAVRdesc& d : AVRDeviceTable)
        width = std::max(width, d.Names.size());
    std::string header = "part";
    header.resize(width + 2, ' ');
    char columns[64];
    std::snprintf(columns, sizeof columns, "  %-10s%6s  %4s  %6s  %s\n", "signature", "Flash",
                  "page", "EEPROM", "fuses");
    out << header << columns;
    std::string_view family;
    for (std::size_t row = 1; row < AVRDeviceTable.size(); ++row) {
        const TAVRdesc& d = AVRDeviceTable[row];
        if (d.Family != family) {
            family = d.Family;
            out << family << '\n';
        }
        std::string names = "  " + std::string(d.Names);
        names.resize(width + 2, ' ');
        char line[96];
        std::snprintf(line, sizeof line, "  %02X %02X %02X  %6d  %4s  %6d  %s\n", d.Signature0,
                      d.Signature1, d.Signature2, d.FlashSize,
                      d.Paged() ? std::to_string(d.PageWords).c_str() : "-", d.EEpromSize,
                      fuseColumn[d.FuseKind < 4 ? d.FuseKind : 0]);
        out << names << line;
    }
}

bool TouchesPart(TVerb verb) {
    return verb != TVerb::vbParts && verb != TVerb::vbCables;
}

int RunCommand(const TCommandLine& command, TAVRisp& engine, std::ostream& out, std::ostream& err) {
    if (!command.valueError.empty()) return Failed(err, command.valueError);
    if (command.verb == TVerb::vbParts) {
        ListParts(out);
        return ExitOk;
    }
    if (command.verb == TVerb::vbCables) {
        cable::ListCables(out);
        return ExitOk;
    }
    engine.SetFastMode(command.fast);
    if (!engine.Identify()) return Failed(err, "Atmel Device NOT found");
    if (engine.DeviceIndex() == DefaultDevice || engine.FlashSize() == 0) {
        return Failed(err, "Atmel AVR Device NOT found: " + UnknownPartText(engine.AVRsignature()));
    }

    switch (command.verb) {
    case TVerb::vbIdentify:
        return Identify(engine, out);

    case TVerb::vbRelease:
        engine.Release();
        return ExitOk;

    case TVerb::vbParts: // listed before identification
    case TVerb::vbCables:
        break;

    case TVerb::vbFuses:
        return FusesCommand(command, engine, out, err);

    case TVerb::vbLock:
        return LockCommand(command, engine, out, err);

    case TVerb::vbErase:
        if (!engine.EraseDevice()) return Failed(err, "Can NOT Erease AVR device.");
        out << "AVR device erased\n";
        return ExitOk;

    case TVerb::vbWriteFlash:
    case TVerb::vbWriteEEprom:
        return WriteOneMemory(command, engine, command.verb == TVerb::vbWriteEEprom, err);

    case TVerb::vbReadFlash:
    case TVerb::vbReadEEprom:
        return ReadOneMemory(command, engine, command.verb == TVerb::vbReadEEprom, err);

    case TVerb::vbVerifyFlash:
    case TVerb::vbVerifyEEprom:
        return VerifyOneMemory(command, engine, command.verb == TVerb::vbVerifyEEprom, err);

    case TVerb::vbRead: {
        if (!engine.ReadFlash(0, engine.FlashSize())) return Failed(err, "Flash read aborted");
        if (!SaveImage(command.files[0], false, engine, err)) return ExitFailed;
        if (command.files.size() > 1) {
            if (!engine.ReadEEprom(0, engine.EEpromSize()))
                return Failed(err, "EEPROM read aborted");
            if (!SaveImage(command.files[1], true, engine, err)) return ExitFailed;
        }
        return ExitOk;
    }

    case TVerb::vbVerify: {
        if (!LoadImages(command, engine, err)) return ExitFailed;
        if (!Verify(engine, false)) return VerifyFailed(engine, err, MemoryError(false));
        if (command.files.size() > 1 && !Verify(engine, true))
            return VerifyFailed(engine, err, MemoryError(true));
        return ExitOk;
    }

    case TVerb::vbWrite: {
        if (!LoadImages(command, engine, err)) return ExitFailed;
        if (!engine.EraseDevice()) return Failed(err, "Can NOT Erease AVR device.");
        if (!engine.WriteFlash(0, engine.FlashSize())) return Failed(err, "Flash write aborted");
        // Without an EEPROM image the part's EEPROM stays as the erase left it
        // and is verified against the erased buffer, as in the window.
        if (command.files.size() > 1 && !engine.WriteEEprom(0, engine.EEpromSize()))
            return Failed(err, "EEPROM write aborted");
        if (!Verify(engine, false)) return VerifyFailed(engine, err, MemoryError(false));
        if (!Verify(engine, true)) return VerifyFailed(engine, err, MemoryError(true));
        out << "AVR memory is OK\n";
        return ExitOk;
    }
    }
    return ExitFailed;
}

} // namespace cli
