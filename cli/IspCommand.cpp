#include "IspCommand.h"

#include "CableChoice.h"
#include "MemoryImage.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace cli {

namespace {

struct TVerbInfo {
    const char* name;
    TVerb verb;
    std::size_t minArgs;
    std::size_t maxArgs;
};

constexpr TVerbInfo Verbs[] = {
    {"identify", TVerb::vbIdentify, 0, 0}, {"write", TVerb::vbWrite, 1, 2},
    {"read", TVerb::vbRead, 1, 2},         {"verify", TVerb::vbVerify, 1, 2},
    {"fuses", TVerb::vbFuses, 1, 3},       {"release", TVerb::vbRelease, 0, 0},
    {"parts", TVerb::vbParts, 0, 0},       {"cables", TVerb::vbCables, 0, 0},
};

// Two hex digits at most, with or without a "0x" prefix.
std::optional<uint8_t> ParseFuseByte(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 2) return std::nullopt;
    unsigned value = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * 16 + static_cast<unsigned>(d);
    }
    return static_cast<uint8_t>(value);
}

std::string Hex(unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, value);
    return buf;
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

// Loads the images to write or verify into the engine's buffers. Without an
// EEPROM image the EEPROM buffer is erased, as the window does when its
// EEPROM data box is unticked. Any refusal ends the command before the part
// is touched.
bool LoadImages(const TCommandLine& command, TAVRisp& engine, std::ostream& err) {
    const auto flashSize = static_cast<std::size_t>(engine.FlashSize());
    const auto eepromSize = static_cast<std::size_t>(engine.EEpromSize());
    if (!Accepted(command.files[0],
                  imagefile::LoadFlashImage(command.files[0], flashSize, engine.FlashBuffer),
                  flashSize, command.truncate, err))
        return false;
    if (command.files.size() > 1) {
        if (!Accepted(command.files[1],
                      imagefile::LoadEEpromImage(command.files[1], eepromSize, engine.EEpromBuffer),
                      eepromSize, command.truncate, err))
            return false;
    } else {
        std::fill_n(engine.EEpromBuffer.begin(), eepromSize, uint8_t{0xFF});
    }
    return true;
}

bool SaveImages(const TCommandLine& command, TAVRisp& engine, bool eeprom, std::ostream& err) {
    const std::string& name = command.files[eeprom ? 1 : 0];
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

} // namespace

std::string UsageText() {
    return "usage: quillon-isp [--fast] [--cable NAME[:OPTIONS]] [--simulate] COMMAND [--truncate] [FILE...]\n"
           "  identify                      name, Flash and EEPROM sizes, fuse bytes\n"
           "  write FLASH [EEPROM]          erase, write Flash (and EEPROM), verify both;\n"
           "                                without an EEPROM image the EEPROM must be erased\n"
           "  read FLASH_OUT [EEPROM_OUT]   read the memories and save them (.hex: Intel HEX)\n"
           "  verify FLASH [EEPROM]         compare the part with the images\n"
           "  fuses LOW [HIGH [EXTENDED]]   write the fuse bytes the part has (hex digits)\n"
           "  release                       release the part\n"
           "  parts                         list the parts this tool knows, by family\n"
           "  cables                        list the cables, their options and wiring\n"
           "  --truncate                    write, verify: take the first part of an image\n"
           "                                longer than the memory instead of refusing it\n"
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
    if (truncate && info->verb != TVerb::vbWrite && info->verb != TVerb::vbVerify) {
        error = "--truncate goes with write or verify only";
        return std::nullopt;
    }
    TCommandLine command;
    command.verb = info->verb;
    command.truncate = truncate;
    command.fast = fast;
    command.simulate = simulate;
    command.cable = cable.value_or(std::string());
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (command.verb == TVerb::vbFuses) {
            const auto value = ParseFuseByte(words[i]);
            if (!value) {
                error = "'" + words[i] + "' is not a fuse byte (one or two hex digits)";
                return std::nullopt;
            }
            command.fuses.push_back(*value);
        } else {
            if (words[i].empty()) {
                error = "empty file name";
                return std::nullopt;
            }
            command.files.push_back(words[i]);
        }
    }
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

    case TVerb::vbFuses: {
        const std::size_t have = engine.AVRfuse();
        if (have == 0) return Failed(err, engine.AVRversion() + " has no fuse bytes");
        if (command.fuses.size() != have)
            return Failed(err, engine.AVRversion() + " has " + std::to_string(have) +
                                   (have == 1 ? " fuse byte" : " fuse bytes") + "; give " +
                                   (have == 1   ? "LOW"
                                    : have == 2 ? "LOW HIGH"
                                                : "LOW HIGH EXTENDED"));
        uint32_t values[3] = {0xFF, 0xFF, 0xFF};
        std::copy(command.fuses.begin(), command.fuses.end(), values);
        if (!engine.WriteFuses(values[2], values[1], values[0]))
            return Failed(err, "Fuse write failed");
        return ExitOk;
    }

    case TVerb::vbRead: {
        if (!engine.ReadFlash(0, engine.FlashSize())) return Failed(err, "Flash read aborted");
        if (!SaveImages(command, engine, false, err)) return ExitFailed;
        if (command.files.size() > 1) {
            if (!engine.ReadEEprom(0, engine.EEpromSize()))
                return Failed(err, "EEPROM read aborted");
            if (!SaveImages(command, engine, true, err)) return ExitFailed;
        }
        return ExitOk;
    }

    case TVerb::vbVerify: {
        if (!LoadImages(command, engine, err)) return ExitFailed;
        if (!engine.VerifyFlash(engine.FlashSize())) return Failed(err, "Error in Flash");
        if (command.files.size() > 1 && !engine.VerifyEEprom(engine.EEpromSize()))
            return Failed(err, "Error in EEPROM");
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
        if (!engine.VerifyFlash(engine.FlashSize())) return Failed(err, "Error in Flash");
        if (!engine.VerifyEEprom(engine.EEpromSize())) return Failed(err, "Error in EEPROM");
        out << "AVR memory is OK\n";
        return ExitOk;
    }
    }
    return ExitFailed;
}

} // namespace cli
