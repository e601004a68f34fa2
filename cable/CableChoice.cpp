#include "CableChoice.h"

#include "ArduinoIspLink.h"
#include "AVRisp.h"
#include "CableTexts.h"
#include "DeviceCalls.h"
#include "FtdiLink.h"
#include "FtdiOptions.h"
#include "PortLink.h"
#include "SpidevLink.h"
#include "UsbaspLink.h"

#include <cstdlib>
#include <ostream>
#include <sstream>

namespace cable {

namespace {

std::string LptWiringText() {
    return "PC-LPT DB-25   Signal\n"
           "  3            RESET\n"
           "  4            SCK\n"
           "  5            MOSI\n"
           " 10            MISO\n"
           " 25            GND\n";
}

std::string LptOptionsText() {
    return "no options; the device file is QUILLON_PARPORT (default /dev/parport0)";
}

std::string SimOptionsText() {
    return "no options; the part is QUILLON_SIM_DEVICE (default ATmega16), see the README";
}

constexpr TCableInfo kCables[] = {
    {"lpt", "five-wire cable on the parallel port (ppdev)", true, LptWiringText, LptOptionsText},
    {"sim", "the simulated part on a parallel-port cable", true, LptWiringText, SimOptionsText},
    {"gpio", "GPIO lines of a Raspberry Pi or another board (libgpiod)", true, GpioWiringText,
     GpioOptionsText},
    {"spidev", "hardware SPI of a Raspberry Pi, RESET on a GPIO line", false, SpidevWiringText,
     SpidevOptionsText},
    {"ftdi", "FTDI FT232R bit-bang, FT232H/FT2232H MPSSE (libftdi1)", false, FtdiWiringText,
     FtdiOptionsText},
    {"serial", "modem lines of a serial port or USB-serial adapter", true, SerialWiringText,
     SerialOptionsText},
    {"arduino", "an Arduino running the ArduinoISP sketch (STK500 v1)", false,
     ArduinoIspWiringText, ArduinoIspOptionsText},
    {"usbasp", "a USBasp programmer (libusb-1.0)", false, UsbaspWiringText, UsbaspOptionsText},
};

// The port library file of a cable built as one.
std::string PortLibraryOf(std::string_view name) {
    return "libportio-" + std::string(name) + ".so";
}

std::string Described(const TCableSpec& chosen, bool simulate) {
    std::string text = chosen.Name;
    if (!chosen.OptionText.empty()) text += ":" + chosen.OptionText;
    return simulate ? text + " (simulated)" : text;
}

} // namespace

std::span<const TCableInfo> Cables() {
    return kCables;
}

const TCableInfo* FindCable(std::string_view Name) {
    for (const TCableInfo& c : kCables)
        if (c.Name == Name) return &c;
    return nullptr;
}

std::string TCableChoice::Name() const {
    if (Text.empty()) return DefaultCable;
    return Text.substr(0, Text.find(':'));
}

TCableChoice TCableChoice::FromEnvironment() {
    TCableChoice choice;
    if (const char* text = std::getenv(CableVariable); text != nullptr) choice.Text = text;
    choice.Simulate = SimulateFromEnvironment();
    return choice;
}

std::unique_ptr<TIspLink> MakeCableLink(const TCableChoice& Choice, std::string& Error) {
    const auto parsed = ParseCableSpec(Choice.Text.empty() ? DefaultCable : Choice.Text, Error);
    if (!parsed) return nullptr;
    const TCableInfo* info = FindCable(parsed->Name);
    if (info == nullptr) {
        Error = "unknown cable '" + parsed->Name + "' (quillon-isp cables lists them)";
        return nullptr;
    }
    const std::string& name = parsed->Name;
    if (name == "lpt" || name == "sim") {
        if (!parsed->Options.empty()) {
            Error = "the " + name + " cable takes no options ('" + parsed->OptionText + "')";
            return nullptr;
        }
        // The parallel port's stand-in is the simulated port library.
        const bool simulated = name == "sim" || Choice.Simulate;
        return std::make_unique<TPortLink>(simulated ? "sim" : "lpt");
    }
    if (name == "gpio" || name == "serial") {
        // The port library learns of --simulate from the environment.
        if (Choice.Simulate) ::setenv(SimulateVariable, "1", 1);
        auto link = std::make_unique<TPortLink>(PortLibraryOf(name), parsed->OptionText);
        link->SetDescription(Described(*parsed, Choice.Simulate || SimulateFromEnvironment()));
        return link;
    }
    if (name == "spidev") return MakeSpidevLink(parsed->Options, Choice.Simulate, Error);
    if (name == "ftdi") return MakeFtdiLink(parsed->Options, Choice.Simulate, Error);
    if (name == "arduino") return MakeArduinoIspLink(parsed->Options, Choice.Simulate, Error);
    return MakeUsbaspLink(parsed->Options, Choice.Simulate, Error);
}

namespace {

// The empty choice: the port library QUILLON_PORTIO names, as ever.
bool DefaultPort(const TCableChoice& Choice) {
    return Choice.Text.empty() && !Choice.Simulate;
}

// Why the chosen cable did not open: the refusal of its options, or the
// link's own words (the parallel port's with what to do about it).
std::string OpenFailure(const TAVRisp& Engine, const TCableChoice& Choice, bool Refused,
                        const std::string& Error) {
    if (Refused) return Error;
    if (Choice.Name() == "lpt" && !Choice.Simulate) return PortFailureText(Engine.PortError());
    return "ISP interface NOT initialised: " + Engine.PortError();
}

} // namespace

bool OpenCable(TAVRisp& Engine, const TCableChoice& Choice, std::string& Why) {
    if (DefaultPort(Choice)) {
        if (Engine.OpenPort()) return true;
        Why = PortFailureText(Engine.PortError());
        return false;
    }
    std::string error;
    std::unique_ptr<TIspLink> link = MakeCableLink(Choice, error);
    const bool refused = link == nullptr;
    if (Engine.OpenLink(std::move(link))) return true;
    Why = OpenFailure(Engine, Choice, refused, error);
    return false;
}

bool SwitchCable(TAVRisp& Engine, const TCableChoice& Choice, std::string& Why) {
    std::string error;
    std::unique_ptr<TIspLink> link;
    if (DefaultPort(Choice)) {
        const char* setting = std::getenv(PortLibraryVariable);
        link = std::make_unique<TPortLink>(setting != nullptr ? setting : "");
    } else {
        link = MakeCableLink(Choice, error);
    }
    const bool refused = link == nullptr;
    if (Engine.SwitchLink(std::move(link))) return true;
    Why = OpenFailure(Engine, Choice, refused, error);
    return false;
}

void ListCables(std::ostream& Out) {
    for (const TCableInfo& c : kCables) {
        Out << c.Name << (c.Name == DefaultCable ? " (default)" : "") << ": " << c.Summary
            << (c.NormalMode ? "" : "; always programs in the fast mode") << '\n'
            << "  options: " << c.Options() << '\n';
        std::istringstream wiring(c.Wiring());
        for (std::string line; std::getline(wiring, line);)
            Out << "    " << line << '\n';
    }
}

} // namespace cable
