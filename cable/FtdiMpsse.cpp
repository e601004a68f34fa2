#include "FtdiMpsse.h"

#include <algorithm>
#include <cmath>

namespace cable {

namespace {

// MPSSE commands.
constexpr uint8_t ShiftBytesMode0 = 0x31; // out on -ve, in on +ve edge, bytes, MSB first
constexpr uint8_t SetLowByte = 0x80;      // value, direction (1 = output)
constexpr uint8_t SetHighByte = 0x82;
constexpr uint8_t LoopbackOff = 0x85;
constexpr uint8_t ClockDivisor = 0x86;
constexpr uint8_t SendImmediate = 0x87;
constexpr uint8_t DivideBy5Off = 0x8A;
constexpr uint8_t ThreePhaseOff = 0x8D;
constexpr uint8_t AdaptiveOff = 0x97;
// A command the engine does not know: it answers 0xFA and the command.
constexpr uint8_t BogusCommand = 0xAA;
constexpr uint8_t BadCommandAnswer = 0xFA;

constexpr uint8_t SckBit = 1u << 0;  // ADBUS0
constexpr uint8_t MosiBit = 1u << 1; // ADBUS1 (DO)
constexpr double BaseClock = 60e6;
constexpr std::size_t MaxShift = 65536; // bytes one 0x31 command carries

} // namespace

std::size_t TMpsseEncoder::AppendSetup(std::vector<uint8_t>& Out) const {
    Out.insert(Out.end(), {DivideBy5Off, AdaptiveOff, ThreePhaseOff, LoopbackOff, BogusCommand,
                           SendImmediate});
    return 2;
}

bool TMpsseEncoder::SetupAnswered(std::span<const uint8_t> Back) const {
    return Back.size() == 2 && Back[0] == BadCommandAnswer && Back[1] == BogusCommand;
}

std::size_t TMpsseEncoder::AppendLines(std::vector<uint8_t>& Out, bool Reset) const {
    const uint8_t resetBit = static_cast<uint8_t>(1u << (ResetPin_ & 7u));
    if (ResetPin_ < 8) {
        Out.insert(Out.end(), {SetLowByte, static_cast<uint8_t>(Reset ? resetBit : 0),
                               static_cast<uint8_t>(SckBit | MosiBit | resetBit)});
    } else {
        Out.insert(Out.end(), {SetLowByte, 0, static_cast<uint8_t>(SckBit | MosiBit)});
        Out.insert(Out.end(), {SetHighByte, static_cast<uint8_t>(Reset ? resetBit : 0), resetBit});
    }
    return 0;
}

// RESET is a GPIO the shift commands leave as the last AppendLines set it.
std::size_t TMpsseEncoder::AppendInstructions(std::vector<uint8_t>& Out,
                                              std::span<const TIspBytes> Instructions, bool) const {
    const std::size_t total = Instructions.size() * 4;
    std::size_t done = 0;
    while (done < total) {
        const std::size_t n = std::min(MaxShift, total - done);
        Out.insert(Out.end(), {ShiftBytesMode0, static_cast<uint8_t>((n - 1) & 0xFF),
                               static_cast<uint8_t>((n - 1) >> 8)});
        for (std::size_t i = done; i < done + n; ++i)
            Out.push_back(Instructions[i / 4][i % 4]);
        done += n;
    }
    return total;
}

void TMpsseEncoder::AppendFlush(std::vector<uint8_t>& Out) const {
    Out.push_back(SendImmediate);
}

void TMpsseEncoder::Decode(std::span<const uint8_t> Back, std::span<TIspBytes> In) const {
    for (std::size_t i = 0; i < In.size() * 4; ++i)
        In[i / 4][i % 4] = i < Back.size() ? Back[i] : 0xFF;
}

uint32_t TMpsseEncoder::UnitsForSck(uint32_t Hz) const {
    const double divisor = std::ceil(BaseClock / (2.0 * std::max<uint32_t>(Hz, 1))) - 1;
    return static_cast<uint32_t>(std::clamp<double>(divisor, 0, SlowestUnits()));
}

uint32_t TMpsseEncoder::SlowerUnits(uint32_t Units) const {
    return std::min(SlowestUnits(), 2 * Units + 1); // twice the period
}

double TMpsseEncoder::SckHz(uint32_t Units) const {
    return BaseClock / (2.0 * (1.0 + Units));
}

void TMpsseEncoder::AppendPace(std::vector<uint8_t>& Out, uint32_t Units) const {
    Out.insert(Out.end(), {ClockDivisor, static_cast<uint8_t>(Units & 0xFF),
                           static_cast<uint8_t>((Units >> 8) & 0xFF)});
}

} // namespace cable
