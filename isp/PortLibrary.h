// The engine's only way to the parallel port: four entries of a port I/O
// library, and an optional fifth that says why access was refused, either
// resolved from a shared library loaded at run time or supplied in process
// (a test wires them to a simulated part).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TPortEntries {
    // Non-zero: port access granted.
    std::function<int()> InitializeWinIo;
    std::function<void()> ShutdownWinIo;
    // Non-zero: success; the value's low 8 bits are the byte read.
    std::function<int(uint16_t Port, uint32_t* Value, uint8_t Size)> GetPortVal;
    // The result is not used.
    std::function<int(uint16_t Port, uint32_t Value, uint8_t Size)> SetPortVal;
    // Optional: why the last InitializeWinIo failed, in one line.
    std::function<std::string()> GetWinIoError;
    // Optional: takes the cable's options before InitializeWinIo; non-zero
    // when they are all valid, otherwise GetWinIoError names the one at fault.
    std::function<int(const char* Options)> ConfigureWinIo;
    // Optional: the port's own monotonic clock, nanoseconds (a simulated
    // part's model time), and a wait on it.
    std::function<uint64_t()> GetPortTimeNs;
    std::function<void(uint32_t Milliseconds)> PortSleepMs;

    bool Complete() const { return InitializeWinIo && ShutdownWinIo && GetPortVal && SetPortVal; }
};

// Environment variable naming the port library: "lpt", "sim" or a path.
inline constexpr const char* PortLibraryVariable = "QUILLON_PORTIO";

// What a person can do when the port cannot be opened.
inline constexpr const char* PortRemedy =
    "load the ppdev module (modprobe ppdev), join the group lp (usermod -aG lp $USER, then log "
    "in again), or set QUILLON_PORTIO=sim to try the simulated part";

// One line for a person on a port that could not be opened: what failed
// (`Why`, the engine's PortError) and what to do.
std::string PortFailureText(const std::string& Why);

// The folder of the installed port libraries, relative to the folder of the
// installed programs; the build derives it from its install layout.
extern const char* const InstalledPortLibraryDir;

// The files to try, in order, for a setting of QUILLON_PORTIO (null or empty
// means "lpt"): the named library beside the executable first (the build
// tree), then in the installed port library folder reached from the
// executable's folder, then through the normal search of the dynamic loader.
// A setting holding a '/' is a path and is tried alone.
std::vector<std::string> PortLibraryCandidates(const char* Setting, const std::string& ExeDir);

// Folder of the running executable, from /proc/self/exe; empty when unknown.
std::string ExecutableDir();

// A loaded port I/O library. Unloaded on destruction.
class TPortLibrary {
public:
    TPortLibrary() = default;
    ~TPortLibrary();
    TPortLibrary(const TPortLibrary&) = delete;
    TPortLibrary& operator=(const TPortLibrary&) = delete;

    // Loads the first candidate that the dynamic loader accepts. False when
    // none could be loaded.
    bool Load(const std::vector<std::string>& Candidates);
    bool Loaded() const { return Handle_ != nullptr; }
    // The file that was loaded, or the loader's last error when none was.
    const std::string& Path() const { return Path_; }
    const std::string& Error() const { return Error_; }

    // The entries resolved by name, in the order InitializeWinIo,
    // ShutdownWinIo, GetPortVal, SetPortVal, then the optional
    // GetWinIoError, ConfigureWinIo, GetPortTimeNs, PortSleepMs; a missing
    // one stays empty.
    TPortEntries Resolve() const;

private:
    void* Handle_ = nullptr;
    std::string Path_;
    std::string Error_;
};
