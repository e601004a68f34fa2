#include "FtdiLibrary.h"

#include "PortLibrary.h"

#include <dlfcn.h>

#include <cstring>
#include <vector>

namespace cable {

namespace {

// A function of the library by name, typed as the header declares it.
template <typename Fn> bool Resolve(void* handle, const char* name, Fn& fn) {
    void* p = dlsym(handle, name);
    if (p == nullptr) return false;
    static_assert(sizeof(fn) == sizeof(p));
    std::memcpy(&fn, &p, sizeof fn);
    return true;
}

} // namespace

TFtdiLibrary::~TFtdiLibrary() {
    if (Handle_ != nullptr) dlclose(Handle_);
}

bool TFtdiLibrary::Load(bool Simulate, std::string& Error) {
    if (Handle_ != nullptr) return true;
    const std::vector<std::string> candidates =
        Simulate ? PortLibraryCandidates(FtdiStandinFile, ExecutableDir())
                 : std::vector<std::string>{FtdiLibraryFile};
    std::string loaderError;
    for (const std::string& file : candidates) {
        Handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (Handle_ != nullptr) {
            Path_ = file;
            break;
        }
        const char* e = dlerror();
        loaderError = e != nullptr ? e : "cannot load " + file;
    }
    if (Handle_ == nullptr) {
        Error = Simulate
                    ? std::string("the simulated ftdi cable needs ") + FtdiStandinFile +
                          " beside the program or in its library folder (" + loaderError + ")"
                    : std::string("the ftdi cable needs libftdi1: install the Debian package ") +
                          FtdiDebianPackage + " (" + loaderError + ")";
        return false;
    }
    struct Entry {
        const char* name;
        bool ok;
    };
    TFtdiApi& a = Api_;
    const Entry entries[] = {
        {"ftdi_new", Resolve(Handle_, "ftdi_new", a.New)},
        {"ftdi_free", Resolve(Handle_, "ftdi_free", a.Free)},
        {"ftdi_set_interface", Resolve(Handle_, "ftdi_set_interface", a.SetInterface)},
        {"ftdi_usb_find_all", Resolve(Handle_, "ftdi_usb_find_all", a.FindAll)},
        {"ftdi_list_free", Resolve(Handle_, "ftdi_list_free", a.ListFree)},
        {"ftdi_usb_get_strings", Resolve(Handle_, "ftdi_usb_get_strings", a.GetStrings)},
        {"ftdi_usb_open_dev", Resolve(Handle_, "ftdi_usb_open_dev", a.OpenDev)},
        {"ftdi_usb_close", Resolve(Handle_, "ftdi_usb_close", a.Close)},
        {"ftdi_set_latency_timer", Resolve(Handle_, "ftdi_set_latency_timer", a.SetLatencyTimer)},
        {"ftdi_set_bitmode", Resolve(Handle_, "ftdi_set_bitmode", a.SetBitmode)},
        {"ftdi_set_baudrate", Resolve(Handle_, "ftdi_set_baudrate", a.SetBaudrate)},
        {"ftdi_tcioflush", Resolve(Handle_, "ftdi_tcioflush", a.Flush)},
        {"ftdi_write_data", Resolve(Handle_, "ftdi_write_data", a.WriteData)},
        {"ftdi_write_data_submit", Resolve(Handle_, "ftdi_write_data_submit", a.WriteSubmit)},
        {"ftdi_read_data_submit", Resolve(Handle_, "ftdi_read_data_submit", a.ReadSubmit)},
        {"ftdi_transfer_data_done", Resolve(Handle_, "ftdi_transfer_data_done", a.TransferDone)},
        {"ftdi_transfer_data_cancel",
         Resolve(Handle_, "ftdi_transfer_data_cancel", a.TransferCancel)},
        {"ftdi_get_error_string", Resolve(Handle_, "ftdi_get_error_string", a.ErrorString)},
    };
    for (const Entry& e : entries)
        if (!e.ok) {
            Error = Path_ + " has no " + e.name + ": the ftdi cable needs libftdi1 1.5 or later (" +
                    FtdiDebianPackage + ")";
            dlclose(Handle_);
            Handle_ = nullptr;
            Api_ = TFtdiApi{};
            return false;
        }
    Resolve(Handle_, "quillon_standin_now_ns", a.StandinNowNs);
    Resolve(Handle_, "quillon_standin_sleep_ms", a.StandinSleepMs);
    if (a.StandinNowNs == nullptr || a.StandinSleepMs == nullptr) { // both or neither
        a.StandinNowNs = nullptr;
        a.StandinSleepMs = nullptr;
    }
    return true;
}

} // namespace cable
