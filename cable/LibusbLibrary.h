// libusb-1.0, loaded at run time: the system's libusb-1.0.so.0 for real
// devices, or the USBasp stand-in (libstandin-usbasp.so, beside the program
// or in the installed port library folder) when simulating. Only the
// functions the USBasp link calls are resolved; a stand-in's model clock is
// taken when the library has it.
#pragma once

#include <libusb.h>

#include <cstdint>
#include <string>

namespace cable {

struct TLibusbApi {
    decltype(&libusb_init) Init = nullptr;
    decltype(&libusb_exit) Exit = nullptr;
    decltype(&libusb_get_device_list) GetDeviceList = nullptr;
    decltype(&libusb_free_device_list) FreeDeviceList = nullptr;
    decltype(&libusb_get_device_descriptor) GetDeviceDescriptor = nullptr;
    decltype(&libusb_get_bus_number) GetBusNumber = nullptr;
    decltype(&libusb_get_device_address) GetDeviceAddress = nullptr;
    decltype(&libusb_open) Open = nullptr;
    decltype(&libusb_close) Close = nullptr;
    decltype(&libusb_get_string_descriptor_ascii) GetStringDescriptorAscii = nullptr;
    decltype(&libusb_control_transfer) ControlTransfer = nullptr;
    // Optional: a stand-in's model clock (standin/StandinClock.h).
    uint64_t (*NowNs)() = nullptr;
    void (*SleepMs)(uint32_t) = nullptr;
};

class TLibusbLibrary {
public:
    TLibusbLibrary() = default;
    ~TLibusbLibrary();
    TLibusbLibrary(const TLibusbLibrary&) = delete;
    TLibusbLibrary& operator=(const TLibusbLibrary&) = delete;

    // Loads it once; later calls keep what was loaded. False: `error` says
    // which library is missing and what to install.
    bool Load(bool simulate, std::string& error);
    const TLibusbApi& Api() const { return Api_; }
    const std::string& Path() const { return Path_; }

private:
    void* Handle_ = nullptr;
    TLibusbApi Api_;
    std::string Path_;
};

// A libusb error code in words.
std::string LibusbErrorText(int code);

} // namespace cable
