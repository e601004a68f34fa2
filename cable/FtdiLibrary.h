// libftdi1 loaded at run time: the real library (libftdi1.so.2, Debian
// package libftdi1-2) or, for --simulate, its stand-in. Every function the
// ftdi cable calls is resolved by name and typed by ftdi.h's prototype, so
// the compiler checks each call against the published interface. A stand-in
// also exports its model clock, which the link then keeps its time on.
#pragma once

#include <ftdi.h>

#include <cstdint>
#include <string>

namespace cable {

// The file names the library is loaded from.
inline constexpr const char* FtdiLibraryFile = "libftdi1.so.2";
inline constexpr const char* FtdiStandinFile = "libstandin-ftdi1.so";
inline constexpr const char* FtdiDebianPackage = "libftdi1-2";

struct TFtdiApi {
    decltype(&::ftdi_new) New = nullptr;
    decltype(&::ftdi_free) Free = nullptr;
    decltype(&::ftdi_set_interface) SetInterface = nullptr;
    decltype(&::ftdi_usb_find_all) FindAll = nullptr;
    decltype(&::ftdi_list_free) ListFree = nullptr;
    decltype(&::ftdi_usb_get_strings) GetStrings = nullptr;
    decltype(&::ftdi_usb_open_dev) OpenDev = nullptr;
    decltype(&::ftdi_usb_close) Close = nullptr;
    decltype(&::ftdi_set_latency_timer) SetLatencyTimer = nullptr;
    decltype(&::ftdi_set_bitmode) SetBitmode = nullptr;
    decltype(&::ftdi_set_baudrate) SetBaudrate = nullptr;
    decltype(&::ftdi_tcioflush) Flush = nullptr;
    decltype(&::ftdi_write_data) WriteData = nullptr;
    decltype(&::ftdi_write_data_submit) WriteSubmit = nullptr;
    decltype(&::ftdi_read_data_submit) ReadSubmit = nullptr;
    decltype(&::ftdi_transfer_data_done) TransferDone = nullptr;
    decltype(&::ftdi_transfer_data_cancel) TransferCancel = nullptr;
    decltype(&::ftdi_get_error_string) ErrorString = nullptr;
    // Only in a stand-in: its model time, and a wait on it.
    uint64_t (*StandinNowNs)() = nullptr;
    void (*StandinSleepMs)(uint32_t) = nullptr;
};

class TFtdiLibrary {
public:
    TFtdiLibrary() = default;
    ~TFtdiLibrary();
    TFtdiLibrary(const TFtdiLibrary&) = delete;
    TFtdiLibrary& operator=(const TFtdiLibrary&) = delete;

    // Loads the real library or the stand-in (beside the program, then in the
    // installed port library folder). False with `Error` saying what is
    // missing and which Debian package brings it.
    bool Load(bool Simulate, std::string& Error);
    bool Loaded() const { return Handle_ != nullptr; }
    const TFtdiApi& Api() const { return Api_; }
    const std::string& Path() const { return Path_; }

private:
    void* Handle_ = nullptr;
    std::string Path_;
    TFtdiApi Api_;
};

} // namespace cable
