// An FTDI chip as the libftdi1 stand-in plays it: an FT232R, FT232H or
// FT2232H (channel A) whose pins are wired to the simulated part of a
// SimBoard. It behaves as the published facts describe the chips:
//
// - serial (UART) mode, the state after opening and after bit mode 0x00:
//   TXD, RTS and DTR (D0, D2, D4) are outputs idling high, the other pins
//   inputs; an input the part's RESET hangs on reads high (its pull-up);
// - synchronous bit-bang (mode 0x04): each byte written drives the output
//   pins of the mask; before driving it, the chip samples all eight pins and
//   queues that byte for the host. The pins change at the rate set with
//   ftdi_set_baudrate, and no faster than the USB bus carries a byte out
//   and its sample back;
// - MPSSE (mode 0x02, FT232H and FT2232H only): commands in the data stream
//   (set and read GPIO bytes, clock divisor, divide-by-5, three-phase and
//   adaptive clocking, loopback, send immediate, byte and bit shifts with
//   either edge and bit order); a command it does not emulate is answered
//   as a bad command (0xFA and the command);
// - buffers: a chip whose queue of answers is full while the host reads
//   nothing stops taking data, so a long write without a read under way
//   stalls until libusb's time-out.
//
// Cost model (model time on the board's clock): a USB round trip costs
// 1 ms, or the latency timer when the answers wait for it (bit-bang
// always, MPSSE without send immediate at the end); one is counted for
// each write and each control request, and for a read that no write before
// it answered. The bytes themselves take their time on the bus
// (full-speed: 19 packets of 64 bytes a millisecond; high-speed: 13 packets
// of 512 bytes every 125 us; 2 bytes of each packet in are modem status)
// and on the pins (bit-bang rate, MPSSE clock of 60 or 12 MHz / (2 * (1 +
// divisor))).
#pragma once

#include "SimBoard.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace standin {

enum class FtdiKind : uint8_t { FT232R, FT232H, FT2232H };

// Where the part's lines are wired: for bit-bang the bit numbers D0..D7;
// for MPSSE only RESET moves, 0..7 on ADBUS, 8..15 on ACBUS (SCK, MOSI and
// MISO are ADBUS0, 1, 2).
struct FtdiWiring {
    uint8_t reset = 4;      // DTR
    uint8_t sck = 1;        // RXD
    uint8_t mosi = 0;       // TXD
    uint8_t miso = 3;       // CTS
    uint8_t mpsseReset = 4; // ADBUS4
};

class FtdiChip {
public:
    FtdiChip(FtdiKind kind, const FtdiWiring& wiring, SimBoard& board);

    FtdiKind Kind() const { return kind_; }
    // The board went away (the part's cable was cut): every USB transfer fails.
    bool Gone() const { return gone_; }

    // ---- control requests: one round trip each --------------------------------
    void ControlRequest();
    bool SetBitMode(uint8_t mask, uint8_t mode); // false: a mode the chip has not
    bool SetBaudRate(int baud);                  // false: out of the chip's range
    void SetLatencyTimer(uint8_t ms) { latencyMs_ = ms; }
    void Purge() {
        answers_.clear();
        pending_.clear();
    }

    // ---- bulk data ------------------------------------------------------------------
    enum class WriteResult : uint8_t { Done, Stalled, Gone };
    // Takes `data` from the host. `readRoom` is how many answers a read under
    // way takes as they come. Answers queue for Read.
    WriteResult Write(std::span<const uint8_t> data, std::size_t readRoom);
    // Hands queued answers to the host: up to out.size(), returns how many.
    std::size_t Read(std::span<uint8_t> out);
    std::size_t Queued() const { return answers_.size(); }
    // USB round trips so far (also counted on the board for its report).
    uint64_t RoundTrips() const { return roundTrips_; }

private:
    enum class Mode : uint8_t { Uart, SyncBitBang, Mpsse };
    using Picos = uint64_t;

    void AdvanceTo(Picos at);
    Picos Now() const;
    void Drive();
    bool CheckGone();
    Picos BusPerByteOut() const;
    Picos BusPerByteIn() const;
    std::size_t BufferLimit() const;
    void RoundTrip(bool waitsForLatencyTimer);

    WriteResult WriteBitBang(std::span<const uint8_t> data, std::size_t readRoom);
    WriteResult WriteMpsse(std::span<const uint8_t> data, std::size_t readRoom, bool& flushed);
    // The length of the MPSSE command at the front of `stream`, 0 when it is
    // not complete yet.
    std::size_t CommandLength(std::span<const uint8_t> stream) const;
    // `flushed`: a send immediate came after the last command that answered.
    void Execute(std::span<const uint8_t> command, bool& flushed);
    void Shift(uint8_t op, std::span<const uint8_t> data, uint32_t bits);
    Picos HalfPeriod() const;
    uint8_t LowPins();
    uint8_t HighPins() const;

    FtdiKind kind_;
    FtdiWiring wiring_;
    SimBoard& board_;
    Mode mode_ = Mode::Uart;
    bool gone_ = false;
    uint8_t latencyMs_ = 16; // the chip's default
    std::deque<uint8_t> answers_;
    bool owed_ = false; // the last write left answers for a read to collect
    uint64_t roundTrips_ = 0;

    // bit-bang
    uint8_t mask_ = 0;
    uint8_t latch_ = 0xFF;
    Picos pinStep_ = 1000000000000ull / 9600; // serial default rate

    // MPSSE
    std::vector<uint8_t> pending_; // an incomplete command from the last write
    Picos dataDue_ = 0;            // when the command's first data byte is in
    uint8_t lowValue_ = 0, lowDir_ = 0, highValue_ = 0, highDir_ = 0;
    uint16_t divisor_ = 0;
    bool divideBy5_ = true;
    bool threePhase_ = false;
    bool loopback_ = false;
};

} // namespace standin
