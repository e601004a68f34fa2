// The part-facing half of a programmer's firmware, shared by the simulated
// ArduinoISP and USBasp. It shifts SPI on a SimBoard's pins bit by bit at a
// set pace, each SCK phase spending its length in model time so that the
// part judges every phase as the real one would; it brings the part into
// programming mode, passes instructions through, and writes and reads the
// memories the way a programmer's firmware does: Flash through the page
// buffer (byte by byte on parts without pages), EEPROM byte by byte. After
// each write it waits for the part by reading the written location back
// (data polling, with a short pause between reads) until it no longer
// answers the part's poll value, or for a
// fixed time long enough for every known part where the value written is
// one a busy part answers too.
#pragma once

#include "SimBoard.h"

#include <array>
#include <chrono>
#include <cstdint>

namespace standin {

using IspInstruction = std::array<uint8_t, 4>;

// What a busy part answers when the location being written is read: the
// values the host gives in a set device command.
struct PollValues {
    uint8_t flash = 0xFF;
    uint8_t eepromErase = 0xFF; // an EEPROM byte in its erase phase
    uint8_t eepromWrite = 0xFF; // ... and in its write phase
};

class FirmwareIsp {
public:
    // The slowest the firmware waits for a write it cannot poll, and twice
    // that is how long it polls before it gives up.
    static constexpr std::chrono::milliseconds kUnpolledFlashWait{60};
    static constexpr std::chrono::milliseconds kUnpolledEepromWait{25};
    // The pause between two polls of a write still running.
    static constexpr std::chrono::microseconds kPollPause{100};
    // Flash above this byte address needs the extended address byte.
    static constexpr uint32_t kExtendedAddressFrom = 0x20000;

    explicit FirmwareIsp(SimBoard& board) : board_(board) {}

    // The length of each SCK phase (high and low).
    void SetPhase(std::chrono::nanoseconds phase) { phase_ = phase; }
    std::chrono::nanoseconds Phase() const { return phase_; }
    void SetPollValues(const PollValues& values) { poll_ = values; }

    // RESET high, SCK and MOSI low: the part runs its program.
    void Release();
    // RESET low with SCK low, a positive RESET pulse, and the 20 ms the part
    // needs before its first instruction.
    void Connect();
    // Programming enable up to `tries` times, with a RESET pulse and the wait
    // between tries; true when the part echoed 0x53 in the third byte.
    bool ProgrammingEnable(int tries);
    bool Programming() const { return programming_; }

    // One instruction out, the four bytes the part shifted back.
    IspInstruction Transfer(const IspInstruction& out);

    // Load extended address byte (4D 00 a 00) when a Flash byte address lies
    // in another 128 KB than the last one sent.
    void ExtendedAddress(uint32_t byteAddress);
    uint8_t ReadFlash(uint32_t byteAddress);
    uint8_t ReadEeprom(uint32_t address);
    // Paged parts: one byte into the page buffer; WritePage writes the page
    // of the bytes loaded since the last page write and waits for it. False
    // when the part stayed busy past the polling limit.
    void LoadFlash(uint32_t byteAddress, uint8_t value);
    bool PageLoaded() const { return pageLoaded_; }
    bool WritePage();
    // Parts without pages: one Flash byte written and waited for.
    bool WriteFlashByte(uint32_t byteAddress, uint8_t value);
    bool WriteEeprom(uint32_t address, uint8_t value);

private:
    uint8_t ShiftByte(uint8_t out);
    void ResetPulse();
    // Reads `read` again until it answers `expected`, for at most `limit`;
    // where the part also answers `written` while busy (`unpollable`), waits
    // `fixed` instead.
    template <typename Read>
    bool WaitWritten(Read read, uint8_t expected, bool unpollable, std::chrono::nanoseconds fixed);

    SimBoard& board_;
    std::chrono::nanoseconds phase_{2500};
    PollValues poll_;
    bool programming_ = false;
    bool pageLoaded_ = false;
    uint32_t pageAddress_ = 0;  // byte address of a byte in the loaded page
    bool pagePollable_ = false; // a byte loaded into the page differs from the poll value
    uint32_t pollAddress_ = 0;  // ... that byte
    uint8_t pollValue_ = 0;
    int extendedSent_ = -1; // the extended address byte last sent, -1: none
};

} // namespace standin
