// The four port entries of an in-process simulated part, for an engine opened
// without loading a port library: access is always granted, every register
// access goes straight to the part, and the part's model time is the clock.
#pragma once

#include "PortLibrary.h"
#include "avrsim/SimTarget.h"

inline TPortEntries SimPortEntries(avrsim::SimTarget& sim) {
    TPortEntries entries;
    entries.InitializeWinIo = [] { return 1; };
    entries.ShutdownWinIo = [] {};
    entries.GetPortVal = [&sim](uint16_t port, uint32_t* value, uint8_t size) {
        return sim.GetPortVal(port, value, size);
    };
    entries.SetPortVal = [&sim](uint16_t port, uint32_t value, uint8_t size) {
        return sim.SetPortVal(port, value, size);
    };
    // The part's model time is the port's clock: busy deadlines run on it.
    entries.GetPortTimeNs = [&sim] { return static_cast<uint64_t>(sim.ModelTime().count()); };
    return entries;
}
