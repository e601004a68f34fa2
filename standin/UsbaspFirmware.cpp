#include "UsbaspFirmware.h"

#include <libusb.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace standin {

namespace {

using namespace std::chrono_literals;

constexpr uint8_t kConnect = 1;
constexpr uint8_t kDisconnect = 2;
constexpr uint8_t kTransmit = 3;
constexpr uint8_t kReadFlash = 4;
constexpr uint8_t kEnableProgramming = 5;
constexpr uint8_t kWriteFlash = 6;
constexpr uint8_t kReadEeprom = 7;
constexpr uint8_t kWriteEeprom = 8;
constexpr uint8_t kSetLongAddress = 9;
constexpr uint8_t kSetIspClock = 10;

constexpr uint8_t kFirstBlock = 1;
constexpr uint8_t kLastBlock = 2;
constexpr uint16_t kMaxBlock = 200;

// SCK of each clock option in Hz; option 0 is the firmware's default.
constexpr std::array<uint32_t, 13> kSckHz{375000, 500,   1000,   2000,   4000,   8000,   16000,
                                          32000,  93750, 187500, 375000, 750000, 1500000};
constexpr uint32_t kSlowJumperHz = 8000;
constexpr int kEnableTries = 3;

// One USB round trip, and a byte at the low-speed rate (1.5 Mbit/s).
constexpr auto kRoundTrip = 1ms;
constexpr std::chrono::nanoseconds kUsbByte{5333};
constexpr std::size_t kSetupBytes = 8;

bool ParseHex16(std::string_view text, uint16_t& value) {
    if (text.empty() || text.size() > 4) return false;
    unsigned v = 0;
    for (char c : text) {
        const int d = (c >= '0' && c <= '9')   ? c - '0'
                      : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                      : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                               : -1;
        if (d < 0) return false;
        v = v * 16 + static_cast<unsigned>(d);
    }
    value = static_cast<uint16_t>(v);
    return true;
}

const char* Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? v : nullptr;
}

} // namespace

bool UsbaspSetup::FromEnvironment(UsbaspSetup& setup, std::string& error) {
    setup = UsbaspSetup{};
    if (const char* serials = Env("QUILLON_SIM_USB_SERIAL")) {
        setup.serials.clear();
        std::string_view s(serials);
        for (std::size_t from = 0;;) {
            const std::size_t comma = s.find(',', from);
            setup.serials.emplace_back(s.substr(from, comma - from));
            if (comma == std::string_view::npos) break;
            from = comma + 1;
        }
    }
    if (const char* ids = Env("QUILLON_SIM_USB_IDS")) {
        const std::string_view s(ids);
        const std::size_t colon = s.find(':');
        if (colon == std::string_view::npos || !ParseHex16(s.substr(0, colon), setup.vendor) ||
            !ParseHex16(s.substr(colon + 1), setup.product)) {
            error = "QUILLON_SIM_USB_IDS=" + std::string(s) + " is not VID:PID in hex (03eb:c7b4)";
            return false;
        }
    }
    if (const char* name = Env("QUILLON_SIM_USB_PRODUCT")) setup.productName = name;
    if (const char* clock = Env("QUILLON_SIM_USBASP_CLOCK")) {
        const std::string_view c(clock);
        if (c == "none" || c == "slow") {
            setup.clockRequest = false;
            setup.slowJumper = c == "slow";
        } else if (c != "set") {
            error = "QUILLON_SIM_USBASP_CLOCK=" + std::string(c) + " is not set, none or slow";
            return false;
        }
    }
    if (const char* fault = Env("QUILLON_SIM_CABLE_FAULT")) {
        const std::string_view f(fault);
        if (f == "fail")
            setup.failEnable = true;
        else if (f == "absent" || f == "denied" || f == "busy")
            setup.fault = FaultFromEnvironment();
        else if (f != "none") {
            error = "QUILLON_SIM_CABLE_FAULT=" + std::string(f) +
                    " is not a fault the simulated USBasp plays (absent, denied, busy, fail)";
            return false;
        }
    }
    return true;
}

UsbaspFirmware::UsbaspFirmware(const UsbaspSetup& setup)
    : setup_(setup), board_("USBasp"), isp_(board_) {
    isp_.Release();
}

int UsbaspFirmware::Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                            uint8_t* data, uint16_t length) {
    if (pulled_) return LIBUSB_ERROR_NO_DEVICE;
    board_.Count("USB round trips");
    board_.Spend(kRoundTrip + kUsbByte * static_cast<int64_t>(kSetupBytes + length));
    // Vendor requests to the device; the writes carry data to it, every
    // other request answers.
    const bool out = request == kWriteFlash || request == kWriteEeprom;
    const unsigned expected = unsigned{LIBUSB_REQUEST_TYPE_VENDOR} |
                              unsigned{LIBUSB_RECIPIENT_DEVICE} |
                              unsigned{out ? LIBUSB_ENDPOINT_OUT : LIBUSB_ENDPOINT_IN};
    if (requestType != expected || (length > 0 && data == nullptr)) return LIBUSB_ERROR_PIPE;
    const int result = Run(request, value, index, data, length);
    if (!board_.Target().Connected()) {
        pulled_ = true;
        return LIBUSB_ERROR_NO_DEVICE;
    }
    return result;
}

uint32_t UsbaspFirmware::BlockAddress(uint16_t value) {
    if (!longAddress_) address_ = value;
    return address_;
}

int UsbaspFirmware::Run(uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                        uint16_t length) {
    switch (request) {
    case kConnect: {
        const uint32_t hz = sckOption_ != 0     ? kSckHz[sckOption_]
                            : setup_.slowJumper ? kSlowJumperHz
                                                : kSckHz[0];
        isp_.SetPhase(std::chrono::nanoseconds(500000000 / hz));
        isp_.Connect();
        longAddress_ = false;
        return 0;
    }
    case kDisconnect:
        isp_.Release();
        return 0;
    case kTransmit: {
        if (length < 4) return LIBUSB_ERROR_OVERFLOW;
        const IspInstruction in =
            isp_.Transfer({static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>(value >> 8),
                           static_cast<uint8_t>(index & 0xFF), static_cast<uint8_t>(index >> 8)});
        std::memcpy(data, in.data(), 4);
        return 4;
    }
    case kEnableProgramming:
        if (length < 1) return LIBUSB_ERROR_OVERFLOW;
        data[0] = (!setup_.failEnable && isp_.ProgrammingEnable(kEnableTries)) ? 0 : 1;
        return 1;
    case kReadFlash:
    case kReadEeprom: {
        if (length > kMaxBlock) return LIBUSB_ERROR_PIPE;
        uint32_t a = BlockAddress(value);
        for (uint16_t i = 0; i < length && board_.Target().Connected(); ++i, ++a) {
            if (request == kReadFlash) isp_.ExtendedAddress(a);
            data[i] = request == kReadFlash ? isp_.ReadFlash(a) : isp_.ReadEeprom(a);
        }
        address_ = a;
        return length;
    }
    case kWriteFlash:
        if (length > kMaxBlock) return LIBUSB_ERROR_PIPE;
        return WriteFlash(index, data, length, BlockAddress(value));
    case kWriteEeprom: {
        if (length > kMaxBlock) return LIBUSB_ERROR_PIPE;
        uint32_t a = BlockAddress(value);
        for (uint16_t i = 0; i < length && board_.Target().Connected(); ++i, ++a)
            isp_.WriteEeprom(a, data[i]);
        address_ = a;
        return length;
    }
    case kSetLongAddress:
        address_ = value | (uint32_t{index} << 16);
        longAddress_ = true;
        return 0;
    case kSetIspClock: {
        // Older firmware does not know the request and answers nothing.
        if (!setup_.clockRequest) return 0;
        const uint8_t option = value & 0xFF;
        const bool taken = option < kSckHz.size();
        if (taken) sckOption_ = option;
        std::memset(data, 0, length);
        if (length > 0) data[0] = taken ? 0 : 1;
        return length < 4 ? length : 4;
    }
    default:
        return 0;
    }
}

int UsbaspFirmware::WriteFlash(uint16_t index, const uint8_t* data, uint16_t length,
                               uint32_t address) {
    const uint32_t page = (index & 0xFFu) | ((uint32_t{index} >> 4) & 0xF00u);
    const uint8_t flags = (index >> 8) & 0x0F;
    // A new write begins: a page left loaded by a write that never sent its
    // last block is written first, so that nothing loaded is lost.
    if ((flags & kFirstBlock) != 0 && isp_.PageLoaded()) isp_.WritePage();
    uint32_t a = address;
    for (uint16_t i = 0; i < length && board_.Target().Connected(); ++i, ++a) {
        isp_.ExtendedAddress(a);
        if (page == 0) {
            isp_.WriteFlashByte(a, data[i]);
            continue;
        }
        isp_.LoadFlash(a, data[i]);
        if ((a + 1) % page == 0) isp_.WritePage();
    }
    // The last block of a write ends its page wherever it stops.
    if ((flags & kLastBlock) != 0 && isp_.PageLoaded()) isp_.WritePage();
    address_ = a;
    return length;
}

} // namespace standin
