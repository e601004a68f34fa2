// A simulated USBasp: its vendor control requests on a simulated part.
// 1 connect, 2 disconnect, 3 transmit (four instruction bytes in wValue and
// wIndex, the four answer bytes back), 4 / 7 read Flash / EEPROM, 6 / 8
// write them (at most 200 bytes a request; a Flash write carries the page
// size in bytes and the first-block / last-block flags 1 and 2 in wIndex),
// 5 enable programming (one byte back, 0 when the part answered), 9 set long
// address (the 32-bit address in wValue and wIndex; from then on the block
// requests of the connection continue from it instead of taking wValue), 10
// set ISP clock (newer firmware: an option in wValue, 0 back when taken; the
// clock applies from the next connect). A block request's address advances
// with each byte. Flash above 128 KB gets the extended address byte from the
// firmware itself.
//
// Cost in model time: each request is one USB round trip (1 ms) plus its
// bytes at the low-speed rate (1.5 Mbit/s), then the firmware's work on the
// part: the SPI shifting at the clock in use and the waits for the part.
#pragma once

#include "FirmwareIsp.h"
#include "SimBoard.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace standin {

struct UsbaspSetup {
    uint16_t vendor = 0x16C0;
    uint16_t product = 0x05DC;
    std::string productName = "USBasp";
    std::vector<std::string> serials{""}; // one device each; "" has no serial number
    bool clockRequest = true;             // the firmware takes request 10
    bool slowJumper = false;              // without it: the slow-clock jumper is closed
    // QUILLON_SIM_CABLE_FAULT: absent, denied, busy as for every stand-in;
    // "fail": enable programming always answers 1 (no part answered).
    Fault fault = Fault::None;
    bool failEnable = false;

    // QUILLON_SIM_USB_SERIAL (serial numbers, comma-separated: a USBasp for
    // each), QUILLON_SIM_USB_IDS (VID:PID in hex, e.g. 03eb:c7b4 for older
    // boards), QUILLON_SIM_USB_PRODUCT (the product string; another than
    // "USBasp" plays a different device on the shared ids),
    // QUILLON_SIM_USBASP_CLOCK ("none": firmware without request 10 at its
    // fixed 375 kHz; "slow": the same with its slow-clock jumper closed, 8
    // kHz), QUILLON_SIM_CABLE_FAULT. `error` names a value not understood.
    static bool FromEnvironment(UsbaspSetup& setup, std::string& error);
};

class UsbaspFirmware {
public:
    // The part from the environment; throws std::invalid_argument for a part
    // the simulator does not know.
    explicit UsbaspFirmware(const UsbaspSetup& setup);

    // One control transfer: the bytes moved, or a negative libusb error
    // (LIBUSB_ERROR_PIPE for a request in the wrong direction,
    // LIBUSB_ERROR_NO_DEVICE once the device is pulled).
    int Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                uint16_t length);

    SimBoard& Board() { return board_; }
    // The device was pulled (QUILLON_SIM_DISCONNECT_AFTER pin accesses).
    bool Pulled() const { return pulled_; }

private:
    int Run(uint8_t request, uint16_t value, uint16_t index, uint8_t* data, uint16_t length);
    uint32_t BlockAddress(uint16_t value);
    int WriteFlash(uint16_t index, const uint8_t* data, uint16_t length, uint32_t address);

    UsbaspSetup setup_;
    SimBoard board_;
    FirmwareIsp isp_;
    uint8_t sckOption_ = 0; // 0: the firmware's default
    bool longAddress_ = false;
    uint32_t address_ = 0;
    bool pulled_ = false;
};

} // namespace standin
