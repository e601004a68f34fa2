// Erase, Flash and EEPROM transfers, verification, abort and fuse writes
// against the simulated part, and the exact instructions and waits the
// engine puts on the wire for them.
#include "SimHarness.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

using harness::SimBench;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

// --------------------------------------------------------- every part ----

class TransferEachPart : public ::testing::TestWithParam<std::string> {};

TEST_P(TransferEachPart, EraseWriteVerifyAndReadBackFlashAndEEprom) {
    SimBench b(GetParam(), 1000000, false);
    std::vector<uint8_t> junk(b.sim->Flash().size(), 0x5A);
    b.sim->SetFlash(junk);
    ASSERT_TRUE(b.Identify());

    ASSERT_TRUE(b.engine->EraseDevice()) << "the part answers programming enable after the erase";
    EXPECT_EQ(b.status.text, "Clear AVR memory");
    EXPECT_TRUE(std::all_of(b.sim->Flash().begin(), b.sim->Flash().end(),
                            [](uint8_t v) { return v == 0xFF; }));

    b.FillBuffers(11);
    const int32_t flash = b.engine->FlashSize(), eeprom = b.engine->EEpromSize();
    b.events.text.clear();
    ASSERT_TRUE(b.engine->WriteFlash(0, flash));
    EXPECT_EQ(b.status.text, "Done");
    EXPECT_EQ(b.progress.position, flash / 2);
    ASSERT_EQ(b.PartFlashWords(), b.BufferWords());
    ASSERT_TRUE(b.engine->WriteEEprom(0, eeprom));
    ASSERT_EQ(b.PartEEprom(), b.BufferEEprom());

    ASSERT_TRUE(b.engine->VerifyFlash(flash));
    EXPECT_EQ(b.status.text, "Flash is OK");
    EXPECT_EQ(b.status.color, clNavy);
    ASSERT_TRUE(b.engine->VerifyEEprom(eeprom));
    EXPECT_EQ(b.status.text, "EEPROM is OK");
    EXPECT_EQ(b.events.text, "start stop start stop start stop start stop");

    const std::vector<uint32_t> written = b.BufferWords();
    const std::vector<uint8_t> writtenEE = b.BufferEEprom();
    b.engine->FlashBuffer.fill(0);
    b.engine->EEpromBuffer.fill(0);
    ASSERT_TRUE(b.engine->ReadFlash(0, flash));
    EXPECT_EQ(b.status.text, "Done");
    ASSERT_TRUE(b.engine->ReadEEprom(0, eeprom));
    EXPECT_EQ(b.BufferWords(), written);
    EXPECT_EQ(b.BufferEEprom(), writtenEE);

    // The fuse bytes the catalogue gives the part are written and read back;
    // the others stay as they were. Bits the part keeps fixed are left alone.
    const uint8_t kind = b.engine->AVRfuse();
    const auto fixed = b.sim->Part().fixedFuseBits;
    const auto before = b.sim->Fuses();
    std::mt19937 rng(static_cast<uint32_t>(flash + eeprom));
    std::array<uint8_t, 3> fuses{};
    for (std::size_t k = 0; k < 3; ++k)
        fuses[k] = static_cast<uint8_t>((rng() & ~fixed[k]) | (before[k] & fixed[k]));
    b.engine->WriteFuses(fuses[2], fuses[1], fuses[0]);
    for (uint8_t k = 0; k < 3; ++k) {
        EXPECT_EQ(b.sim->Fuses()[k], k < kind ? fuses[k] : before[k]) << "fuse " << int(k);
        if (k < kind) {
            EXPECT_EQ(b.engine->ReadFuse(k), fuses[k]) << "fuse " << int(k);
        }
    }
}

// The suite runs one part of each kind; every row runs in the test labelled
// long (the AllRows instances). The 256 KB parts' whole memory takes long
// under the sanitizers: the suite tries their extended address on ranges
// (Identified.ExtendedAddressReachesTheUpperHalfInBothModes).
bool Within128K(const TAVRdesc& d) {
    return !d.ExtendedAddress();
}
INSTANTIATE_TEST_SUITE_P(Kinds, TransferEachPart,
                         ::testing::ValuesIn(harness::OnePartOfEachKind(Within128K)),
                         [](const auto& info) { return info.param; });
INSTANTIATE_TEST_SUITE_P(
    AllRows, TransferEachPart,
    ::testing::ValuesIn(harness::CataloguePartNames()),
    [](const auto& info) { return info.param; });

// ---------------------------------------------------------- mismatches ----

struct Identified : ::testing::Test {
    void Prepare(const std::string& device, bool logWire = true) {
        b = std::make_unique<SimBench>(device, 1000000, logWire);
        ASSERT_TRUE(b->Identify());
        ASSERT_TRUE(b->engine->EraseDevice());
        b->FillBuffers(5);
        b->events.text.clear();
    }
    TAVRisp& engine() { return *b->engine; }
    std::unique_ptr<SimBench> b;
};

TEST_F(Identified, VerificationReportsTheHighestDifferingAddress) {
    Prepare("ATmega16", false);
    ASSERT_TRUE(engine().WriteFlash(0, engine().FlashSize()));
    ASSERT_TRUE(engine().WriteEEprom(0, engine().EEpromSize()));
    engine().FlashBuffer[0x0005] ^= 0x0100;
    engine().FlashBuffer[0x1234] ^= 0x0001;
    engine().EEpromBuffer[0x0003] ^= 0x10;
    engine().EEpromBuffer[0x01FF] ^= 0x80;
    b->events.text.clear();

    EXPECT_FALSE(engine().VerifyFlash(engine().FlashSize()));
    EXPECT_EQ(b->status.text, "Flash error at word address 0x1234");
    EXPECT_EQ(b->status.color, clRed);
    EXPECT_EQ(b->progress.position, 8192 - 0x1234) << "counts up while the addresses count down";
    EXPECT_FALSE(engine().VerifyEEprom(engine().EEpromSize()));
    EXPECT_EQ(b->status.text, "EEPROM error at byte address 0x01FF");
    EXPECT_EQ(b->events.text, "start stop start stop");

    // A buffer entry with bits above the word never matches.
    engine().FlashBuffer[0x1234] ^= 0x0001;
    engine().FlashBuffer[0x0005] ^= 0x0100;
    engine().FlashBuffer[0x0002] |= 0x10000;
    EXPECT_FALSE(engine().VerifyFlash(engine().FlashSize()));
    EXPECT_EQ(b->status.text, "Flash error at word address 0x0002");
}

// --------------------------------------------------------------- abort ----

TEST_F(Identified, AbortedPagedWriteLeavesThePageItStoppedInUnwritten) {
    Prepare("ATmega32");
    int steps = 0;
    engine().OnUpdateEvent = [&](TAVRisp*) { return ++steps < 100; };
    EXPECT_FALSE(engine().WriteFlash(0, engine().FlashSize()));
    EXPECT_EQ(b->status.text, "Operation aborted at address 0x0064");
    EXPECT_EQ(b->status.color, clRed);
    EXPECT_EQ(b->events.text, "start stop");
    const std::vector<uint32_t> part = b->PartFlashWords();
    for (uint32_t w = 0; w < 64; ++w)
        ASSERT_EQ(part[w], engine().FlashBuffer[w]) << "word " << w;
    for (uint32_t w = 64; w < part.size(); ++w)
        ASSERT_EQ(part[w], 0xFFFFu) << "word " << w;
}

TEST_F(Identified, AbortedByteWriteStopsBeforeTheNextWord) {
    Prepare("AT90S8515");
    int steps = 0;
    engine().OnUpdateEvent = [&](TAVRisp* sender) {
        if (++steps == 21) sender->Abort();
        return true;
    };
    EXPECT_FALSE(engine().WriteFlash(0, engine().FlashSize()));
    EXPECT_EQ(b->status.text, "Operation aborted at address 0x0015");
    EXPECT_EQ(b->events.text, "start stop");
    const std::vector<uint32_t> part = b->PartFlashWords();
    for (uint32_t w = 0; w < 20; ++w)
        ASSERT_EQ(part[w], engine().FlashBuffer[w]) << "word " << w;
    for (uint32_t w = 20; w < part.size(); ++w)
        ASSERT_EQ(part[w], 0xFFFFu) << "word " << w;
}

TEST_F(Identified, AbortedEEpromWriteAndReadsKeepWhatWasDone) {
    Prepare("ATmega16");
    int steps = 0;
    engine().OnUpdateEvent = [&](TAVRisp*) { return ++steps < 7; };
    EXPECT_FALSE(engine().WriteEEprom(0, engine().EEpromSize()));
    EXPECT_EQ(b->status.text, "Operation aborted at address 0x0007");
    const std::vector<uint8_t> part = b->PartEEprom();
    for (uint32_t a = 0; a < part.size(); ++a)
        ASSERT_EQ(part[a], a < 6 ? engine().EEpromBuffer[a] : 0xFF) << "byte " << a;

    // Reads stop the same way and leave the rest of the buffer alone.
    const std::vector<uint8_t> partEE = b->PartEEprom();
    engine().FlashBuffer.fill(0x1111);
    engine().EEpromBuffer.fill(0x22);
    steps = 0;
    b->events.text.clear();
    EXPECT_FALSE(engine().ReadFlash(0, 2 * 40));
    EXPECT_EQ(b->status.text, "Operation aborted at address 0x0007");
    EXPECT_EQ(b->events.text, "start stop");
    for (uint32_t a = 0; a < 20; ++a)
        ASSERT_EQ(engine().FlashBuffer[a], a < 6 ? 0xFFFFu : 0x1111u) << a;
    steps = 0;
    EXPECT_FALSE(engine().ReadEEprom(0, 40));
    EXPECT_EQ(b->status.text, "Operation aborted at address 0x0007");
    for (uint32_t a = 0; a < 20; ++a)
        ASSERT_EQ(engine().EEpromBuffer[a], a < 6 ? partEE[a] : 0x22) << a;

    // Verification too.
    engine().FlashBuffer.fill(0xFFFF);
    std::copy(partEE.begin(), partEE.end(), engine().EEpromBuffer.begin());
    steps = 0;
    EXPECT_FALSE(engine().VerifyFlash(2 * 50));
    EXPECT_EQ(b->status.text, "Operation aborted at address 0x0007");
    steps = 0;
    EXPECT_FALSE(engine().VerifyEEprom(50));
    EXPECT_EQ(b->status.text, "Operation aborted at address 0x0007");
}

// ----------------------------------------------------------- the wire ----

TEST_F(Identified, PagedWriteSendsEachPageAfterItsLastWordWithItsWait) {
    Prepare("ATmega16");
    for (uint32_t w = 0; w < 128; ++w)
        engine().FlashBuffer[w] = 0x1100 + w;
    b->wire.Clear();
    ASSERT_TRUE(engine().WriteFlash(0, 256));
    const std::string wire = b->wire.Text();
    // Low byte before high byte, slots numbered within the page.
    EXPECT_THAT(wire, StartsWith("40 00 00 00 48 00 00 11 40 00 01 01 48 00 01 11 40 00 02 02"));
    EXPECT_THAT(wire, HasSubstr("40 00 3F 3F 48 00 3F 11 4C 00 00 11 ~100 40 00 00 40"));
    EXPECT_THAT(wire, HasSubstr("40 00 3F 7F 48 00 3F 11 4C 00 40 11 ~100"));
    EXPECT_EQ(std::count(b->wire.tokens.begin(), b->wire.tokens.end(), "~100"), 2);
    EXPECT_EQ(b->wire.waitedMs, 200u);
    EXPECT_EQ(b->wire.tokens.size(), 128u * 8 + 2 * 5) << "nothing else on the wire";
}

TEST_F(Identified, ByteProgrammedPartSkipsErasedBytesAndWaitsOutUnpollableOnes) {
    // 0xFFFF: nothing sent, 1 ms for each byte. 0x7F12: the high byte 0x7F
    // with a fixed wait at least as long as the part's longest write (it
    // reads 0x7F while busy), then the low byte polled in 1 ms steps.
    for (auto [device, wait] : {std::pair{"AT90S2313", 15u}, {"AT90S4414", 20u}}) {
        Prepare(device);
        engine().FlashBuffer[0x0010] = 0xFFFF;
        engine().FlashBuffer[0x0011] = 0x7F12;
        engine().FlashBuffer[0x0012] = 0x3456;
        b->wire.Clear();
        ASSERT_TRUE(engine().WriteFlash(0x10, 6));
        const std::string wire = b->wire.Text();
        EXPECT_THAT(wire, StartsWith("~1 ~1 48 00 11 7F ~" + std::to_string(wait) +
                                     " 40 00 11 12 20 00 11 00 ~1 20 00 11 00"))
            << device;
        EXPECT_THAT(wire, HasSubstr("48 00 12 34 28 00 12 00")) << device;
        const auto polls = std::count(b->wire.tokens.begin(), b->wire.tokens.end(), "20") +
                           std::count(b->wire.tokens.begin(), b->wire.tokens.end(), "28");
        EXPECT_GE(polls, 4) << "the part is busy for a few ms after each write";
        EXPECT_EQ(b->wire.waitedMs, 2 + wait + static_cast<uint64_t>(polls - 3)) << device;
        EXPECT_EQ(b->sim->FlashWord(0x10), 0xFFFF) << device;
        EXPECT_EQ(b->sim->FlashWord(0x11), 0x7F12) << device;
        EXPECT_EQ(b->sim->FlashWord(0x12), 0x3456) << device;
    }
}

TEST_F(Identified, ChipEraseInstructionAndItsWaits) {
    Prepare("ATmega323");
    b->wire.Clear();
    ASSERT_TRUE(engine().EraseDevice());
    // Then the first, a middle and the last Flash word must read erased.
    EXPECT_EQ(b->wire.Text(), "AC 80 00 00 ~50 R+ ~1 R- ~50 AC 53 00 00 ~50 28 00 00 00 20 00 00 00 "
                              "28 1F FF 00 20 1F FF 00 28 3F FF 00 20 3F FF 00");
    EXPECT_EQ(b->events.text, "") << "no progress, no events";
}

TEST_F(Identified, EraseReportsAPartThatNoLongerAnswers) {
    Prepare("ATmega16");
    b->sim->SetNoAnswerAfterErase(true);
    EXPECT_FALSE(engine().EraseDevice());
    EXPECT_EQ(b->status.text, "Clear AVR memory") << "the window reports the failure";
}

// A byte whose poll runs out ends the write as a failure, within the poll
// limit: a pulled cable does not keep the write going for every byte.
TEST_F(Identified, ByteWriteToAPartThatWentAwayFailsAtThePollLimit) {
    Prepare("AT90S4414");
    b->sim->Disconnect();
    engine().FlashBuffer[0] = 0xFF12;
    engine().FlashBuffer[1] = 0x3456;
    b->wire.Clear();
    EXPECT_FALSE(engine().WriteFlash(0, 4));
    EXPECT_EQ(b->status.text, "Operation aborted at address 0x0001");
    EXPECT_EQ(b->status.color, clRed);
    EXPECT_EQ(std::count(b->wire.tokens.begin(), b->wire.tokens.end(), "20"), 1001);
    EXPECT_EQ(b->wire.waitedMs, 1u + 1000u) << "the second word is not tried";
}

// ---------------------------------------------------- partial ranges ----

// Flash above 128 KB: pages on both sides of the 64 K-word line and the
// last page, written, read back and verified in both modes; the part holds
// them where they belong, and nothing landed in the lower half.
TEST_F(Identified, ExtendedAddressReachesTheUpperHalfInBothModes) {
    for (const bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast" : "normal");
        Prepare("ATmega2560", false);
        engine().SetFastMode(fast);
        ASSERT_TRUE(engine().EraseDevice());
        b->FillBuffers(fast ? 9 : 8);
        const std::vector<uint32_t> image(engine().FlashBuffer.begin(), engine().FlashBuffer.end());
        const std::pair<int32_t, int32_t> ranges[] = {{65536 - 256, 512}, {131072 - 128, 128}};
        for (const auto& [first, words] : ranges)
            ASSERT_TRUE(engine().WriteFlash(first, 2 * words)) << b->status.text;
        engine().FlashBuffer.fill(0);
        for (const auto& [first, words] : ranges)
            ASSERT_TRUE(engine().ReadFlash(first, 2 * words));
        const std::vector<uint32_t> part = b->PartFlashWords();
        for (uint32_t w = 0; w < part.size(); ++w) {
            const bool written = (w >= 65536 - 256 && w < 65536 + 256) || w >= 131072 - 128;
            ASSERT_EQ(part[w], written ? image[w] : 0xFFFFu) << "word " << w;
            if (written) {
                ASSERT_EQ(engine().FlashBuffer[w], image[w]) << "word " << w;
            }
        }
    }
}

TEST_F(Identified, PagedWriteOfARangeInsidePagesWritesExactlyThoseWords) {
    Prepare("ATmega161");
    ASSERT_TRUE(engine().WriteFlash(70, 2 * 100)); // words 70..169: three partial pages
    const std::vector<uint32_t> part = b->PartFlashWords();
    for (uint32_t w = 0; w < 256; ++w)
        ASSERT_EQ(part[w], (w >= 70 && w < 170) ? engine().FlashBuffer[w] : 0xFFFFu)
            << "word " << w;
}

TEST_F(Identified, WriteAndVerifyRangesAreKeptInsideTheBuffers) {
    Prepare("ATmega16", false);
    int steps = 0;
    engine().OnUpdateEvent = [&](TAVRisp*) {
        ++steps;
        return true;
    };
    EXPECT_TRUE(engine().WriteFlash(0, 0));
    EXPECT_EQ(b->status.text, "Done");
    EXPECT_TRUE(engine().WriteEEprom(static_cast<int32_t>(EEpromBufferBytes), 10));
    EXPECT_TRUE(engine().WriteFlash(-3, 10));
    EXPECT_EQ(steps, 0);
    engine().FlashBuffer[FlashBufferWords - 1] = 1; // beyond the part: it never reads 0x0001 there
    EXPECT_FALSE(engine().VerifyFlash(1 << 30));
    EXPECT_EQ(steps, 1) << "verification stops at the first word that differs";
    EXPECT_EQ(b->status.text, "Flash error at word address 0x1FFFF");
}

// --------------------------------------------------------------- fuses ----

struct FuseCase {
    std::string device;
    std::string wire; // instruction bytes expected, waits left out; L, H, E: the values
};

class FuseWrite : public ::testing::TestWithParam<FuseCase> {};

TEST_P(FuseWrite, WritesTheFuseBytesOfItsKindOnly) {
    SimBench b(GetParam().device);
    ASSERT_TRUE(b.Identify());
    const avrsim::PartInfo& part = b.sim->Part();
    const auto before = b.sim->Fuses();
    const auto fixed = part.fixedFuseBits;
    const uint8_t values[3] = {static_cast<uint8_t>((0xC4 & ~fixed[0]) | (before[0] & fixed[0])),
                               static_cast<uint8_t>((0x18 & ~fixed[1]) | (before[1] & fixed[1])),
                               static_cast<uint8_t>((0xFB & ~fixed[2]) | (before[2] & fixed[2]))};
    b.status.text = "unchanged";
    b.wire.Clear();
    b.events.text.clear();
    b.engine->WriteFuses(0x100 | values[2], 0x200 | values[1], 0x300 | values[0]);

    // The writes, then the read-back of each byte written.
    std::string bytes;
    for (const std::string& t : b.wire.tokens)
        if (t[0] != '~') bytes += (bytes.empty() ? "" : " ") + t;
    std::string expect;
    for (char c : GetParam().wire) {
        const int which = c == 'L' ? 0 : c == 'H' ? 1 : c == 'E' ? 2 : -1;
        if (which < 0) {
            expect += c;
            continue;
        }
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", values[which]);
        expect += hex;
    }
    EXPECT_EQ(bytes, expect);
    EXPECT_EQ(b.events.text, "");

    const uint8_t kind = b.engine->AVRfuse();
    if (kind == 0) {
        EXPECT_EQ(b.status.text, "AT90S8515 has no fuse bytes");
        EXPECT_EQ(b.wire.waitedMs, 0u);
        return;
    }
    EXPECT_EQ(b.status.text, "Fuse updated");
    EXPECT_EQ(std::count(b.wire.tokens.begin(), b.wire.tokens.end(), "~50"), 4 * kind)
        << "50 ms after each of the four bytes";
    const auto after = b.sim->Fuses();
    EXPECT_EQ(after[0], values[0]);
    if (kind >= 2) {
        EXPECT_EQ(after[1], values[1]);
    }
    EXPECT_EQ(after[2], kind >= 3 ? values[2] : before[2]);
    // The engine holds what the part reads back.
    EXPECT_EQ(b.engine->AVRlfb(), values[0]);
    EXPECT_EQ(b.engine->LastReadBack().size(), kind);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FuseWrite,
    ::testing::Values(FuseCase{"AT90S8515", ""}, FuseCase{"ATmega161", "AC A0 00 L 50 00 00 00"},
                      FuseCase{"ATmega32", "AC A0 00 L AC A8 00 H 50 00 00 00 58 08 00 00"},
                      FuseCase{"ATmega162", "AC A0 00 L AC A8 00 H AC A4 00 E "
                                            "50 00 00 00 58 08 00 00 50 08 00 00"}),
    [](const auto& info) { return info.param.device; });

// ------------------------------------------------------ fast programming ----

// SCK phase limits of a part at its clock, in whole port accesses (1 us):
// a phase of n accesses is long enough when n us exceed that many clocks.
bool PhaseSeen(uint32_t accesses, uint8_t clocks, uint32_t clockHz) {
    return uint64_t{accesses} * clockHz > uint64_t{clocks} * 1000000u;
}

// The reads a fast phase holds when the engine keeps its margin: the
// shortest number of reads after the phase's write that the part sees,
// 1.5 times over and one more.
uint32_t ReadsWithMargin(uint8_t clocks, uint32_t clockHz) {
    uint32_t shortest = 0;
    while (!PhaseSeen(shortest + 1, clocks, clockHz))
        ++shortest;
    return PaceWithMargin(shortest);
}

// Random images with most of both memories erased: fast mode writes only
// the rest, which keeps the polling (port accesses all along) short.
void SparseImages(SimBench& b, uint32_t seed) {
    b.FillBuffers(seed);
    const auto words = static_cast<std::ptrdiff_t>(b.engine->FlashSize() / 2);
    const auto bytes = static_cast<std::ptrdiff_t>(b.engine->EEpromSize());
    std::fill(b.engine->FlashBuffer.begin() + 192, b.engine->FlashBuffer.begin() + words - 64,
              0xFFFFu);
    std::fill(b.engine->EEpromBuffer.begin() + 48, b.engine->EEpromBuffer.begin() + bytes,
              uint8_t{0xFF});
}

class FastEachPart : public ::testing::TestWithParam<std::string> {};

// The whole round in fast mode: the shortest phases are found and kept with
// a margin, erase, writes, verification, read-back and fuses all work, and
// what was left unwritten in an erased part is what the images hold.
TEST_P(FastEachPart, FindsPhasesWithMarginThenWritesVerifiesReadsAndSetsFuses) {
    SimBench b(GetParam(), 1000000, false);
    std::vector<uint8_t> junk(b.sim->Flash().size(), 0x5A);
    b.sim->SetFlash(junk);
    b.sim->SetEeprom(junk);
    b.engine->SetFastMode(true);
    ASSERT_TRUE(b.Identify());
    EXPECT_EQ(b.status.text, "Atmel AVR Device found");
    ASSERT_TRUE(b.engine->FastPhasesKnown());
    const avrsim::PartInfo& part = b.sim->Part();
    EXPECT_EQ(b.engine->FastHighReads(), ReadsWithMargin(part.minHighClocks, 1000000));
    EXPECT_EQ(b.engine->FastLowReads(), ReadsWithMargin(part.minLowClocks, 1000000));

    ASSERT_TRUE(b.engine->EraseDevice());
    EXPECT_EQ(b.status.text, "Clear AVR memory");
    SparseImages(b, 11);
    const int32_t flash = b.engine->FlashSize(), eeprom = b.engine->EEpromSize();
    b.events.text.clear();
    const uint64_t busyBefore = b.sim->BusyTotal().count();
    ASSERT_TRUE(b.engine->WriteFlash(0, flash));
    EXPECT_EQ(b.status.text, "Done");
    EXPECT_EQ(b.progress.position, flash / 2);
    ASSERT_EQ(b.PartFlashWords(), b.BufferWords());
    ASSERT_TRUE(b.engine->WriteEEprom(0, eeprom));
    EXPECT_EQ(b.status.text, "Done");
    ASSERT_EQ(b.PartEEprom(), b.BufferEEprom());
    // Every write the part did was for a non-erased value.
    uint64_t writes = 0, busyUs = 0;
    if (part.Paged()) {
        for (uint32_t page = 0; page < part.FlashWords() / part.pageWords; ++page)
            writes += std::any_of(b.engine->FlashBuffer.begin() + page * part.pageWords,
                                  b.engine->FlashBuffer.begin() + (page + 1) * part.pageWords,
                                  [](uint32_t w) { return w != 0xFFFF; });
    } else {
        for (int32_t i = 0; i < flash / 2; ++i)
            writes += (b.engine->FlashBuffer[i] & 0xFF) != 0xFF;
        for (int32_t i = 0; i < flash / 2; ++i)
            writes += (b.engine->FlashBuffer[i] >> 8) != 0xFF;
    }
    busyUs = writes * part.flashBusyUs;
    busyUs += part.eepromBusyUs *
              static_cast<uint64_t>(std::count_if(b.engine->EEpromBuffer.begin(),
                                                  b.engine->EEpromBuffer.begin() + eeprom,
                                                  [](uint8_t v) { return v != 0xFF; }));
    EXPECT_EQ(static_cast<uint64_t>(b.sim->BusyTotal().count()) - busyBefore, busyUs * 1000);

    ASSERT_TRUE(b.engine->VerifyFlash(flash));
    ASSERT_TRUE(b.engine->VerifyEEprom(eeprom));
    EXPECT_EQ(b.status.text, "EEPROM is OK");
    EXPECT_EQ(b.events.text, "start stop start stop start stop start stop");
    const std::vector<uint32_t> written = b.BufferWords();
    b.engine->FlashBuffer.fill(0);
    ASSERT_TRUE(b.engine->ReadFlash(0, 1024));
    EXPECT_TRUE(std::equal(written.begin(), written.begin() + 512, b.engine->FlashBuffer.begin()));

    const uint8_t kind = b.engine->AVRfuse();
    b.status.text = "unchanged";
    const auto before = b.sim->Fuses();
    const auto fixed = part.fixedFuseBits;
    const uint8_t want[3] = {0xC4, 0x18, 0xFB};
    // The write is read back: a fixed bit (SPIEN) asked to change fails it.
    bool takes = kind != 0;
    for (uint8_t k = 0; k < kind; ++k)
        takes = takes && ((want[k] ^ before[k]) & fixed[k]) == 0;
    EXPECT_EQ(b.engine->WriteFuses(0xFB, 0x18, 0xC4), takes);
    if (kind == 0)
        EXPECT_EQ(b.status.text, GetParam() + " has no fuse bytes");
    else if (takes)
        EXPECT_EQ(b.status.text, "Fuse updated");
    else
        EXPECT_EQ(b.status.text.rfind("Fuse NOT updated: ", 0), 0u) << b.status.text;
    const auto after = b.sim->Fuses();
    for (uint8_t k = 0; k < 3; ++k)
        EXPECT_EQ(after[k], k < kind ? ((want[k] & ~fixed[k]) | (before[k] & fixed[k])) : before[k])
            << "fuse " << int(k);
    ASSERT_TRUE(b.engine->VerifyEEprom(eeprom)) << "the part is in step after the fuse writes";
}

INSTANTIATE_TEST_SUITE_P(Kinds, FastEachPart,
                         ::testing::ValuesIn(harness::OnePartOfEachKind(Within128K)),
                         [](const auto& info) { return info.param; });
INSTANTIATE_TEST_SUITE_P(AllRows, FastEachPart,
                         ::testing::ValuesIn(harness::CataloguePartNames()),
                         [](const auto& info) { return info.param; });

// A part on a 32 kHz clock, identified before fast mode is switched on: the
// bit clock found before its first fast write is slow enough for it; an
// abort stops the fast write before its next word, as in the normal mode,
// and a second write completes the image.
TEST(FastMode, SlowPartAbortMidWriteThenWholeWrite) {
    SimBench b("ATmega16", 32768, false);
    ASSERT_TRUE(b.Identify());
    EXPECT_EQ(b.engine->AVRversion(), "ATmega16");
    b.engine->SetFastMode(true);
    EXPECT_FALSE(b.engine->FastPhasesKnown());
    ASSERT_TRUE(b.engine->EraseDevice());
    ASSERT_TRUE(b.engine->FastPhasesKnown());
    EXPECT_EQ(b.engine->FastHighReads(), ReadsWithMargin(2, 32768));
    EXPECT_EQ(b.engine->FastLowReads(), ReadsWithMargin(2, 32768));
    SparseImages(b, 3);
    int steps = 0;
    b.engine->OnUpdateEvent = [&](TAVRisp* sender) {
        if (++steps == 150) sender->Abort();
        return true;
    };
    b.events.text.clear();
    EXPECT_FALSE(b.engine->WriteFlash(0, b.engine->FlashSize()));
    EXPECT_EQ(b.status.text, "Operation aborted at address 0x0096");
    EXPECT_EQ(b.status.color, clRed);
    EXPECT_EQ(b.events.text, "start stop");
    const std::vector<uint32_t> part = b.PartFlashWords();
    for (uint32_t w = 0; w < part.size(); ++w)
        ASSERT_EQ(part[w], w < 128 ? b.engine->FlashBuffer[w] : 0xFFFFu) << "word " << w;

    b.engine->OnUpdateEvent = nullptr;
    ASSERT_TRUE(b.engine->WriteFlash(0, b.engine->FlashSize()));
    ASSERT_TRUE(b.engine->WriteEEprom(0, b.engine->EEpromSize()));
    EXPECT_EQ(b.PartFlashWords(), b.BufferWords());
    EXPECT_TRUE(b.engine->VerifyEEprom(b.engine->EEpromSize()));
}

// A part busier than twice its datasheet time: the erase fails as a part
// that does not come back does, a write ends as an aborted one. The same
// part at its datasheet pace is written in full.
TEST(FastMode, PartBusyPastTwiceItsLongestTimeEndsTheOperation) {
    struct Case {
        const char* device;
        bool eraseFails; // false: the erase ends at RESET and cannot overrun
        const char* flashStop;
    };
    for (const Case& c : {Case{"ATmega16", true, "0x0040"}, Case{"ATmega162", true, "0x0040"},
                          Case{"AT90S2313", false, "0x0001"}}) {
        SCOPED_TRACE(c.device);
        SimBench b(c.device, 1000000, false);
        b.engine->SetFastMode(true);
        ASSERT_TRUE(b.Identify());
        SparseImages(b, 7);
        b.engine->FlashBuffer[0] = 0x1234;
        b.engine->EEpromBuffer[0] = 0x56;
        b.sim->SetBusyScale(2.2);
        EXPECT_EQ(b.engine->EraseDevice(), !c.eraseFails);
        b.sim->SetBusyScale(1.0);
        b.clock.Advance(std::chrono::milliseconds(100));
        ASSERT_TRUE(b.engine->EraseDevice());

        b.sim->SetBusyScale(2.2);
        b.events.text.clear();
        EXPECT_FALSE(b.engine->WriteFlash(0, b.engine->FlashSize()));
        EXPECT_EQ(b.status.text, std::string("Operation aborted at address ") + c.flashStop);
        EXPECT_EQ(b.status.color, clRed);
        EXPECT_EQ(b.events.text, "start stop");
        b.clock.Advance(std::chrono::milliseconds(100));
        EXPECT_FALSE(b.engine->WriteEEprom(0, b.engine->EEpromSize()));
        EXPECT_EQ(b.status.text, "Operation aborted at address 0x0001");

        b.sim->SetBusyScale(1.0);
        b.clock.Advance(std::chrono::milliseconds(100));
        ASSERT_TRUE(b.engine->EraseDevice());
        ASSERT_TRUE(b.engine->WriteFlash(0, b.engine->FlashSize()));
        ASSERT_TRUE(b.engine->WriteEEprom(0, b.engine->EEpromSize()));
        EXPECT_TRUE(b.engine->VerifyFlash(b.engine->FlashSize()));
        EXPECT_TRUE(b.engine->VerifyEEprom(b.engine->EEpromSize()));
    }
}

} // namespace
