#include "avrsim/FuseEffects.h"

#include <algorithm>
#include <initializer_list>

namespace avrsim {
namespace {

struct Family {
    std::initializer_list<uint16_t> signatures; // signature bytes 1 and 2
    FuseEffects effects;
};

constexpr uint16_t Set(std::initializer_list<unsigned> values) {
    uint16_t s = 0;
    for (unsigned v : values)
        s = static_cast<uint16_t>(s | (1u << v));
    return s;
}

// RSTDISBL in bit 7 and DWEN in bit 6 of the high byte, CKSEL3..0 in the low.
constexpr std::array<uint8_t, 3> kHighResetBits{0x00, 0xC0, 0x00};

const Family kFamilies[] = {
    // ATmega48/88/168/328 (all variants): 0010 internal RC, 0011 128 kHz.
    {{0x9205, 0x920A, 0x9210, 0x930A, 0x930F, 0x9316, 0x9406, 0x940B, 0x9415, 0x9514, 0x950F,
      0x9516},
     {kHighResetBits, 0x0F, Set({2, 3})}},
    // ATtiny25/45/85: PLL, internal RC, ATtiny15 mode, 128 kHz.
    {{0x9108, 0x9206, 0x930B}, {kHighResetBits, 0x0F, Set({1, 2, 3, 4})}},
    // ATtiny24/44/84: internal RC, 128 kHz.
    {{0x910B, 0x9207, 0x930C}, {kHighResetBits, 0x0F, Set({2, 4})}},
    // ATtiny261/461/861: PLL, internal RC, 128 kHz.
    {{0x910C, 0x9208, 0x930D}, {kHighResetBits, 0x0F, Set({1, 2, 3})}},
    // ATtiny2313/4313: DWEN in bit 7, RSTDISBL in bit 0 of the high byte.
    {{0x910A, 0x920D}, {{0x00, 0x81, 0x00}, 0x0F, Set({2, 4, 6})}},
    // ATtiny13: DWEN in bit 3, RSTDISBL in bit 0 of the high byte, CKSEL1..0.
    {{0x9007}, {{0x00, 0x09, 0x00}, 0x03, Set({1, 2, 3})}},
    // ATmega8: RSTDISBL in bit 7 of the high byte; internal RC at 1, 2, 4 or 8 MHz.
    {{0x9307}, {{0x00, 0x80, 0x00}, 0x0F, Set({1, 2, 3, 4})}},
    // ATmega16/32, 64/128, 8515/8535: no RESET disable; internal RC 0001..0100.
    {{0x9403, 0x9502, 0x9602, 0x9702, 0x9306, 0x9308}, {{}, 0x0F, Set({1, 2, 3, 4})}},
    // ATmega162: internal RC 0010.
    {{0x9404}, {{}, 0x0F, Set({2})}},
    // ATmega164/324/644/1284 and 640/1280/1281/2560/2561: internal RC, 128 kHz.
    {{0x940A, 0x940F, 0x9508, 0x9511, 0x9515, 0x9609, 0x960A, 0x9706, 0x9705, 0x9608, 0x9703,
      0x9704, 0x9801, 0x9802},
     {{}, 0x0F, Set({2, 3})}},
};

} // namespace

FuseEffects EffectsOf(const PartInfo& part) {
    if (!part.present || part.signature[0] != 0x1E) return {};
    const auto key = static_cast<uint16_t>((part.signature[1] << 8) | part.signature[2]);
    for (const Family& f : kFamilies)
        if (std::find(f.signatures.begin(), f.signatures.end(), key) != f.signatures.end())
            return f.effects;
    return {};
}

bool ReachableWith(const FuseEffects& effects, const std::array<uint8_t, 3>& fuses) {
    for (std::size_t k = 0; k < fuses.size(); ++k)
        if ((fuses[k] & effects.resetTaken[k]) != effects.resetTaken[k]) return false;
    if (effects.clockMask == 0) return true;
    unsigned shift = 0;
    while (((effects.clockMask >> shift) & 1u) == 0)
        ++shift;
    const unsigned cksel = (fuses[0] & effects.clockMask) >> shift;
    return ((effects.internalClocks >> cksel) & 1u) != 0;
}

} // namespace avrsim
