// Lines of one GPIO chip taken for a cable through libgpiod 1.6 (gpiod.h,
// the v1 interface), loaded at run time: libgpiod.so.2 on hardware, the
// stand-in library under --simulate. The gpio cable takes RESET, SCK and
// MOSI as outputs and MISO as an input; the spidev cable takes RESET alone.
// Every failure is one line naming the chip or line and what to do.
#pragma once

#include <gpiod.h>

#include "DeviceCalls.h"

#include <optional>
#include <string>
#include <vector>

namespace cable {

// The libgpiod functions the cables call, typed by gpiod.h's own
// declarations.
struct TGpiod {
    decltype(&::gpiod_chip_open) ChipOpen = nullptr;
    decltype(&::gpiod_chip_close) ChipClose = nullptr;
    decltype(&::gpiod_chip_num_lines) ChipNumLines = nullptr;
    decltype(&::gpiod_chip_get_line) ChipGetLine = nullptr;
    decltype(&::gpiod_line_request_bulk_output) RequestBulkOutput = nullptr;
    decltype(&::gpiod_line_request_input) RequestInput = nullptr;
    decltype(&::gpiod_line_release_bulk) ReleaseBulk = nullptr;
    decltype(&::gpiod_line_release) Release = nullptr;
    decltype(&::gpiod_line_set_value_bulk) SetValueBulk = nullptr;
    decltype(&::gpiod_line_get_value) GetValue = nullptr;
    decltype(&::gpiod_line_update) Update = nullptr;
    decltype(&::gpiod_line_is_used) IsUsed = nullptr;
    decltype(&::gpiod_line_consumer) Consumer = nullptr;
    // The clock of the library's stand-in; null on hardware.
    uint64_t (*StandinNowNs)() = nullptr;
    void (*StandinSleepMs)(uint32_t) = nullptr;
    void* Handle = nullptr;
};

// The hardware library, by its soname.
inline constexpr const char* GpiodLibraryFile = "libgpiod.so.2";

// Loads libgpiod (or, with `simulate`, the first of `standinCandidates`)
// and resolves its functions. False with `error`: the library is missing
// (naming the Debian package libgpiod2) or lacks a function.
bool LoadGpiod(bool simulate, const std::vector<std::string>& standinCandidates, TGpiod& api,
               std::string& error);

// The device file of a chip= option: a path as given, "gpiochipN" or a
// bare number under /dev.
std::string GpioChipPath(const std::string& chip);

// One line a cable takes: its offset, its role ("RESET") and the option
// that names it ("reset"), for messages.
struct TGpioLine {
    unsigned Offset = 0;
    const char* Role = "";
    const char* Option = "";
};

class TGpioLines {
public:
    TGpioLines() = default;
    ~TGpioLines() { Close(); }
    TGpioLines(const TGpioLines&) = delete;
    TGpioLines& operator=(const TGpioLines&) = delete;

    // Opens the chip and takes `outputs` (together, all low) and the
    // optional input, as `consumer`. False with `error` when the chip is
    // missing or refused, a line is beyond the chip or in use; nothing is
    // held then.
    bool Open(const TGpiod& api, const std::string& chipPath, const std::vector<TGpioLine>& outputs,
              std::optional<TGpioLine> input, const char* consumer, std::string& error);
    // Sets every output in one call (values in the order of `outputs`).
    bool Set(const int* values);
    // The input's level: 0 or 1; -1 when the read failed.
    int Get();
    // Lets the lines go and closes the chip; safe to call again.
    void Close();
    bool IsOpen() const { return chip_ != nullptr; }

private:
    std::string BusyText(const std::string& chipPath, const std::vector<TGpioLine>& lines);

    const TGpiod* api_ = nullptr;
    gpiod_chip* chip_ = nullptr;
    gpiod_line_bulk outputs_ = GPIOD_LINE_BULK_INITIALIZER;
    gpiod_line* input_ = nullptr;
    bool outputsHeld_ = false;
};

// One line for a person when the chip cannot be opened (`error` an errno).
std::string GpioChipFailure(const std::string& chipPath, int error);

} // namespace cable
