// The simulated part behind a stand-in of a cable's interface. A stand-in
// (of libgpiod, spidev, a tty, libftdi1, libusb, or a programmer's firmware)
// offers the same C interface as what it replaces and, underneath, drives
// the pins of one simulated part. Its time is model time: a virtual clock
// that moves by the cost each call of the real interface has (cables.md's
// cost model) and by the waits the program asks for, so a run is
// deterministic, takes little wall time, and reports what it would have
// cost on the real cable.
#pragma once

#include "avrsim/SimClock.h"
#include "avrsim/SimConfig.h"
#include "avrsim/SimTarget.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace standin {

// What a stand-in plays when it is opened: a device that is there, or one
// of the faults a person meets at the bench. Set by QUILLON_SIM_CABLE_FAULT:
// "absent" (no such device), "denied" (permission denied), "busy" (the line
// or device is taken by another program). A cable pulled mid-write is
// QUILLON_SIM_DISCONNECT_AFTER, counted in pin accesses as for the port.
enum class Fault : uint8_t { None, Absent, Denied, Busy };

Fault FaultFromEnvironment();

// The errno an open meets for the fault played now: ENOENT (absent),
// EACCES (denied), 0 when the device opens. A busy device opens on most
// interfaces and refuses what it is asked afterwards; `BusyRefusesOpen`
// says the interface refuses the open itself (EBUSY), as an exclusive tty does.
int OpenErrorFromEnvironment(bool BusyRefusesOpen);

class SimBoard {
public:
    // The part from the environment (QUILLON_SIM_DEVICE, QUILLON_SIM_CLOCK_HZ,
    // QUILLON_SIM_STATE, QUILLON_SIM_BUSY_SCALE, QUILLON_SIM_DISCONNECT_AFTER);
    // QUILLON_SIM_NS_PER_ACCESS does not apply: the cable's own cost model
    // does. `cable` names the cable in the report. Throws
    // std::invalid_argument for a part the simulator does not know.
    explicit SimBoard(std::string cable);
    // A board around a given configuration, for tests.
    SimBoard(std::string cable, const avrsim::SimConfig& config);
    ~SimBoard(); // reports if it has not yet, saves the state folder
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    // One look at the programming pins: RESET, SCK, MOSI as the cable drives
    // them now. Free of model time by itself: the call that drove them
    // spends its cost with Spend.
    void Drive(bool reset, bool sck, bool mosi);
    bool Reset() const { return reset_; }
    bool Sck() const { return sck_; }
    bool Mosi() const { return mosi_; }
    // MISO as the cable reads it now (high when nothing drives it).
    bool Miso();

    // Model time: what the calls of the interface cost, and waits.
    void Spend(std::chrono::nanoseconds cost);
    void SleepMs(uint32_t ms) { Spend(std::chrono::milliseconds(ms)); }
    uint64_t NowNs() const;

    // Counts a unit of the cable's own work for the report ("USB round
    // trips", "ioctls"), named once.
    void Count(const char* what, uint64_t n = 1);

    // Prints, when QUILLON_SIM_REPORT is set and not empty, one line on
    // standard error: "simulated part: <cable>, 1234 pin accesses, model
    // time 1.234 s, busy 0.567 s[, 89 USB round trips]". Once per board.
    void Report();

    avrsim::SimTarget& Target() { return *target_; }
    const avrsim::SimTarget& Target() const { return *target_; }

private:
    std::string cable_;
    avrsim::VirtualClock clock_;
    std::unique_ptr<avrsim::SimTarget> target_;
    bool reset_ = false;
    bool sck_ = false;
    bool mosi_ = false;
    const char* countName_ = nullptr;
    uint64_t count_ = 0;
    bool reported_ = false;
};

} // namespace standin
