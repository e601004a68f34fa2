#pragma once

#include "avrsim/FuseEffects.h"
#include "avrsim/PartTable.h"
#include "avrsim/SimClock.h"
#include "avrsim/SimConfig.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace avrsim {

// Port addresses of the cable: data register (bit 1 RESET, bit 2 SCK,
// bit 3 MOSI) and status register (bit 6 MISO).
inline constexpr uint16_t kDataPort = 0x378;
inline constexpr uint16_t kStatusPort = 0x379;
inline constexpr uint8_t kResetLine = 1u << 1;
inline constexpr uint8_t kSckLine = 1u << 2;
inline constexpr uint8_t kMosiLine = 1u << 3;
inline constexpr uint8_t kMisoLine = 1u << 6;

// Fault knob: MISO held at one level whatever the part drives.
enum class MisoStuck : uint8_t { No, High, Low };

// One four-byte instruction as the part received it (frame log).
struct SimFrame {
    std::array<uint8_t, 4> bytes;
    std::chrono::nanoseconds time; // model time when its last bit was clocked in
    bool executed;                 // false: unknown, refused or arriving while busy
};

// A part on the programming cable, seen only through the port registers.
// Every data-register write is one look at the pins; serial programming
// behaves as the real part's: four-byte framing counted from RESET going
// low, echo of the previous byte, timing limits on SCK, busy periods.
// The echo is one 8-bit shift register, a byte-long delay of the bits the
// part took in, so it shows 0x53 in step or not; whether the frames line up
// shows only in the part's answers. The memories are saved to the state
// folder whenever RESET goes high after a change, and on destruction.
class SimTarget {
public:
    // Throws std::invalid_argument when cfg.device names no known part or
    // cfg.clockHz / cfg.nsPerAccess is 0. With clock == nullptr the part uses
    // its own steady clock. The chip starts erased unless cfg.stateDir holds
    // the memories of this same part.
    explicit SimTarget(const SimConfig& cfg, SimClock* clock = nullptr);
    ~SimTarget(); // saves the state folder when memories changed
    SimTarget(const SimTarget&) = delete;
    SimTarget& operator=(const SimTarget&) = delete;

    // The two port entries: 1 on success, 0 for another address or a size
    // other than 1. Each call counts as one port access of model time.
    int SetPortVal(uint16_t port, uint32_t value, uint8_t size);
    int GetPortVal(uint16_t port, uint32_t* value, uint8_t size);

    // ---- inspection -----------------------------------------------------
    const PartInfo& Part() const { return *part_; }
    std::string_view DeviceName() const { return part_->name; }
    std::span<const uint8_t> Flash() const { return flash_; } // image byte order
    std::span<const uint8_t> Eeprom() const { return eeprom_; }
    uint16_t FlashWord(uint32_t word) const;
    std::array<uint8_t, 3> Fuses() const { return fuses_; } // low, high, extended
    uint8_t LockBits() const { return lock_; }              // bit 0 LB1, bit 1 LB2; 0 = programmed
    uint8_t DataRegister() const { return data_; }
    bool Armed() const { return armed_; } // RESET low, serial programming listening
    // Whether the fuse bytes in effect (latched when the part last left
    // programming mode, or was prepared) still let serial programming start
    // on a board without a crystal or external clock: RSTDISBL and DWEN
    // unprogrammed, CKSEL on an internal oscillator.
    bool SerialProgrammingReachable() const { return ReachableWith(effects_, latchedFuses_); }
    // The extended address byte of a part above 128 KB of Flash (4D 00 a 00);
    // 0 from power-up and every time RESET arms serial programming.
    uint8_t ExtendedAddressByte() const { return extendedAddress_; }
    bool ProgrammingEnabled() const { return enabled_; }
    bool Busy() const; // a write still running at ModelTime()
    bool Connected() const { return !gone_; }
    uint64_t PortAccesses() const { return accesses_; }
    uint64_t LostPulses() const { return lostPulses_; } // SCK pulses the part did not see
    uint64_t ClockedBits() const {
        return clockedBits_;
    }                                           // SCK pulses the part took in since power-up
    std::chrono::nanoseconds ModelTime() const; // clock time + port accesses
    // Model time since the part was made, and how much of it the part spent
    // busy with writes and erases (a period still running counts in full).
    std::chrono::nanoseconds ModelTimeSinceStart() const { return ModelTime() - startedAt_; }
    std::chrono::nanoseconds BusyTotal() const { return busyTotal_; }

    // Every frame received while armed, in order; off until switched on.
    void SetFrameLog(bool on);
    const std::vector<SimFrame>& Frames() const { return frames_; }
    void ClearFrames() { frames_.clear(); }

    // ---- preparation by tests --------------------------------------------
    void SetFlash(std::span<const uint8_t> image); // image byte order, from byte 0
    void SetEeprom(std::span<const uint8_t> bytes);
    // Fuse bytes as if written by a high-voltage programmer: in effect at once.
    void SetFuses(uint8_t low, uint8_t high, uint8_t extended);
    void SetLockBits(uint8_t lock);

    // ---- fault knobs --------------------------------------------------------
    void SetNoAnswerAfterErase(bool on); // silent from the next chip erase on; off revives the part
    void SetMisoStuck(MisoStuck s);
    void DisconnectAfterAccesses(uint64_t n); // gone when n more port accesses have been made
    void Disconnect();                        // gone at once: MISO floats high, pins unseen
    void SetBusyScale(double factor);         // a slow part: busy periods times factor (>= 1)
    // A part at the edge of its timing: an SCK phase long enough, but shorter
    // than `factor` times the part's minimum, loses every `every`-th such
    // edge since RESET last went low, as noise does to a part clocked near
    // its limit: short runs of instructions pass, long ones do not. 0: off.
    void SetMarginalPhases(double factor, uint32_t every);
    // A port that gets faster or slower: from now on one access is worth
    // this much model time (> 0).
    void SetNsPerAccess(uint32_t ns);

    // ---- state folder -------------------------------------------------------
    // Writes the memories now when a state folder is configured; false on an
    // I/O error, described by StateError(). Nothing to do is success.
    bool SaveState();
    const std::string& StateError() const { return stateError_; }

private:
    enum class Op : uint8_t;
    enum class BusyKind : uint8_t { None, FlashByte, EepromByte, Page, Erase, Fuse };
    struct Decoded {
        Op op;
        uint8_t which; // byte of a Flash word, fuse, signature or calibration index
        uint32_t addr; // Flash word, EEPROM byte or page-buffer word, wrapped to the memory
    };
    using Nanos = std::chrono::nanoseconds;

    void OnSckRise(Nanos t);
    void OnSckFall(Nanos t);
    void OnResetRise(Nanos t);
    void OnResetFall(Nanos t);
    void Arm(Nanos t);
    void ClockBit(bool bit, Nanos t);
    void ByteReceived(uint8_t b, unsigned index, Nanos t);
    Decoded Decode() const;
    bool ReadAnswer(const Decoded& d, Nanos t, uint8_t& value) const;
    bool Execute(const Decoded& d, uint8_t data, Nanos t);
    void StartBusy(BusyKind kind, uint32_t us, uint32_t addr, Nanos t);
    bool BusyAt(Nanos t) const;
    bool ProgrammingLocked() const;
    bool VerifyLocked() const;
    void EraseChip();
    void GoAway();
    void UpdateMiso();
    Nanos NowAt() const { return clock_->Now() + accessTime_; }
    void CountAccess();
    bool PhaseLongEnough(Nanos phase, uint8_t clocks) const;
    bool PhaseHolds(Nanos phase, uint8_t clocks);

    const PartInfo* part_;
    uint32_t clockHz_;
    Nanos nsPerAccess_;
    uint8_t minLowClocks_;
    uint8_t minHighClocks_;
    std::string stateDir_;
    std::unique_ptr<SimClock> ownClock_;
    SimClock* clock_;

    std::vector<uint8_t> flash_;
    std::vector<uint8_t> eeprom_;
    std::vector<uint8_t> pageBuffer_; // image byte order, one page
    std::array<uint8_t, 3> fuses_{};
    std::array<uint8_t, 3> latchedFuses_{}; // the fuses in effect
    FuseEffects effects_;
    uint8_t lock_ = 0xFF;
    bool dirty_ = false;
    std::string stateError_;

    // pins
    uint8_t data_ = 0;
    uint64_t accesses_ = 0;
    Nanos accessTime_{0}; // model time of all port accesses so far
    uint64_t goneAt_ = UINT64_MAX;
    bool gone_ = false;
    uint8_t statusValue_ = 0x7F; // what the status register reads now
    Nanos sckChangedAt_{0};
    bool riseSeen_ = false; // the current SCK high phase began with an edge the part took
    bool mosiAtRise_ = false;

    // serial programming
    bool armed_ = false;
    bool enabled_ = false;
    bool silent_ = false; // stopped answering (fault knob)
    Nanos armedAt_{0};
    uint8_t bitInFrame_ = 0; // 0..31, counted from RESET going low
    uint8_t shiftIn_ = 0;
    std::array<uint8_t, 4> frame_{};
    uint8_t out_ = 0; // byte being shifted out on MISO, most significant bit first
    uint8_t outBit_ = 7;
    uint8_t extendedAddress_ = 0;
    uint8_t nextOut_ = 0;
    Decoded current_{}; // the frame's instruction, known after its third byte
    bool currentAnswered_ = false;
    uint64_t lostPulses_ = 0;
    uint64_t clockedBits_ = 0;

    // busy periods
    BusyKind busyKind_ = BusyKind::None;
    Nanos busyFrom_{0};
    Nanos busyUntil_{0};
    uint32_t busyAddr_ = 0;
    bool eraseAwaitsReset_ = false;
    Nanos eraseDoneAt_{0};
    double busyScale_ = 1.0;
    double marginalFactor_ = 0;
    uint32_t marginalEvery_ = 0;
    uint64_t marginalEdges_ = 0;
    Nanos busyTotal_{0};
    Nanos startedAt_{0};

    // knobs
    bool noAnswerAfterErase_ = false;
    MisoStuck misoStuck_ = MisoStuck::No;
    bool logFrames_ = false;
    std::vector<SimFrame> frames_;
};

} // namespace avrsim
