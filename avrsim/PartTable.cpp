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
                               .eesaveFuse = 1,
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
                    .eesaveFuse = 1,
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
                    .eesaveFuse = 1,
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

// The later megaAVR and tinyAVR parts: page buffer, self-timed chip erase,
// SPIEN in bit 5 and EESAVE in bit 3 of the high fuse unless changed after.
constexpr PartInfo Later(std::string_view name, std::array<uint8_t, 3> sig, uint32_t flash,
                         uint32_t eeprom, uint16_t pageWords, FuseLayout fuses,
                         std::array<uint8_t, 3> factory, bool hasPoll, uint8_t calCount,
                         MegaTimes t) {
    return Mega(name, sig, flash, eeprom, pageWords, fuses, factory, true, true, hasPoll, calCount,
                {0x9C, 0xA1, 0xA5, 0xAA}, t);
}

// Datasheet maximum or the established programmers' wait, whichever is longer.
constexpr MegaTimes kMega8Times{4500, 9000, 9000, 4500};
constexpr MegaTimes kMega48Times{4500, 3600, 45000, 4500};
constexpr MegaTimes kMega88Times{4500, 3600, 9000, 4500};
constexpr MegaTimes kMega164Times{4500, 9000, 55000, 9000};
constexpr MegaTimes kTiny13Times{4500, 4000, 9000, 4500};
constexpr MegaTimes kTinyTimes{4500, 4500, 9000, 9000};

// The ATtiny13 keeps SPIEN (bit 7) and EESAVE (bit 6) in its low fuse.
constexpr PartInfo Tiny13() {
    PartInfo p = Later("ATtiny13", {0x1E, 0x90, 0x07}, 1024, 64, 16, FuseLayout::LowHigh,
                       {0x6A, 0xFF, 0xFF}, true, 2, kTiny13Times);
    p.eesaveMask = 0x40;
    p.eesaveFuse = 0;
    p.fixedFuseBits = {0x80, 0x00, 0x00};
    return p;
}

// The ATtiny2313 and 4313 keep EESAVE in bit 6 of the high fuse.
constexpr PartInfo Tiny2313(std::string_view name, std::array<uint8_t, 3> sig, uint32_t flash,
                            uint32_t eeprom, uint16_t pageWords, uint8_t factoryLow) {
    PartInfo p = Later(name, sig, flash, eeprom, pageWords, FuseLayout::LowHighExt,
                       {factoryLow, 0xDF, 0xFF}, true, 2, kTinyTimes);
    p.eesaveMask = 0x40;
    return p;
}

constexpr std::array<PartInfo, 32> kParts{
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
    // The older byte-EEPROM megas: no poll instruction, polled by data.
    Later("ATmega8", {0x1E, 0x93, 0x07}, 8192, 512, 32, FuseLayout::LowHigh, {0xE1, 0xD9, 0xFF},
          false, 4, kMega8Times),
    Later("ATmega48", {0x1E, 0x92, 0x05}, 4096, 256, 32, FuseLayout::LowHighExt,
          {0x62, 0xDF, 0xFF}, true, 1, kMega48Times),
    Later("ATmega88", {0x1E, 0x93, 0x0A}, 8192, 512, 32, FuseLayout::LowHighExt,
          {0x62, 0xDF, 0xF9}, true, 1, kMega88Times),
    Later("ATmega168", {0x1E, 0x94, 0x06}, 16384, 512, 64, FuseLayout::LowHighExt,
          {0x62, 0xDF, 0xF9}, true, 1, kMega88Times),
    Later("ATmega328P", {0x1E, 0x95, 0x0F}, 32768, 1024, 64, FuseLayout::LowHighExt,
          {0x62, 0xD9, 0xFF}, true, 1, kMega88Times),
    Later("ATmega8515", {0x1E, 0x93, 0x06}, 8192, 512, 32, FuseLayout::LowHigh,
          {0xE1, 0xD9, 0xFF}, false, 4, kMega8Times),
    Later("ATmega8535", {0x1E, 0x93, 0x08}, 8192, 512, 32, FuseLayout::LowHigh,
          {0xE1, 0xD9, 0xFF}, false, 4, kMega8Times),
    Later("ATmega164P", {0x1E, 0x94, 0x0A}, 16384, 512, 64, FuseLayout::LowHighExt,
          {0x62, 0x99, 0xFF}, true, 1, kMega164Times),
    Later("ATmega324P", {0x1E, 0x95, 0x08}, 32768, 1024, 64, FuseLayout::LowHighExt,
          {0x62, 0x99, 0xFF}, true, 1, kMega164Times),
    Later("ATmega644P", {0x1E, 0x96, 0x0A}, 65536, 2048, 128, FuseLayout::LowHighExt,
          {0x62, 0x99, 0xFF}, true, 1, kMega164Times),
    Later("ATmega1284P", {0x1E, 0x97, 0x05}, 131072, 4096, 128, FuseLayout::LowHighExt,
          {0x62, 0x99, 0xFF}, true, 1, kMega164Times),
    Tiny13(),
    Tiny2313("ATtiny2313", {0x1E, 0x91, 0x0A}, 2048, 128, 16, 0x64),
    Tiny2313("ATtiny4313", {0x1E, 0x92, 0x0D}, 4096, 256, 32, 0x62),
    Later("ATtiny24", {0x1E, 0x91, 0x0B}, 2048, 128, 16, FuseLayout::LowHighExt,
          {0x62, 0xDF, 0xFF}, true, 1, kTinyTimes),
    Later("ATtiny44", {0x1E, 0x92, 0x07}, 4096, 256, 32, FuseLayout::LowHighExt,
          {0x62, 0xDF, 0xFF}, true, 1, kTinyTimes),
    Later("ATtiny84", {0x1E, 0x93, 0x0C}, 8192, 512, 32, FuseLayout::LowHighExt,
          {0x62, 0xDF, 0xFF}, true, 1, kTinyTimes),
    Later("ATtiny25", {0x1E, 0x91, 0x08}, 2048, 128, 16, FuseLayout::LowHighExt,
          {0x62, 0xDF, 0xFF}, true, 1, kTinyTimes),
    Later("ATtiny45", {0x1E, 0x92, 0x06}, 4096, 256, 32, FuseLayout::LowHighExt,
          {0x62, 0xDF, 0xFF}, true, 1, kTinyTimes),
    Later("ATtiny85", {0x1E, 0x93, 0x0B}, 8192, 512, 32, FuseLayout::LowHighExt,
          {0x62, 0xDF, 0xFF}, true, 1, kTinyTimes),
    // Outside the programmer's catalogue, and meant to stay so: its Flash
    // needs the extended address instruction, which the tool does not send.
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
