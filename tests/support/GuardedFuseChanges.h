// Fuse writes the command line and the window guard against, from each
// part's factory fuse bytes: the changes that end in-circuit programming,
// which are refused (or asked about) and, once written all the same, leave
// a part the simulated board no longer reaches; the change that will not
// take; and changes that need no guard.
#pragma once

#include <array>
#include <cstdint>

struct TGuardedChange {
    const char* Part;
    std::array<uint8_t, 3> To; // low, high, extended; the part's own count is written
    const char* Refused;       // the change that ends in-circuit programming; "" none
    const char* NotTaken;      // the change serial programming cannot make; "" none
};

inline constexpr TGuardedChange GuardedChanges[] = {
    {"ATmega328P", {0x62, 0x59, 0xFF}, "RSTDISBL", ""},
    {"ATmega328P", {0x62, 0x99, 0xFF}, "DWEN", ""},
    {"ATmega328P", {0x60, 0xD9, 0xFF}, "CKSEL=0000", ""},
    {"ATmega328P", {0x6F, 0xD9, 0xFF}, "CKSEL=1111", ""},
    {"ATmega328P", {0x62, 0xD1, 0xFF}, "", ""},      // EESAVE
    {"ATmega328P", {0x62, 0xF9, 0xFF}, "", "SPIEN"}, // fault 1 of the issue: it never took
    {"ATtiny85", {0x62, 0x9F, 0xFF}, "DWEN", ""},
    {"ATtiny13", {0x68, 0xFF, 0xFF}, "CKSEL=00", ""},
    {"ATtiny13", {0x6A, 0xFE, 0xFF}, "RSTDISBL", ""},
    {"ATtiny2313", {0x64, 0xDE, 0xFF}, "RSTDISBL", ""},
    {"ATmega8", {0xE1, 0x59, 0xFF}, "RSTDISBL", ""},
    {"ATmega16", {0xE0, 0x99, 0xFF}, "CKSEL=0000", ""},
    {"ATmega16", {0xE1, 0xD9, 0xFF}, "", ""},  // JTAGEN unprogrammed
    {"ATmega163", {0xE0, 0xFF, 0xFF}, "", ""}, // no layout: raw bytes, no guard claimed
};
