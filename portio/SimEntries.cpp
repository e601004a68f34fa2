// libportio-sim.so: the four port entries on a simulated part, configured
// from the environment (QUILLON_SIM_DEVICE, QUILLON_SIM_CLOCK_HZ,
// QUILLON_SIM_STATE) and running on wall time.

#include "portio.h"

#include "avrsim/SimTarget.h"

#include <cstdio>
#include <exception>
#include <memory>

namespace {

// Destroyed at unload or exit, which saves the chip's state folder when a
// program ends without calling ShutdownWinIo.
std::unique_ptr<avrsim::SimTarget> g_target;

} // namespace

extern "C" {

int InitializeWinIo(void) {
    if (g_target) return 1;
    try {
        g_target = std::make_unique<avrsim::SimTarget>(avrsim::SimConfig::FromEnvironment());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "libportio-sim: %s\n", e.what());
        return 0;
    }
    return 1;
}

void ShutdownWinIo(void) {
    if (!g_target) return;
    if (!g_target->SaveState())
        std::fprintf(stderr, "libportio-sim: state not saved: %s\n",
                     g_target->StateError().c_str());
    g_target.reset();
}

int GetPortVal(uint16_t port, uint32_t* value, uint8_t size) {
    return g_target ? g_target->GetPortVal(port, value, size) : 0;
}

int SetPortVal(uint16_t port, uint32_t value, uint8_t size) {
    return g_target ? g_target->SetPortVal(port, value, size) : 0;
}

} // extern "C"
