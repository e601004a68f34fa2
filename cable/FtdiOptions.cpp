#include "FtdiOptions.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace cable {

namespace {

// FT232R pin names by bit of the bit-bang byte.
constexpr std::array<const char*, 8> BitBangNames{"TXD", "RXD", "RTS", "CTS",
                                                  "DTR", "DSR", "DCD", "RI"};

// Pace limits, as SCK clocks: bit-bang moves the pins twice a bit, at most
// 600 000 times a second (the full-speed USB bus carries each pin byte out
// and its sample back) and at least 1000 times (slower, a USB transfer of
// a few kilobytes would outlast libusb's time-out); MPSSE divides 60 MHz by
// 2 * (1 + divisor), divisor 0..65535.
constexpr uint32_t BitBangFastestSck = 300000;
constexpr uint32_t BitBangSlowestSck = 500;
constexpr uint32_t MpsseFastestSck = 30000000;
constexpr uint32_t MpsseSlowestSck = 458;

std::string Lower(std::string_view text) {
    std::string s(text);
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// "txd", "d0" or "0" -> 0.
std::optional<uint8_t> BitBangPin(std::string_view text) {
    const std::string s = Lower(text);
    for (uint8_t bit = 0; bit < BitBangNames.size(); ++bit) {
        if (s == Lower(BitBangNames[bit])) return bit;
        const std::string number = std::to_string(bit);
        if (s == number || s == "d" + number) return bit;
    }
    return std::nullopt;
}

// "adbus4" or "gpiol0" -> 4, "acbus1" or "gpioh1" -> 9.
std::optional<uint8_t> MpssePin(std::string_view text) {
    const std::string s = Lower(text);
    for (uint8_t n = 0; n < 8; ++n) {
        const std::string number = std::to_string(n);
        if (n >= 3 && s == "adbus" + number) return n;
        if (n < 4 && s == "gpiol" + number) return static_cast<uint8_t>(4 + n);
        if (s == "acbus" + number || s == "gpioh" + number) return static_cast<uint8_t>(8 + n);
    }
    return std::nullopt;
}

// "250000", "250k" or "1M" in Hz.
std::optional<uint32_t> Frequency(const std::string& text) {
    unsigned long scale = 1;
    std::string digits = text;
    if (!digits.empty() && (digits.back() == 'k' || digits.back() == 'K')) scale = 1000;
    if (!digits.empty() && digits.back() == 'M') scale = 1000000;
    if (scale != 1) digits.pop_back();
    const auto value = CableNumber(digits, MpsseFastestSck);
    if (!value || *value * scale > MpsseFastestSck) return std::nullopt;
    return static_cast<uint32_t>(*value * scale);
}

const char* const BitBangPinHelp = "TXD RXD RTS CTS DTR DSR DCD RI, D0..D7 or 0..7";
const char* const MpssePinHelp = "ADBUS3..ADBUS7 or ACBUS0..ACBUS7";

std::string SpeedRange(TFtdiChip Chip) {
    return std::to_string(FtdiSlowestSckHz(Chip)) + " to " +
           std::to_string(FtdiFastestSckHz(Chip)) + " Hz";
}

} // namespace

uint16_t FtdiProductId(TFtdiChip Chip) {
    switch (Chip) {
    case TFtdiChip::FT232R:
        return 0x6001;
    case TFtdiChip::FT232H:
        return 0x6014;
    case TFtdiChip::FT2232H:
        return 0x6010;
    case TFtdiChip::Auto:
        break;
    }
    return 0;
}

const char* FtdiChipName(TFtdiChip Chip) {
    switch (Chip) {
    case TFtdiChip::FT232R:
        return "FT232R";
    case TFtdiChip::FT232H:
        return "FT232H";
    case TFtdiChip::FT2232H:
        return "FT2232H";
    case TFtdiChip::Auto:
        break;
    }
    return "FTDI board";
}

bool FtdiChipUsesMpsse(TFtdiChip Chip) {
    return Chip == TFtdiChip::FT232H || Chip == TFtdiChip::FT2232H;
}

uint32_t FtdiFastestSckHz(TFtdiChip Chip) {
    return FtdiChipUsesMpsse(Chip) ? MpsseFastestSck : BitBangFastestSck;
}

uint32_t FtdiSlowestSckHz(TFtdiChip Chip) {
    return FtdiChipUsesMpsse(Chip) ? MpsseSlowestSck : BitBangSlowestSck;
}

std::string FtdiBitBangPinName(uint8_t Bit) {
    return std::string(BitBangNames[Bit & 7u]) + " (D" + std::to_string(Bit & 7u) + ")";
}

std::string FtdiMpssePinName(uint8_t Pin) {
    return (Pin < 8 ? "ADBUS" : "ACBUS") + std::to_string(Pin & 7u);
}

std::optional<TFtdiSettings> ParseFtdiOptions(const std::vector<TCableOption>& Options,
                                              std::string& Error) {
    if (!CheckCableOptions(Options, {"type", "serial", "reset", "sck", "mosi", "miso", "speed"},
                           "ftdi", Error))
        return std::nullopt;
    TFtdiSettings s;
    if (auto type = CableOption(Options, "type")) {
        const std::string t = Lower(*type);
        if (t == "ft232r")
            s.Chip = TFtdiChip::FT232R;
        else if (t == "ft232h")
            s.Chip = TFtdiChip::FT232H;
        else if (t == "ft2232h")
            s.Chip = TFtdiChip::FT2232H;
        else {
            Error = "option 'type': '" + *type + "' is not ft232r, ft232h or ft2232h";
            return std::nullopt;
        }
    }
    if (auto serial = CableOption(Options, "serial")) {
        if (serial->empty()) {
            Error = "option 'serial' needs the serial number of a board";
            return std::nullopt;
        }
        s.Serial = *serial;
    }

    // The bit-bang lines, each on a pin of its own.
    struct Line {
        const char* option;
        const char* name;
        uint8_t* bit;
    };
    const std::array<Line, 4> lines{{{"reset", "RESET", &s.BitBang.Reset},
                                     {"sck", "SCK", &s.BitBang.Sck},
                                     {"mosi", "MOSI", &s.BitBang.Mosi},
                                     {"miso", "MISO", &s.BitBang.Miso}}};
    std::string bitBangOption; // the first bit-bang pin option given
    std::array<bool, 4> given{};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        const auto value = CableOption(Options, line.option);
        if (!value) continue;
        if (auto bit = BitBangPin(*value)) {
            *line.bit = *bit;
            given[i] = true;
            if (bitBangOption.empty()) bitBangOption = line.option;
            continue;
        }
        if (line.option == std::string_view("reset")) {
            if (auto pin = MpssePin(*value)) {
                s.MpsseReset = *pin;
                s.MpsseResetGiven = true;
                continue;
            }
            Error = "option 'reset': '" + *value + "' is not an FT232R pin (" + BitBangPinHelp +
                    ") nor an MPSSE pin (" + MpssePinHelp + ")";
        } else {
            Error = "option '" + std::string(line.option) + "': '" + *value +
                    "' is not an FT232R pin (" + BitBangPinHelp + ")";
        }
        return std::nullopt;
    }
    s.BitBangPinsGiven = !bitBangOption.empty();
    if (s.BitBangPinsGiven && s.MpsseResetGiven) {
        Error = "option 'reset' names an MPSSE pin, but option '" + bitBangOption +
                "' an FT232R bit-bang pin: give pins of one kind of board";
        return std::nullopt;
    }
    for (std::size_t i = 0; i < lines.size(); ++i)
        for (std::size_t j = 0; j < lines.size(); ++j) {
            if (i == j || *lines[i].bit != *lines[j].bit || !given[i] || (given[j] && j > i))
                continue;
            // Two options on one pin, or one option on the default pin of another line.
            Error = given[j]
                        ? "pin given twice: options '" + std::string(lines[j].option) + "' and '" +
                              lines[i].option + "' both name " + FtdiBitBangPinName(*lines[i].bit)
                        : "option '" + std::string(lines[i].option) + "' puts " + lines[i].name +
                              " on " + FtdiBitBangPinName(*lines[i].bit) + ", where " +
                              lines[j].name + " is by default: move " + lines[j].name + " with " +
                              lines[j].option + "=";
            return std::nullopt;
        }

    if (auto speed = CableOption(Options, "speed")) {
        const auto hz = Frequency(*speed);
        if (!hz || *hz == 0) {
            Error = "option 'speed': '" + *speed + "' is not a clock in Hz (e.g. 100000 or 100k)";
            return std::nullopt;
        }
        s.StartSckHz = *hz;
    }
    if (s.Chip != TFtdiChip::Auto) {
        Error = FtdiSettingsMismatch(s, s.Chip);
        if (!Error.empty()) return std::nullopt;
    } else if (s.StartSckHz < MpsseSlowestSck) {
        Error = "option 'speed': " + std::to_string(s.StartSckHz) +
                " Hz is below the slowest clock of " + std::to_string(MpsseSlowestSck) + " Hz";
        return std::nullopt;
    }
    return s;
}

std::string FtdiSettingsMismatch(const TFtdiSettings& Settings, TFtdiChip Found) {
    const std::string chip = FtdiChipName(Found);
    if (FtdiChipUsesMpsse(Found) && Settings.BitBangPinsGiven)
        return "the " + chip +
               " is driven through MPSSE with SCK on ADBUS0, MOSI on ADBUS1 and MISO on ADBUS2: "
               "options 'sck', 'mosi', 'miso' do not apply and 'reset' takes " +
               MpssePinHelp;
    if (!FtdiChipUsesMpsse(Found) && Settings.MpsseResetGiven)
        return "option 'reset': " + FtdiMpssePinName(Settings.MpsseReset) +
               " is an MPSSE pin, but the " + chip + " is driven in bit-bang mode (" +
               BitBangPinHelp + ")";
    if (Settings.StartSckHz < FtdiSlowestSckHz(Found) ||
        Settings.StartSckHz > FtdiFastestSckHz(Found))
        return "option 'speed': " + std::to_string(Settings.StartSckHz) + " Hz is outside the " +
               chip + "'s range of " + SpeedRange(Found);
    return {};
}

std::string FtdiWiringText() {
    const TFtdiBitBangPins pins;
    return "FT232R (bit-bang): RESET to " + FtdiBitBangPinName(pins.Reset) + ", SCK to " +
           FtdiBitBangPinName(pins.Sck) + ", MOSI to " + FtdiBitBangPinName(pins.Mosi) +
           ", MISO to " + FtdiBitBangPinName(pins.Miso) +
           ", GND to GND; other pins with reset=, sck=, mosi=, miso= (" + BitBangPinHelp +
           ").\n"
           "FT232H, FT2232H channel A (MPSSE): SCK to ADBUS0, MOSI to ADBUS1, MISO to ADBUS2, "
           "RESET to " +
           FtdiMpssePinName(FtdiMpsseDefaultReset) + " (reset= " + MpssePinHelp +
           "), GND to GND.\n"
           "The part keeps its own supply; the board's I/O voltage must match it (3.3 V or 5 V).";
}

std::string FtdiOptionsText() {
    const TFtdiBitBangPins pins;
    auto name = [](uint8_t bit) { return Lower(BitBangNames[bit]); };
    return "type=ft232r|ft232h|ft2232h (found by USB id), serial=SERIAL (the only board "
           "plugged in), reset=" +
           name(pins.Reset) + " (MPSSE: " + Lower(FtdiMpssePinName(FtdiMpsseDefaultReset)) +
           "), sck=" + name(pins.Sck) + ", mosi=" + name(pins.Mosi) + ", miso=" + name(pins.Miso) +
           ", speed=" + std::to_string(FtdiDefaultSckHz / 1000) + "k (SCK to start with, Hz)";
}

} // namespace cable
