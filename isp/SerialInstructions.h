// The bytes of the AVR serial programming instructions, shared by the
// engine's normal and fast operations. Every instruction is four bytes.
#pragma once

#include <array>
#include <cstdint>

namespace serial {

inline constexpr uint8_t OpProgEnable1 = 0xAC;
inline constexpr uint8_t OpProgEnable2 = 0x53;
inline constexpr uint8_t OpReadSignature = 0x30;
inline constexpr uint8_t OpChipErase1 = 0xAC;
inline constexpr uint8_t OpChipErase2 = 0x80;
inline constexpr uint8_t OpReadFlashLow = 0x20;
inline constexpr uint8_t OpReadFlashHigh = 0x28;
inline constexpr uint8_t OpWriteFlashLow = 0x40;  // also: load page, low byte
inline constexpr uint8_t OpWriteFlashHigh = 0x48; // also: load page, high byte
inline constexpr uint8_t OpWritePage = 0x4C;
// Load extended address byte: 4D 00 ext 00, bit 16 and up of the word
// address for Flash above 64 K words.
inline constexpr uint8_t OpLoadExtendedAddress = 0x4D;
inline constexpr uint8_t OpReadEEprom = 0xA0;
inline constexpr uint8_t OpWriteEEprom = 0xC0;
inline constexpr uint8_t OpReadFuseLow = 0x50;
inline constexpr uint8_t OpReadFuseHigh = 0x58;
inline constexpr uint8_t OpWriteFuse = 0xAC;
inline constexpr std::array<uint8_t, 3> OpWriteFuseSelect{0xA0, 0xA8, 0xA4};
// Ready/busy poll: F0 00 xx, answers bit 0 = 1 while the part is busy.
inline constexpr uint8_t OpPoll1 = 0xF0;
inline constexpr uint8_t OpPoll2 = 0x00;

inline uint8_t HighByte(uint32_t v) {
    return static_cast<uint8_t>((v >> 8) & 0xFF);
}
inline uint8_t LowByte(uint32_t v) {
    return static_cast<uint8_t>(v & 0xFF);
}

} // namespace serial
