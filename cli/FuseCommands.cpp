#include "FuseCommands.h"

#include "EngineText.h"

#include <array>
#include <cstdio>
#include <ostream>

namespace cli {

namespace {

int Fail(std::ostream& err, const std::string& why) {
    err << "quillon-isp: " << why << '\n';
    return ExitFailed;
}

std::array<uint8_t, 3> PartFuses(const TAVRisp& engine) {
    return {engine.AVRlfb(), engine.AVRhfb(), engine.AVRefb()};
}

// "high 0xD9: RSTDISBL=1 DWEN=1 ..." for every fuse byte the part has.
void PrintFuses(const TAVRisp& engine, std::ostream& out) {
    const TFuseLayout* layout = engine.FuseLayout();
    const auto bytes = PartFuses(engine);
    for (int k = 0; k < engine.AVRfuse() && k < 3; ++k) {
        out << FuseByteName(k) << ' ' << Hex2(bytes[k]);
        if (layout != nullptr) out << ": " << DecodeFuseByte(layout->Bytes[k], bytes[k]);
        out << '\n';
    }
    if (layout == nullptr)
        out << "(the bits of the " << engine.AVRversion()
            << "'s fuse bytes are not known to this tool: no guard against locking it out)\n";
}

const char* LockMode(uint8_t lock) {
    switch (lock & 0x03) {
    case 0x03:
        return "mode 1: not locked";
    case 0x02:
        return "mode 2: further programming disabled";
    case 0x00:
        return "mode 3: programming and reading back disabled";
    default:
        return "LB2 alone programmed";
    }
}

void PrintLock(const TAVRisp& engine, uint8_t lock, std::ostream& out) {
    const TFuseLayout* layout = engine.FuseLayout();
    out << "lock " << Hex2(lock) << ": ";
    if (layout != nullptr && layout->Bytes[LockByte].Present)
        out << DecodeFuseByte(layout->Bytes[LockByte], lock) << " (" << LockMode(lock) << ")\n";
    else
        out << LockMode(lock) << '\n';
}

} // namespace

std::optional<uint8_t> ParseHexByte(const std::string& text) {
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

int FusesCommand(const TCommandLine& command, TAVRisp& engine, std::ostream& out,
                 std::ostream& err) {
    const std::size_t have = engine.AVRfuse();
    if (have == 0) return Fail(err, engine.AVRversion() + " has no fuse bytes");
    if (command.fuses.empty()) {
        PrintFuses(engine, out);
        return ExitOk;
    }
    static const char* const give[] = {"", "LOW", "LOW HIGH", "LOW HIGH EXTENDED"};
    if (command.fuses.size() > have)
        return Fail(err, "'" + command.valueText[have] + "': the " + engine.AVRversion() + " has " +
                             std::to_string(have) + (have == 1 ? " fuse byte" : " fuse bytes") +
                             "; give " + give[have < 4 ? have : 0]);
    if (command.fuses.size() != have)
        return Fail(err, engine.AVRversion() + " has " + std::to_string(have) +
                             (have == 1 ? " fuse byte" : " fuse bytes") + "; give " +
                             give[have < 4 ? have : 0]);

    const std::array<uint8_t, 3> old = PartFuses(engine);
    std::array<uint8_t, 3> now = old;
    std::copy(command.fuses.begin(), command.fuses.end(), now.begin());
    const TFuseLayout* layout = engine.FuseLayout();
    if (layout != nullptr) {
        const auto count = static_cast<std::size_t>(layout->ByteCount);
        const auto warnings =
            FuseWriteWarnings(*layout, std::span(old).first(count), std::span(now).first(count));
        bool refused = false;
        for (const TFuseWarning& w : warnings) {
            if (w.Risk == TFuseRisk::Lockout && !command.allowLockout) {
                err << "quillon-isp: refused: " << w.Text
                    << "; --allow-lockout writes it all the same\n";
                refused = true;
            }
        }
        if (refused) return ExitFailed;
        for (const TFuseWarning& w : warnings)
            err << "quillon-isp: warning: " << w.Text << '\n';
        for (std::size_t k = 0; k < have; ++k)
            for (const std::string& change : ChangedFields(layout->Bytes[k], old[k], now[k]))
                out << FuseByteName(static_cast<int>(k)) << ": " << change << '\n';
    } else {
        for (std::size_t k = 0; k < have; ++k)
            if (old[k] != now[k])
                out << FuseByteName(static_cast<int>(k)) << ": " << Hex2(old[k]) << " -> "
                    << Hex2(now[k]) << '\n';
    }
    const bool written = engine.WriteFuses(now[2], now[1], now[0]);
    if (!engine.LastReadBack().empty()) PrintFuses(engine, out);
    return written ? ExitOk : Fail(err, engine.StatusText());
}

int LockCommand(const TCommandLine& command, TAVRisp& engine, std::ostream& out,
                std::ostream& err) {
    if (!engine.HasLockBits())
        return Fail(err, engine.AVRversion() + " has no lock bits this tool can read or write");
    if (!command.lock) {
        uint8_t lock = 0xFF;
        if (!engine.ReadLockBits(lock)) return Fail(err, engine.StatusText());
        PrintLock(engine, lock, out);
        return ExitOk;
    }
    const uint8_t value = *command.lock;
    const uint8_t bits = ComparedBits(engine.FuseLayout(), LockByte);
    if ((value | bits) != 0xFF)
        return Fail(err, "'" + command.valueText[0] + "': only the bits of " + Hex2(bits) +
                             " are lock bits of the " + engine.AVRversion() +
                             "; give the others as 1 (e.g. " +
                             Hex2(static_cast<uint8_t>(value | ~bits)) + ")");
    const bool written = engine.WriteLockBits(value);
    if (!engine.LastReadBack().empty()) PrintLock(engine, engine.LastReadBack()[0].Read, out);
    return written ? ExitOk : Fail(err, engine.StatusText());
}

} // namespace cli
