// Programming away from the datasheet's timing: ports faster and slower
// than 1 us an access, parts slower than their datasheet, a part at the
// edge of its SCK timing, writes that start and end inside pages. Whatever
// happens, an operation that reports success has put the images into the
// part, and one that cannot says so in red.
#include "SimHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using harness::SimBench;

// Erases, writes the first `flash` bytes of Flash and `eeprom` bytes of
// EEPROM from the buffers, and verifies both; false at the first failure,
// which the status line shows in red (a failed erase is told by the
// caller, as the programs do).
bool EraseWriteVerify(SimBench& b, int32_t flash, int32_t eeprom) {
    TAVRisp& e = *b.engine;
    if (!e.EraseDevice()) return false;
    const bool ok = e.WriteFlash(0, flash) && e.WriteEEprom(0, eeprom) && e.VerifyFlash(flash) &&
                    e.VerifyEEprom(eeprom);
    EXPECT_EQ(b.status.color, ok ? clNavy : clRed) << b.status.text;
    return ok;
}

// The part holds the buffers' first `flash` bytes of Flash and `eeprom`
// bytes of EEPROM, and its Flash is erased above them.
void ExpectImagesInPart(const SimBench& b, int32_t flash, int32_t eeprom) {
    const std::vector<uint32_t> words = b.PartFlashWords();
    for (std::size_t w = 0; w < words.size(); ++w)
        ASSERT_EQ(words[w], w < static_cast<std::size_t>(flash / 2) ? b.engine->FlashBuffer[w] : 0xFFFFu)
            << "Flash word " << w;
    for (int32_t a = 0; a < eeprom; ++a)
        ASSERT_EQ(b.sim->Eeprom()[a], b.engine->EEpromBuffer[a]) << "EEPROM byte " << a;
}

void FillChipWithJunk(SimBench& b) {
    b.sim->SetFlash(std::vector<uint8_t>(b.sim->Flash().size(), 0x5A));
    b.sim->SetEeprom(std::vector<uint8_t>(b.sim->Eeprom().size(), 0xA5));
}

// A data-polled paged part, a ready/busy part and a byte-written part, on
// ports of 0.3, 1 and 3 us an access, at 1, 1.5 and 2.2 times their
// datasheet's busy times, in both modes. The fast mode waits for the part
// up to twice its longest time, so it succeeds exactly within that; the
// normal mode keeps its fixed waits, so a slower part may fail it, but
// never with success reported over a wrong chip.
TEST(Timing, SuccessOnlyWithTheImagesInThePartAndAlwaysWithinTwiceTheDatasheet) {
    constexpr int32_t flash = 1024, eeprom = 64;
    for (const char* part : {"ATmega16", "ATtiny85", "AT90S2313"})
        for (const uint32_t ns : {300u, 1000u, 3000u})
            for (const double scale : {1.0, 1.5, 2.2})
                for (const bool fast : {false, true}) {
                    SCOPED_TRACE(std::string(part) + " " + std::to_string(ns) + " ns, busy x" +
                                 std::to_string(scale) + (fast ? ", fast" : ", normal"));
                    SimBench b(part, 1000000, false, ns);
                    FillChipWithJunk(b);
                    b.engine->SetFastMode(fast);
                    ASSERT_TRUE(b.Identify());
                    ASSERT_EQ(b.engine->AVRversion(), part);
                    b.FillBuffers(static_cast<uint32_t>(ns + 10 * scale));
                    b.sim->SetBusyScale(scale);
                    const bool ok = EraseWriteVerify(b, flash, eeprom);
                    if (ok) ExpectImagesInPart(b, flash, eeprom);
                    if (fast) {
                        EXPECT_EQ(ok, scale <= 2.0) << b.status.text;
                    } else if (scale == 1.0) {
                        EXPECT_TRUE(ok) << b.status.text;
                    }
                }
}

// A part written right after its last EEPROM byte is verified only once
// that byte is done, so a slow part's failure names the memory that lost
// data, not the Flash it still holds.
TEST(Timing, VerificationWaitsOutTheLastWriteAndNamesTheMemoryThatDiffers) {
    SimBench b("ATmega16", 1000000, false);
    ASSERT_TRUE(b.Identify());
    b.FillBuffers(5);
    b.sim->SetBusyScale(1.5);
    TAVRisp& e = *b.engine;
    ASSERT_TRUE(e.EraseDevice());
    ASSERT_TRUE(e.WriteFlash(0, e.FlashSize()));
    ASSERT_TRUE(e.WriteEEprom(0, 32));
    EXPECT_TRUE(e.VerifyFlash(e.FlashSize())) << b.status.text;
    EXPECT_FALSE(e.VerifyEEprom(32)) << "every other byte came while the part was busy";
    EXPECT_EQ(b.status.text.rfind("EEPROM error at byte address 0x", 0), 0u) << b.status.text;
}

// Fast writes the datasheet pace alone would not try: a range that starts
// and ends inside pages, pages whose low bytes are all erased but not their
// high bytes, erased EEPROM bytes over data the erase kept (EESAVE), a part
// whose fast pace fails its confirmation, and a port that got faster after
// the pace was found.
TEST(Timing, FastWritesOfOddRangesValuesAndPacesEndWithTheImagesInThePart) {
    struct Case {
        const char* name;
        const char* device;
        uint32_t clockHz;
        int32_t first, words; // the Flash range written
    };
    const Case cases[] = {
        {"range inside pages", "ATmega328P", 1000000, 70, 200},
        {"low bytes erased", "ATmega16", 1000000, 0, 512},
        {"EEPROM erased over kept data", "ATmega16", 1000000, 0, 64},
        {"pace fails its confirmation", "ATmega328P", 500000, 0, 256},
        {"port faster after the pace was found", "ATmega328P", 1000000, 0, 256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name;
        SimBench b(c.device, c.clockHz, false, name.find("faster") != std::string::npos ? 1100 : 1000);
        TAVRisp& e = *b.engine;
        e.SetFastMode(true);
        if (name.find("confirmation") != std::string::npos) b.sim->SetMarginalPhases(2.5, 1000);
        std::vector<uint8_t> kept(b.sim->Eeprom().size(), 0x3C);
        if (name.find("EEPROM") != std::string::npos) {
            b.sim->SetEeprom(kept);
            const auto fuses = b.sim->Fuses();
            b.sim->SetFuses(fuses[0], fuses[1] & ~0x08, fuses[2]); // EESAVE programmed
        }
        ASSERT_TRUE(b.Identify());
        if (name.find("confirmation") != std::string::npos) {
            EXPECT_FALSE(b.engine->FastPhasesKnown()) << "back to the pace of identification";
        }
        if (name.find("faster") != std::string::npos) b.sim->SetNsPerAccess(1000);
        b.FillBuffers(17);
        if (name.find("low bytes") != std::string::npos)
            for (uint32_t& w : e.FlashBuffer)
                w = (w & 0xFF00) | 0xFF;
        const int32_t eeprom = e.EEpromSize();
        if (name.find("EEPROM") != std::string::npos)
            std::fill(e.EEpromBuffer.begin(), e.EEpromBuffer.end(), uint8_t{0xFF});
        ASSERT_TRUE(e.EraseDevice()) << b.status.text;
        ASSERT_TRUE(e.WriteFlash(c.first, 2 * c.words)) << b.status.text;
        ASSERT_TRUE(e.WriteEEprom(0, eeprom)) << b.status.text;
        const std::vector<uint32_t> words = b.PartFlashWords();
        for (std::size_t w = 0; w < words.size(); ++w) {
            const bool inRange = w >= static_cast<std::size_t>(c.first) &&
                                 w < static_cast<std::size_t>(c.first + c.words);
            ASSERT_EQ(words[w], inRange ? e.FlashBuffer[w] : 0xFFFFu) << "word " << w;
        }
        EXPECT_EQ(b.PartEEprom(), b.BufferEEprom());
    }
}

// A cable pulled in the middle of a byte-written part's Flash: the write
// ends as a failure after one byte's polls, within seconds of model time.
TEST(Timing, PulledCableEndsAByteWrittenPartsWriteWithinSeconds) {
    for (const bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast" : "normal");
        SimBench b("AT90S2313", 1000000, false);
        b.engine->SetFastMode(fast);
        ASSERT_TRUE(b.Identify());
        b.FillBuffers(3);
        ASSERT_TRUE(b.engine->EraseDevice());
        b.sim->DisconnectAfterAccesses(300000);
        const auto before = b.sim->ModelTime();
        EXPECT_FALSE(b.engine->WriteFlash(0, b.engine->FlashSize()));
        EXPECT_EQ(b.status.color, clRed);
        EXPECT_LT(b.sim->ModelTime() - before, std::chrono::seconds(5));
    }
}

} // namespace
