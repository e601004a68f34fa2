// The port entries of a bit-bang cable's port library (libportio-gpio.so,
// libportio-serial.so). The library keeps a copy of the data register, so
// reading it costs no call, drives the cable only when a line changes, and
// reads MISO with one call per status read. Once the cable fails (an
// adapter unplugged), every later read and write fails too, a read giving
// MISO high as a silent part does, and GetWinIoError says what happened;
// the first failure is also printed on standard error. Lines are let go at
// ShutdownWinIo, when InitializeWinIo fails half-way, and at exit.
// QUILLON_CABLE_SIMULATE (set, not empty and not "0") puts the stand-in
// library found beside this one in the place of the device; the clock
// entries then give its model time.

#include "DeviceCalls.h"
#include "LineCable.h"
#include "portio.h"

#include <cstdio>
#include <cstdlib>

namespace {

struct Library {
    std::unique_ptr<portio::TLineCable> cable = portio::MakeLineCable();
    std::string error;
    bool open = false;
    bool failed = false;
    uint8_t data = 0; // the data register as last written
    bool exitHookSet = false;
    // The clock: the system's, or the stand-in's model time.
    cable::TDeviceCalls clock = cable::SystemDeviceCalls();
    bool clockChosen = false;
};

Library& L() {
    static Library library;
    return library;
}

std::string Folder() {
    return cable::FolderOf(reinterpret_cast<const void*>(&InitializeWinIo));
}

// The stand-in's clock under --simulate, the system's otherwise.
void ChooseClock() {
    Library& l = L();
    l.clock = cable::SystemDeviceCalls();
    l.clockChosen = true;
    if (!cable::SimulateFromEnvironment()) return;
    std::string error;
    cable::TDeviceCalls standin;
    if (void* handle = cable::LoadStandin({Folder() + "/" + cable::StandinLibraryFile}, error);
        handle != nullptr && cable::StandinDeviceCalls(handle, standin, error)) {
        l.clock.NowNs = standin.NowNs;
        l.clock.SleepMs = standin.SleepMs;
    }
}

void Fail(const std::string& why) {
    Library& l = L();
    if (l.failed) return;
    l.failed = true;
    l.error = why;
    std::fprintf(stderr, "libportio-%s: %s\n", l.cable->Name(), why.c_str());
}

void ReleaseAtExit() {
    Library& l = L();
    if (l.open) l.cable->Close();
    l.open = false;
}

} // namespace

extern "C" {

int ConfigureWinIo(const char* options) {
    Library& l = L();
    if (l.open) {
        l.error = "the cable is open: shut the port down before changing its options";
        return 0;
    }
    std::string error;
    auto parsed = cable::ParseCableOptions(options != nullptr ? options : "", error);
    if (!parsed || !l.cable->Configure(*parsed, error)) {
        l.error = error;
        return 0;
    }
    l.error.clear();
    return 1;
}

int InitializeWinIo(void) {
    Library& l = L();
    if (l.open) return 1;
    ChooseClock();
    std::string error;
    if (!l.cable->Open(cable::SimulateFromEnvironment(), Folder(), error)) {
        l.error = error;
        return 0;
    }
    l.open = true;
    l.failed = false;
    l.data = 0;
    l.error.clear();
    if (!l.exitHookSet) l.exitHookSet = std::atexit(ReleaseAtExit) == 0;
    return 1;
}

void ShutdownWinIo(void) {
    Library& l = L();
    if (!l.open) return;
    l.cable->Close();
    l.open = false;
}

int GetPortVal(uint16_t port, uint32_t* value, uint8_t size) {
    Library& l = L();
    if (value == nullptr || size != 1 || !l.open) return 0;
    if (port == portio::kLineDataPort) {
        *value = l.data;
        return 1;
    }
    if (port != portio::kLineStatusPort) return 0;
    *value = portio::kLineMiso; // a cable that failed reads as a silent part
    if (l.failed) return 0;
    std::string error;
    const int miso = l.cable->Miso(error);
    if (miso < 0) {
        Fail(error);
        return 0;
    }
    *value = miso != 0 ? portio::kLineMiso : 0;
    return 1;
}

int SetPortVal(uint16_t port, uint32_t value, uint8_t size) {
    Library& l = L();
    if (size != 1 || !l.open || port != portio::kLineDataPort || l.failed) return 0;
    const auto v = static_cast<uint8_t>(value);
    const uint8_t changed = (v ^ l.data) & portio::kLineOutputs;
    l.data = v;
    if (changed == 0) return 1;
    std::string error;
    if (!l.cable->Drive(v & portio::kLineOutputs, changed, error)) {
        Fail(error);
        return 0;
    }
    return 1;
}

const char* GetWinIoError(void) {
    return L().error.c_str();
}

uint64_t GetPortTimeNs(void) {
    if (!L().clockChosen) ChooseClock();
    return L().clock.NowNs();
}

void PortSleepMs(uint32_t ms) {
    if (!L().clockChosen) ChooseClock();
    L().clock.SleepMs(ms);
}

} // extern "C"
