#pragma once

// One simulated part on a virtual clock with a bit-banging programmer
// attached, for the tests of the simulated target.

#include "BitBangWire.h"
#include "avrsim/SimTarget.h"

#include <chrono>
#include <string>
#include <vector>

namespace wiretest {

inline avrsim::SimConfig ConfigFor(std::string_view part, uint32_t clockHz = 1000000,
                                   std::string stateDir = {}) {
    avrsim::SimConfig cfg;
    cfg.device = std::string(part);
    cfg.clockHz = clockHz;
    cfg.stateDir = std::move(stateDir);
    return cfg;
}

struct SimBench {
    explicit SimBench(const avrsim::SimConfig& cfg)
        : target(cfg, &clock),
          wire(WirePort{[this](uint8_t v) { target.SetPortVal(kData, v, 1); },
                        [this] {
                            uint32_t v = 0;
                            target.GetPortVal(kStatus, &v, 1);
                            return static_cast<uint8_t>(v);
                        },
                        [this](std::chrono::nanoseconds d) { clock.Advance(d); }}) {}

    // RESET pulse, wait, programming enable: the state every memory test starts from.
    void Enter() {
        wire.EnterProgramming();
        wire.Enable();
    }

    void WaitMs(double ms) {
        clock.Advance(std::chrono::nanoseconds(static_cast<int64_t>(ms * 1e6)));
    }

    avrsim::VirtualClock clock;
    avrsim::SimTarget target;
    BitBangWire wire;
};

} // namespace wiretest
