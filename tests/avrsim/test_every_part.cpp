// The serial programming behaviour every simulated part shares, spoken to
// bit by bit, run over each part the simulator knows.

#include "SimBench.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <numeric>

using avrsim::FuseLayout;
using avrsim::PartInfo;
using wiretest::ConfigFor;
using wiretest::SimBench;

namespace {

std::vector<const PartInfo*> PartsWhere(const std::function<bool(const PartInfo&)>& pred) {
    std::vector<const PartInfo*> out;
    for (const PartInfo& p : avrsim::AllParts())
        if (p.present && pred(p)) out.push_back(&p);
    return out;
}

std::string PartName(const testing::TestParamInfo<const PartInfo*>& info) {
    return std::string(info.param->name);
}

class EveryPart : public testing::TestWithParam<const PartInfo*> {
protected:
    const PartInfo& part = *GetParam();
    SimBench bench{ConfigFor(part.name)};
    wiretest::BitBangWire& wire = bench.wire;
    avrsim::SimTarget& target = bench.target;

    uint8_t HighAddr(uint32_t a) const { return static_cast<uint8_t>(a >> 8); }
    uint8_t LowAddr(uint32_t a) const { return static_cast<uint8_t>(a); }
    // Above 128 KB of Flash the word address's bit 16 goes first, in the
    // extended address byte.
    uint8_t ReadFlash(uint32_t word, bool high) {
        if (part.ExtendedAddress())
            wire.Instruction(0x4D, 0x00, static_cast<uint8_t>(word >> 16), 0);
        return wire.Read(high ? 0x28 : 0x20, HighAddr(word), LowAddr(word));
    }
    uint8_t ReadEeprom(uint32_t a) { return wire.Read(0xA0, HighAddr(a), LowAddr(a)); }
    void WriteEeprom(uint32_t a, uint8_t v) { wire.Instruction(0xC0, HighAddr(a), LowAddr(a), v); }
    double FlashMs() const { return part.flashBusyUs / 1000.0; }
    double EepromMs() const { return part.eepromBusyUs / 1000.0; }
};

TEST_P(EveryPart, EchoesProgrammingEnableAndAnswersItsSignature) {
    wire.EnterProgramming();
    const auto echo = wire.Instruction(0xAC, 0x53, 0x00, 0x00);
    if (part.echoesEnable) {
        EXPECT_EQ(echo[1], 0xAC);
        EXPECT_EQ(echo[2], 0x53);
        EXPECT_EQ(echo[3], 0x00);
    } else {
        EXPECT_EQ(echo, (std::array<uint8_t, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
    }
    EXPECT_TRUE(target.ProgrammingEnabled());
    for (uint8_t i = 0; i < 3; ++i)
        EXPECT_EQ(wire.Read(0x30, 0x00, i), part.signature[i]) << int(i);
    // The upper bits of the index byte and the whole second byte do not matter.
    EXPECT_EQ(wire.Read(0x30, 0x5A, 0xFE), part.signature[2]);
}

TEST_P(EveryPart, RecognisesOnlyTheRightEnableBeforeProgramming) {
    wire.EnterProgramming();
    // Signature read before programming enable: the part only echoes.
    EXPECT_NE(wire.Read(0x30, 0x00, 0x01), part.signature[1]);
    wire.Instruction(0xAC, 0x52, 0x00, 0x00);
    wire.Instruction(0xAD, 0x53, 0x00, 0x00);
    EXPECT_FALSE(target.ProgrammingEnabled());
    EXPECT_NE(wire.Read(0x30, 0x00, 0x01), part.signature[1]);
    wire.Instruction(0xAC, 0x53, 0x77, 0x99);
    EXPECT_TRUE(target.ProgrammingEnabled());
    EXPECT_EQ(wire.Read(0x30, 0x00, 0x01), part.signature[1]);
}

TEST_P(EveryPart, KeepsFramingAcrossUnknownInstructions) {
    bench.Enter();
    const auto echo = wire.Instruction(0x12, 0x34, 0x56, 0x78);
    EXPECT_EQ(echo[1], 0x12);
    EXPECT_EQ(echo[2], 0x34);
    EXPECT_EQ(echo[3], 0x56);
    wire.Instruction(0xFF, 0xFF, 0xFF, 0xFF);
    EXPECT_EQ(wire.Read(0x30, 0x00, 0x00), 0x1E);
    EXPECT_EQ(wire.Read(0x30, 0x00, 0x02), part.signature[2]);
    EXPECT_EQ(target.FlashWord(0), 0xFFFF);
}

TEST_P(EveryPart, WrapsAddressesBeyondItsMemories) {
    std::vector<uint8_t> image(part.flashBytes);
    for (uint32_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i ^ (i >> 8) ^ (i >> 16));
    target.SetFlash(image);
    std::vector<uint8_t> eeprom(part.eepromBytes);
    std::iota(eeprom.begin(), eeprom.end(), 3);
    target.SetEeprom(eeprom);
    bench.Enter();
    const uint32_t last = part.FlashWords() - 1;
    EXPECT_EQ(ReadFlash(last, true), image[2 * last + 1]);
    EXPECT_EQ(ReadFlash(last + part.FlashWords(), false), image[2 * last]);
    EXPECT_EQ(ReadFlash(part.FlashWords() + 7, true), image[15]);
    EXPECT_EQ(ReadEeprom(part.eepromBytes + 5), eeprom[5]);
}

TEST_P(EveryPart, EepromWriteReplacesTheByteAndPollsWhileBusy) {
    bench.Enter();
    const uint32_t a = part.eepromBytes - 1;
    WriteEeprom(a, 0x55);
    // Data polling: erase phase, then write phase, then the byte itself.
    EXPECT_EQ(ReadEeprom(a), part.eepromPollErase);
    bench.WaitMs(EepromMs() * 0.6);
    EXPECT_EQ(ReadEeprom(a), part.eepromPollWrite);
    // Another byte's read is not executed while the write runs: only the echo
    // of the address byte comes back.
    EXPECT_EQ(ReadEeprom(0x10), 0x10);
    bench.WaitMs(EepromMs() * 0.5);
    EXPECT_EQ(ReadEeprom(a), 0x55);
    WriteEeprom(a, 0xAA);
    bench.WaitMs(EepromMs());
    EXPECT_EQ(ReadEeprom(a), 0xAA) << "an EEPROM write erases the byte before writing";
    EXPECT_EQ(target.Eeprom()[a], 0xAA);
}

TEST_P(EveryPart, IgnoresInstructionsArrivingWhileBusy) {
    bench.Enter();
    WriteEeprom(1, 0x11);
    WriteEeprom(2, 0x22);
    bench.WaitMs(EepromMs());
    EXPECT_EQ(ReadEeprom(1), 0x11);
    EXPECT_EQ(ReadEeprom(2), 0xFF);
    EXPECT_FALSE(target.Busy());
}

TEST_P(EveryPart, ChipEraseClearsMemoriesAndLockBits) {
    target.SetFlash(std::vector<uint8_t>(part.flashBytes, 0x00));
    target.SetEeprom(std::vector<uint8_t>(part.eepromBytes, 0x42));
    target.SetLockBits(0xFC);
    bench.Enter();
    wire.Instruction(0xAC, 0x9F, 0xAB, 0xCD); // 100x.xxxx: every one of them erases
    if (part.eraseEndsAtReset) {
        // Nothing more happens until RESET is pulsed, however long one waits.
        bench.WaitMs(part.eraseBusyUs / 1000.0 + 50);
        EXPECT_TRUE(target.Busy());
        EXPECT_EQ(target.FlashWord(0), 0x0000);
        wire.ResetPulse();
        EXPECT_TRUE(wire.Enable() || !part.echoesEnable);
    } else {
        EXPECT_TRUE(target.Busy());
        bench.WaitMs(part.eraseBusyUs / 1000.0);
    }
    EXPECT_FALSE(target.Busy());
    EXPECT_EQ(ReadFlash(0, false), 0xFF);
    EXPECT_EQ(ReadFlash(part.FlashWords() - 1, true), 0xFF);
    EXPECT_EQ(ReadEeprom(0), 0xFF);
    EXPECT_EQ(target.LockBits(), 0xFF);
    for (uint8_t b : target.Flash())
        ASSERT_EQ(b, 0xFF);
    for (uint8_t b : target.Eeprom())
        ASSERT_EQ(b, 0xFF);
}

TEST_P(EveryPart, LosesPulsesUnderTooFastAClockAndResynchronisesOnReset) {
    wire.EnterProgramming();
    wire.SetWaits(0, 0); // SCK high for a single access: too short for any part at 1 MHz
    EXPECT_FALSE(wire.Enable());
    EXPECT_FALSE(target.ProgrammingEnabled());
    EXPECT_EQ(target.LostPulses(), 32u);
    EXPECT_EQ(target.ClockedBits(), 0u);
    // Half the pulses of an instruction lost: the part is now out of step.
    wire.Transfer(0xAC);
    wire.Transfer(0x53);
    wire.SetWaits(5, 2);
    wire.Transfer(0x00);
    wire.Transfer(0x00);
    for (int attempt = 0; attempt < 3; ++attempt) {
        wire.Instruction(0xAC, 0x53, 0x00, 0x00);
        EXPECT_FALSE(target.ProgrammingEnabled()) << attempt;
    }
    wire.ResetPulse();
    wire.Instruction(0xAC, 0x53, 0x00, 0x00);
    EXPECT_TRUE(target.ProgrammingEnabled());
    EXPECT_EQ(wire.Read(0x30, 0x00, 0x01), part.signature[1]);
}

TEST_P(EveryPart, StateFolderRoundTripAndForeignFilesIgnored) {
    const auto dir =
        std::filesystem::path(testing::TempDir()) / ("sim-state-" + std::string(part.name));
    std::filesystem::remove_all(dir);
    std::vector<uint8_t> image(part.flashBytes);
    std::iota(image.begin(), image.end(), 1);
    {
        SimBench first(ConfigFor(part.name, 1000000, dir.string()));
        first.target.SetFlash(image);
        first.Enter();
        first.wire.Instruction(0xC0, 0x00, 0x03, 0x5A);
        first.WaitMs(20);
        first.wire.ReleaseReset(); // the part saves when it leaves programming
        EXPECT_TRUE(std::filesystem::exists(dir / "flash.bin"));
    }
    {
        SimBench second(ConfigFor(part.name, 1000000, dir.string()));
        EXPECT_TRUE(std::equal(image.begin(), image.end(), second.target.Flash().begin()));
        EXPECT_EQ(second.target.Eeprom()[3], 0x5A);
        EXPECT_EQ(second.target.Fuses(), part.factoryFuses);
    }
    // Another part given the same folder starts erased.
    const PartInfo& other =
        part.name == "ATmega32" ? *avrsim::FindPart("ATmega16") : *avrsim::FindPart("ATmega32");
    SimBench foreign(ConfigFor(other.name, 1000000, dir.string()));
    for (uint8_t b : foreign.target.Flash())
        ASSERT_EQ(b, 0xFF);
    EXPECT_EQ(foreign.target.Eeprom()[3], 0xFF);
    std::filesystem::remove_all(dir);
}

TEST_P(EveryPart, ReadsAndWritesItsFuses) {
    bench.Enter();
    const auto factory = part.factoryFuses;
    if (part.fuses == FuseLayout::None) {
        wire.Instruction(0xAC, 0xA0, 0x00, 0x00);
        EXPECT_FALSE(target.Busy());
        EXPECT_EQ(wire.Read(0x50, 0x00, 0x00), 0x00) << "echo only";
        EXPECT_EQ(target.Fuses(), factory);
        return;
    }
    EXPECT_EQ(wire.Read(0x50, 0x00, 0x00), factory[0]);
    if (part.fuses == FuseLayout::SingleByte) {
        // One fuse byte: AC 101x.xxxx writes it, 50 xx reads it.
        wire.Instruction(0xAC, 0xA8, 0x00, 0xC5);
        bench.WaitMs(part.fuseBusyUs / 1000.0);
        EXPECT_EQ(wire.Read(0x50, 0x08, 0x00), (0xC5 & ~0x20) | (factory[0] & 0x20));
        return;
    }
    EXPECT_EQ(wire.Read(0x58, 0x08, 0x00), factory[1]);
    wire.Instruction(0xAC, 0xA0, 0x00, 0x3C);
    bench.WaitMs(part.fuseBusyUs / 1000.0);
    wire.Instruction(0xAC, 0xA8, 0x00, 0xFF);
    bench.WaitMs(part.fuseBusyUs / 1000.0);
    EXPECT_EQ(wire.Read(0x50, 0x00, 0x00), 0x3C);
    // Serial programming cannot switch itself off: SPIEN keeps its value.
    EXPECT_EQ(wire.Read(0x58, 0x08, 0x00), 0xFF & ~(part.fixedFuseBits[1] & ~factory[1]));
    wire.Instruction(0xAC, 0xA4, 0x00, 0xF9);
    bench.WaitMs(part.fuseBusyUs / 1000.0);
    if (part.fuses == FuseLayout::LowHighExt) {
        EXPECT_EQ(wire.Read(0x50, 0x08, 0x00), 0xF9);
    } else {
        EXPECT_EQ(target.Fuses()[2], factory[2]);
        EXPECT_EQ(wire.Read(0x50, 0x08, 0x00), 0x00)
            << "no extended fuse: echo of the third byte only";
    }
}

INSTANTIATE_TEST_SUITE_P(Parts, EveryPart,
                         testing::ValuesIn(PartsWhere([](const PartInfo&) { return true; })),
                         PartName);

// ---- Flash written byte by byte ----------------------------------------------

class BytePart : public EveryPart {};

TEST_P(BytePart, FlashByteWriteOnlyClearsBitsAndPollsWhileBusy) {
    bench.Enter();
    wire.Instruction(0x48, 0x00, 0x03, 0xF0);
    EXPECT_TRUE(target.Busy());
    EXPECT_EQ(ReadFlash(3, true), part.flashPoll);
    EXPECT_EQ(ReadFlash(3, false), 0x03) << "the other byte is not read while busy";
    bench.WaitMs(FlashMs());
    EXPECT_EQ(ReadFlash(3, true), 0xF0);
    wire.Instruction(0x48, 0x00, 0x03, 0x3C);
    bench.WaitMs(FlashMs());
    EXPECT_EQ(ReadFlash(3, true), 0x30);
    EXPECT_EQ(ReadFlash(3, false), 0xFF);
    EXPECT_EQ(target.FlashWord(3), 0x30FF);
    // A write sent before the previous one has finished is lost.
    wire.Instruction(0x40, 0x00, 0x04, 0x12);
    bench.WaitMs(FlashMs() * 0.5);
    wire.Instruction(0x48, 0x00, 0x04, 0x34);
    bench.WaitMs(FlashMs());
    EXPECT_EQ(target.FlashWord(4), 0xFF12);
}

TEST_P(BytePart, HasNoPageInstructions) {
    bench.Enter();
    wire.Instruction(0x40, 0x00, 0x03, 0x12); // a byte write, not a page load
    bench.WaitMs(FlashMs());
    wire.Instruction(0x4C, 0x00, 0x00, 0x00);
    EXPECT_FALSE(target.Busy());
    EXPECT_EQ(target.FlashWord(3), 0xFF12);
}

INSTANTIATE_TEST_SUITE_P(Parts, BytePart, testing::ValuesIn(PartsWhere([](const PartInfo& p) {
                             return !p.Paged();
                         })),
                         PartName);

// ---- Flash written through the page buffer --------------------------------------

class PagedPart : public EveryPart {
protected:
    void Load(uint8_t index, uint16_t word) {
        wire.Instruction(0x40, 0x00, index, static_cast<uint8_t>(word));
        wire.Instruction(0x48, 0x00, index, static_cast<uint8_t>(word >> 8));
    }
    void WritePage(uint32_t word) { wire.Instruction(0x4C, HighAddr(word), LowAddr(word), 0x00); }
};

TEST_P(PagedPart, PageWriteTakesTheBufferAndOnlyClearsBits) {
    bench.Enter();
    const uint32_t page = 2 * part.pageWords;
    for (uint8_t i = 0; i < part.pageWords; ++i)
        Load(i, static_cast<uint16_t>(0xF00F | (i << 4)));
    EXPECT_EQ(target.FlashWord(page), 0xFFFF) << "loading the buffer writes nothing";
    WritePage(page + 5); // any word of the page names it
    EXPECT_TRUE(target.Busy());
    EXPECT_EQ(ReadFlash(page + 1, false), 0xFF) << "the page being written polls 0xFF";
    EXPECT_EQ(ReadFlash(0, false), 0x00) << "other reads are not executed while busy";
    bench.WaitMs(FlashMs());
    for (uint8_t i = 0; i < part.pageWords; ++i)
        ASSERT_EQ(target.FlashWord(page + i), 0xF00F | (i << 4)) << int(i);
    EXPECT_EQ(ReadFlash(page + 1, false), 0x1F);
    EXPECT_EQ(ReadFlash(page + 1, true), 0xF0);
    Load(1, 0x0FF0);
    WritePage(page);
    bench.WaitMs(FlashMs());
    EXPECT_EQ(target.FlashWord(page + 1), 0x0010);
    EXPECT_EQ(target.FlashWord(page), 0xF00F) << "the buffer is empty again after a page write";
    EXPECT_EQ(target.FlashWord(page - 1), 0xFFFF);
    EXPECT_EQ(target.FlashWord(page + part.pageWords), 0xFFFF);
}

TEST_P(PagedPart, PageBufferKeepsLowAndHighBytesApartAndWrapsPages) {
    bench.Enter();
    wire.Instruction(0x40, 0x00, 3, 0x12);
    wire.Instruction(0x48, 0x7F, static_cast<uint8_t>(part.pageWords + 3),
                     0x34); // index wraps in the page
    wire.Instruction(0x48, 0x00, 4, 0x56);
    const uint32_t beyond = part.FlashWords() + part.pageWords; // wraps to page 1
    WritePage(beyond);
    bench.WaitMs(FlashMs());
    EXPECT_EQ(target.FlashWord(part.pageWords + 3), 0x3412);
    EXPECT_EQ(target.FlashWord(part.pageWords + 4), 0x56FF);
    EXPECT_EQ(target.FlashWord(3), 0xFFFF);
}

INSTANTIATE_TEST_SUITE_P(Parts, PagedPart,
                         testing::ValuesIn(PartsWhere([](const PartInfo& p) { return p.Paged(); })),
                         PartName);

// ---- EESAVE --------------------------------------------------------------------

class EesavePart : public EveryPart {};

TEST_P(EesavePart, ChipEraseKeepsEepromWhenEesaveIsProgrammed) {
    target.SetEeprom(std::vector<uint8_t>(part.eepromBytes, 0x42));
    target.SetFlash(std::vector<uint8_t>(part.flashBytes, 0x00));
    bench.Enter();
    const uint8_t which = part.eesaveFuse;
    const uint8_t fuse = static_cast<uint8_t>(part.factoryFuses[which] & ~part.eesaveMask);
    wire.Instruction(0xAC, which == 0 ? 0xA0 : 0xA8, 0x00, fuse);
    bench.WaitMs(part.fuseBusyUs / 1000.0);
    wire.Instruction(0xAC, 0x80, 0x00, 0x00);
    bench.WaitMs(part.eraseBusyUs / 1000.0);
    wire.ResetPulse();
    wire.Enable();
    EXPECT_EQ(ReadFlash(0, false), 0xFF);
    EXPECT_EQ(ReadEeprom(0), 0x42);
    for (uint8_t b : target.Eeprom())
        ASSERT_EQ(b, 0x42);
    EXPECT_EQ(target.Fuses()[which], fuse) << "fuses survive the erase";
}

INSTANTIATE_TEST_SUITE_P(Parts, EesavePart, testing::ValuesIn(PartsWhere([](const PartInfo& p) {
                             return p.eesaveMask != 0;
                         })),
                         PartName);

} // namespace
