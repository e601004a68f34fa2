// The defaults of the gpio, serial and spidev cables, shared by the port
// libraries, the spidev link, the texts the programs show and the stand-ins.
#pragma once

#include <cstdint>

namespace cable {

// gpio: BCM line offsets on the Raspberry Pi's gpiochip0 (the SPI0 pins,
// free while the SPI interface is off).
inline constexpr const char* GpioDefaultChip = "gpiochip0";
inline constexpr unsigned GpioDefaultReset = 25;
inline constexpr unsigned GpioDefaultSck = 11;
inline constexpr unsigned GpioDefaultMosi = 10;
inline constexpr unsigned GpioDefaultMiso = 9;
// The highest line offset an option may name; the chip decides the rest.
inline constexpr unsigned long GpioMaxOffset = 65535;
// The consumer name the cables' lines carry.
inline constexpr const char* GpioConsumer = "quillon";

// serial: the adapter and its wiring.
inline constexpr const char* SerialDefaultDevice = "/dev/ttyUSB0";
inline constexpr const char* SerialWiringRtsReset = "rts-reset";
inline constexpr const char* SerialWiringDtrReset = "dtr-reset";
inline constexpr const char* SerialLevelsTtl = "ttl";
inline constexpr const char* SerialLevelsRs232 = "rs232";

// spidev: device, RESET line, SCK speeds in Hz.
inline constexpr const char* SpidevDefaultDevice = "/dev/spidev0.0";
inline constexpr uint32_t SpidevStartHz = 100000;   // safe for a part on a 1 MHz clock
inline constexpr uint32_t SpidevSlowestHz = 4000;   // the floor SlowDown stops at
inline constexpr uint32_t SpidevFastestHz = 8000000; // the ceiling SpeedUp tries
// spidev's default buffer: the most bytes one SPI_IOC_MESSAGE carries.
inline constexpr uint32_t SpidevMessageBytes = 4096;

} // namespace cable
