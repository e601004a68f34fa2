// What erasing a part, writing an image and verifying it ask of the part at
// the least, for the floors the benchmarks compare model times with: the
// serial programming instructions that must be shifted and the part's
// longest busy time for every write the image needs. A Flash page (or, on a
// byte-programmed part, a Flash byte) that an erased part already holds,
// and an EEPROM byte of 0xFF, need no write; the verification reads every
// Flash byte and every EEPROM byte of the image.
#pragma once

#include "AVRDeviceTable.h"

#include <algorithm>
#include <cstdint>
#include <span>

struct TFloorWork {
    uint64_t Pages = 0;             // Flash pages written (paged parts)
    uint64_t FlashByteWrites = 0;   // Flash bytes written (byte-programmed parts)
    uint64_t EEpromWrites = 0;      // EEPROM bytes written
    uint64_t WriteInstructions = 0; // the erase, page loads and page writes, byte writes
    uint64_t ReadInstructions = 0;  // the verification's reads
    double BusyS = 0;               // the longest busy time of every write, the erase's included

    // Writes that each end with a wait for the part, the erase included.
    uint64_t Writes() const { return 1 + Pages + FlashByteWrites + EEpromWrites; }
    uint64_t Instructions() const { return WriteInstructions + ReadInstructions; }
};

// `Flash`: the image's words for the part's whole Flash; `EEprom`: its
// bytes, empty when the EEPROM is neither written nor verified.
inline TFloorWork FloorWorkOf(const TAVRdesc& Part, std::span<const uint16_t> Flash,
                              std::span<const uint8_t> EEprom) {
    TFloorWork w;
    double busyUs = Part.EraseBusyUs;
    w.WriteInstructions = 1; // the erase
    if (Part.Paged()) {
        for (std::size_t p = 0; p < Flash.size(); p += Part.PageWords) {
            const auto page =
                Flash.subspan(p, std::min<std::size_t>(Part.PageWords, Flash.size() - p));
            if (std::all_of(page.begin(), page.end(), [](uint16_t v) { return v == 0xFFFF; }))
                continue;
            ++w.Pages;
            busyUs += Part.FlashBusyUs;
            w.WriteInstructions += 2u * Part.PageWords + 1; // two loads a word, the page write
        }
    } else {
        for (const uint16_t v : Flash)
            for (const unsigned b : {v & 0xFFu, unsigned{v} >> 8u})
                if (b != 0xFF) {
                    ++w.FlashByteWrites;
                    busyUs += Part.FlashBusyUs;
                    ++w.WriteInstructions;
                }
    }
    for (const uint8_t b : EEprom)
        if (b != 0xFF) {
            ++w.EEpromWrites;
            busyUs += Part.EEpromBusyUs;
            ++w.WriteInstructions;
        }
    w.ReadInstructions = 2u * Flash.size() + EEprom.size();
    w.BusyS = busyUs * 1e-6;
    return w;
}

// The shortest bit a bit-banged cable clocks into a part, when every line
// access (a port write or read, a GPIO call, a modem-line ioctl) costs
// `AccessNs`: SCK high and low each for more than 2 CPU clocks (3 from
// 12 MHz up), in whole accesses, and never fewer than 3 accesses a bit
// (MOSI set with SCK rising, MISO read, SCK falling).
inline uint64_t BitBangAccessesPerBit(uint64_t AccessNs, uint32_t ClockHz) {
    const uint64_t clocks = ClockHz >= 12000000 ? 3 : 2;
    const uint64_t phase = clocks * 1000000000ull / ClockHz / AccessNs + 1;
    return std::max<uint64_t>(3, 2 * phase);
}

// The floor of a bit-banged cable: every instruction bit at that shortest
// bit, plus the busy times.
inline double BitBangFloorSeconds(const TFloorWork& Work, uint64_t AccessNs, uint32_t ClockHz) {
    const double bit =
        static_cast<double>(BitBangAccessesPerBit(AccessNs, ClockHz) * AccessNs) * 1e-9;
    return Work.BusyS + static_cast<double>(Work.Instructions() * 32) * bit;
}
