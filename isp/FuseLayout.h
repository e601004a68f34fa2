// The fuse and lock bit layouts of the AVR families: which bit of which
// byte is what, the bytes as delivered, and which clock selections run a
// part without anything on XTAL1. The layouts live in FuseLayouts.txt
// beside this header, keyed by signature; the build checks that text (and
// each layout's byte count against the catalogue row of the same signature)
// and compiles it into the engine. A part without a layout shows its bytes
// raw and gets no guard. A bit is programmed when it reads 0.
#pragma once

#include "AVRDeviceTable.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Index of the bytes: the three fuse bytes, then the lock byte.
inline constexpr int FuseLow = 0;
inline constexpr int FuseHigh = 1;
inline constexpr int FuseExtended = 2;
inline constexpr int LockByte = 3;

// One named field of a byte: a bit, or a run of bits with one name.
struct TFuseField {
    std::string_view Name; // "EESAVE", or the name of a run: "CKSEL"
    uint8_t Low = 0;       // its lowest bit
    uint8_t Width = 1;     // its bits

    uint8_t Mask() const { return static_cast<uint8_t>(((1u << Width) - 1u) << Low); }
    unsigned ValueIn(uint8_t Byte) const { return (Byte >> Low) & ((1u << Width) - 1u); }
};

struct TFuseByteLayout {
    bool Present = false;           // the part has this byte
    std::optional<uint8_t> Factory; // as delivered, where published
    std::vector<TFuseField> Fields; // from bit 7 down
    uint8_t Used = 0;               // the bits the fields name

    const TFuseField* Find(std::string_view Name) const;
};

struct TFusePart {
    std::array<uint8_t, 3> Signature{};
    std::string_view Name;
    int Line = 0;
};

struct TFuseLayout {
    std::string_view Family;
    int Line = 0;                         // of its "family" line
    uint8_t ByteCount = 0;                // fuse bytes: 1 low, 2 low and high, 3 and extended
    std::array<TFuseByteLayout, 4> Bytes; // low, high, extended, lock
    // Clock selection: bit v set when CKSEL = v runs the part from an
    // internal oscillator, or takes an external clock on XTAL1. Without a
    // clock line both are 0 and no clock change is guarded.
    uint16_t InternalClocks = 0;
    uint16_t ExternalClocks = 0;
    std::vector<TFusePart> Parts;
};

struct TFuseLayouts {
    std::vector<TFuseLayout> Families;
    std::vector<TFusePart> OldLockParts; // the AT90S lock form: no lock access
};

// Reads a layouts text. On the first fault `Layouts` is left empty and
// `Error` names the line and what is wrong with it.
bool ParseFuseLayouts(std::string_view Text, TFuseLayouts& Layouts, std::string& Error);

// Every catalogue row whose signature has a layout must reach as many fuse
// bytes as the layout describes, with the standard instructions. On a
// mismatch `Error` names the layout's part line and the row.
bool CheckLayoutsAgainstCatalogue(const TFuseLayouts& Layouts, const std::vector<TAVRdesc>& Rows,
                                  std::string& Error);

// The layouts compiled into the engine.
const TFuseLayouts& CompiledFuseLayouts();
// The layout of a part, by its signature; null when it has none.
const TFuseLayout* FindFuseLayout(const std::array<uint8_t, 3>& Signature);
const TFuseLayout* FuseLayoutOf(const TAVRdesc& Row);
// Whether the lock byte can be read (58 00) and written (AC E0): every
// catalogue part but those with the AT90S lock form.
bool HasLockAccess(const TAVRdesc& Row);

// "low", "high", "extended", "lock".
std::string_view FuseByteName(int Byte);

// "RSTDISBL=1 DWEN=1 SPIEN=0 ... BOOTSZ=00 BOOTRST=1": the fields of a byte
// and their values, unused bits left out.
std::string DecodeFuseByte(const TFuseByteLayout& Byte, uint8_t Value);

// "EESAVE 1 -> 0", one per field whose value differs.
std::vector<std::string> ChangedFields(const TFuseByteLayout& Byte, uint8_t Old, uint8_t New);

// What a fuse write would do to in-circuit programming.
enum class TFuseRisk : uint8_t {
    Lockout,     // serial programming ends: RSTDISBL, DWEN, CKSEL away from the internal clock
    WillNotTake, // asks for a change serial programming cannot make (SPIEN unprogrammed)
};

struct TFuseWarning {
    TFuseRisk Risk;
    std::string Bit;  // "RSTDISBL", "CKSEL=0000"
    std::string Text; // one line: the change, what it does, how the part comes back
};

// The warnings of writing `New` over `Old` (low, high, extended; the first
// ByteCount count) on a part of this layout.
std::vector<TFuseWarning> FuseWriteWarnings(const TFuseLayout& Layout, std::span<const uint8_t> Old,
                                            std::span<const uint8_t> New);

// One fuse or lock byte as written and as read back.
struct TFuseReadBack {
    int Byte = FuseLow; // FuseLow .. LockByte
    uint8_t Wanted = 0xFF;
    uint8_t Read = 0xFF;
    uint8_t Compared = 0xFF; // the bits that count: the layout's, or all without one

    uint8_t Missed() const { return static_cast<uint8_t>((Wanted ^ Read) & Compared); }
};

// The bits a byte compares on read-back: those the layout names, all eight
// without a layout.
uint8_t ComparedBits(const TFuseLayout* Layout, int Byte);

// "high fuse byte reads 0xD9, not 0xF9: SPIEN did not take (serial
// programming cannot unprogram SPIEN)"; empty when nothing was missed.
std::string ReadBackText(const TFuseLayout* Layout, const TFuseReadBack& Check);
