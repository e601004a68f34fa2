#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace avrsim {

// Which fuse instructions a part understands.
enum class FuseLayout : uint8_t {
    None,       // no fuse reachable in serial programming (AT90S parts)
    SingleByte, // one byte: written with AC 101x.xxxx, read with 50 xx
    LowHigh,    // AC A0 / AC A8, read 50 00 / 58 08
    LowHighExt, // as LowHigh, plus AC A4 and 50 08
};

// How the lock bits are written: the byte of the instruction carrying them.
enum class LockLayout : uint8_t {
    None,    // no part: nothing to lock
    Classic, // AC 111x.xLLx (AT90S2313/4414/8515)
    Tiny,    // AC 1111.1LL1 (AT90S1200)
    Mega,    // AC E0 xx D, readable with 58 00 (ATmega parts)
};

// The largest Flash the 16-bit word address of the instructions reaches;
// above it a part keeps an extended address byte (4D 00 a 00) as bit 16.
inline constexpr uint32_t kFlashBytesWithoutExtendedAddress = 131072;

// Everything the simulated target knows about one part. Times are the
// maximum busy periods in microseconds.
struct PartInfo {
    std::string_view name;  // the first of names
    std::string_view names; // every part sold with the signature: "ATmega16/ATmega16A"
    bool present;           // false: an empty cable, MISO floats high
    std::array<uint8_t, 3> signature;
    uint32_t flashBytes;
    uint32_t eepromBytes;
    uint16_t pageWords; // 0: Flash written byte by byte with data polling
    FuseLayout fuses;
    std::array<uint8_t, 3> factoryFuses;  // low, high, extended as delivered
    uint8_t eesaveMask;                   // bit of a fuse byte that keeps the EEPROM (0: none)
    uint8_t eesaveFuse;                   // that fuse byte: 0 low, 1 high
    std::array<uint8_t, 3> fixedFuseBits; // bits serial programming cannot change (SPIEN)
    LockLayout lock;
    bool echoesEnable;        // false: programming enable shows no echo
    bool eraseEndsAtReset;    // chip erase finishes only with a RESET pulse
    bool hasPollInstruction;  // F0 00 xx answers bit 0 = busy
    bool lockHidesSignature;  // lock mode 3 makes the signature read 00 01 02
    uint8_t calibrationCount; // calibration bytes readable with 38 xx ii
    std::array<uint8_t, 4> calibration;
    uint8_t flashPoll;       // read from a Flash byte while it is written
    uint8_t eepromPollErase; // read from an EEPROM byte in its erase phase
    uint8_t eepromPollWrite; // ... and in its write phase
    uint8_t minLowClocks;    // SCK low must last more than this many CPU clocks
    uint8_t minHighClocks;   // SCK high likewise
    uint32_t flashBusyUs;    // Flash byte (byte parts) or page (paged parts)
    uint32_t eepromBusyUs;
    uint32_t eraseBusyUs;
    uint32_t fuseBusyUs; // fuse or lock bits

    uint32_t FlashWords() const { return flashBytes / 2; }
    bool Paged() const { return pageWords != 0; }
    bool ExtendedAddress() const { return flashBytes > kFlashBytesWithoutExtendedAddress; }
};

// All parts the simulator can stand in for, the empty cable first.
std::span<const PartInfo> AllParts();

// The part sold under that name (any of its names), compared without regard
// to case; nullptr when there is none.
const PartInfo* FindPart(std::string_view name);

} // namespace avrsim
