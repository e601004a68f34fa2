// The FT232R in synchronous bit-bang mode (ftdi_set_bitmode mode 0x04):
// every byte written drives the eight pins at once, and for every byte the
// chip sends one byte back: the pins as they were just before that byte
// went out (it samples, then drives). A serial programming bit is two
// bytes, SCK low with the MOSI level, then SCK high; the byte coming back for
// the SCK-high byte holds MISO as the part set it after SCK fell, which is
// the bit it shifts out. A batch of instructions is one write and one read
// of the same length.
//
// The pins change at the rate given to ftdi_set_baudrate (the value libftdi
// scales for the chip's bit-bang clock). The rate is 3 MHz / D for the
// chip's divisor D in eighths; D = 5 (600 000 changes a second) is as fast
// as a full-speed USB bus carries a byte out and a byte back for every
// change, so pace unit 0 is D = 5 and every unit adds 1/8 to D.
#pragma once

#include "FtdiEncoder.h"
#include "FtdiOptions.h"

namespace cable {

class TBitBangEncoder final : public TFtdiEncoder {
public:
    explicit TBitBangEncoder(const TFtdiBitBangPins& Pins) : Pins_(Pins) {}

    // The pin byte with the three driven lines at these levels.
    uint8_t Lines(bool Reset, bool Sck, bool Mosi) const;

    const char* ModeName() const override { return "bit-bang"; }
    uint8_t BitModeMask() const override;
    uint8_t BitMode() const override { return 0x04; }
    std::size_t AppendSetup(std::vector<uint8_t>&) const override { return 0; }
    bool SetupAnswered(std::span<const uint8_t>) const override { return true; }
    std::size_t AppendLines(std::vector<uint8_t>& Out, bool Reset) const override;
    std::size_t AppendInstructions(std::vector<uint8_t>& Out,
                                   std::span<const TIspBytes> Instructions,
                                   bool Reset) const override;
    void AppendFlush(std::vector<uint8_t>&) const override {}
    void Decode(std::span<const uint8_t> Back, std::span<TIspBytes> In) const override;

    uint32_t UnitsForSck(uint32_t Hz) const override;
    uint32_t SlowestUnits() const override;
    uint32_t SlowerUnits(uint32_t Units) const override;
    double SckHz(uint32_t Units) const override;
    bool PaceInStream() const override { return false; }
    void AppendPace(std::vector<uint8_t>&, uint32_t) const override {}
    int BaudRate(uint32_t Units) const override;

private:
    TFtdiBitBangPins Pins_;
};

} // namespace cable
