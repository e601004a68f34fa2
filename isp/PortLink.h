// TPortLink: the five-wire cable on a parallel port, reached through a port
// I/O library (the four entries of portio.h). It is the link of every cable
// driven one port access at a time: the parallel port itself, the simulated
// part, and the bit-bang cables built as port libraries. Besides the seam it
// offers the line primitives, the bit clock and the byte shift that the
// engine's normal mode is made of; the fast mode shifts whole instructions
// with the shortest SCK phases the part follows, found with a margin.
#pragma once

#include "IspLink.h"
#include "PortLibrary.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Port and cable.
inline constexpr uint32_t LptBase = 0x378;
inline constexpr uint32_t DataRegOffset = 0;
inline constexpr uint32_t StatusRegOffset = 1;
inline constexpr uint8_t SckBit = 2;
inline constexpr uint8_t ResetBit = 1;
inline constexpr uint8_t MosiBit = 3;
inline constexpr uint8_t MisoBit = 6;
inline constexpr uint8_t UpperLinesMask = 0xF0;

class TPortLink final : public TIspLink {
public:
    using TWaiter = std::function<void(uint32_t Milliseconds)>;

    // A port library chosen as QUILLON_PORTIO chooses it ("lpt", "sim" or a
    // path; empty: "lpt"), given the cable's options when it takes any.
    explicit TPortLink(std::string Setting, std::string Options = {});
    // Entries supplied in process (a test's simulated part).
    explicit TPortLink(TPortEntries Entries);
    ~TPortLink() override;

    // What Description() says of the cable, when the port library does not
    // tell enough (a cable built as one, its options).
    void SetDescription(std::string Text) { Description_ = std::move(Text); }

    // The waits inside line sequences (power-up, RESET pulses) go through
    // here, so that whoever times the engine sees them; by default Sleep.
    void SetWaiter(TWaiter Waiter) { Waiter_ = std::move(Waiter); }

    // ---- seam ------------------------------------------------------------
    bool Open() override;
    void Close() override;
    bool IsOpen() const override { return PortOpen_; }
    std::string FailureText() const override { return Error_; }
    std::string Description() const override;
    TPortLink* Port() override { return this; }
    void PowerUp() override;
    void ResetPulse() override;
    void Release() override;
    bool Transfer(std::span<const TIspBytes> Out, std::span<TIspBytes> In) override;
    bool SlowDown() override;
    void SpeedUp(const std::function<bool()>& Answers, const std::function<bool()>& Confirms) override;
    std::string PaceText() const override;
    uint64_t NowUs() override;
    void Sleep(uint32_t Milliseconds) override;

    // ---- the port ----------------------------------------------------------
    uint32_t PortBase() const { return PortBase_; }
    // The file of the port library in use, empty for entries supplied in process.
    const std::string& LibraryPath() const;
    uint8_t ReadPort(uint32_t Address);
    void WritePort(uint32_t Address, uint8_t Value);
    void SetSCK() { SetDataBits(1u << SckBit); }
    void ClearSCK() { ClearDataBits(1u << SckBit); }
    void SetRESET() { SetDataBits(1u << ResetBit); }
    void ClearRESET() { ClearDataBits(1u << ResetBit); }
    void SetMOSI() { SetDataBits(1u << MosiBit); }
    void ClearMOSI() { ClearDataBits(1u << MosiBit); }
    void SetUpperLines() { SetDataBits(UpperLinesMask); }
    void ClearUpperLines() { ClearDataBits(UpperLinesMask); }
    bool GetMISO();

    // ---- bit clock and bytes ------------------------------------------------
    uint32_t SpeedFactor() const { return SpeedFactor_; }
    void SetSpeedFactor(uint32_t Value) { SpeedFactor_ = Value; }
    void Delay(uint32_t Count);
    void ClockPulse();
    void SendByte(uint8_t Value);
    uint8_t ReceiveByte();

    // Fast mode: the link owns the data register, so it keeps a copy of what
    // it wrote there and changes a line with one write (none when the line
    // is already at its level), and shifts bytes with the fast phases once
    // they are known.
    bool Shadowed() const { return Shadowed_; }
    void SetShadowed(bool Value) { Shadowed_ = Value; }
    // Status reads inside the SCK high and low phases of a fast bit; until
    // they are known, bits keep the SpeedFactor pace.
    bool FastPhasesKnown() const { return FastPhasesKnown_; }
    uint32_t FastHighReads() const { return FastHighReads_; }
    uint32_t FastLowReads() const { return FastLowReads_; }
    void ForgetFastPhases() { FastPhasesKnown_ = false; }

private:
    void Wait(uint32_t Milliseconds);
    void SetDataBits(uint8_t Mask);
    void ClearDataBits(uint8_t Mask);
    uint8_t DataLines();
    void WriteDataLines(uint8_t Value);
    void StatusReads(uint32_t Count);
    uint8_t FastExchangeByte(uint8_t Value);
    uint8_t PacedExchangeByte(uint8_t Value);
    bool TryPhases(uint32_t High, uint32_t Low, const std::function<bool()>& Answers);

    std::string Setting_;
    std::string Options_;
    std::string Description_;
    bool InProcess_ = false;
    std::unique_ptr<TPortLibrary> Library_;
    TPortEntries Entries_;
    TPortEntries Port_; // the entries in use while the port is open
    bool PortOpen_ = false;
    std::string Error_;
    uint32_t PortBase_ = LptBase;
    uint32_t SpeedFactor_ = 1;
    TWaiter Waiter_;

    bool Shadowed_ = false;
    uint8_t DataCopy_ = 0; // what the data register was last written
    bool DataCopyKnown_ = false;
    bool FastPhasesKnown_ = false;
    uint32_t FastHighReads_ = 0;
    uint32_t FastLowReads_ = 0;
};
