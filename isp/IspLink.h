// The one seam below the engine: a link to the part on the other end of a
// cable. A bit-bang or SPI cable shifts whole serial programming
// instructions, several at once where it can (a page of loads, a block of
// reads); a programmer with firmware of its own also takes whole memory
// blocks. The engine asks the link for nothing else, so each cable or
// programmer is one class behind this interface, in its own unit.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

struct TAVRdesc;
class TPortLink;

// One four-byte serial programming instruction, or the four bytes the part
// shifted out on MISO while it came in (the echo of the byte before in bytes
// 2 and 3, a read's answer in byte 4).
using TIspBytes = std::array<uint8_t, 4>;

// A programmer that moves whole memory blocks itself (its firmware loads the
// pages, writes them and waits for the part). Addresses and lengths are in
// bytes of the memory image; Flash writes start on a page boundary and cover
// whole pages. Each call is false when the programmer failed; the link's
// FailureText() then says what happened.
class TBlockProgrammer {
public:
    virtual ~TBlockProgrammer() = default;
    // Tells the programmer which part it drives (page sizes, memory sizes,
    // busy times, poll values); called after identification, before any block.
    virtual bool SetPart(const TAVRdesc& Part) = 0;
    // The largest block one request carries, in bytes.
    virtual uint32_t BlockBytes() const = 0;
    virtual bool WriteFlashBlock(uint32_t Address, std::span<const uint8_t> Data) = 0;
    virtual bool ReadFlashBlock(uint32_t Address, std::span<uint8_t> Data) = 0;
    virtual bool WriteEEpromBlock(uint32_t Address, std::span<const uint8_t> Data) = 0;
    virtual bool ReadEEpromBlock(uint32_t Address, std::span<uint8_t> Data) = 0;
};

class TIspLink {
public:
    virtual ~TIspLink() = default;

    // ---- opening ---------------------------------------------------------
    // Opens the device and takes the lines; nothing is driven before. False:
    // FailureText() says in one line what failed and what a person can do.
    virtual bool Open() = 0;
    // Lets every line and the device go; safe to call again. Destructors of
    // links call it.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Why the last Open, Transfer or block call failed; empty when none did.
    virtual std::string FailureText() const = 0;
    // The cable in use, in one line: name, device, wiring
    // ("gpio gpiochip0: RESET 25, SCK 11, MOSI 10, MISO 9").
    virtual std::string Description() const = 0;

    // ---- what the link is -------------------------------------------------
    // The parallel-port view of a cable driven one port access at a time; the
    // engine's normal mode runs only on such a link. Null for the others.
    virtual TPortLink* Port() { return nullptr; }
    // Whether Transfer reports all four bytes the part shifted out. False for
    // a programmer that hands back only the fourth (an echo cannot be checked).
    virtual bool FullDuplex() const { return true; }
    // A programmer that moves whole memory blocks; null for plain cables.
    virtual TBlockProgrammer* Blocks() { return nullptr; }

    // ---- lines -------------------------------------------------------------
    // Power-up: RESET and SCK low, a positive RESET pulse with SCK low, and
    // the wait the part needs before its first instruction.
    virtual void PowerUp() = 0;
    // A positive RESET pulse with SCK low: the part counts its instruction
    // frames afresh (and ends an erase that waits for it); then the wait the
    // part needs before its first instruction. (The parallel-port link
    // leaves that wait to the engine's programming enable, as it always did.)
    virtual void ResetPulse() = 0;
    // Leaves serial programming: RESET high, the part runs.
    virtual void Release() = 0;
    // Programming enable (AC 53 00 00): true when the part echoed 0x53 in the
    // third byte. A programmer with firmware enters programming mode its own
    // way and answers for it.
    virtual bool ProgrammingEnable() {
        const TIspBytes out{0xAC, 0x53, 0x00, 0x00};
        TIspBytes in{};
        return Transfer({&out, 1}, {&in, 1}) && in[2] == 0x53;
    }

    // ---- instructions --------------------------------------------------------
    // Shifts `Out` to the part in order; `In` (as long as `Out`) receives what
    // came back. False when the cable failed (unplugged, an error of the
    // device): FailureText() says so and nothing more can be trusted.
    virtual bool Transfer(std::span<const TIspBytes> Out, std::span<TIspBytes> In) = 0;

    // The fixed time one Transfer costs however many instructions it carries
    // (a USB round trip), in microseconds; 0 when instructions cost only
    // their own time. On a link that pays it, the engine sends the polls
    // that cover a write's longest busy time in the same batch as the write.
    virtual uint32_t TransferOverheadUs() const { return 0; }

    // ---- bit clock -------------------------------------------------------------
    // The clock starts at a pace safe for a part on a 1 MHz clock. SlowDown
    // makes it slower for a part that did not answer; false when it cannot go
    // slower. SpeedUp finds the fastest pace at which `Answers` (programming
    // mode entered afresh, the signature read back right) holds, keeps a
    // margin below it, confirms the result with `Confirms` (many more reads)
    // and goes back to the pace it had when the confirmation fails. Links
    // whose pace is fixed keep it.
    virtual bool SlowDown() { return false; }
    virtual void SpeedUp(const std::function<bool()>& Answers, const std::function<bool()>& Confirms) {
        (void)Answers;
        (void)Confirms;
    }
    // The pace in use, for a person ("SPI 125 kHz"); empty when fixed.
    virtual std::string PaceText() const { return {}; }

    // ---- time ------------------------------------------------------------------
    // Monotonic microseconds: the busy deadlines run on it. On hardware the
    // system's monotonic clock; on a stand-in the simulated part's model time.
    virtual uint64_t NowUs() = 0;
    // Waits that long on that same clock.
    virtual void Sleep(uint32_t Milliseconds) = 0;
};

// The margin kept below the fastest pace a part answered to: an SCK phase
// whose shortest working length was `Shortest` units (reads, divisor steps)
// becomes 1.5 times that, plus one unit, so that a cable a little faster
// than when it was measured still leaves every phase long enough. A phase
// already at the shortest the cable can make (`Minimum`) stays there: the
// part follows the cable at its fastest.
inline uint32_t PaceWithMargin(uint32_t Shortest, uint32_t Minimum = 0) {
    return Shortest <= Minimum ? Minimum : Shortest + (Shortest + 1) / 2 + 1;
}

// How many signature reads confirm a pace before it is used.
inline constexpr int PaceConfirmReads = 48;
