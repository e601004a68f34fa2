#pragma once

#include <cstdint>
#include <string>

namespace avrsim {

// How one simulated part is set up: which part sits on the cable, its CPU
// clock, where it keeps its memories between runs and what one port access
// is worth in model time.
struct SimConfig {
    std::string device = "ATmega16"; // a part name of PartTable, or "none" for an empty cable
    uint32_t clockHz = 1000000;      // CPU clock; the SCK phase limits follow from it
    std::string stateDir;            // empty: every run starts with an erased chip
    uint32_t nsPerAccess = 1000;     // model time of one port access
    double busyScale = 1.0;          // a part slower than its datasheet: busy periods times this
    uint64_t disconnectAfter = 0;    // port accesses until the cable is cut; 0: never

    // QUILLON_SIM_DEVICE (default ATmega16), QUILLON_SIM_CLOCK_HZ (default
    // 1000000), QUILLON_SIM_STATE (default empty) and QUILLON_SIM_NS_PER_ACCESS
    // (default 1000), QUILLON_SIM_BUSY_SCALE (default 1, at least 1) and
    // QUILLON_SIM_DISCONNECT_AFTER (default 0). Values that do not parse as
    // positive numbers keep the default.
    static SimConfig FromEnvironment();
};

} // namespace avrsim
