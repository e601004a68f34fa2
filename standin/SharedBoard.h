// The one simulated part behind every stand-in of libstandin-linux.so. A
// process that opens a GPIO chip and a spidev device (the spidev cable's
// RESET is a GPIO line) reaches the same part through both: the board is
// made when the first device opens and goes, with its report and its
// state folder saved, when the last one closes. Each stand-in drives the
// pins it is wired to; a pin nobody drives rests at its idle level (RESET
// pulled up, SCK and MOSI low).
#pragma once

#include "SimBoard.h"

#include <chrono>
#include <cstdint>
#include <cstddef>
#include <optional>
#include <string>

namespace standin {

enum class Pin : uint8_t { Reset, Sck, Mosi };

// The kinds of call the report counts; only the first device's kind is
// counted, so a spidev cable's report counts SPI transfers, not the GPIO
// calls of its RESET line.
inline constexpr const char* kGpioCalls = "GPIO calls";
inline constexpr const char* kModemIoctls = "modem-line ioctls";
inline constexpr const char* kSpiTransfers = "SPI transfers";

namespace shared {

// Opens the board for one more device; `cable` names the cable in the
// report ("gpio gpiochip0"), `unit` what its report counts. False (and an
// errno for the device's open to fail with, a line printed on standard
// error) when the simulated part cannot be made.
bool Acquire(const std::string& cable, const char* unit, int& error);
void Release();
bool Open();

// The pins, as the devices drive them; nullopt lets a pin go. Pins
// changed in one call change together, as the lines of one request do.
struct PinLevel {
    Pin pin;
    std::optional<bool> level;
};
void Drive(const PinLevel* levels, std::size_t count);
void Drive(Pin pin, std::optional<bool> level);
bool Miso();
// The part is still on the cable (QUILLON_SIM_DISCONNECT_AFTER not reached).
bool Connected();

// Model time: the cost of a call of the device, and waits.
void Spend(std::chrono::nanoseconds cost);
uint64_t NowNs();
void SleepMs(uint32_t ms);
void Count(const char* unit, uint64_t n = 1);

// GPIO lines requested now, kept by the GPIO stand-in for quillon_standin_held.
void LinesHeld(int delta);
unsigned Held();

} // namespace shared

} // namespace standin
