// The FT232H and the FT2232H's channel A in MPSSE mode (ftdi_set_bitmode
// mode 0x02): the chip's serial engine takes commands in the data stream.
// Command 0x31 shifts bytes out on the falling and in on the rising edge of
// SCK, most significant bit first, with SCK idle low: SPI mode 0, as the
// AVR wants it. SCK is ADBUS0, MOSI ADBUS1, MISO ADBUS2; RESET is a GPIO,
// set with 0x80 (ADBUS) or 0x82 (ACBUS), value then direction. The clock is
// 60 MHz / (2 * (1 + divisor)) once divide-by-5 is off (0x8A), the divisor
// set with 0x86; pace unit = divisor. 0x87 makes the chip send what it
// holds at once instead of waiting for its latency timer.
#pragma once

#include "FtdiEncoder.h"

namespace cable {

class TMpsseEncoder final : public TFtdiEncoder {
public:
    // RESET on ADBUS3..7 (3..7) or ACBUS0..7 (8..15).
    explicit TMpsseEncoder(uint8_t ResetPin) : ResetPin_(ResetPin) {}

    const char* ModeName() const override { return "MPSSE"; }
    uint8_t BitModeMask() const override { return 0; } // directions come with 0x80/0x82
    uint8_t BitMode() const override { return 0x02; }
    std::size_t AppendSetup(std::vector<uint8_t>& Out) const override;
    bool SetupAnswered(std::span<const uint8_t> Back) const override;
    std::size_t AppendLines(std::vector<uint8_t>& Out, bool Reset) const override;
    std::size_t AppendInstructions(std::vector<uint8_t>& Out,
                                   std::span<const TIspBytes> Instructions,
                                   bool Reset) const override;
    void AppendFlush(std::vector<uint8_t>& Out) const override;
    void Decode(std::span<const uint8_t> Back, std::span<TIspBytes> In) const override;

    uint32_t UnitsForSck(uint32_t Hz) const override;
    uint32_t SlowestUnits() const override { return 0xFFFF; }
    uint32_t SlowerUnits(uint32_t Units) const override;
    double SckHz(uint32_t Units) const override;
    bool PaceInStream() const override { return true; }
    void AppendPace(std::vector<uint8_t>& Out, uint32_t Units) const override;
    int BaudRate(uint32_t) const override { return 0; }

private:
    uint8_t ResetPin_;
};

} // namespace cable
