#pragma once

// A minimal serial programmer for tests: drives RESET, SCK and MOSI through
// the data register and samples MISO from the status register, one line
// change per port access, so the timing the part sees is easy to reason
// about (one access = one unit of model time).

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>

namespace wiretest {

constexpr uint16_t kData = 0x378;
constexpr uint16_t kStatus = 0x379;
constexpr uint8_t kReset = 1u << 1;
constexpr uint8_t kSck = 1u << 2;
constexpr uint8_t kMosi = 1u << 3;
constexpr uint8_t kMiso = 1u << 6;

struct WirePort {
    std::function<void(uint8_t)> write;                  // data register
    std::function<uint8_t()> readStatus;                 // status register
    std::function<void(std::chrono::nanoseconds)> sleep; // time outside the port
};

class BitBangWire {
public:
    explicit BitBangWire(WirePort port) : port_(std::move(port)) {}

    // Status reads inside each SCK phase. The high phase lasts highReads + 1
    // accesses, the low phase lowReads + 3 (MOSI write, MISO read, SCK write).
    void SetWaits(unsigned highReads, unsigned lowReads) {
        highReads_ = highReads;
        lowReads_ = lowReads;
    }

    // All lines low, a positive RESET pulse with SCK low, then the wait the
    // parts need before their first instruction.
    void EnterProgramming() {
        Write(0);
        ResetPulse();
    }

    void ResetPulse() {
        Write(static_cast<uint8_t>(data_ & ~kSck));
        Write(data_ | kReset);
        port_.sleep(std::chrono::milliseconds(1));
        Write(static_cast<uint8_t>(data_ & ~kReset));
        port_.sleep(std::chrono::milliseconds(25));
    }

    void ReleaseReset() { Write(data_ | kReset); }

    // One byte out on MOSI while the byte the part drives is read on MISO.
    uint8_t Transfer(uint8_t out) {
        uint8_t in = 0;
        for (int bit = 7; bit >= 0; --bit) {
            const bool one = ((out >> bit) & 1u) != 0;
            Write(one ? (data_ | kMosi) : static_cast<uint8_t>(data_ & ~kMosi));
            Idle(lowReads_);
            if (port_.readStatus() & kMiso) in = static_cast<uint8_t>(in | (1u << bit));
            Write(data_ | kSck);
            Idle(highReads_);
            Write(static_cast<uint8_t>(data_ & ~kSck));
        }
        Write(static_cast<uint8_t>(data_ & ~kMosi));
        return in;
    }

    // A four-byte instruction; the result holds what MISO carried during each byte.
    std::array<uint8_t, 4> Instruction(uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4) {
        return {Transfer(b1), Transfer(b2), Transfer(b3), Transfer(b4)};
    }

    // Programming enable; true when the part echoed 0x53 in the third byte.
    bool Enable() { return Instruction(0xAC, 0x53, 0x00, 0x00)[2] == 0x53; }

    // The answer byte of a read instruction.
    uint8_t Read(uint8_t b1, uint8_t b2, uint8_t b3) { return Instruction(b1, b2, b3, 0x00)[3]; }

    // A single SCK pulse, as the classic parts' resynchronisation asks for.
    void ExtraPulse() {
        Idle(lowReads_ + 2);
        Write(data_ | kSck);
        Idle(highReads_);
        Write(static_cast<uint8_t>(data_ & ~kSck));
        Idle(lowReads_ + 2);
    }

    void Sleep(std::chrono::nanoseconds d) { port_.sleep(d); }

private:
    void Write(uint8_t v) {
        data_ = v;
        port_.write(v);
    }
    void Idle(unsigned reads) {
        for (unsigned i = 0; i < reads; ++i)
            port_.readStatus();
    }

    WirePort port_;
    uint8_t data_ = 0;
    unsigned highReads_ = 5;
    unsigned lowReads_ = 2;
};

} // namespace wiretest
