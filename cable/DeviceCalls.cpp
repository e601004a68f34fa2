#include "DeviceCalls.h"

#include "StandinApi.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <type_traits>

namespace cable {

// The table takes the stand-in's entries as they are declared.
static_assert(std::is_same_v<decltype(TDeviceCalls::Open), decltype(&quillon_standin_open)>);
static_assert(std::is_same_v<decltype(TDeviceCalls::Close), decltype(&quillon_standin_close)>);
static_assert(std::is_same_v<decltype(TDeviceCalls::Ioctl), decltype(&quillon_standin_ioctl)>);
static_assert(std::is_same_v<decltype(TDeviceCalls::NowNs), decltype(&quillon_standin_now_ns)>);
static_assert(std::is_same_v<decltype(TDeviceCalls::SleepMs), decltype(&quillon_standin_sleep_ms)>);

namespace {

int SystemOpen(const char* path, int flags) {
    return ::open(path, flags | O_CLOEXEC);
}

int SystemClose(int fd) {
    return ::close(fd);
}

int SystemIoctl(int fd, unsigned long request, void* arg) {
    return ::ioctl(fd, request, arg);
}

uint64_t SystemNowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

void SystemSleepMs(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

} // namespace

TDeviceCalls SystemDeviceCalls() {
    return {SystemOpen, SystemClose, SystemIoctl, SystemNowNs, SystemSleepMs};
}

bool SimulateFromEnvironment() {
    const char* text = std::getenv("QUILLON_CABLE_SIMULATE");
    return text != nullptr && *text != '\0' && std::strcmp(text, "0") != 0;
}

std::string FolderOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
    std::string path = info.dli_fname;
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash == 0 ? 1 : slash);
}

void* LoadStandin(const std::vector<std::string>& candidates, std::string& error) {
    for (const std::string& file : candidates) {
        if (void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
        const char* why = dlerror();
        error = why != nullptr ? why : "cannot load " + file;
    }
    error = "cannot load the stand-in library " + std::string(StandinLibraryFile) + ": " + error;
    return nullptr;
}

void* LibrarySymbol(void* handle, const char* name) {
    return handle != nullptr ? dlsym(handle, name) : nullptr;
}

bool StandinDeviceCalls(void* handle, TDeviceCalls& calls, std::string& error) {
    calls.Open = LibraryFunction<decltype(calls.Open)>(handle, "quillon_standin_open");
    calls.Close = LibraryFunction<decltype(calls.Close)>(handle, "quillon_standin_close");
    calls.Ioctl = LibraryFunction<decltype(calls.Ioctl)>(handle, "quillon_standin_ioctl");
    calls.NowNs = LibraryFunction<decltype(calls.NowNs)>(handle, "quillon_standin_now_ns");
    calls.SleepMs = LibraryFunction<decltype(calls.SleepMs)>(handle, "quillon_standin_sleep_ms");
    if (calls.Open && calls.Close && calls.Ioctl && calls.NowNs && calls.SleepMs) return true;
    error = std::string(StandinLibraryFile) + " lacks the device calls of a stand-in";
    return false;
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

} // namespace cable
