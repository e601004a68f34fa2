#pragma once

#include "avrsim/PartTable.h"

#include <array>
#include <cstdint>

namespace avrsim {

// What a part's fuse bytes do to serial programming, from the parts'
// datasheets: the bits that, programmed, take the RESET pin away from it
// (RSTDISBL makes RESET an I/O pin, DWEN the debugWIRE line), and the clock
// selections that run the part from an internal oscillator. The simulated
// board carries no crystal and no external clock, so any other selection
// leaves the part without a clock. Either takes effect when the part next
// leaves programming mode, as the real parts latch their fuses then.
struct FuseEffects {
    std::array<uint8_t, 3>
        resetTaken{};            // per fuse byte: bits that, programmed, end serial programming
    uint8_t clockMask = 0;       // CKSEL in the low fuse byte; 0: no clock selection modelled
    uint16_t internalClocks = 0; // bit v set: CKSEL = v runs from an internal oscillator
};

// The effects of the part's family, by its signature; none for a part
// whose family is not modelled.
FuseEffects EffectsOf(const PartInfo& part);

// Whether a part with these fuse bytes in effect still enters serial
// programming on this board.
bool ReachableWith(const FuseEffects& effects, const std::array<uint8_t, 3>& fuses);

} // namespace avrsim
