// The options of the ftdi cable as a person writes them
// ("ftdi:type=ft232r,reset=dtr,sck=rxd"), checked before anything is opened,
// and the texts that tell a person how to wire the board.
#pragma once

#include "CableOptions.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cable {

// The boards the cable drives, by USB id (vendor 0403).
enum class TFtdiChip : uint8_t {
    Auto,    // whichever of the three is plugged in
    FT232R,  // 0403:6001, synchronous bit-bang
    FT232H,  // 0403:6014, MPSSE
    FT2232H, // 0403:6010, MPSSE on channel A
};

inline constexpr uint16_t FtdiVendorId = 0x0403;
uint16_t FtdiProductId(TFtdiChip Chip);
const char* FtdiChipName(TFtdiChip Chip);
bool FtdiChipUsesMpsse(TFtdiChip Chip);

// The FT232R pins of the four ISP lines in bit-bang mode, as bit numbers of
// the bit-bang byte (D0 TXD, D1 RXD, D2 RTS, D3 CTS, D4 DTR, D5 DSR, D6 DCD,
// D7 RI). The default needs only the signals of the common six-pin header
// (GND, CTS, VCC, TXD, RXD, DTR).
struct TFtdiBitBangPins {
    uint8_t Reset = 4; // DTR
    uint8_t Sck = 1;   // RXD
    uint8_t Mosi = 0;  // TXD
    uint8_t Miso = 3;  // CTS
};

// MPSSE wiring is fixed (ADBUS0 SCK, ADBUS1 MOSI, ADBUS2 MISO) but for
// RESET: a GPIO numbered 3..7 on the low byte (ADBUS3..7) or 8..15 on the
// high byte (ACBUS0..7).
inline constexpr uint8_t FtdiMpsseDefaultReset = 4; // ADBUS4 (GPIOL0)

// The SCK clock the cable starts with: safe for a part on a 1 MHz clock
// (which wants SCK below 250 kHz).
inline constexpr uint32_t FtdiDefaultSckHz = 100000;

struct TFtdiSettings {
    TFtdiChip Chip = TFtdiChip::Auto;
    std::string Serial; // empty: the only board plugged in
    TFtdiBitBangPins BitBang;
    bool BitBangPinsGiven = false; // sck=, mosi=, miso= or a bit-bang reset= given
    uint8_t MpsseReset = FtdiMpsseDefaultReset;
    bool MpsseResetGiven = false;
    uint32_t StartSckHz = FtdiDefaultSckHz;
};

// Checks and reads the options; nullopt with `Error` naming the option at
// fault (an unknown option, a pin given twice, a value that is not a pin,
// pins of the other way of driving, a speed out of range).
std::optional<TFtdiSettings> ParseFtdiOptions(const std::vector<TCableOption>& Options,
                                              std::string& Error);

// Whether the settings suit the board found (a chip named by type= is
// checked when the options are read; an auto-detected one when it is
// found). Empty when they do, else one line naming the option.
std::string FtdiSettingsMismatch(const TFtdiSettings& Settings, TFtdiChip Found);

// The SCK clock range of a way of driving, in Hz.
uint32_t FtdiFastestSckHz(TFtdiChip Chip);
uint32_t FtdiSlowestSckHz(TFtdiChip Chip);

// Pin names for a person: "DTR (D4)", "ADBUS4", "ACBUS1".
std::string FtdiBitBangPinName(uint8_t Bit);
std::string FtdiMpssePinName(uint8_t Pin);

// For the Information window: the default bit-bang wiring by FT232R pin
// name and the MPSSE pins, a few lines.
std::string FtdiWiringText();
// One line: every option with its default.
std::string FtdiOptionsText();

} // namespace cable
