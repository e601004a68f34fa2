// How the ftdi cable turns line changes and serial programming instructions
// into the bytes an FTDI chip takes in one USB write, and what it sends back
// into the bytes the part shifted out. One encoder for each way of driving:
// synchronous bit-bang (FT232R) and MPSSE (FT232H, FT2232H). Encoders only
// build and read byte buffers; the link moves them over USB.
//
// Pace is counted in units: 0 is the fastest SCK the cable makes, each unit
// above it one step of the chip's clock divisor, so that PaceWithMargin()
// applies to the SCK phase as the engine expects.
#pragma once

#include "IspLink.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace cable {

class TFtdiEncoder {
public:
    virtual ~TFtdiEncoder() = default;

    // "bit-bang" or "MPSSE".
    virtual const char* ModeName() const = 0;
    // ftdi_set_bitmode's mask and mode for this way of driving.
    virtual uint8_t BitModeMask() const = 0;
    virtual uint8_t BitMode() const = 0;

    // Bytes that bring the chip into this way of driving after the bit mode
    // is set: MPSSE's clock set-up and the check that the engine answers.
    // Returns how many bytes come back (checked with SetupAnswered).
    virtual std::size_t AppendSetup(std::vector<uint8_t>& Out) const = 0;
    virtual bool SetupAnswered(std::span<const uint8_t> Back) const = 0;

    // Bytes that set RESET to `Reset` with SCK and MOSI low. Returns how many
    // bytes come back for them.
    virtual std::size_t AppendLines(std::vector<uint8_t>& Out, bool Reset) const = 0;
    // Bytes that shift the instructions in order, RESET held at `Reset`,
    // ending with SCK low. Returns how many bytes come back.
    virtual std::size_t AppendInstructions(std::vector<uint8_t>& Out,
                                           std::span<const TIspBytes> Instructions,
                                           bool Reset) const = 0;
    // Bytes that make the chip send what it holds at once (where it has
    // such a command).
    virtual void AppendFlush(std::vector<uint8_t>& Out) const = 0;
    // What the part shifted out during the instructions, from the bytes that
    // came back for AppendInstructions.
    virtual void Decode(std::span<const uint8_t> Back, std::span<TIspBytes> In) const = 0;

    // ---- pace ---------------------------------------------------------------
    virtual uint32_t UnitsForSck(uint32_t Hz) const = 0; // the fastest pace not above Hz
    virtual uint32_t SlowestUnits() const = 0;
    virtual uint32_t SlowerUnits(uint32_t Units) const = 0; // about half the clock
    virtual double SckHz(uint32_t Units) const = 0;
    // Whether the pace is set in the data stream (MPSSE's divisor command,
    // AppendPace) or by a control request (the bit-bang baud rate, BaudRate).
    virtual bool PaceInStream() const = 0;
    virtual void AppendPace(std::vector<uint8_t>& Out, uint32_t Units) const = 0;
    virtual int BaudRate(uint32_t Units) const = 0;
};

} // namespace cable
