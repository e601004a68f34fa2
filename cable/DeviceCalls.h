// The system calls a cable reaches its device file with (open, close,
// ioctl) and its clock, in one small table: filled from the C library on
// hardware, or from the stand-in library under --simulate, so the cable's
// code is the same on both. Also finds and loads the stand-in library.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace cable {

struct TDeviceCalls {
    // open(2) without O_CREAT, close(2), ioctl(2): -1 and errno on failure.
    int (*Open)(const char* path, int flags) = nullptr;
    int (*Close)(int fd) = nullptr;
    int (*Ioctl)(int fd, unsigned long request, void* arg) = nullptr;
    // The cable's clock: the monotonic clock and a real sleep on hardware,
    // the simulated part's model time under --simulate.
    uint64_t (*NowNs)() = nullptr;
    void (*SleepMs)(uint32_t ms) = nullptr;
};

// The C library's calls and the system's clock.
TDeviceCalls SystemDeviceCalls();

// The stand-in library of the Linux device interfaces (libgpiod, spidev,
// tty modem lines), loaded beside the port libraries.
inline constexpr const char* StandinLibraryFile = "libstandin-linux.so";

// --simulate, as the programs pass it to a port library: the environment
// variable QUILLON_CABLE_SIMULATE set, not empty and not "0".
bool SimulateFromEnvironment();

// The folder of the shared object (or program) that holds `address`.
std::string FolderOf(const void* address);

// Loads the first of `candidates` the dynamic loader takes (kept loaded for
// the life of the process); null with `error` saying what failed.
void* LoadStandin(const std::vector<std::string>& candidates, std::string& error);

// The stand-in's device calls and clock from its handle; false with `error`
// when one is missing.
bool StandinDeviceCalls(void* handle, TDeviceCalls& calls, std::string& error);

// A symbol of a loaded library as a typed function pointer; null when missing.
void* LibrarySymbol(void* handle, const char* name);
template <typename Fn> Fn LibraryFunction(void* handle, const char* name) {
    void* p = LibrarySymbol(handle, name);
    Fn fn = nullptr;
    static_assert(sizeof(fn) == sizeof(p));
    std::memcpy(&fn, &p, sizeof fn);
    return fn;
}

// strerror(error) as a string.
std::string ErrorText(int error);

} // namespace cable
