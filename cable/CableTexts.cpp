#include "CableTexts.h"

#include "CableDefaults.h"

namespace cable {

namespace {

std::string N(unsigned n) {
    return std::to_string(n);
}

} // namespace

std::string GpioWiringText() {
    return "part   Pi header pin   line of gpiochip0\n"
           "RESET  22              " + N(GpioDefaultReset) + "\n"
           "SCK    23              " + N(GpioDefaultSck) + "\n"
           "MOSI   19              " + N(GpioDefaultMosi) + "\n"
           "MISO   21              " + N(GpioDefaultMiso) + "\n"
           "GND    6               -\n"
           "The Pi's pins are 3.3 V: run the part at 3.3 V or put a level shifter between.\n";
}

std::string GpioOptionsText() {
    return std::string("chip=") + GpioDefaultChip + ", reset=" + N(GpioDefaultReset) +
           ", sck=" + N(GpioDefaultSck) + ", mosi=" + N(GpioDefaultMosi) + ", miso=" +
           N(GpioDefaultMiso) + " (line offsets)";
}

std::string SerialWiringText() {
    return "part   wiring=rts-reset   wiring=dtr-reset\n"
           "RESET  RTS                DTR, inverted\n"
           "SCK    DTR                RTS\n"
           "MOSI   TXD (break)        TXD (break)\n"
           "MISO   CTS                CTS\n"
           "GND    GND                GND\n"
           "DE-9 pins: TXD 3, DTR 4, GND 5, RTS 7, CTS 8.\n"
           "levels=ttl (default, USB-serial adapters with TTL pins): an asserted RTS or DTR and a\n"
           "break drive their pins low; MISO high reads as CTS not asserted.\n"
           "levels=rs232 (RS-232 levels clamped to the part's supply): the other way round.\n";
}

std::string SerialOptionsText() {
    return std::string("dev=") + SerialDefaultDevice + " (or the device alone), wiring=" +
           SerialWiringRtsReset + " or " + SerialWiringDtrReset + ", levels=" + SerialLevelsTtl +
           " or " + SerialLevelsRs232;
}

std::string SpidevWiringText() {
    return "part   Pi header pin   line\n"
           "RESET  22              line " + N(GpioDefaultReset) + " of gpiochip0\n"
           "SCK    23              SPI0 SCLK\n"
           "MOSI   19              SPI0 MOSI\n"
           "MISO   21              SPI0 MISO\n"
           "GND    6               -\n"
           "The Pi's pins are 3.3 V: run the part at 3.3 V or put a level shifter between.\n";
}

std::string SpidevOptionsText() {
    return std::string("dev=") + SpidevDefaultDevice + " (or the device alone), chip=" +
           GpioDefaultChip + ", reset=" + N(GpioDefaultReset) + ", speed=" + N(SpidevStartHz) +
           " (Hz to start at, " + N(SpidevSlowestHz) + " to " + N(SpidevFastestHz) + ")";
}

} // namespace cable
