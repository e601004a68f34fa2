// libportio-sim.so: the four port entries on a simulated part, configured
// from the environment (QUILLON_SIM_DEVICE, QUILLON_SIM_CLOCK_HZ,
// QUILLON_SIM_STATE) and running on wall time.

#include "portio.h"

#include "avrsim/SimTarget.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <string>

namespace {

// Destroyed at unload or exit, which saves the chip's state folder when a
// program ends without calling ShutdownWinIo.
std::unique_ptr<avrsim::SimTarget> g_target;
// Why the last InitializeWinIo failed.
std::string g_error;

} // namespace

extern "C" {

int InitializeWinIo(void) {
    if (g_target) return 1;
    try {
        g_target = std::make_unique<avrsim::SimTarget>(avrsim::SimConfig::FromEnvironment());
    } catch (const std::exception& e) {
        g_error = e.what();
        return 0;
    }
    g_error.clear();
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

const char* GetWinIoError(void) {
    return g_error.c_str();
}

} // extern "C"
