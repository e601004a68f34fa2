// The parts the simulated target stands in for, family by family, as their
// datasheets describe them in serial programming mode: sizes, pages, fuse
// bytes as delivered, the fuse bits serial programming cannot change, where
// EESAVE sits, busy times and what a busy memory answers.
#include "avrsim/PartTable.h"

#include <algorithm>
#include <cctype>

namespace avrsim {
namespace {

// Longest busy times in microseconds: Flash byte or page write, EEPROM byte
// write, chip erase, fuse or lock write.
struct Times {
    uint32_t flashUs, eepromUs, eraseUs, fuseUs;
};

// What the parts of one family share in serial programming.
struct Family {
    FuseLayout fuses;
    std::array<uint8_t, 3> factory; // fuse bytes as delivered: low, high, extended
    std::array<uint8_t, 3> fixed;   // bits serial programming cannot change (SPIEN)
    uint8_t eesaveFuse;             // the fuse byte holding EESAVE: 0 low, 1 high
    uint8_t eesaveMask;             // its bit; 0: the part has none
    bool hasPoll;                   // answers the ready/busy instruction F0 00 xx
    uint8_t calibrationCount;
    bool eraseEndsAtReset = false; // chip erase finishes only with a RESET pulse
};

// The name a part is shown under: the first of its names.
constexpr std::string_view FirstName(std::string_view names) {
    return names.substr(0, names.find('/'));
}

constexpr PartInfo kEmptyCable{.name = "none",
                               .names = "none",
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

// A paged part (megaAVR, tinyAVR): page buffer and page write, lock bits
// readable with 58 00, 0xFF read from a page or EEPROM byte being written.
constexpr PartInfo P(const Family& f, std::string_view names, uint8_t sig1, uint8_t sig2,
                     uint32_t flash, uint32_t eeprom, uint16_t pageWords, Times t) {
    PartInfo p = kEmptyCable;
    p.name = FirstName(names);
    p.names = names;
    p.present = true;
    p.signature = {0x1E, sig1, sig2};
    p.flashBytes = flash;
    p.eepromBytes = eeprom;
    p.pageWords = pageWords;
    p.fuses = f.fuses;
    p.factoryFuses = f.factory;
    p.eesaveMask = f.eesaveMask;
    p.eesaveFuse = f.eesaveFuse;
    p.fixedFuseBits = f.fixed;
    p.lock = LockLayout::Mega;
    p.echoesEnable = true;
    p.eraseEndsAtReset = f.eraseEndsAtReset;
    p.hasPollInstruction = f.hasPoll;
    p.calibrationCount = f.calibrationCount;
    p.calibration = {0x9C, 0xA1, 0xA5, 0xAA};
    p.flashBusyUs = t.flashUs;
    p.eepromBusyUs = t.eepromUs;
    p.eraseBusyUs = t.eraseUs;
    p.fuseBusyUs = t.fuseUs;
    return p;
}

constexpr PartInfo WithCalibration(PartInfo p, std::array<uint8_t, 4> calibration) {
    for (std::size_t i = p.calibrationCount; i < calibration.size(); ++i)
        calibration[i] = 0xFF;
    p.calibration = calibration;
    return p;
}

constexpr PartInfo WithLowFuse(PartInfo p, uint8_t low) {
    p.factoryFuses[0] = low;
    return p;
}

// The classic parts: Flash written byte by byte with data polling, no fuses,
// lock bits in the second byte of AC 111x.xLLx, chip erase ended by a RESET
// pulse; a busy Flash byte reads 0x7F, a busy EEPROM byte 0x80 then 0x7F.
constexpr PartInfo Classic(std::string_view name, uint8_t sig1, uint8_t sig2, uint32_t flash,
                           uint32_t eeprom, Times t, bool hidesSignature) {
    PartInfo p = P(Family{FuseLayout::None, {0xFF, 0xFF, 0xFF}, {0, 0, 0}, 1, 0, false, 0, true},
                   name, sig1, sig2, flash, eeprom, 0, t);
    p.lock = LockLayout::Classic;
    p.lockHidesSignature = hidesSignature;
    p.calibration = {0xFF, 0xFF, 0xFF, 0xFF};
    p.flashPoll = 0x7F;
    p.eepromPollErase = 0x80;
    p.eepromPollWrite = 0x7F;
    return p;
}

// The AT90S1200 differs from the other classic parts in its echo, its lock
// instruction, its SCK limits and its polling values.
constexpr PartInfo Tiny1200() {
    PartInfo p = Classic("AT90S1200", 0x90, 0x01, 1024, 64, {9000, 9000, 20000, 9000}, false);
    p.lock = LockLayout::Tiny;
    p.echoesEnable = false;
    p.flashPoll = 0xFF;
    p.eepromPollErase = 0x00;
    p.eepromPollWrite = 0xFF;
    p.minLowClocks = 1;
    p.minHighClocks = 4;
    return p;
}

// The AT90S8535 polls like the AT90S1200: 0xFF from a busy Flash byte, 0x00
// then 0xFF from a busy EEPROM byte. Its fuse bits sit in the lock byte's
// instructions, which the catalogue's fuse forms do not reach.
constexpr PartInfo Classic8535() {
    PartInfo p = Classic("AT90S8535", 0x93, 0x03, 8192, 512, {20000, 20000, 20000, 9000}, false);
    p.flashPoll = 0xFF;
    p.eepromPollErase = 0x00;
    p.eepromPollWrite = 0xFF;
    return p;
}

// The ATtiny12: an Atmel part outside the programmer's catalogue, with forms
// of its own: Flash written byte by byte (a busy byte reads 0xFF), one fuse
// byte (AC 101x.xxxx, read 50 xx) with SPIEN in bit 5, lock bits as on the
// AT90S1200, one calibration byte, a self-timed chip erase.
constexpr PartInfo Tiny12() {
    PartInfo p = P(Family{FuseLayout::SingleByte, {0xD2, 0xFF, 0xFF}, {0x20, 0, 0}, 1, 0, false, 1},
                   "ATtiny12", 0x90, 0x05, 1024, 64, 0, {4500, 9000, 9000, 4500});
    p.lock = LockLayout::Tiny;
    return p;
}

// Families. SPIEN (fixed) is bit 5 and EESAVE bit 3 of the high fuse byte
// unless a family says otherwise.
constexpr std::array<uint8_t, 3> kSpienHigh{0x00, 0x20, 0x00};
constexpr Family kMega161{
    FuseLayout::SingleByte, {0xDA, 0xFF, 0xFF}, {0x20, 0, 0}, 1, 0, false, 0, true};
constexpr Family kMega163{FuseLayout::LowHigh, {0xE2, 0xFF, 0xFF}, {0, 0, 0}, 1, 0, false, 1, true};
constexpr Family kMega323{
    FuseLayout::LowHigh, {0xE1, 0x99, 0xFF}, kSpienHigh, 1, 0x08, false, 1, true};
constexpr Family kMega16{FuseLayout::LowHigh, {0xE1, 0x99, 0xFF}, kSpienHigh, 1, 0x08, false, 4};
constexpr Family kMega162{FuseLayout::LowHighExt, {0x62, 0x99, 0xFF}, kSpienHigh, 1, 0x08, true, 1};
constexpr Family kMega8{FuseLayout::LowHigh, {0xE1, 0xD9, 0xFF}, kSpienHigh, 1, 0x08, false, 4};
constexpr Family kMega64{FuseLayout::LowHighExt, {0xE1, 0x99, 0xFD}, kSpienHigh, 1, 0x08, false, 4};
constexpr Family kMega48{FuseLayout::LowHighExt, {0x62, 0xDF, 0xFF}, kSpienHigh, 1, 0x08, true, 1};
constexpr Family kMega88{FuseLayout::LowHighExt, {0x62, 0xDF, 0xF9}, kSpienHigh, 1, 0x08, true, 1};
constexpr Family kMega328{FuseLayout::LowHighExt, {0x62, 0xD9, 0xFF}, kSpienHigh, 1, 0x08, true, 1};
// ATmega164…1284, 640…2561, the 165/169 family and the RF parts.
constexpr Family kMega164{FuseLayout::LowHighExt, {0x62, 0x99, 0xFF}, kSpienHigh, 1, 0x08, true, 1};
// Like the ATmega128 they derive from, the AT90CAN parts are polled by data.
constexpr Family kCan{FuseLayout::LowHighExt, {0x62, 0x99, 0xFF}, kSpienHigh, 1, 0x08, false, 1};
constexpr Family kUsbU2{FuseLayout::LowHighExt, {0x5E, 0xD9, 0xF4}, kSpienHigh, 1, 0x08, true, 1};
constexpr Family kUsbU4{FuseLayout::LowHighExt, {0x5E, 0x99, 0xF3}, kSpienHigh, 1, 0x08, true, 1};
constexpr Family kPwm{FuseLayout::LowHighExt, {0x62, 0xDF, 0xF9}, kSpienHigh, 1, 0x08, true, 1};
constexpr Family kTiny{FuseLayout::LowHighExt, {0x62, 0xDF, 0xFF}, kSpienHigh, 1, 0x08, true, 1};
// ATtiny2313 and 4313: EESAVE in bit 6 of the high fuse.
constexpr Family kTiny2313{
    FuseLayout::LowHighExt, {0x64, 0xDF, 0xFF}, kSpienHigh, 1, 0x40, true, 2};
// ATtiny13: SPIEN (bit 7) and EESAVE (bit 6) in the low fuse.
constexpr Family kTiny13{FuseLayout::LowHigh, {0x6A, 0xFF, 0xFF}, {0x80, 0, 0}, 0, 0x40, true, 2};
// ATtiny26: SPIEN in bit 3 and EESAVE in bit 2 of the high fuse; four
// calibration bytes, no ready/busy instruction.
constexpr Family kTiny26{FuseLayout::LowHigh, {0xE1, 0xF7, 0xFF}, {0, 0x08, 0}, 1, 0x04, false, 4};

constexpr Times kMega16Times{4500, 9000, 9000, 4500};
constexpr Times kMega163Times{16000, 4000, 32000, 2000};
constexpr Times kTinyTimes{4500, 4500, 9000, 9000};

constexpr PartInfo kParts[]{
    kEmptyCable,
    // AT90S
    Tiny1200(),
    Classic("AT90S2313", 0x91, 0x01, 2048, 128, {9000, 9000, 20000, 9000}, false),
    Classic("AT90S4414", 0x92, 0x01, 4096, 256, {20000, 9000, 20000, 9000}, true),
    Classic("AT90S8515", 0x93, 0x01, 8192, 512, {9000, 9000, 20000, 9000}, true),
    Classic8535(),
    // early ATmega
    P(kMega161, "ATmega161", 0x94, 0x01, 16384, 512, 64, {14000, 3400, 28000, 2000}),
    WithCalibration(P(kMega162, "ATmega162", 0x94, 0x04, 16384, 512, 64, kMega16Times), {0x9E}),
    WithCalibration(P(kMega163, "ATmega163", 0x94, 0x02, 16384, 512, 64, kMega163Times), {0xB2}),
    WithCalibration(P(kMega16, "ATmega16/ATmega16A", 0x94, 0x03, 16384, 512, 64, kMega16Times),
                    {0xA7, 0xA9, 0xAC, 0xB0}),
    WithCalibration(P(kMega323, "ATmega323", 0x95, 0x01, 32768, 1024, 64, kMega163Times), {0xAF}),
    WithCalibration(P(kMega16, "ATmega32/ATmega32A", 0x95, 0x02, 32768, 1024, 64, kMega16Times),
                    {0xA3, 0xA6, 0xAA, 0xAE}),
    P(kMega8, "ATmega8/ATmega8A", 0x93, 0x07, 8192, 512, 32, {4500, 9000, 9000, 4500}),
    P(kMega64, "ATmega64/ATmega64A", 0x96, 0x02, 65536, 2048, 128, {4500, 9000, 9000, 4500}),
    P(kMega64, "ATmega128/ATmega128A", 0x97, 0x02, 131072, 4096, 128, {4500, 9000, 9000, 4500}),
    // ATmega48/88/168/328
    P(kMega48, "ATmega48/ATmega48A", 0x92, 0x05, 4096, 256, 32, {4500, 3600, 45000, 4500}),
    P(kMega48, "ATmega48P/ATmega48PA", 0x92, 0x0A, 4096, 256, 32, {4500, 3600, 45000, 4500}),
    P(kMega48, "ATmega48PB", 0x92, 0x10, 4096, 256, 32, {4500, 3600, 10500, 4500}),
    P(kMega88, "ATmega88/ATmega88A", 0x93, 0x0A, 8192, 512, 32, {4500, 3600, 9000, 4500}),
    P(kMega88, "ATmega88P/ATmega88PA", 0x93, 0x0F, 8192, 512, 32, {4500, 3600, 9000, 4500}),
    P(kMega88, "ATmega88PB", 0x93, 0x16, 8192, 512, 32, {4500, 3600, 10500, 4500}),
    P(kMega88, "ATmega168/ATmega168A", 0x94, 0x06, 16384, 512, 64, {4500, 3600, 9000, 4500}),
    P(kMega88, "ATmega168P/ATmega168PA", 0x94, 0x0B, 16384, 512, 64, {4500, 3600, 9000, 4500}),
    P(kMega88, "ATmega168PB", 0x94, 0x15, 16384, 512, 64, {4500, 3600, 10500, 4500}),
    P(kMega328, "ATmega328", 0x95, 0x14, 32768, 1024, 64, {4500, 3600, 9000, 4500}),
    P(kMega328, "ATmega328P", 0x95, 0x0F, 32768, 1024, 64, {4500, 3600, 9000, 4500}),
    P(kMega328, "ATmega328PB", 0x95, 0x16, 32768, 1024, 64, {4500, 3600, 10500, 4500}),
    // ATmega8515/8535
    P(kMega8, "ATmega8515", 0x93, 0x06, 8192, 512, 32, {4500, 9000, 9000, 4500}),
    P(kMega8, "ATmega8535", 0x93, 0x08, 8192, 512, 32, {4500, 9000, 9000, 4500}),
    // ATmega164/324/644/1284
    P(kMega164, "ATmega164P/ATmega164PA", 0x94, 0x0A, 16384, 512, 64, {4500, 9000, 55000, 9000}),
    P(kMega164, "ATmega164A", 0x94, 0x0F, 16384, 512, 64, {4500, 9000, 55000, 9000}),
    P(kMega164, "ATmega324P", 0x95, 0x08, 32768, 1024, 64, {4500, 9000, 55000, 9000}),
    P(kMega164, "ATmega324A", 0x95, 0x15, 32768, 1024, 64, {4500, 9000, 55000, 9000}),
    P(kMega164, "ATmega324PA", 0x95, 0x11, 32768, 1024, 64, {4500, 9000, 55000, 9000}),
    P(kMega164, "ATmega324PB", 0x95, 0x17, 32768, 1024, 64, {4500, 9000, 55000, 9000}),
    P(kMega164, "ATmega644P/ATmega644PA", 0x96, 0x0A, 65536, 2048, 128, {4500, 9000, 55000, 9000}),
    P(kMega164, "ATmega644/ATmega644A", 0x96, 0x09, 65536, 2048, 128, {4500, 9000, 55000, 9000}),
    P(kMega164, "ATmega1284P", 0x97, 0x05, 131072, 4096, 128, {4500, 9000, 55000, 9000}),
    P(kMega164, "ATmega1284", 0x97, 0x06, 131072, 4096, 128, {4500, 9000, 55000, 9000}),
    // ATmega640/1280/1281/2560/2561
    P(kMega164, "ATmega640", 0x96, 0x08, 65536, 4096, 128, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega1280", 0x97, 0x03, 131072, 4096, 128, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega1281", 0x97, 0x04, 131072, 4096, 128, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega2560", 0x98, 0x01, 262144, 4096, 128, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega2561", 0x98, 0x02, 262144, 4096, 128, {4500, 9000, 9000, 4500}),
    // ATmega165/169/325/329/645/649/3250/3290/6450/6490
    P(kMega164, "ATmega165/ATmega165A", 0x94, 0x10, 16384, 512, 64, {4500, 3600, 9000, 4500}),
    P(kMega164, "ATmega165P/ATmega165PA", 0x94, 0x07, 16384, 512, 64, {4500, 3600, 9000, 4500}),
    P(kMega164, "ATmega169/ATmega169P/ATmega169PA", 0x94, 0x05, 16384, 512, 64,
      {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega169A", 0x94, 0x11, 16384, 512, 64, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega325/ATmega325A", 0x95, 0x05, 32768, 1024, 64, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega325P/ATmega325PA", 0x95, 0x0D, 32768, 1024, 64, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega329/ATmega329A", 0x95, 0x03, 32768, 1024, 64, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega329P/ATmega329PA", 0x95, 0x0B, 32768, 1024, 64, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega3250/ATmega3250A", 0x95, 0x06, 32768, 1024, 64, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega3250P/ATmega3250PA", 0x95, 0x0E, 32768, 1024, 64, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega3290/ATmega3290A", 0x95, 0x04, 32768, 1024, 64, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega3290P/ATmega3290PA", 0x95, 0x0C, 32768, 1024, 64, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega645/ATmega645A", 0x96, 0x05, 65536, 2048, 128, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega645P", 0x96, 0x0D, 65536, 2048, 128, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega649/ATmega649A", 0x96, 0x03, 65536, 2048, 128, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega649P", 0x96, 0x0B, 65536, 2048, 128, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega6450/ATmega6450A", 0x96, 0x06, 65536, 2048, 128, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega6450P", 0x96, 0x0E, 65536, 2048, 128, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega6490/ATmega6490A", 0x96, 0x04, 65536, 2048, 128, {4500, 9000, 9000, 4500}),
    P(kMega164, "ATmega6490P", 0x96, 0x0C, 65536, 2048, 128, {4500, 9000, 9000, 4500}),
    // USB: AT90USB, ATmega8U2/16U2/32U2, ATmega16U4/32U4
    P(kUsbU2, "AT90USB82", 0x93, 0x82, 8192, 512, 64, {4500, 9000, 9000, 4500}),
    P(kUsbU2, "AT90USB162", 0x94, 0x82, 16384, 512, 64, {4500, 9000, 9000, 4500}),
    P(kUsbU4, "AT90USB646/AT90USB647", 0x96, 0x82, 65536, 2048, 128, {4500, 9000, 9000, 4500}),
    P(kUsbU4, "AT90USB1286/AT90USB1287", 0x97, 0x82, 131072, 4096, 128, {4500, 9000, 9000, 4500}),
    P(kUsbU2, "ATmega8U2", 0x93, 0x89, 8192, 512, 64, {4500, 9000, 9000, 4500}),
    P(kUsbU2, "ATmega16U2", 0x94, 0x89, 16384, 512, 64, {4500, 9000, 9000, 4500}),
    P(kUsbU2, "ATmega32U2", 0x95, 0x8A, 32768, 1024, 64, {4500, 9000, 9000, 4500}),
    P(kUsbU4, "ATmega16U4", 0x94, 0x88, 16384, 512, 64, {4500, 9000, 9000, 4500}),
    P(kUsbU4, "ATmega32U4", 0x95, 0x87, 32768, 1024, 64, {4500, 9000, 9000, 4500}),
    // CAN, PWM, LIN: AT90CAN, AT90PWM, ATmega32M1/64M1
    P(kCan, "AT90CAN32", 0x95, 0x81, 32768, 1024, 128, {4500, 9000, 9000, 4500}),
    P(kCan, "AT90CAN64", 0x96, 0x81, 65536, 2048, 128, {4500, 9000, 9000, 4500}),
    P(kCan, "AT90CAN128", 0x97, 0x81, 131072, 4096, 128, {4500, 9000, 9000, 4500}),
    P(kPwm, "AT90PWM2/AT90PWM3", 0x93, 0x81, 8192, 512, 32, {4500, 4500, 9000, 4500}),
    P(kPwm, "AT90PWM2B/AT90PWM3B", 0x93, 0x83, 8192, 512, 32, {4500, 4500, 9000, 4500}),
    P(kPwm, "AT90PWM316/AT90PWM216", 0x94, 0x83, 16384, 512, 64, {4500, 4500, 9000, 4500}),
    P(kPwm, "ATmega32M1", 0x95, 0x84, 32768, 1024, 64, {4500, 3600, 9000, 4500}),
    P(kPwm, "ATmega64M1", 0x96, 0x84, 65536, 2048, 128, {4500, 3600, 9000, 4500}),
    // RF: ATmega128RFA1, ATmega RFR2
    P(kMega164, "ATmega128RFA1", 0xA7, 0x01, 131072, 4096, 128, {50000, 9000, 55000, 4500}),
    P(kMega164, "ATmega64RFR2", 0xA6, 0x02, 65536, 2048, 128, {50000, 13000, 55000, 4500}),
    P(kMega164, "ATmega128RFR2", 0xA7, 0x02, 131072, 4096, 128, {50000, 9000, 55000, 4500}),
    P(kMega164, "ATmega256RFR2", 0xA8, 0x02, 262144, 8192, 128, {4500, 13000, 18500, 4500}),
    P(kMega164, "ATmega644RFR2", 0xA6, 0x03, 65536, 2048, 128, {50000, 13000, 55000, 4500}),
    P(kMega164, "ATmega1284RFR2", 0xA7, 0x03, 131072, 4096, 128, {50000, 9000, 55000, 4500}),
    P(kMega164, "ATmega2564RFR2", 0xA8, 0x03, 262144, 8192, 128, {4500, 13000, 18500, 4500}),
    // ATtiny
    P(kTiny13, "ATtiny13/ATtiny13A", 0x90, 0x07, 1024, 64, 16, {4500, 4000, 9000, 4500}),
    P(kTiny2313, "ATtiny2313/ATtiny2313A", 0x91, 0x0A, 2048, 128, 16, kTinyTimes),
    WithLowFuse(P(kTiny2313, "ATtiny4313", 0x92, 0x0D, 4096, 256, 32, kTinyTimes), 0x62),
    P(kTiny, "ATtiny24/ATtiny24A", 0x91, 0x0B, 2048, 128, 16, {4500, 4500, 9000, 9000}),
    P(kTiny, "ATtiny44/ATtiny44A", 0x92, 0x07, 4096, 256, 32, {4500, 4500, 9000, 9000}),
    P(kTiny, "ATtiny84/ATtiny84A", 0x93, 0x0C, 8192, 512, 32, {4500, 4500, 9000, 9000}),
    P(kTiny, "ATtiny25", 0x91, 0x08, 2048, 128, 16, {4500, 4500, 9000, 9000}),
    P(kTiny, "ATtiny45", 0x92, 0x06, 4096, 256, 32, {4500, 4500, 9000, 9000}),
    P(kTiny, "ATtiny85", 0x93, 0x0B, 8192, 512, 32, {4500, 4500, 9000, 9000}),
    P(kTiny26, "ATtiny26", 0x91, 0x09, 2048, 128, 16, {4500, 9000, 9000, 4500}),
    P(kTiny, "ATtiny261/ATtiny261A", 0x91, 0x0C, 2048, 128, 16, {4500, 4000, 4000, 4500}),
    P(kTiny, "ATtiny461/ATtiny461A", 0x92, 0x08, 4096, 256, 32, {4500, 4000, 4000, 4500}),
    P(kTiny, "ATtiny861/ATtiny861A", 0x93, 0x0D, 8192, 512, 32, {4500, 4000, 4000, 4500}),
    P(kTiny, "ATtiny48", 0x92, 0x09, 4096, 64, 32, {4500, 3600, 15000, 4500}),
    P(kTiny, "ATtiny88", 0x93, 0x11, 8192, 64, 32, {4500, 3600, 9000, 4500}),
    P(kTiny, "ATtiny87", 0x93, 0x87, 8192, 512, 64, {4500, 4500, 15000, 4500}),
    P(kTiny, "ATtiny167", 0x94, 0x87, 16384, 512, 64, {4500, 4500, 15000, 4500}),
    P(kTiny, "ATtiny828/ATtiny828R", 0x93, 0x14, 8192, 256, 32, {4500, 3600, 15000, 4500}),
    P(kTiny, "ATtiny441", 0x92, 0x15, 4096, 256, 8, {4500, 4500, 4500, 4500}),
    P(kTiny, "ATtiny841", 0x93, 0x15, 8192, 512, 8, {4500, 4500, 4500, 4500}),
    P(kTiny, "ATtiny43U", 0x92, 0x0C, 4096, 64, 32, {4500, 4500, 4000, 4500}),
    P(kTiny, "ATtiny1634/ATtiny1634R", 0x94, 0x12, 16384, 256, 16, {4500, 3600, 9000, 4500}),
    // Outside the programmer's catalogue, and meant to stay so.
    Tiny12(),
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
        std::string_view names = p.names;
        while (true) {
            const std::size_t slash = names.find('/');
            if (SameName(names.substr(0, slash), name)) return &p;
            if (slash == std::string_view::npos) break;
            names.remove_prefix(slash + 1);
        }
    }
    return nullptr;
}

} // namespace avrsim
