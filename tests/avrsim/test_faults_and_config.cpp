// Fault knobs, configuration from the environment, the part table and the
// state folder's edge cases.

#include "SimBench.h"
#include "avrsim/StateFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <thread>

using wiretest::ConfigFor;
using wiretest::SimBench;

namespace {

namespace fs = std::filesystem;

fs::path FreshDir(const std::string& name) {
    const fs::path dir = fs::path(testing::TempDir()) / name;
    fs::remove_all(dir);
    return dir;
}

void WriteFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

TEST(Faults, NoAnswerAfterEraseSilencesThePartButStillErases) {
    for (const char* name : {"ATmega16", "AT90S8515"}) {
        SCOPED_TRACE(name);
        SimBench bench(ConfigFor(name));
        bench.target.SetFlash(std::vector<uint8_t>{0x00, 0x00});
        bench.target.SetNoAnswerAfterErase(true);
        bench.Enter();
        EXPECT_EQ(bench.wire.Read(0x30, 0x00, 0x00), 0x1E);
        bench.wire.Instruction(0xAC, 0x80, 0x00, 0x00);
        bench.WaitMs(50);
        bench.wire.ResetPulse();
        EXPECT_FALSE(bench.wire.Enable());
        EXPECT_EQ(bench.wire.Read(0x30, 0x00, 0x00), 0xFF);
        EXPECT_EQ(bench.target.FlashWord(0), 0xFFFF);
        bench.target.SetNoAnswerAfterErase(false);
        bench.wire.ResetPulse();
        EXPECT_TRUE(bench.wire.Enable());
    }
}

TEST(Faults, StuckMisoHidesAnswersWhileThePartStillWorks) {
    SimBench bench(ConfigFor("ATmega32"));
    bench.Enter();
    bench.target.SetMisoStuck(avrsim::MisoStuck::Low);
    EXPECT_EQ(bench.wire.Read(0x30, 0x00, 0x00), 0x00);
    bench.wire.Instruction(0xC0, 0x00, 0x07, 0x99);
    bench.WaitMs(9);
    EXPECT_EQ(bench.wire.Read(0xA0, 0x00, 0x07), 0x00);
    bench.target.SetMisoStuck(avrsim::MisoStuck::High);
    EXPECT_EQ(bench.wire.Instruction(0xAC, 0x53, 0x00, 0x00),
              (std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
    bench.target.SetMisoStuck(avrsim::MisoStuck::No);
    EXPECT_EQ(bench.wire.Read(0xA0, 0x00, 0x07), 0x99);
}

TEST(Faults, PartGoingAwayMidPageLeavesFlashUnwritten) {
    SimBench bench(ConfigFor("ATmega16"));
    bench.Enter();
    bench.wire.Instruction(0x40, 0x00, 0x00, 0x12);
    bench.target.DisconnectAfterAccesses(100); // inside the next instruction
    bench.wire.Instruction(0x48, 0x00, 0x00, 0x34);
    EXPECT_FALSE(bench.target.Connected());
    bench.wire.Instruction(0x4C, 0x00, 0x00, 0x00);
    bench.WaitMs(10);
    EXPECT_EQ(bench.target.FlashWord(0), 0xFFFF);
    EXPECT_EQ(bench.wire.Read(0x30, 0x00, 0x00), 0xFF);
    bench.wire.ResetPulse();
    EXPECT_FALSE(bench.wire.Enable()) << "a part that went away stays away";
    uint32_t data = 0;
    bench.target.GetPortVal(0x378, &data, 1);
    EXPECT_EQ(data, bench.target.DataRegister()) << "the port itself still works";
}

TEST(Faults, DisconnectAtOnce) {
    SimBench bench(ConfigFor("AT90S2313"));
    bench.Enter();
    bench.target.Disconnect();
    EXPECT_EQ(bench.wire.Read(0x30, 0x00, 0x01), 0xFF);
    bench.target.DisconnectAfterAccesses(0);
    EXPECT_FALSE(bench.target.Connected());
}

TEST(Faults, SlowPartStaysBusyLonger) {
    SimBench bench(ConfigFor("AT90S8515"));
    bench.target.SetBusyScale(3.0);
    bench.Enter();
    bench.wire.Instruction(0x40, 0x00, 0x00, 0x5A);
    bench.WaitMs(9);
    EXPECT_EQ(bench.wire.Read(0x20, 0x00, 0x00), 0x7F);
    bench.WaitMs(18);
    EXPECT_EQ(bench.wire.Read(0x20, 0x00, 0x00), 0x5A);
    bench.target.SetBusyScale(0.1); // never faster than the real part
    bench.wire.Instruction(0xC0, 0x00, 0x00, 0x01);
    bench.WaitMs(8);
    EXPECT_TRUE(bench.target.Busy());
}

TEST(Config, ReadsTheEnvironmentAndKeepsDefaultsForBadNumbers) {
    unsetenv("QUILLON_SIM_DEVICE");
    unsetenv("QUILLON_SIM_CLOCK_HZ");
    unsetenv("QUILLON_SIM_STATE");
    unsetenv("QUILLON_SIM_NS_PER_ACCESS");
    auto cfg = avrsim::SimConfig::FromEnvironment();
    EXPECT_EQ(cfg.device, "ATmega16");
    EXPECT_EQ(cfg.clockHz, 1000000u);
    EXPECT_EQ(cfg.stateDir, "");
    EXPECT_EQ(cfg.nsPerAccess, 1000u);

    setenv("QUILLON_SIM_DEVICE", "AT90S1200", 1);
    setenv("QUILLON_SIM_CLOCK_HZ", "4000000", 1);
    setenv("QUILLON_SIM_STATE", "/tmp/chip", 1);
    setenv("QUILLON_SIM_NS_PER_ACCESS", "250", 1);
    cfg = avrsim::SimConfig::FromEnvironment();
    EXPECT_EQ(cfg.device, "AT90S1200");
    EXPECT_EQ(cfg.clockHz, 4000000u);
    EXPECT_EQ(cfg.stateDir, "/tmp/chip");
    EXPECT_EQ(cfg.nsPerAccess, 250u);

    for (const char* bad : {"", "0", "-5", "12abc", "99999999999"}) {
        setenv("QUILLON_SIM_CLOCK_HZ", bad, 1);
        EXPECT_EQ(avrsim::SimConfig::FromEnvironment().clockHz, 1000000u) << bad;
    }

    // The fault knobs: a slow part (never faster than the datasheet) and a
    // cable cut after a number of port accesses.
    EXPECT_EQ(cfg.busyScale, 1.0);
    EXPECT_EQ(cfg.disconnectAfter, 0u);
    setenv("QUILLON_SIM_BUSY_SCALE", "2.5", 1);
    setenv("QUILLON_SIM_DISCONNECT_AFTER", "123456789012", 1);
    cfg = avrsim::SimConfig::FromEnvironment();
    EXPECT_EQ(cfg.busyScale, 2.5);
    EXPECT_EQ(cfg.disconnectAfter, 123456789012u);
    for (const char* bad : {"0.5", "nan", "inf", "3x", ""}) {
        setenv("QUILLON_SIM_BUSY_SCALE", bad, 1);
        EXPECT_EQ(avrsim::SimConfig::FromEnvironment().busyScale, 1.0) << bad;
    }
    avrsim::VirtualClock clock;
    cfg.device = "ATmega16";
    cfg.disconnectAfter = 2;
    avrsim::SimTarget target(cfg, &clock);
    uint32_t v = 0;
    target.GetPortVal(0x379, &v, 1);
    EXPECT_TRUE(target.Connected());
    target.GetPortVal(0x379, &v, 1);
    EXPECT_FALSE(target.Connected());
    unsetenv("QUILLON_SIM_BUSY_SCALE");
    unsetenv("QUILLON_SIM_DISCONNECT_AFTER");
    unsetenv("QUILLON_SIM_DEVICE");
    unsetenv("QUILLON_SIM_CLOCK_HZ");
    unsetenv("QUILLON_SIM_STATE");
    unsetenv("QUILLON_SIM_NS_PER_ACCESS");
}

TEST(Config, RefusesUnknownPartsAndZeroRates) {
    avrsim::VirtualClock clock;
    EXPECT_THROW(avrsim::SimTarget(ConfigFor("ATmega103"), &clock), std::invalid_argument);
    EXPECT_THROW(avrsim::SimTarget(ConfigFor("ATmega16", 0), &clock), std::invalid_argument);
    auto cfg = ConfigFor("ATmega16");
    cfg.nsPerAccess = 0;
    EXPECT_THROW(avrsim::SimTarget(cfg, &clock), std::invalid_argument);
    EXPECT_EQ(avrsim::SimTarget(ConfigFor("atmega16"), &clock).DeviceName(), "ATmega16");
    EXPECT_EQ(avrsim::SimTarget(ConfigFor("ATmega16A"), &clock).DeviceName(), "ATmega16")
        << "a part answers to every name sold with its signature";
}

TEST(PartTable, NamesAndSignaturesAreUniqueAndSizesFitTheAddressing) {
    const auto parts = avrsim::AllParts();
    EXPECT_EQ(parts.size(), 111u)
        << "the 109 signatures of the catalogue, the ATtiny12 outside it, the empty cable";
    std::set<std::array<uint8_t, 3>> signatures;
    for (const auto& p : parts) {
        SCOPED_TRACE(std::string(p.names));
        EXPECT_EQ(p.names.substr(0, p.names.find('/')), p.name);
        for (std::size_t at = 0; at != std::string_view::npos;) {
            const std::size_t slash = p.names.find('/', at);
            EXPECT_EQ(avrsim::FindPart(p.names.substr(at, slash - at)), &p);
            at = slash == std::string_view::npos ? slash : slash + 1;
        }
        if (!p.present) continue;
        EXPECT_TRUE(signatures.insert(p.signature).second) << "signature used twice";
        EXPECT_EQ(p.ExtendedAddress(), p.flashBytes == 262144u);
        // Address wrap masks with size - 1: every size must be a power of two.
        EXPECT_EQ(p.flashBytes & (p.flashBytes - 1), 0u);
        EXPECT_EQ(p.eepromBytes & (p.eepromBytes - 1), 0u);
        EXPECT_EQ(p.pageWords & (p.pageWords - 1), 0u);
        EXPECT_EQ(p.signature[0], 0x1E);
    }
    EXPECT_EQ(avrsim::FindPart("ATMEGA8")->signature, (std::array<uint8_t, 3>{0x1E, 0x93, 0x07}));
    EXPECT_EQ(avrsim::FindPart("ATmega1"), nullptr);
}

TEST(StateFolder, DestructionSavesAndPartialFilesAreIgnored) {
    const fs::path dir = FreshDir("sim-state-partial");
    {
        SimBench bench(ConfigFor("ATmega16", 1000000, dir.string()));
        bench.Enter();
        bench.wire.Instruction(0xAC, 0xA0, 0x00, 0x24);
        bench.WaitMs(5);
        bench.wire.Instruction(0xC0, 0x01, 0xFF, 0x66);
        bench.WaitMs(10);
    }
    ASSERT_TRUE(fs::exists(dir / "fuses.bin"));
    EXPECT_EQ(fs::file_size(dir / "flash.bin"), 16384u);
    EXPECT_EQ(fs::file_size(dir / "eeprom.bin"), 512u);
    {
        SimBench again(ConfigFor("ATmega16", 1000000, dir.string()));
        EXPECT_EQ(again.target.Fuses()[0], 0x24);
        EXPECT_EQ(again.target.Eeprom()[0x1FF], 0x66);
    }
    WriteFile(dir / "eeprom.bin", "short");
    WriteFile(dir / "device.txt", "  ATmega16\r\n");
    SimBench third(ConfigFor("ATmega16", 1000000, dir.string()));
    EXPECT_EQ(third.target.Fuses()[0], 0x24) << "the other files still load";
    EXPECT_EQ(third.target.Eeprom()[0x1FF], 0xFF) << "a file of the wrong size is ignored";
    fs::remove_all(dir);
}

TEST(StateFolder, ReportsAFolderThatCannotBeWritten) {
    const fs::path dir = FreshDir("sim-state-blocked");
    fs::create_directories(dir);
    WriteFile(dir / "file", "x");
    std::string error;
    const std::array<uint8_t, 3> fuses{1, 2, 3};
    EXPECT_FALSE(
        avrsim::SaveChipState((dir / "file" / "sub").string(), "ATmega16", {}, {}, fuses, error));
    EXPECT_NE(error, "");
    SimBench bench(ConfigFor("ATmega16", 1000000, (dir / "file").string()));
    bench.target.SetFuses(1, 2, 3);
    EXPECT_FALSE(bench.target.SaveState());
    EXPECT_NE(bench.target.StateError(), "");
    fs::remove(dir / "file");
    EXPECT_TRUE(bench.target.SaveState()) << "the folder is created when missing";
    EXPECT_EQ(bench.target.StateError(), "");
    fs::remove_all(dir);
}

TEST(StateFolder, WithoutAFolderNothingIsWritten) {
    SimBench bench(ConfigFor("ATmega16"));
    bench.target.SetFuses(0, 0, 0);
    EXPECT_TRUE(bench.target.SaveState());
}

TEST(Clock, TheOwnSteadyClockMovesModelTime) {
    avrsim::SimTarget target(ConfigFor("ATmega16"));
    const auto before = target.ModelTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_GE(target.ModelTime() - before, std::chrono::milliseconds(2));
}

} // namespace
