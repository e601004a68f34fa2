#include "avrsim/PartTable.h"

#include <algorithm>
#include <cctype>

namespace avrsim {
namespace {

constexpr PartInfo kEmptyCable{.name = "none",
                               .present = false,
                               .signature = {0xFF, 0xFF, 0xFF},
                               .flashBytes = 0,
                               .eepromBytes = 0,
                               .pageWords = 0,
                               .fuses = FuseLayout::None,
                               .factoryFuses = {0xFF, 0xFF, 0xFF},
                               .eesaveMask = 0,
                               .fixedFuseBits = {0, 0, 0},
                               .lock = LockLayout::None,
                               .echoesEnable = false,
                               .eraseEndsAtReset = false,
                               .hasPollInstruction = false,
                               .lockHidesSignature = false,
                               .calibrationCount = 0,
                               .calibration = {0xFF, 0xFF, 0xFF, 0xFF},
                               .flashPoll = 0xFF,
                               .eepromPollErase = 0xFF,
                               .eepromPollWrite = 0xFF,
                               .minLowClocks = 2,
                               .minHighClocks = 2,
                               .flashBusyUs = 0,
                               .eepromBusyUs = 0,
                               .eraseBusyUs = 0,
                               .fuseBusyUs = 0};

// The classic parts: Flash byte writes with data polling, no fuses, chip
// erase ended by a RESET pulse.
constexpr PartInfo Classic(std::string_view name, uint8_t sig1, uint32_t flash, uint32_t eeprom,
                           uint32_t flashUs, bool hidesSignature) {
    return PartInfo{.name = name,
                    .present = true,
                    .signature = {0x1E, sig1, 0x01},
                    .flashBytes = flash,
                    .eepromBytes = eeprom,
                    .pageWords = 0,
                    .fuses = FuseLayout::None,
                    .factoryFuses = {0xFF, 0xFF, 0xFF},
                    .eesaveMask = 0,
                    .fixedFuseBits = {0, 0, 0},
                    .lock = LockLayout::Classic,
                    .echoesEnable = true,
                    .eraseEndsAtReset = true,
                    .hasPollInstruction = false,
                    .lockHidesSignature = hidesSignature,
                    .calibrationCount = 0,
                    .calibration = {0xFF, 0xFF, 0xFF, 0xFF},
                    .flashPoll = 0x7F,
                    .eepromPollErase = 0x80,
                    .eepromPollWrite = 0x7F,
                    .minLowClocks = 2,
                    .minHighClocks = 2,
                    .flashBusyUs = flashUs,
                    .eepromBusyUs = 9000,
                    .eraseBusyUs = 20000,
                    .fuseBusyUs = 9000};
}

// The ATmega parts: page buffer and page write, fuses, lock bits readable.
struct MegaTimes {
    uint32_t flashUs, eepromUs, eraseUs, fuseUs;
};

constexpr PartInfo Mega(std::string_view name, std::array<uint8_t, 3> sig, uint32_t flash,
                        uint32_t eeprom, uint16_t pageWords, FuseLayout fuses,
                        std::array<uint8_t, 3> factory, bool hasEesave, bool selfTimedErase,
                        bool hasPoll, uint8_t calCount, std::array<uint8_t, 4> cal, MegaTimes t) {
    const bool single = fuses == FuseLayout::SingleByte;
    const bool spienInHigh = !single && hasEesave;
    return PartInfo{.name = name,
                    .present = true,
                    .signature = sig,
                    .flashBytes = flash,
                    .eepromBytes = eeprom,
                    .pageWords = pageWords,
                    .fuses = fuses,
                    .factoryFuses = factory,
                    .eesaveMask = static_cast<uint8_t>(hasEesave ? 0x08 : 0x00),
                    .fixedFuseBits = {static_cast<uint8_t>(single ? 0x20 : 0x00),
                                      static_cast<uint8_t>(spienInHigh ? 0x20 : 0x00), 0},
                    .lock = LockLayout::Mega,
                    .echoesEnable = true,
                    .eraseEndsAtReset = !selfTimedErase,
                    .hasPollInstruction = hasPoll,
                    .lockHidesSignature = false,
                    .calibrationCount = calCount,
                    .calibration = cal,
                    .flashPoll = 0xFF,
                    .eepromPollErase = 0xFF,
                    .eepromPollWrite = 0xFF,
                    .minLowClocks = 2,
                    .minHighClocks = 2,
                    .flashBusyUs = t.flashUs,
                    .eepromBusyUs = t.eepromUs,
                    .eraseBusyUs = t.eraseUs,
                    .fuseBusyUs = t.fuseUs};
}

constexpr MegaTimes kMega161Times{14000, 3400, 28000, 2000};
constexpr MegaTimes kMega163Times{16000, 4000, 32000, 2000};
constexpr MegaTimes kMega16Times{4500, 9000, 9000, 4500};
constexpr std::array<uint8_t, 4> kNoCal{0xFF, 0xFF, 0xFF, 0xFF};

// The AT90S1200 differs from the other classic parts in its echo, its lock
// instruction, its SCK limits and its polling values.
constexpr PartInfo Tiny1200() {
    PartInfo p = Classic("AT90S1200", 0x90, 1024, 64, 9000, false);
    p.lock = LockLayout::Tiny;
    p.echoesEnable = false;
    p.flashPoll = 0xFF;
    p.eepromPollErase = 0x00;
    p.eepromPollWrite = 0xFF;
    p.minLowClocks = 1;
    p.minHighClocks = 4;
    return p;
}

constexpr std::array<PartInfo, 13> kParts{
    kEmptyCable,
    Tiny1200(),
    Classic("AT90S2313", 0x91, 2048, 128, 9000, false),
    Classic("AT90S4414", 0x92, 4096, 256, 20000, true),
    Classic("AT90S8515", 0x93, 8192, 512, 9000, true),
    Mega("ATmega161", {0x1E, 0x94, 0x01}, 16384, 512, 64, FuseLayout::SingleByte,
         {0xDA, 0xFF, 0xFF}, false, false, false, 0, kNoCal, kMega161Times),
    Mega("ATmega162", {0x1E, 0x94, 0x04}, 16384, 512, 64, FuseLayout::LowHighExt,
         {0x62, 0x99, 0xFF}, true, true, true, 1, {0x9E, 0xFF, 0xFF, 0xFF}, kMega16Times),
    Mega("ATmega163", {0x1E, 0x94, 0x02}, 16384, 512, 64, FuseLayout::LowHigh, {0xE2, 0xFF, 0xFF},
         false, false, false, 1, {0xB2, 0xFF, 0xFF, 0xFF}, kMega163Times),
    Mega("ATmega16", {0x1E, 0x94, 0x03}, 16384, 512, 64, FuseLayout::LowHigh, {0xE1, 0x99, 0xFF},
         true, true, false, 4, {0xA7, 0xA9, 0xAC, 0xB0}, kMega16Times),
    Mega("ATmega323", {0x1E, 0x95, 0x01}, 32768, 1024, 64, FuseLayout::LowHigh, {0xE1, 0x99, 0xFF},
         true, false, false, 1, {0xAF, 0xFF, 0xFF, 0xFF}, kMega163Times),
    Mega("ATmega32", {0x1E, 0x95, 0x02}, 32768, 1024, 64, FuseLayout::LowHigh, {0xE1, 0x99, 0xFF},
         true, true, false, 4, {0xA3, 0xA6, 0xAA, 0xAE}, kMega16Times),
    // Outside the programmer's catalogue: a part it must report as unknown.
    Mega("ATmega8", {0x1E, 0x93, 0x07}, 8192, 512, 32, FuseLayout::LowHigh, {0xE1, 0xD9, 0xFF},
         true, true, true, 4, {0xAB, 0xAE, 0xB2, 0xB6}, kMega16Times),
    // Outside the programmer's catalogue as well, and meant to stay so: its
    // Flash needs the extended address instruction, which the tool does not send.
    Mega("ATmega2560", {0x1E, 0x98, 0x01}, 262144, 4096, 128, FuseLayout::LowHighExt,
         {0x62, 0x99, 0xFF}, true, true, true, 1, {0x9A, 0xFF, 0xFF, 0xFF}, kMega16Times),
};

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace

std::span<const PartInfo> AllParts() {
    return kParts;
}

const PartInfo* FindPart(std::string_view name) {
    for (const PartInfo& p : kParts) {
        if (SameName(p.name, name)) return &p;
    }
    return nullptr;
}

} // namespace avrsim
