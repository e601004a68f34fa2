// libstandin-usbasp.so: the libusb-1.0 functions a USBasp driver calls, with
// the signatures of libusb.h, on simulated USBasps (UsbaspFirmware) instead
// of the USB bus. What is plugged in is set by the environment when a
// session starts (libusb_init; see UsbaspSetup): by default one USBasp,
// 16C0:05DC "USBasp" without a serial number, on bus 1. A device's
// simulated part is made at its first control transfer and reports (with
// QUILLON_SIM_REPORT) when the device is closed; a device only opened to
// read its strings reports nothing. The model clock of the most recently
// used device is the library's clock (StandinClock.h); beside it the
// library exports quillon_standin_count, the requests handed to the
// USBasps so far (each one a USB round trip).
#include "StandinClock.h"
#include "UsbaspFirmware.h"

#include <libusb.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

struct libusb_device {
    libusb_context* context = nullptr;
    std::size_t index = 0; // which of the setup's serials
    uint8_t bus = 1;
    uint8_t address = 0;
    int opened = 0;
    std::unique_ptr<standin::UsbaspFirmware> firmware; // made at the first request
};

struct libusb_context {
    standin::UsbaspSetup setup;
    std::vector<std::unique_ptr<libusb_device>> devices;
};

struct libusb_device_handle {
    libusb_device* device = nullptr;
};

namespace {

constexpr const char* kManufacturer = "Quillon simulation";
constexpr uint8_t kManufacturerIndex = 1;
constexpr uint8_t kProductIndex = 2;
constexpr uint8_t kSerialIndex = 3;

libusb_context* g_default = nullptr;
// Model time of the devices no longer in use, and the device whose clock
// runs now.
uint64_t g_pastNs = 0;
libusb_device* g_clockDevice = nullptr;
uint64_t g_clockFromNs = 0;
// Control transfers handed to a USBasp's firmware, for the whole process.
uint64_t g_requests = 0;

libusb_context* Context(libusb_context* ctx) {
    return ctx != nullptr ? ctx : g_default;
}

void StopClock(libusb_device* device) {
    if (g_clockDevice != device) return;
    g_pastNs += device->firmware->Board().NowNs() - g_clockFromNs;
    g_clockDevice = nullptr;
}

void UseClock(libusb_device* device) {
    if (g_clockDevice == device) return;
    if (g_clockDevice != nullptr) StopClock(g_clockDevice);
    g_clockDevice = device;
    g_clockFromNs = device->firmware->Board().NowNs();
}

// The device's firmware and its part leave: the report, the state saved.
void Unplug(libusb_device* device) {
    if (!device->firmware) return;
    StopClock(device);
    device->firmware->Board().Report();
    device->firmware.reset();
}

} // namespace

int LIBUSB_CALL libusb_init(libusb_context** ctx) {
    auto context = std::make_unique<libusb_context>();
    std::string error;
    if (!standin::UsbaspSetup::FromEnvironment(context->setup, error)) {
        std::fprintf(stderr, "libstandin-usbasp: %s\n", error.c_str());
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    if (context->setup.fault != standin::Fault::Absent) {
        for (std::size_t i = 0; i < context->setup.serials.size(); ++i) {
            auto device = std::make_unique<libusb_device>();
            device->context = context.get();
            device->index = i;
            device->address = static_cast<uint8_t>(2 + i);
            context->devices.push_back(std::move(device));
        }
    }
    if (ctx != nullptr) {
        *ctx = context.release();
    } else if (g_default == nullptr) {
        g_default = context.release();
    }
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_exit(libusb_context* ctx) {
    libusb_context* context = Context(ctx);
    if (context == nullptr) return;
    for (auto& device : context->devices)
        Unplug(device.get());
    if (context == g_default) g_default = nullptr;
    delete context;
}

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context* ctx, libusb_device*** list) {
    libusb_context* context = Context(ctx);
    if (context == nullptr || list == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
    auto* devices = new libusb_device*[context->devices.size() + 1];
    for (std::size_t i = 0; i < context->devices.size(); ++i)
        devices[i] = context->devices[i].get();
    devices[context->devices.size()] = nullptr;
    *list = devices;
    return static_cast<ssize_t>(context->devices.size());
}

void LIBUSB_CALL libusb_free_device_list(libusb_device** list, int) {
    delete[] list;
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device* dev,
                                             struct libusb_device_descriptor* desc) {
    if (dev == nullptr || desc == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
    const standin::UsbaspSetup& setup = dev->context->setup;
    *desc = libusb_device_descriptor{};
    desc->bLength = LIBUSB_DT_DEVICE_SIZE;
    desc->bDescriptorType = LIBUSB_DT_DEVICE;
    desc->bcdUSB = 0x0110;
    desc->bDeviceClass = LIBUSB_CLASS_VENDOR_SPEC;
    desc->bMaxPacketSize0 = 8;
    desc->idVendor = setup.vendor;
    desc->idProduct = setup.product;
    desc->bcdDevice = 0x0104;
    desc->iManufacturer = kManufacturerIndex;
    desc->iProduct = kProductIndex;
    desc->iSerialNumber = setup.serials[dev->index].empty() ? 0 : kSerialIndex;
    desc->bNumConfigurations = 1;
    return LIBUSB_SUCCESS;
}

uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device* dev) {
    return dev != nullptr ? dev->bus : 0;
}

uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device* dev) {
    return dev != nullptr ? dev->address : 0;
}

int LIBUSB_CALL libusb_open(libusb_device* dev, libusb_device_handle** dev_handle) {
    if (dev == nullptr || dev_handle == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
    switch (dev->context->setup.fault) {
    case standin::Fault::Denied:
        return LIBUSB_ERROR_ACCESS;
    case standin::Fault::Busy:
        return LIBUSB_ERROR_BUSY;
    default:
        break;
    }
    ++dev->opened;
    *dev_handle = new libusb_device_handle{dev};
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_close(libusb_device_handle* dev_handle) {
    if (dev_handle == nullptr) return;
    libusb_device* device = dev_handle->device;
    delete dev_handle;
    if (--device->opened == 0) Unplug(device);
}

int LIBUSB_CALL libusb_get_string_descriptor_ascii(libusb_device_handle* dev_handle,
                                                   uint8_t desc_index, unsigned char* data,
                                                   int length) {
    if (dev_handle == nullptr || data == nullptr || length <= 0) return LIBUSB_ERROR_INVALID_PARAM;
    const libusb_device* device = dev_handle->device;
    const standin::UsbaspSetup& setup = device->context->setup;
    std::string text;
    if (desc_index == kManufacturerIndex)
        text = kManufacturer;
    else if (desc_index == kProductIndex)
        text = setup.productName;
    else if (desc_index == kSerialIndex && !setup.serials[device->index].empty())
        text = setup.serials[device->index];
    else
        return LIBUSB_ERROR_PIPE; // no such string: the device stalls
    const int n = std::min(static_cast<int>(text.size()), length - 1);
    std::memcpy(data, text.data(), static_cast<std::size_t>(n));
    data[n] = '\0';
    return n;
}

int LIBUSB_CALL libusb_control_transfer(libusb_device_handle* dev_handle, uint8_t request_type,
                                        uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                                        unsigned char* data, uint16_t wLength, unsigned int) {
    if (dev_handle == nullptr) return LIBUSB_ERROR_INVALID_PARAM;
    libusb_device* device = dev_handle->device;
    if (!device->firmware) {
        try {
            device->firmware = std::make_unique<standin::UsbaspFirmware>(device->context->setup);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "libstandin-usbasp: %s\n", e.what());
            return LIBUSB_ERROR_OTHER;
        }
    }
    UseClock(device);
    ++g_requests;
    return device->firmware->Control(request_type, bRequest, wValue, wIndex, data, wLength);
}

extern "C" uint64_t quillon_standin_now_ns(void) {
    if (g_clockDevice == nullptr) return g_pastNs;
    return g_pastNs + g_clockDevice->firmware->Board().NowNs() - g_clockFromNs;
}

extern "C" uint64_t quillon_standin_count(void) {
    return g_requests;
}

extern "C" void quillon_standin_sleep_ms(uint32_t ms) {
    if (g_clockDevice != nullptr)
        g_clockDevice->firmware->Board().SleepMs(ms);
    else
        g_pastNs += uint64_t{ms} * 1000000u;
}
