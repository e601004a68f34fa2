// The layouts compiled into the engine, and what is said about fuse bytes:
// their named bits, the bits a write changes, the changes that end
// in-circuit programming, and the bits a read-back found not taken.
#include "FuseLayout.h"

#include "EngineText.h"

#include <cstdio>
#include <cstdlib>

// Defined in the source the build generates from FuseLayouts.txt.
extern const std::string_view CompiledFuseLayoutsText;

namespace {

std::string Bits(unsigned value, unsigned width) {
    std::string s;
    for (unsigned k = width; k-- > 0;)
        s += ((value >> k) & 1u) != 0 ? '1' : '0';
    return s;
}

bool SameSignature(const TFusePart& p, const std::array<uint8_t, 3>& s) {
    return p.Signature == s;
}

// A single bit that goes from unprogrammed to programmed.
bool Programs(const TFuseLayout& l, std::string_view name, std::span<const uint8_t> old,
              std::span<const uint8_t> now, int& byte) {
    for (int b = FuseLow; b < l.ByteCount && b < static_cast<int>(now.size()); ++b) {
        const TFuseField* f = l.Bytes[b].Find(name);
        if (f == nullptr) continue;
        byte = b;
        return f->ValueIn(old[b]) == 1 && f->ValueIn(now[b]) == 0;
    }
    return false;
}

} // namespace

const TFuseLayouts& CompiledFuseLayouts() {
    static const TFuseLayouts layouts = [] {
        TFuseLayouts l;
        std::string error;
        // The build has refused a faulty text already; a program that finds
        // one all the same must not guard parts with half the layouts.
        if (!ParseFuseLayouts(CompiledFuseLayoutsText, l, error)) {
            std::fprintf(stderr, "The fuse layouts are faulty: %s\n", error.c_str());
            std::abort();
        }
        return l;
    }();
    return layouts;
}

const TFuseLayout* FindFuseLayout(const std::array<uint8_t, 3>& Signature) {
    for (const TFuseLayout& l : CompiledFuseLayouts().Families)
        for (const TFusePart& p : l.Parts)
            if (SameSignature(p, Signature)) return &l;
    return nullptr;
}

const TFuseLayout* FuseLayoutOf(const TAVRdesc& Row) {
    if (Row.FuseForm != TFuseForm::Standard) return nullptr;
    return FindFuseLayout({Row.Signature0, Row.Signature1, Row.Signature2});
}

bool HasLockAccess(const TAVRdesc& Row) {
    if (Row.FlashSize == 0) return false;
    const std::array<uint8_t, 3> s{Row.Signature0, Row.Signature1, Row.Signature2};
    for (const TFusePart& p : CompiledFuseLayouts().OldLockParts)
        if (SameSignature(p, s)) return false;
    return true;
}

std::string_view FuseByteName(int Byte) {
    static constexpr std::string_view names[] = {"low", "high", "extended", "lock"};
    return Byte >= FuseLow && Byte <= LockByte ? names[Byte] : "unknown";
}

std::string DecodeFuseByte(const TFuseByteLayout& Byte, uint8_t Value) {
    std::string s;
    for (const TFuseField& f : Byte.Fields) {
        if (!s.empty()) s += ' ';
        s += std::string(f.Name) + "=" + Bits(f.ValueIn(Value), f.Width);
    }
    return s;
}

std::vector<std::string> ChangedFields(const TFuseByteLayout& Byte, uint8_t Old, uint8_t New) {
    std::vector<std::string> changes;
    for (const TFuseField& f : Byte.Fields)
        if (f.ValueIn(Old) != f.ValueIn(New))
            changes.push_back(std::string(f.Name) + " " + Bits(f.ValueIn(Old), f.Width) + " -> " +
                              Bits(f.ValueIn(New), f.Width));
    return changes;
}

std::vector<TFuseWarning> FuseWriteWarnings(const TFuseLayout& Layout, std::span<const uint8_t> Old,
                                            std::span<const uint8_t> New) {
    std::vector<TFuseWarning> warnings;
    int byte = 0;
    if (Programs(Layout, "RSTDISBL", Old, New, byte))
        warnings.push_back(
            {TFuseRisk::Lockout, "RSTDISBL",
             "programming RSTDISBL (" + std::string(FuseByteName(byte)) +
                 " fuse byte) makes RESET an I/O pin: serial programming can no longer "
                 "start, and only high-voltage programming brings the part back"});
    if (Programs(Layout, "DWEN", Old, New, byte))
        warnings.push_back({TFuseRisk::Lockout, "DWEN",
                            "programming DWEN (" + std::string(FuseByteName(byte)) +
                                " fuse byte) makes RESET the debugWIRE line: serial programming no "
                                "longer starts until a debugWIRE tool turns debugWIRE off"});
    const TFuseField* cksel = Layout.Bytes[FuseLow].Find("CKSEL");
    if (cksel != nullptr && Layout.InternalClocks != 0 && !Old.empty() && !New.empty()) {
        const unsigned was = cksel->ValueIn(Old[FuseLow]);
        const unsigned now = cksel->ValueIn(New[FuseLow]);
        if (now != was && ((Layout.InternalClocks >> now) & 1u) == 0) {
            const std::string bit = "CKSEL=" + Bits(now, cksel->Width);
            if (((Layout.ExternalClocks >> now) & 1u) != 0)
                warnings.push_back({TFuseRisk::Lockout, bit,
                                    bit + " selects an external clock: on a board without one the "
                                          "part stops and nothing answers until a clock is applied "
                                          "to XTAL1"});
            else
                warnings.push_back({TFuseRisk::Lockout, bit,
                                    bit + " selects a crystal, resonator or RC network: on a board "
                                          "without one the part stops and nothing answers until a "
                                          "crystal or a clock on XTAL1 brings it back"});
        }
    }
    for (int b = FuseLow; b < Layout.ByteCount && b < static_cast<int>(New.size()); ++b) {
        const TFuseField* spien = Layout.Bytes[b].Find("SPIEN");
        if (spien != nullptr && spien->ValueIn(Old[b]) == 0 && spien->ValueIn(New[b]) == 1)
            warnings.push_back({TFuseRisk::WillNotTake, "SPIEN",
                                "unprogramming SPIEN (" + std::string(FuseByteName(b)) +
                                    " fuse byte) will not take: serial programming cannot change "
                                    "SPIEN"});
    }
    return warnings;
}

uint8_t ComparedBits(const TFuseLayout* Layout, int Byte) {
    if (Layout != nullptr && Layout->Bytes[Byte].Present) return Layout->Bytes[Byte].Used;
    // Without a layout: the lock byte's top two bits are unused on every
    // part (its write form is 11ii.iiii); a fuse byte counts whole.
    return Byte == LockByte ? 0x3F : 0xFF;
}

std::string ReadBackText(const TFuseLayout* Layout, const TFuseReadBack& Check) {
    const uint8_t missed = Check.Missed();
    if (missed == 0) return {};
    const bool lock = Check.Byte == LockByte;
    std::string text = std::string(FuseByteName(Check.Byte)) + (lock ? " byte" : " fuse byte") +
                       " reads " + Hex2(Check.Read) + ", not " + Hex2(Check.Wanted) + ": ";
    std::string names;
    uint8_t named = 0;
    const auto add = [&names](const std::string& name) {
        names += (names.empty() ? "" : ", ") + name;
    };
    if (Layout != nullptr && Layout->Bytes[Check.Byte].Present) {
        for (const TFuseField& f : Layout->Bytes[Check.Byte].Fields) {
            if ((f.Mask() & missed) == 0) continue;
            named |= f.Mask();
            if (f.Width == 1)
                add(std::string(f.Name));
            else
                add(std::string(f.Name) + " (reads " + Bits(f.ValueIn(Check.Read), f.Width) +
                    ", not " + Bits(f.ValueIn(Check.Wanted), f.Width) + ")");
        }
    }
    for (int bit = 7; bit >= 0; --bit)
        if ((missed & ~named) & (1u << bit)) add("bit " + std::to_string(bit));
    text += names + " did not take";
    // Bits asked to go back to 1 that stay 0.
    const uint8_t stayedProgrammed = static_cast<uint8_t>(missed & Check.Wanted & ~Check.Read);
    if (lock && stayedProgrammed != 0) {
        text += " (only a chip erase clears lock bits)";
    } else if (!lock && Layout != nullptr) {
        const TFuseField* spien = Layout->Bytes[Check.Byte].Find("SPIEN");
        if (spien != nullptr && (spien->Mask() & stayedProgrammed) != 0)
            text += " (serial programming cannot unprogram SPIEN)";
    }
    return text;
}
