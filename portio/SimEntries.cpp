// libportio-sim.so: the four port entries on a simulated part, configured
// from the environment (QUILLON_SIM_DEVICE, QUILLON_SIM_CLOCK_HZ,
// QUILLON_SIM_STATE, QUILLON_SIM_BUSY_SCALE, QUILLON_SIM_DISCONNECT_AFTER, ...)
// and running on model time: every port access is worth its fixed time, and
// the program's waits (PortSleepMs) move the part's clock instead of the
// wall clock, so a run is the same however busy the computer is. With
// QUILLON_SIM_REPORT set (to anything but an empty text), shutting the port
// down prints what the run would have cost on a real port, in one line a
// script can read.

#include "portio.h"

#include "avrsim/SimTarget.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

namespace {

// The part's clock: it moves only by the program's waits. Made before the
// part, so that it outlives it.
avrsim::VirtualClock g_clock;
// Destroyed at unload or exit, which saves the chip's state folder when a
// program ends without calling ShutdownWinIo.
std::unique_ptr<avrsim::SimTarget> g_target;
// Why the last InitializeWinIo failed.
std::string g_error;

bool ReportWanted() {
    const char* report = std::getenv("QUILLON_SIM_REPORT");
    return report != nullptr && *report != '\0';
}

void Report(const avrsim::SimTarget& target) {
    using Seconds = std::chrono::duration<double>;
    std::fprintf(stderr, "simulated part: %llu port accesses, model time %.3f s, busy %.3f s\n",
                 static_cast<unsigned long long>(target.PortAccesses()),
                 Seconds(target.ModelTimeSinceStart()).count(),
                 Seconds(target.BusyTotal()).count());
}

} // namespace

extern "C" {

int InitializeWinIo(void) {
    if (g_target) return 1;
    try {
        g_target = std::make_unique<avrsim::SimTarget>(avrsim::SimConfig::FromEnvironment(), &g_clock);
    } catch (const std::exception& e) {
        g_error = e.what();
        return 0;
    }
    g_error.clear();
    return 1;
}

void ShutdownWinIo(void) {
    if (!g_target) return;
    if (ReportWanted()) Report(*g_target);
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

// The programmer's deadlines run on the part's model time.
uint64_t GetPortTimeNs(void) {
    return g_target ? static_cast<uint64_t>(g_target->ModelTime().count()) : 0;
}

// A wait of the program is model time of the part, not of the computer.
void PortSleepMs(uint32_t ms) {
    g_clock.Advance(std::chrono::milliseconds(ms));
}

} // extern "C"
