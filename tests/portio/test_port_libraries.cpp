// The built port libraries as the programmer sees them: loaded with dlopen,
// four entries and the optional reason of a refusal and nothing else exported, the
// simulated one driving a part.

#include "BitBangWire.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <elf.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

using InitFn = int (*)();
using ShutdownFn = void (*)();
using GetFn = int (*)(uint16_t, uint32_t*, uint8_t);
using SetFn = int (*)(uint16_t, uint32_t, uint8_t);
using SleepFn = void (*)(uint32_t);

std::string LibraryPath(const char* which) {
    return std::string(QUILLON_BIN_DIR) + "/libportio-" + which + ".so";
}

// The defined global symbols of a shared library's dynamic symbol table.
std::set<std::string> ExportedSymbols(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> file((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
    std::set<std::string> names;
    if (file.size() < sizeof(Elf64_Ehdr)) return names;
    Elf64_Ehdr eh;
    std::memcpy(&eh, file.data(), sizeof eh);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64)
        return names;
    auto section = [&](size_t i) {
        Elf64_Shdr sh;
        std::memcpy(&sh, file.data() + eh.e_shoff + i * eh.e_shentsize, sizeof sh);
        return sh;
    };
    for (size_t i = 0; i < eh.e_shnum; ++i) {
        const Elf64_Shdr sh = section(i);
        if (sh.sh_type != SHT_DYNSYM) continue;
        const Elf64_Shdr strtab = section(sh.sh_link);
        for (size_t off = 0; off + sizeof(Elf64_Sym) <= sh.sh_size; off += sizeof(Elf64_Sym)) {
            Elf64_Sym sym;
            std::memcpy(&sym, file.data() + sh.sh_offset + off, sizeof sym);
            const int bind = ELF64_ST_BIND(sym.st_info);
            if (sym.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK)) continue;
            names.insert(file.data() + strtab.sh_offset + sym.st_name);
        }
    }
    return names;
}

// One loaded port library with its four entries resolved by name.
struct PortLibrary {
    explicit PortLibrary(const char* which) {
        handle = dlopen(LibraryPath(which).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return;
        init = reinterpret_cast<InitFn>(dlsym(handle, "InitializeWinIo"));
        shutdown = reinterpret_cast<ShutdownFn>(dlsym(handle, "ShutdownWinIo"));
        get = reinterpret_cast<GetFn>(dlsym(handle, "GetPortVal"));
        set = reinterpret_cast<SetFn>(dlsym(handle, "SetPortVal"));
        sleep = reinterpret_cast<SleepFn>(dlsym(handle, "PortSleepMs"));
    }
    ~PortLibrary() {
        if (handle != nullptr) dlclose(handle);
    }
    bool Complete() const { return handle && init && shutdown && get && set; }
    // A wait on the port's own clock where it has one (the simulated part's).
    void Wait(std::chrono::nanoseconds d) const {
        if (sleep != nullptr)
            sleep(static_cast<uint32_t>((d.count() + 999999) / 1000000));
        else
            std::this_thread::sleep_for(d);
    }

    wiretest::BitBangWire Wire() {
        return wiretest::BitBangWire(
            wiretest::WirePort{[this](uint8_t v) { set(wiretest::kData, v, 1); },
                               [this] {
                                   uint32_t v = 0;
                                   get(wiretest::kStatus, &v, 1);
                                   return static_cast<uint8_t>(v);
                               },
                               [this](std::chrono::nanoseconds d) { Wait(d); }});
    }

    void* handle = nullptr;
    InitFn init = nullptr;
    ShutdownFn shutdown = nullptr;
    GetFn get = nullptr;
    SetFn set = nullptr;
    SleepFn sleep = nullptr;
};

class SimEnvironment : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name :
             {"QUILLON_SIM_DEVICE", "QUILLON_SIM_CLOCK_HZ", "QUILLON_SIM_STATE",
              "QUILLON_SIM_REPORT", "QUILLON_SIM_BUSY_SCALE", "QUILLON_SIM_DISCONNECT_AFTER"})
            unsetenv(name);
    }
    void TearDown() override { SetUp(); }
};

// The simulated port also gives its model time as the port's clock, and
// waits on it.
TEST(PortLibraries, EachExportsExactlyTheFourEntriesAndTheReason) {
    const std::set<std::string> five{"InitializeWinIo", "ShutdownWinIo", "GetPortVal",
                                     "SetPortVal", "GetWinIoError"};
    for (const char* which : {"lpt", "sim"}) {
        SCOPED_TRACE(which);
        std::set<std::string> expected = five;
        if (std::string(which) == "sim") expected.insert({"GetPortTimeNs", "PortSleepMs"});
        EXPECT_EQ(ExportedSymbols(LibraryPath(which)), expected);
        PortLibrary lib(which);
        EXPECT_TRUE(lib.Complete()) << dlerror();
    }
}

TEST(LptLibrary, FailsWithoutAParallelPort) {
    PortLibrary lib("lpt");
    ASSERT_TRUE(lib.Complete());
    uint32_t v = 0;
    EXPECT_EQ(lib.get(0x379, &v, 1), 0) << "nothing works before InitializeWinIo";
    EXPECT_EQ(lib.set(0x378, 0, 1), 0);

    using ErrorFn = const char* (*)();
    const auto reason = reinterpret_cast<ErrorFn>(dlsym(lib.handle, "GetWinIoError"));
    ASSERT_NE(reason, nullptr);
    setenv("QUILLON_PARPORT", "/nonexistent/parport9", 1);
    EXPECT_EQ(lib.init(), 0);
    EXPECT_STREQ(reason(), "cannot open /nonexistent/parport9: No such file or directory");
    // A file that is not a parallel port opens but cannot be claimed.
    const fs::path plain = fs::path(testing::TempDir()) / "not-a-parport";
    std::ofstream(plain) << "x";
    setenv("QUILLON_PARPORT", plain.c_str(), 1);
    EXPECT_EQ(lib.init(), 0);
    EXPECT_EQ(std::string(reason()), "cannot claim " + plain.string() + ": " + std::strerror(ENOTTY));
    EXPECT_EQ(lib.get(0x379, &v, 1), 0);
    lib.shutdown(); // harmless when nothing is open
    unsetenv("QUILLON_PARPORT");
    fs::remove(plain);
}

TEST_F(SimEnvironment, SimLibraryDrivesAPartBitByBit) {
    setenv("QUILLON_SIM_DEVICE", "ATmega32", 1);
    PortLibrary lib("sim");
    ASSERT_TRUE(lib.Complete());
    uint32_t v = 0;
    EXPECT_EQ(lib.get(0x379, &v, 1), 0) << "nothing works before InitializeWinIo";
    ASSERT_EQ(lib.init(), 1);
    auto wire = lib.Wire();
    wire.EnterProgramming();
    EXPECT_TRUE(wire.Enable());
    EXPECT_EQ(wire.Read(0x30, 0x00, 0x00), 0x1E);
    EXPECT_EQ(wire.Read(0x30, 0x00, 0x01), 0x95);
    EXPECT_EQ(wire.Read(0x30, 0x00, 0x02), 0x02);
    EXPECT_EQ(wire.Read(0x58, 0x08, 0x00), 0x99) << "factory high fuse";
    EXPECT_EQ(lib.set(0x37A, 0, 1), 0);
    lib.shutdown();
    EXPECT_EQ(lib.get(0x379, &v, 1), 0) << "nothing works after ShutdownWinIo";
}

TEST_F(SimEnvironment, SimLibraryKeepsTheChipInItsStateFolder) {
    const fs::path dir = fs::path(testing::TempDir()) / "portio-sim-state";
    fs::remove_all(dir);
    setenv("QUILLON_SIM_DEVICE", "AT90S2313", 1);
    setenv("QUILLON_SIM_STATE", dir.c_str(), 1);
    PortLibrary lib("sim");
    ASSERT_TRUE(lib.Complete());
    ASSERT_EQ(lib.init(), 1);
    {
        auto wire = lib.Wire();
        wire.EnterProgramming();
        wire.Enable();
        wire.Instruction(0xC0, 0x00, 0x05, 0xA5);
        wire.Sleep(std::chrono::milliseconds(12));
    }
    lib.shutdown();
    std::ifstream name(dir / "device.txt");
    std::string text;
    std::getline(name, text);
    EXPECT_EQ(text, "AT90S2313");
    ASSERT_EQ(fs::file_size(dir / "eeprom.bin"), 128u);

    ASSERT_EQ(lib.init(), 1);
    auto wire = lib.Wire();
    wire.EnterProgramming();
    wire.Enable();
    EXPECT_EQ(wire.Read(0xA0, 0x00, 0x05), 0xA5);
    lib.shutdown();
    fs::remove_all(dir);
}

// The report line at shutdown and the fault knobs, as a script would use
// them: a part twice as slow as its datasheet shows twice the busy time, and
// a cable cut after a number of accesses leaves a part that never answers.
TEST_F(SimEnvironment, SimLibraryReportsTheRunAndTakesItsFaultKnobs) {
    const std::regex line(
        "simulated part: ([0-9]+) port accesses, model time ([0-9]+\\.[0-9]{3}) s, "
        "busy ([0-9]+\\.[0-9]{3}) s\n");
    setenv("QUILLON_SIM_DEVICE", "AT90S2313", 1);
    setenv("QUILLON_SIM_BUSY_SCALE", "2", 1);
    PortLibrary lib("sim");
    ASSERT_TRUE(lib.Complete());
    ASSERT_EQ(lib.init(), 1);
    testing::internal::CaptureStderr();
    lib.shutdown();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "no report unless asked for";

    setenv("QUILLON_SIM_REPORT", "1", 1);
    ASSERT_EQ(lib.init(), 1);
    uint64_t accesses = 0;
    {
        wiretest::BitBangWire wire(wiretest::WirePort{
            [&](uint8_t v) { ++accesses, lib.set(wiretest::kData, v, 1); },
            [&] {
                ++accesses;
                uint32_t v = 0;
                lib.get(wiretest::kStatus, &v, 1);
                return static_cast<uint8_t>(v);
            },
            [&](std::chrono::nanoseconds d) { lib.Wait(d); }});
        wire.EnterProgramming();
        ASSERT_TRUE(wire.Enable());
        wire.Instruction(0xC0, 0x00, 0x05, 0xA5); // 9 ms busy at the datasheet's pace
    }
    testing::internal::CaptureStderr();
    lib.shutdown();
    std::string report = testing::internal::GetCapturedStderr();
    std::smatch m;
    ASSERT_TRUE(std::regex_match(report, m, line)) << report;
    EXPECT_EQ(std::stoull(m[1]), accesses);
    EXPECT_GE(std::stod(m[2]), 0.026) << "1 ms RESET pulse, 25 ms wait, the instructions";
    EXPECT_EQ(m[3], "0.018");

    setenv("QUILLON_SIM_DISCONNECT_AFTER", "3", 1);
    ASSERT_EQ(lib.init(), 1);
    {
        auto wire = lib.Wire();
        wire.EnterProgramming();
        EXPECT_FALSE(wire.Enable()) << "the cable was cut at the third access";
    }
    testing::internal::CaptureStderr();
    lib.shutdown();
    report = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(std::regex_match(report, m, line)) << report;
    EXPECT_EQ(m[3], "0.000");
}

TEST_F(SimEnvironment, SimLibraryRefusesAnUnknownPart) {
    setenv("QUILLON_SIM_DEVICE", "ATmega103", 1);
    PortLibrary lib("sim");
    ASSERT_TRUE(lib.Complete());
    EXPECT_EQ(lib.init(), 0);
    uint32_t v = 0;
    EXPECT_EQ(lib.get(0x379, &v, 1), 0);
}

TEST_F(SimEnvironment, SimLibraryWithAnEmptyCableReadsOnes) {
    setenv("QUILLON_SIM_DEVICE", "none", 1);
    PortLibrary lib("sim");
    ASSERT_TRUE(lib.Complete());
    ASSERT_EQ(lib.init(), 1);
    auto wire = lib.Wire();
    wire.EnterProgramming();
    EXPECT_EQ(wire.Instruction(0xAC, 0x53, 0x00, 0x00),
              (std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
    lib.shutdown();
}

} // namespace
