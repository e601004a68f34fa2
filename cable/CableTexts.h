// What the Information window and `quillon-isp cables` show of the gpio,
// serial and spidev cables: the default wiring as a small table (lines end
// with '\n', columns padded with spaces for a fixed-width font) and the
// options in one line with their defaults.
#pragma once

#include <string>

namespace cable {

// Raspberry Pi header pins and BCM line offsets on gpiochip0.
std::string GpioWiringText();
std::string GpioOptionsText();
// Both wirings with the DE-9 pins of the modem lines, and the levels.
std::string SerialWiringText();
std::string SerialOptionsText();
// Raspberry Pi header pins of SPI0 and the RESET line.
std::string SpidevWiringText();
std::string SpidevOptionsText();

} // namespace cable
