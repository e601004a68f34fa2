// The device catalogue of the programming engine: every AVR part the engine
// knows, with the memory sizes, the number of fuse bytes it handles and the
// signature bytes that identify it. Rows are searched in order; row 0 stands
// for "no device".
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// How the engine learns that a part has finished a write in fast mode.
enum class TPollMethod : uint8_t { Data, ReadyBusy };

struct TAVRdesc {
    std::string_view Name;
    int32_t FlashSize;  // bytes
    int32_t EEpromSize; // bytes
    uint8_t FuseKind;   // 0 none, 1 low, 2 low + high, 3 low + high + extended
    uint8_t Signature1; // compared with signature byte 1
    uint8_t Signature2; // compared with signature byte 2; 0xFF matches any value
    // Byte-programmed parts: the wait after writing a Flash byte of 0x7F,
    // the value such a part also answers while busy, so it cannot be polled.
    // At least the part's longest byte write time.
    uint8_t UnpolledWriteMs;
    uint16_t PageWords;      // words in a Flash page; 0: Flash written byte by byte
    uint32_t FlashBusyUs;    // longest busy time after a Flash byte write (byte parts) or page write
    uint32_t EEpromBusyUs;   // after an EEPROM byte write (C0)
    uint32_t EraseBusyUs;    // after chip erase
    uint32_t FuseBusyUs;     // after a fuse write (0 where the part has no fuse)
    TPollMethod Poll;        // ReadyBusy: the part answers F0 00 xx (bit 0 = busy); Data: read the value back
    uint8_t FlashPollValue;  // what a busy Flash location reads (0xFF ATmega/AT90S1200, 0x7F AT90S2313/4414/8515)
    uint8_t EEpromPollErase; // what a busy EEPROM byte reads in its erase phase
    uint8_t EEpromPollWrite; // ... and in its write phase
    bool EraseEndsAtReset;   // chip erase ended by a RESET pulse (AT90S, m161, m163, m323); else the part times it
};

// Signature byte 0 of every part of the maker; checked before the catalogue.
inline constexpr uint8_t AtmelManufacturerCode = 0x1E;
// Signature2 value that accepts any signature byte 2.
inline constexpr uint8_t AnySignature2 = 0xFF;

inline constexpr std::array<TAVRdesc, 11> AVRDeviceTable{{
    {"NONE", 0, 0, 0, 0xFF, 0xFF, 15,
     0, 0, 0, 0, 0, TPollMethod::Data, 0xFF, 0xFF, 0xFF, false},
    {"AT90S1200", 1024, 64, 0, 0x90, 0x01, 15,
     0, 9000, 9000, 20000, 0, TPollMethod::Data, 0xFF, 0x00, 0xFF, true},
    {"AT90S2313", 2048, 128, 0, 0x91, 0x01, 15,
     0, 9000, 9000, 20000, 0, TPollMethod::Data, 0x7F, 0x80, 0x7F, true},
    {"AT90S4414", 4096, 256, 0, 0x92, 0x01, 20,
     0, 20000, 9000, 20000, 0, TPollMethod::Data, 0x7F, 0x80, 0x7F, true},
    {"AT90S8515", 8192, 512, 0, 0x93, 0x01, 15,
     0, 9000, 9000, 20000, 0, TPollMethod::Data, 0x7F, 0x80, 0x7F, true},
    {"ATmega161", 16384, 512, 1, 0x94, 0x01, 15,
     64, 14000, 3400, 28000, 2000, TPollMethod::Data, 0xFF, 0xFF, 0xFF, true},
    {"ATmega162", 16384, 512, 3, 0x94, 0x04, 15,
     64, 4500, 9000, 9000, 4500, TPollMethod::ReadyBusy, 0xFF, 0xFF, 0xFF, false},
    {"ATmega163", 16384, 512, 1, 0x94, 0x02, 15,
     64, 16000, 4000, 32000, 2000, TPollMethod::Data, 0xFF, 0xFF, 0xFF, true},
    {"ATmega16", 16384, 512, 1, 0x94, 0x03, 15,
     64, 4500, 9000, 9000, 4500, TPollMethod::Data, 0xFF, 0xFF, 0xFF, false},
    {"ATmega323", 32768, 1024, 2, 0x95, 0x01, 15,
     64, 16000, 4000, 32000, 2000, TPollMethod::Data, 0xFF, 0xFF, 0xFF, true},
    {"ATmega32", 32768, 1024, 2, 0x95, 0x02, 15,
     64, 4500, 9000, 9000, 4500, TPollMethod::Data, 0xFF, 0xFF, 0xFF, false},
}};

// First catalogue row whose signature matches bytes 1 and 2 of a part, or -1.
constexpr int FindDeviceRow(uint8_t Signature1, uint8_t Signature2) {
    for (std::size_t row = 0; row < AVRDeviceTable.size(); ++row) {
        const TAVRdesc& d = AVRDeviceTable[row];
        if (d.Signature1 == Signature1 &&
            (d.Signature2 == Signature2 || d.Signature2 == AnySignature2))
            return static_cast<int>(row);
    }
    return -1;
}
