// Behaviour that belongs to some parts only, the pins around programming
// mode, and the clock limits of SCK.

#include "SimBench.h"

#include <gtest/gtest.h>

using wiretest::ConfigFor;
using wiretest::SimBench;

namespace {

TEST(EmptyCable, ReadsEveryByteAsFF) {
    SimBench bench(ConfigFor("none"));
    bench.wire.EnterProgramming();
    EXPECT_EQ(bench.wire.Instruction(0xAC, 0x53, 0x00, 0x00),
              (std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(bench.wire.Read(0x30, 0x00, 0x00), 0xFF);
    EXPECT_FALSE(bench.target.ProgrammingEnabled());
    EXPECT_TRUE(bench.target.Flash().empty());
}

TEST(LockBits, ModeThreeHidesTheClassicSignatureAndBlocksMemories) {
    for (const char* name : {"AT90S4414", "AT90S8515", "AT90S2313"}) {
        SCOPED_TRACE(name);
        SimBench bench(ConfigFor(name));
        const auto& part = bench.target.Part();
        bench.target.SetFlash(std::vector<uint8_t>{0x12, 0x34});
        bench.Enter();
        bench.wire.Instruction(0xAC, 0xF9, 0x00, 0x00); // 111x.xLLx with both lock bits programmed
        bench.WaitMs(10);
        EXPECT_EQ(bench.target.LockBits() & 0x03, 0);
        bench.wire.Instruction(0xAC, 0xE7, 0x00, 0x00); // unprogrammed bits do not undo them
        bench.WaitMs(10);
        EXPECT_EQ(bench.target.LockBits() & 0x03, 0);
        for (uint8_t i = 0; i < 3; ++i) {
            const uint8_t expected = part.lockHidesSignature ? i : part.signature[i];
            EXPECT_EQ(bench.wire.Read(0x30, 0x00, i), expected) << int(i);
        }
        EXPECT_EQ(bench.wire.Read(0x20, 0x00, 0x00), 0xFF) << "verification is locked";
        bench.wire.Instruction(0x40, 0x00, 0x01, 0x00);
        bench.WaitMs(20);
        EXPECT_EQ(bench.target.FlashWord(1), 0xFFFF) << "programming is locked";
        bench.wire.Instruction(0xAC, 0x80, 0x00, 0x00);
        bench.WaitMs(25);
        bench.wire.ResetPulse();
        bench.wire.Enable();
        EXPECT_EQ(bench.target.LockBits(), 0xFF);
        EXPECT_EQ(bench.wire.Read(0x30, 0x00, 0x01), part.signature[1]);
    }
}

TEST(LockBits, ModeTwoStillVerifiesAndTheTinyPartHasItsOwnInstruction) {
    SimBench bench(ConfigFor("AT90S1200"));
    bench.target.SetEeprom(std::vector<uint8_t>{0x77});
    bench.Enter();
    bench.wire.Instruction(0xAC, 0xE5, 0x00, 0x00); // the classic form is unknown to the 1200
    bench.WaitMs(10);
    EXPECT_EQ(bench.target.LockBits(), 0xFF);
    bench.wire.Instruction(0xAC, 0xFD, 0x00, 0x00); // 1111.1LL1: LB1 programmed
    bench.WaitMs(10);
    EXPECT_EQ(bench.target.LockBits() & 0x03, 0x02);
    EXPECT_EQ(bench.wire.Read(0xA0, 0x00, 0x00), 0x77);
    bench.wire.Instruction(0xC0, 0x00, 0x00, 0x11);
    bench.WaitMs(10);
    EXPECT_EQ(bench.target.Eeprom()[0], 0x77);
}

TEST(LockBits, MegaPartsWriteAndReadTheLockByte) {
    SimBench bench(ConfigFor("ATmega16"));
    bench.Enter();
    EXPECT_EQ(bench.wire.Read(0x58, 0x00, 0x00), 0xFF);
    bench.wire.Instruction(0xAC, 0xE0, 0x00, 0xFC);
    bench.WaitMs(5);
    EXPECT_EQ(bench.wire.Read(0x58, 0x00, 0x00), 0xFC);
    EXPECT_EQ(bench.wire.Read(0x20, 0x00, 0x00), 0xFF);
}

TEST(Calibration, PartsAnswerTheirCalibrationBytes) {
    for (const auto& part : avrsim::AllParts()) {
        if (!part.present) continue;
        SCOPED_TRACE(std::string(part.name));
        SimBench bench(ConfigFor(part.name));
        bench.Enter();
        for (uint8_t i = 0; i < part.calibrationCount; ++i)
            EXPECT_EQ(bench.wire.Read(0x38, 0x00, i), part.calibration[i]);
        if (part.calibrationCount == 0) {
            EXPECT_EQ(bench.wire.Read(0x38, 0x00, 0x00), 0x00) << "echo only";
        }
    }
}

TEST(PollInstruction, ReportsBusyUntilThePageIsWritten) {
    SimBench bench(ConfigFor("ATmega162"));
    bench.Enter();
    EXPECT_EQ(bench.wire.Read(0xF0, 0x00, 0x00) & 1, 0);
    bench.wire.Instruction(0x4C, 0x00, 0x00, 0x00);
    EXPECT_EQ(bench.wire.Read(0xF0, 0x00, 0x00) & 1, 1);
    bench.WaitMs(4.5);
    EXPECT_EQ(bench.wire.Read(0xF0, 0x00, 0x00) & 1, 0);
}

// Flash above 128 KB: 4D 00 a 00 loads the extended address byte, bit 16 of
// the word address of reads and page writes. RESET clears it; without it an
// instruction aimed higher reaches the low 128 KB, as its 16 address bits say.
TEST(ExtendedAddress, SelectsTheUpperFlashUntilResetAndOnlyOnPartsAbove128K) {
    SimBench bench(ConfigFor("ATmega2560"));
    auto& wire = bench.wire;
    auto& target = bench.target;
    const auto writePage = [&](uint8_t high, uint8_t low, uint16_t word) {
        for (uint8_t i = 0; i < target.Part().pageWords; ++i) {
            wire.Instruction(0x40, 0x00, i, static_cast<uint8_t>(word));
            wire.Instruction(0x48, 0x00, i, static_cast<uint8_t>(word >> 8));
        }
        wire.Instruction(0x4C, high, low, 0x00);
        bench.WaitMs(4.5);
    };
    bench.Enter();
    wire.Instruction(0x4D, 0x00, 0x01, 0x00);
    EXPECT_EQ(target.ExtendedAddressByte(), 1);
    writePage(0x00, 0x80, 0x1234);
    EXPECT_EQ(target.FlashWord(0x10080), 0x1234);
    EXPECT_EQ(target.FlashWord(0x00080), 0xFFFF);
    EXPECT_EQ(wire.Read(0x28, 0x00, 0x81), 0x12) << "reads stay above 128 KB";
    wire.Instruction(0x4D, 0x00, 0x03, 0x00); // bits beyond the Flash wrap
    EXPECT_EQ(wire.Read(0x20, 0x00, 0xFF), 0x34);

    wire.ResetPulse();
    EXPECT_EQ(target.ExtendedAddressByte(), 0);
    wire.Enable();
    EXPECT_EQ(wire.Read(0x20, 0x00, 0x80), 0xFF) << "the low 128 KB again";
    writePage(0x00, 0x80, 0x5678); // meant for word 0x10080, lands at 0x00080
    EXPECT_EQ(target.FlashWord(0x00080), 0x5678);
    EXPECT_EQ(target.FlashWord(0x10080), 0x1234);

    // A part of 128 KB has no such byte: the instruction is unknown to it.
    SimBench small(ConfigFor("ATmega1284P"));
    small.target.SetFrameLog(true);
    small.Enter();
    small.wire.Instruction(0x4D, 0x00, 0x01, 0x00);
    ASSERT_EQ(small.target.Frames().size(), 2u);
    EXPECT_FALSE(small.target.Frames()[1].executed);
    EXPECT_EQ(small.target.ExtendedAddressByte(), 0);
}

TEST(Reset, ResetHighRunsThePartWhichIgnoresSckAndLeavesMisoHigh) {
    SimBench bench(ConfigFor("ATmega16"));
    bench.Enter();
    bench.wire.ReleaseReset();
    EXPECT_FALSE(bench.target.Armed());
    EXPECT_FALSE(bench.target.ProgrammingEnabled());
    const uint64_t bits = bench.target.ClockedBits();
    EXPECT_EQ(bench.wire.Instruction(0x30, 0x00, 0x00, 0x00),
              (std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(bench.target.ClockedBits(), bits);
}

TEST(Reset, ResetFallingWhileSckIsHighDoesNotArm) {
    SimBench bench(ConfigFor("ATmega16"));
    auto& t = bench.target;
    t.SetPortVal(0x378, 0x06, 1); // RESET and SCK high
    t.SetPortVal(0x378, 0x04, 1); // RESET low with SCK high
    EXPECT_FALSE(t.Armed());
    t.SetPortVal(0x378, 0x00, 1);
    EXPECT_FALSE(t.Armed());
    bench.wire.ResetPulse();
    EXPECT_TRUE(t.Armed());
}

TEST(Reset, FirstInstructionNeedsTheWaitAfterReset) {
    SimBench bench(ConfigFor("ATmega16"));
    bench.target.SetPortVal(0x378, 0x02, 1);
    bench.target.SetPortVal(0x378, 0x00, 1);
    EXPECT_FALSE(bench.wire.Enable());
    EXPECT_EQ(bench.target.ClockedBits(), 0u);
    bench.WaitMs(20);
    EXPECT_TRUE(bench.wire.Enable());
}

TEST(Reset, PowerUpWithLinesLowArmsAtOnce) {
    SimBench bench(ConfigFor("ATmega32"));
    EXPECT_TRUE(bench.target.Armed());
    bench.WaitMs(20);
    EXPECT_TRUE(bench.wire.Enable());
}

TEST(Resync, AnExtraPulseShiftsTheFramingByOneBit) {
    SimBench bench(ConfigFor("AT90S2313"));
    bench.wire.EnterProgramming();
    bench.wire.ExtraPulse();
    int attempts = 0;
    do {
        // The echo is the bit stream delayed by one byte, in step or not: only
        // the part's reaction tells whether the frames line up.
        EXPECT_TRUE(bench.wire.Enable());
        ++attempts;
        if (bench.target.ProgrammingEnabled()) break;
        bench.wire.ExtraPulse();
    } while (attempts < 40);
    EXPECT_EQ(attempts, 32) << "31 more pulses bring the frames back into step";
    EXPECT_EQ(bench.wire.Read(0x30, 0x00, 0x01), 0x91);
}

TEST(SckTiming, MinimumPhasesFollowThePartsClock) {
    struct Case {
        const char* part;
        uint32_t hz;
        unsigned highReads, lowReads;
        bool seen;
        uint64_t lost;
    };
    // High phase lasts highReads + 1 us, low phase lowReads + 3 us.
    const Case cases[] = {
        {"ATmega16", 1000000, 2, 0, true, 0},    // 3 us > 2 clocks of 1 us
        {"ATmega16", 1000000, 1, 0, false, 32},  // 2 us is not more than 2 clocks
        {"ATmega16", 100000, 19, 18, false, 32}, // 20 us: not more than 2 clocks of 10 us
        {"ATmega16", 100000, 20, 18, true, 0},
        // Low phases of 19 us inside a byte, 20 us between bytes; only the
        // first pulse after the long wait is taken.
        {"ATmega16", 100000, 20, 16, false, 31},
        {"ATmega32", 16000000, 0, 0, true, 0},
        {"AT90S1200", 1000000, 3, 0, false, 32}, // wants more than 4 clocks high
        {"AT90S1200", 1000000, 4, 0, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.part) + " " + std::to_string(c.hz) + " " +
                     std::to_string(c.highReads) + "/" + std::to_string(c.lowReads));
        SimBench bench(ConfigFor(c.part, c.hz));
        bench.wire.EnterProgramming();
        bench.wire.SetWaits(c.highReads, c.lowReads);
        bench.wire.Instruction(0xAC, 0x53, 0x00, 0x00);
        EXPECT_EQ(bench.target.ProgrammingEnabled(), c.seen);
        EXPECT_EQ(bench.target.LostPulses(), c.lost);
    }
}

TEST(SckTiming, ModelTimeOfAnAccessIsConfigurable) {
    auto cfg = ConfigFor("ATmega16", 100000);
    cfg.nsPerAccess = 10000; // every access worth 10 us: a 2-access phase is 20 us
    SimBench bench(cfg);
    bench.wire.EnterProgramming();
    bench.wire.SetWaits(1, 0);
    EXPECT_FALSE(bench.wire.Enable());
    bench.wire.ResetPulse();
    bench.wire.SetWaits(2, 0);
    EXPECT_TRUE(bench.wire.Enable());
    EXPECT_EQ(bench.target.PortAccesses() * 10000 + 52'000'000,
              static_cast<uint64_t>(bench.target.ModelTime().count()));
}

TEST(FrameLog, RecordsWhatThePartReceivedAndWhetherItActed) {
    SimBench bench(ConfigFor("ATmega16"));
    bench.target.SetFrameLog(true);
    bench.Enter();
    bench.wire.Instruction(0x40, 0x00, 0x01, 0xAB);
    bench.wire.Instruction(0x4C, 0x00, 0x40, 0x00);
    bench.wire.Instruction(0xC0, 0x00, 0x01, 0x02); // arrives during the page write
    bench.wire.Instruction(0x99, 0x00, 0x00, 0x00);
    const auto& frames = bench.target.Frames();
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0].bytes, (std::array<uint8_t, 4>{0xAC, 0x53, 0x00, 0x00}));
    EXPECT_EQ(frames[2].bytes, (std::array<uint8_t, 4>{0x4C, 0x00, 0x40, 0x00}));
    EXPECT_TRUE(frames[1].executed);
    EXPECT_TRUE(frames[2].executed);
    EXPECT_FALSE(frames[3].executed);
    EXPECT_FALSE(frames[4].executed);
    EXPECT_LT(frames[1].time, frames[2].time);
    EXPECT_EQ(bench.target.FlashWord(0x41), 0xFFAB);
}

TEST(Ports, OnlyTheDataAndStatusRegistersAnswerSingleBytes) {
    SimBench bench(ConfigFor("ATmega16"));
    auto& t = bench.target;
    uint32_t v = 0;
    EXPECT_EQ(t.SetPortVal(0x378, 0x1F0, 1), 1);
    EXPECT_EQ(t.GetPortVal(0x378, &v, 1), 1);
    EXPECT_EQ(v, 0xF0u) << "the data register reads back its last byte";
    EXPECT_EQ(t.SetPortVal(0x37A, 0x00, 1), 0);
    EXPECT_EQ(t.GetPortVal(0x37A, &v, 1), 0);
    EXPECT_EQ(t.SetPortVal(0x378, 0x00, 2), 0);
    EXPECT_EQ(t.GetPortVal(0x379, &v, 4), 0);
    EXPECT_EQ(t.GetPortVal(0x379, nullptr, 1), 0);
    EXPECT_EQ(t.DataRegister(), 0xF0);
    EXPECT_EQ(t.GetPortVal(0x379, &v, 1), 1);
    EXPECT_EQ(v & ~0x40u, 0x3Fu);
    EXPECT_EQ(t.PortAccesses(), 8u) << "failed calls take port time as well";
}

} // namespace
