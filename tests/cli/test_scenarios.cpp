// The bench scenarios peer programmers run against a real part, each one
// quillon-isp command line after another, over parts of each kind in both
// programming modes: fuse bit set, clear and read; EESAVE against chip
// erase; chip erase of a locked part; Flash and EEPROM images with holes;
// EEPROM bits from 0 to 1; erase and spot check.
#include "CliBench.h"

#include "FuseLayout.h"
#include "GuardedFuseChanges.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace {

using namespace clibench;

struct TChunk {
    uint16_t address;
    std::vector<uint8_t> bytes;
};

// An Intel HEX file of the chunks alone: what lies between them is a hole.
void WriteHex(const fs::path& path, const std::vector<TChunk>& chunks) {
    std::ofstream out(path);
    for (const TChunk& c : chunks) {
        unsigned sum = c.bytes.size() + (c.address >> 8) + (c.address & 0xFF);
        char head[16];
        std::snprintf(head, sizeof head, ":%02zX%04X00", c.bytes.size(), c.address);
        out << head;
        for (uint8_t b : c.bytes) {
            std::snprintf(head, sizeof head, "%02X", b);
            out << head;
            sum += b;
        }
        std::snprintf(head, sizeof head, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        out << head;
    }
    out << ":00000001FF\n";
}

std::string Hex2(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFF);
    return buf;
}

bool AllErased(std::span<const uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

// Executed frames that write Flash (byte writes, page loads, page writes)
// or erase the chip.
int FlashWrites(const avrsim::SimTarget& sim) {
    return static_cast<int>(
        std::count_if(sim.Frames().begin(), sim.Frames().end(), [](const auto& f) {
            return f.executed && (f.bytes[0] == 0x40 || f.bytes[0] == 0x48 || f.bytes[0] == 0x4C);
        }));
}
int ChipErases(const avrsim::SimTarget& sim) {
    return static_cast<int>(
        std::count_if(sim.Frames().begin(), sim.Frames().end(), [](const auto& f) {
            return f.executed && f.bytes[0] == 0xAC && (f.bytes[1] & 0xE0) == 0x80;
        }));
}

class BenchScenarios : public ::testing::TestWithParam<std::tuple<std::string, bool>> {
protected:
    int Run(std::vector<std::string> args) {
        if (std::get<1>(GetParam())) args.insert(args.begin(), "--fast");
        return c.Run(args);
    }
    // Writes the fuse bytes the part has; the part's own bytes for the others.
    int WriteFuses(const std::array<uint8_t, 3>& v) {
        std::vector<std::string> args{"fuses"};
        for (int k = 0; k < c.engine.AVRfuse(); ++k)
            args.push_back(Hex2(v[k]));
        return Run(args);
    }
    std::string Path(const char* name) const { return (dir / name).string(); }

    Cable c{std::get<0>(GetParam())};
    TempFolder dir;
};

TEST_P(BenchScenarios, AllSevenAreExpressedAndPass) {
    avrsim::SimTarget& sim = *c.sim;
    const std::size_t flash = sim.Flash().size(), eeprom = sim.Eeprom().size();
    const auto& part = sim.Part();
    const TFuseLayout* layout = FindFuseLayout(part.signature);
    const std::vector<uint8_t> data{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    WriteHex(Path("data.hex"), {{0, data}});
    sim.SetFrameLog(true);

    // 1. Fuse bit set, clear and read: EESAVE programmed, then back.
    int eesaveByte = -1;
    uint8_t eesave = 0;
    for (int k = 0; layout != nullptr && k < layout->ByteCount; ++k)
        if (const TFuseField* f = layout->Bytes[k].Find("EESAVE")) {
            eesaveByte = k;
            eesave = f->Mask();
        }
    const std::array<uint8_t, 3> factory = sim.Fuses();
    std::array<uint8_t, 3> kept = factory;
    if (eesaveByte >= 0) {
        SCOPED_TRACE("fuse bit set, clear and read");
        kept[eesaveByte] &= static_cast<uint8_t>(~eesave);
        ASSERT_EQ(Run({"fuses"}), cli::ExitOk) << c.err.str();
        EXPECT_NE(c.out.str().find("EESAVE=1"), std::string::npos) << c.out.str();
        ASSERT_EQ(WriteFuses(kept), cli::ExitOk) << c.err.str();
        EXPECT_NE(c.out.str().find("EESAVE 1 -> 0"), std::string::npos) << c.out.str();
        EXPECT_EQ(sim.Fuses(), kept);
        ASSERT_EQ(Run({"fuses"}), cli::ExitOk);
        EXPECT_NE(c.out.str().find("EESAVE=0"), std::string::npos) << c.out.str();
        ASSERT_EQ(WriteFuses(factory), cli::ExitOk) << c.err.str();
        EXPECT_EQ(sim.Fuses(), factory);
    } else {
        EXPECT_EQ(Run({"fuses"}), cli::ExitFailed);
        EXPECT_NE(c.err.str().find("has no fuse bytes"), std::string::npos) << c.err.str();
    }

    // 2. EESAVE against chip erase: kept while programmed, erased when not.
    {
        SCOPED_TRACE("EESAVE against chip erase");
        ASSERT_EQ(Run({"write-eeprom", Path("data.hex")}), cli::ExitOk) << c.err.str();
        if (eesaveByte >= 0) {
            ASSERT_EQ(WriteFuses(kept), cli::ExitOk);
            ASSERT_EQ(Run({"erase"}), cli::ExitOk) << c.err.str();
            EXPECT_EQ(Run({"verify-eeprom", Path("data.hex")}), cli::ExitOk) << c.err.str();
            ASSERT_EQ(WriteFuses(factory), cli::ExitOk);
        }
        ASSERT_EQ(Run({"erase"}), cli::ExitOk) << c.err.str();
        EXPECT_TRUE(AllErased(sim.Eeprom()));
        EXPECT_EQ(Run({"verify-eeprom", Path("data.hex")}), cli::ExitFailed);
        EXPECT_NE(c.err.str().find("Error in EEPROM"), std::string::npos) << c.err.str();
    }

    // 3. Chip erase of a locked part: the verification says it is locked,
    // the erase clears Flash and lock bits and writes no Flash.
    {
        SCOPED_TRACE("chip erase");
        std::vector<uint8_t> image(flash, 0xFF);
        std::copy(data.begin(), data.end(), image.end() - static_cast<std::ptrdiff_t>(data.size()));
        sim.SetFlash(image);
        WriteHex(Path("top.hex"), {{static_cast<uint16_t>(flash - data.size()), data}});
        if (HasLockAccess(c.engine.CurrentDevice())) {
            ASSERT_EQ(Run({"lock", "FC"}), cli::ExitOk) << c.err.str();
            EXPECT_EQ(sim.LockBits() & 0x03, 0);
            EXPECT_EQ(Run({"verify-flash", Path("top.hex")}), cli::ExitFailed);
            EXPECT_NE(c.err.str().find("AVR device is locked (lock bits 0xFC)"), std::string::npos)
                << c.err.str();
            EXPECT_EQ(c.err.str().find("Error in Flash"), std::string::npos);
        } else {
            EXPECT_EQ(Run({"lock"}), cli::ExitFailed);
            EXPECT_NE(c.err.str().find("has no lock bits"), std::string::npos);
        }
        sim.ClearFrames();
        ASSERT_EQ(Run({"erase"}), cli::ExitOk) << c.err.str();
        EXPECT_EQ(FlashWrites(sim), 0) << "an erase costs no Flash write";
        EXPECT_EQ(ChipErases(sim), 1);
        EXPECT_TRUE(AllErased(sim.Flash()));
        EXPECT_EQ(sim.LockBits(), 0xFF);
    }

    // 4. A Flash image with holes: the holes read erased.
    {
        SCOPED_TRACE("Flash image with holes");
        const uint16_t second = static_cast<uint16_t>(flash / 2);
        WriteHex(Path("holes.hex"), {{0, data}, {second, data}});
        ASSERT_EQ(Run({"write-flash", Path("holes.hex")}), cli::ExitOk) << c.err.str();
        std::vector<uint8_t> want(flash, 0xFF);
        std::copy(data.begin(), data.end(), want.begin());
        std::copy(data.begin(), data.end(), want.begin() + second);
        EXPECT_TRUE(std::equal(want.begin(), want.end(), sim.Flash().begin()));
    }

    // 5. An EEPROM image with holes: written alone, the Flash untouched;
    // the holes hold 0xFF, the image's erased value.
    const std::vector<uint8_t> flashBefore(sim.Flash().begin(), sim.Flash().end());
    sim.ClearFrames();
    {
        SCOPED_TRACE("EEPROM image with holes");
        sim.SetEeprom(std::vector<uint8_t>(eeprom, 0x5A));
        const uint16_t second = static_cast<uint16_t>(eeprom - data.size());
        WriteHex(Path("ee.hex"), {{0, data}, {second, data}});
        ASSERT_EQ(Run({"write-eeprom", Path("ee.hex")}), cli::ExitOk) << c.err.str();
        std::vector<uint8_t> want(eeprom, 0xFF);
        std::copy(data.begin(), data.end(), want.begin());
        std::copy(data.begin(), data.end(), want.begin() + second);
        EXPECT_TRUE(std::equal(want.begin(), want.end(), sim.Eeprom().begin()));
        EXPECT_EQ(Run({"verify-eeprom", Path("ee.hex")}), cli::ExitOk) << c.err.str();
    }

    // 6. EEPROM bits from 0 to 1: a byte write erases the byte first.
    {
        SCOPED_TRACE("EEPROM 0 to 1");
        WriteHex(Path("zeros.hex"), {{0, std::vector<uint8_t>(8, 0x00)}});
        WriteHex(Path("ones.hex"), {{0, std::vector<uint8_t>(8, 0xA5)}});
        ASSERT_EQ(Run({"write-eeprom", Path("zeros.hex")}), cli::ExitOk) << c.err.str();
        EXPECT_EQ(sim.Eeprom()[7], 0x00);
        ASSERT_EQ(Run({"write-eeprom", Path("ones.hex")}), cli::ExitOk) << c.err.str();
        EXPECT_EQ(sim.Eeprom()[7], 0xA5);
        EXPECT_TRUE(AllErased(sim.Eeprom().subspan(8)));
    }
    EXPECT_TRUE(std::equal(flashBefore.begin(), flashBefore.end(), sim.Flash().begin()));
    EXPECT_EQ(FlashWrites(sim) + ChipErases(sim), 0) << "EEPROM alone leaves the Flash alone";

    // 7. Erase and spot check: the erase checks Flash spots itself; the
    // EEPROM reads back erased.
    {
        SCOPED_TRACE("erase and spot check");
        ASSERT_EQ(Run({"erase"}), cli::ExitOk) << c.err.str();
        EXPECT_NE(c.out.str().find("AVR device erased"), std::string::npos);
        ASSERT_EQ(Run({"read-eeprom", Path("back.bin")}), cli::ExitOk) << c.err.str();
        EXPECT_EQ(FileBytes(dir / "back.bin"), std::vector<uint8_t>(eeprom, 0xFF));
        EXPECT_TRUE(AllErased(sim.Flash()));
    }
}

INSTANTIATE_TEST_SUITE_P(PartsAndModes, BenchScenarios,
                         ::testing::Combine(::testing::Values("ATmega328P", "ATmega16", "ATtiny85",
                                                              "AT90S2313"),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return std::get<0>(info.param) +
                                    (std::get<1>(info.param) ? "_fast" : "_normal");
                         });

// A guarded change is refused in one line naming the bit, nothing written;
// --allow-lockout writes it and the part is then lost to the board. A change
// that will not take is warned about and fails on read-back.
class GuardedFuse : public ::testing::TestWithParam<TGuardedChange> {};

TEST_P(GuardedFuse, RefusedUnlessAllowedThenThePartIsLost) {
    const TGuardedChange& g = GetParam();
    Cable c(g.Part);
    const std::array<uint8_t, 3> factory = c.sim->Fuses();
    ASSERT_EQ(c.Run({"identify"}), cli::ExitOk);
    std::vector<std::string> args{"fuses"};
    for (int k = 0; k < c.engine.AVRfuse(); ++k)
        args.push_back(Hex2(g.To[k]));
    std::array<uint8_t, 3> written = factory;
    std::copy_n(g.To.begin(), c.engine.AVRfuse(), written.begin());

    if (*g.Refused != 0) {
        EXPECT_EQ(c.Run(args), cli::ExitFailed);
        const std::string refusal = c.err.str();
        EXPECT_EQ(std::count(refusal.begin(), refusal.end(), '\n'), 1) << refusal;
        EXPECT_EQ(refusal.rfind("quillon-isp: refused: ", 0), 0u) << refusal;
        EXPECT_NE(refusal.find(g.Refused), std::string::npos) << refusal;
        EXPECT_NE(refusal.find("--allow-lockout"), std::string::npos);
        EXPECT_EQ(c.sim->Fuses(), factory);
        args.push_back("--allow-lockout");
    }
    const int code = c.Run(args);
    if (*g.NotTaken != 0) {
        EXPECT_EQ(code, cli::ExitFailed);
        EXPECT_NE(c.err.str().find(std::string("warning: unprogramming ") + g.NotTaken),
                  std::string::npos)
            << c.err.str();
        EXPECT_NE(c.err.str().find(std::string(g.NotTaken) + " did not take"), std::string::npos);
        EXPECT_EQ(c.sim->Fuses(), factory);
        return;
    }
    ASSERT_EQ(code, cli::ExitOk) << c.err.str();
    EXPECT_EQ(c.sim->Fuses(), written);
    // The next session: a guarded change has taken the part from the board.
    EXPECT_EQ(c.Run({"identify"}), *g.Refused != 0 ? cli::ExitFailed : cli::ExitOk) << c.err.str();
    EXPECT_EQ(c.sim->SerialProgrammingReachable(), *g.Refused == 0);
}

INSTANTIATE_TEST_SUITE_P(Table, GuardedFuse, ::testing::ValuesIn(GuardedChanges));

} // namespace
