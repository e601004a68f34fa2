#include "FtdiBitBang.h"

#include <algorithm>
#include <cmath>

namespace cable {

namespace {

// Pin changes a second are 24 MHz / (Base + units): 3 MHz over a divisor of
// (Base + units) eighths.
constexpr uint32_t EighthsClock = 24000000;
constexpr uint32_t Base = 40; // D = 5: 600 000 changes a second
constexpr uint32_t SlowestRate =
    1000; // below, a USB write of a few kilobytes outlasts its time-out

// Bytes for one serial programming bit: SCK low with MOSI, then SCK high.
constexpr std::size_t BytesPerBit = 2;

} // namespace

uint8_t TBitBangEncoder::Lines(bool Reset, bool Sck, bool Mosi) const {
    return static_cast<uint8_t>((Reset ? 1u << Pins_.Reset : 0u) | (Sck ? 1u << Pins_.Sck : 0u) |
                                (Mosi ? 1u << Pins_.Mosi : 0u));
}

uint8_t TBitBangEncoder::BitModeMask() const {
    return Lines(true, true, true); // MISO and the unused pins stay inputs
}

std::size_t TBitBangEncoder::AppendLines(std::vector<uint8_t>& Out, bool Reset) const {
    Out.push_back(Lines(Reset, false, false));
    return 1;
}

std::size_t TBitBangEncoder::AppendInstructions(std::vector<uint8_t>& Out,
                                                std::span<const TIspBytes> Instructions,
                                                bool Reset) const {
    if (Instructions.empty()) return 0;
    const std::size_t count = Instructions.size() * 32 * BytesPerBit + 1;
    Out.reserve(Out.size() + count);
    for (const TIspBytes& instruction : Instructions)
        for (const uint8_t byte : instruction)
            for (unsigned mask = 0x80; mask != 0; mask >>= 1) {
                const bool bit = (byte & mask) != 0;
                Out.push_back(Lines(Reset, false, bit));
                Out.push_back(Lines(Reset, true, bit));
            }
    // SCK falls after the last bit, so that its high phase lasts a whole step.
    Out.push_back(Lines(Reset, false, false));
    return count;
}

void TBitBangEncoder::Decode(std::span<const uint8_t> Back, std::span<TIspBytes> In) const {
    const uint8_t miso = static_cast<uint8_t>(1u << Pins_.Miso);
    std::size_t at = 1; // the byte sampled before the first SCK-high byte
    for (TIspBytes& answer : In)
        for (uint8_t& byte : answer) {
            unsigned value = 0;
            for (int bit = 0; bit < 8; ++bit, at += BytesPerBit)
                value = (value << 1) | ((at < Back.size() && (Back[at] & miso) != 0) ? 1u : 0u);
            byte = static_cast<uint8_t>(value);
        }
}

uint32_t TBitBangEncoder::UnitsForSck(uint32_t Hz) const {
    const double rate = 2.0 * std::max<uint32_t>(Hz, 1);
    const double units = std::ceil(EighthsClock / rate) - Base;
    return static_cast<uint32_t>(std::clamp<double>(units, 0, SlowestUnits()));
}

uint32_t TBitBangEncoder::SlowestUnits() const {
    return EighthsClock / SlowestRate - Base;
}

uint32_t TBitBangEncoder::SlowerUnits(uint32_t Units) const {
    return std::min(SlowestUnits(), 2 * Units + Base); // twice the divisor
}

double TBitBangEncoder::SckHz(uint32_t Units) const {
    return BaudRate(Units) / 2.0;
}

int TBitBangEncoder::BaudRate(uint32_t Units) const {
    // Rounded down: every step lasts at least as long as the divisor says.
    return static_cast<int>(EighthsClock / (Base + Units));
}

} // namespace cable
