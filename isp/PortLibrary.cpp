#include "PortLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>

namespace {

using InitializeFn = int (*)();
using ShutdownFn = void (*)();
using GetPortValFn = int (*)(uint16_t, uint32_t*, uint8_t);
using SetPortValFn = int (*)(uint16_t, uint32_t, uint8_t);
using GetWinIoErrorFn = const char* (*)();
using ConfigureWinIoFn = int (*)(const char*);
using GetPortTimeNsFn = uint64_t (*)();
using PortSleepMsFn = void (*)(uint32_t);

std::string LibraryFileFor(const std::string& setting) {
    if (setting == "lpt") return "libportio-lpt.so";
    if (setting == "sim") return "libportio-sim.so";
    return setting;
}

template <typename Fn> Fn Symbol(void* handle, const char* name) {
    void* p = dlsym(handle, name);
    if (p == nullptr) return nullptr;
    Fn fn = nullptr;
    static_assert(sizeof(fn) == sizeof(p));
    std::memcpy(&fn, &p, sizeof(fn));
    return fn;
}

} // namespace

std::string PortFailureText(const std::string& Why) {
    return "ISP interface NOT initialised: " + Why + "; " + PortRemedy;
}

const char* const InstalledPortLibraryDir = QUILLON_PORTIO_FROM_BIN;

std::vector<std::string> PortLibraryCandidates(const char* Setting, const std::string& ExeDir) {
    std::string setting = (Setting != nullptr && *Setting != '\0') ? Setting : "lpt";
    if (setting.find('/') != std::string::npos) return {setting};
    const std::string file = LibraryFileFor(setting);
    std::vector<std::string> candidates;
    if (!ExeDir.empty()) {
        candidates.push_back(ExeDir + "/" + file);
        // /proc/self/exe has no symbolic links left, so ".." can be folded.
        const auto installed =
            (std::filesystem::path(ExeDir) / InstalledPortLibraryDir / file).lexically_normal();
        if (installed != candidates.back()) candidates.push_back(installed.string());
    }
    candidates.push_back(file);
    return candidates;
}

std::string ExecutableDir() {
    std::array<char, 4096> buf{};
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    std::string path(buf.data(), static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash == 0 ? 1 : slash);
}

TPortLibrary::~TPortLibrary() {
    if (Handle_ != nullptr) dlclose(Handle_);
}

bool TPortLibrary::Load(const std::vector<std::string>& Candidates) {
    if (Handle_ != nullptr) return true;
    for (const std::string& file : Candidates) {
        Handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (Handle_ != nullptr) {
            Path_ = file;
            Error_.clear();
            return true;
        }
        const char* err = dlerror();
        Error_ = err != nullptr ? err : "cannot load " + file;
    }
    return false;
}

TPortEntries TPortLibrary::Resolve() const {
    TPortEntries entries;
    if (Handle_ == nullptr) return entries;
    if (auto fn = Symbol<InitializeFn>(Handle_, "InitializeWinIo")) entries.InitializeWinIo = fn;
    if (auto fn = Symbol<ShutdownFn>(Handle_, "ShutdownWinIo")) entries.ShutdownWinIo = fn;
    if (auto fn = Symbol<GetPortValFn>(Handle_, "GetPortVal")) entries.GetPortVal = fn;
    if (auto fn = Symbol<SetPortValFn>(Handle_, "SetPortVal")) entries.SetPortVal = fn;
    if (auto fn = Symbol<GetWinIoErrorFn>(Handle_, "GetWinIoError"))
        entries.GetWinIoError = [fn] {
            const char* text = fn();
            return std::string(text != nullptr ? text : "");
        };
    if (auto fn = Symbol<ConfigureWinIoFn>(Handle_, "ConfigureWinIo")) entries.ConfigureWinIo = fn;
    if (auto fn = Symbol<GetPortTimeNsFn>(Handle_, "GetPortTimeNs")) entries.GetPortTimeNs = fn;
    if (auto fn = Symbol<PortSleepMsFn>(Handle_, "PortSleepMs")) entries.PortSleepMs = fn;
    return entries;
}
