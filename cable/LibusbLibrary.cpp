#include "LibusbLibrary.h"

#include "PortLibrary.h"

#include <dlfcn.h>

#include <cstring>
#include <filesystem>
#include <vector>

namespace cable {

namespace {

constexpr const char* kSystemLibrary = "libusb-1.0.so.0";
constexpr const char* kStandin = "libstandin-usbasp.so";

template <typename Fn> bool Resolve(void* handle, const char* name, Fn& fn) {
    void* p = dlsym(handle, name);
    if (p == nullptr) return false;
    static_assert(sizeof(fn) == sizeof(p));
    std::memcpy(&fn, &p, sizeof(fn));
    return true;
}

} // namespace

TLibusbLibrary::~TLibusbLibrary() {
    if (Handle_ != nullptr) dlclose(Handle_);
}

bool TLibusbLibrary::Load(bool simulate, std::string& error) {
    if (Handle_ != nullptr) return true;
    std::vector<std::string> candidates;
    if (simulate) {
        const std::string dir = ExecutableDir();
        if (!dir.empty()) {
            candidates.push_back((std::filesystem::path(dir) / kStandin).string());
            candidates.push_back((std::filesystem::path(dir) / InstalledPortLibraryDir / kStandin)
                                     .lexically_normal());
        }
    } else {
        candidates.push_back(kSystemLibrary);
    }
    std::string why;
    for (const std::string& file : candidates) {
        Handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (Handle_ != nullptr) {
            Path_ = file;
            break;
        }
        if (const char* e = dlerror()) why = e;
    }
    if (Handle_ == nullptr) {
        error = simulate ? "the simulated USBasp (" + std::string(kStandin) +
                               ") is not installed beside this program"
                         : "libusb-1.0 is not installed: install the Debian package "
                           "libusb-1.0-0 (sudo apt install libusb-1.0-0)";
        if (!why.empty()) error += " (" + why + ")";
        return false;
    }
    TLibusbApi api;
    const bool complete =
        Resolve(Handle_, "libusb_init", api.Init) && Resolve(Handle_, "libusb_exit", api.Exit) &&
        Resolve(Handle_, "libusb_get_device_list", api.GetDeviceList) &&
        Resolve(Handle_, "libusb_free_device_list", api.FreeDeviceList) &&
        Resolve(Handle_, "libusb_get_device_descriptor", api.GetDeviceDescriptor) &&
        Resolve(Handle_, "libusb_get_bus_number", api.GetBusNumber) &&
        Resolve(Handle_, "libusb_get_device_address", api.GetDeviceAddress) &&
        Resolve(Handle_, "libusb_open", api.Open) && Resolve(Handle_, "libusb_close", api.Close) &&
        Resolve(Handle_, "libusb_get_string_descriptor_ascii", api.GetStringDescriptorAscii) &&
        Resolve(Handle_, "libusb_control_transfer", api.ControlTransfer);
    if (!complete) {
        const char* missing = dlerror();
        error = Path_ + " is not a libusb-1.0 library (" + (missing ? missing : "incomplete") + ")";
        dlclose(Handle_);
        Handle_ = nullptr;
        return false;
    }
    Resolve(Handle_, "quillon_standin_now_ns", api.NowNs);
    Resolve(Handle_, "quillon_standin_sleep_ms", api.SleepMs);
    Api_ = api;
    return true;
}

std::string LibusbErrorText(int code) {
    switch (code) {
    case LIBUSB_ERROR_IO:
        return "input/output error";
    case LIBUSB_ERROR_INVALID_PARAM:
        return "invalid parameter";
    case LIBUSB_ERROR_ACCESS:
        return "permission denied";
    case LIBUSB_ERROR_NO_DEVICE:
        return "no such device (unplugged?)";
    case LIBUSB_ERROR_NOT_FOUND:
        return "not found";
    case LIBUSB_ERROR_BUSY:
        return "busy: in use by another program";
    case LIBUSB_ERROR_TIMEOUT:
        return "timed out";
    case LIBUSB_ERROR_OVERFLOW:
        return "more data than asked for";
    case LIBUSB_ERROR_PIPE:
        return "request refused (stall)";
    case LIBUSB_ERROR_INTERRUPTED:
        return "interrupted";
    case LIBUSB_ERROR_NO_MEM:
        return "out of memory";
    case LIBUSB_ERROR_NOT_SUPPORTED:
        return "not supported on this system";
    case LIBUSB_ERROR_OTHER:
        return "an unexpected error";
    default:
        return "libusb error " + std::to_string(code);
    }
}

} // namespace cable
