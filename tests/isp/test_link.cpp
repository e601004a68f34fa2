// The engine's port layer, serial link and status/progress protocol, checked
// on a bare cable whose registers the test controls.
#include "AVRisp.h"
#include "EngineHarness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using harness::BareCable;
using harness::EventLog;
using harness::RecordingProgress;
using harness::RecordingStatus;
using harness::WireLog;

namespace {

constexpr uint8_t Sck = 1u << SckBit;
constexpr uint8_t Mosi = 1u << MosiBit;
constexpr uint8_t Reset = 1u << ResetBit;

struct LinkTest : ::testing::Test {
    // Declared before the engine: its destruction still calls the cable.
    BareCable cable;
    WireLog wire;
    RecordingStatus status;
    RecordingProgress progress;
    EventLog events;
    std::vector<uint32_t> waits;
    std::unique_ptr<TAVRisp> engine = std::make_unique<TAVRisp>();

    void SetUp() override {
        engine->SetStatus(&status);
        engine->SetProgress(&progress);
        engine->SleepHook = [this](uint32_t ms) { waits.push_back(ms); };
        events.Attach(*engine);
    }
    void Open() { ASSERT_TRUE(engine->OpenPort(cable.Entries())); }
};

TEST_F(LinkTest, NewEngineHasNoDeviceAndTouchesNoPort) {
    TAVRisp fresh;
    EXPECT_EQ(fresh.AVRversion(), "NONE");
    EXPECT_EQ(fresh.FlashSize(), 0);
    EXPECT_EQ(fresh.EEpromSize(), 0);
    EXPECT_EQ(fresh.AVRfuse(), 0);
    EXPECT_EQ(fresh.AVRlfb(), 0xFF);
    EXPECT_EQ(fresh.AVRhfb(), 0xFF);
    EXPECT_EQ(fresh.AVRefb(), 0x00);
    EXPECT_EQ(fresh.SpeedFactor(), 1u);
    EXPECT_FALSE(fresh.PortOpen());
    EXPECT_EQ(fresh.PortBase(), 0x378u);
    EXPECT_EQ(fresh.FlashBuffer.size(), 131072u) << "256 KB of Flash";
    EXPECT_EQ(fresh.EEpromBuffer.size(), 8192u);
    for (uint32_t w : fresh.FlashBuffer)
        ASSERT_EQ(w, 0u);
    for (uint8_t b : fresh.EEpromBuffer)
        ASSERT_EQ(b, 0u);
}

TEST_F(LinkTest, OpenPortGrantedShowsReadyAndResetsProgress) {
    progress.position = 40;
    EXPECT_TRUE(engine->OpenPort(cable.Entries()));
    EXPECT_TRUE(engine->PortOpen());
    EXPECT_EQ(status.text, "ISP interface is ready");
    EXPECT_EQ(status.color, clNavy);
    EXPECT_EQ(progress.position, 0);
    EXPECT_EQ(events.text, "") << "opening the port fires no start or stop event";
    EXPECT_TRUE(cable.dataWrites.empty()) << "opening leaves the lines as they are";
    engine.reset();
    EXPECT_EQ(cable.shutdowns, 1);
}

TEST_F(LinkTest, RefusedOrIncompleteLibraryLeavesPortClosedAndSilent) {
    cable.initResult = 0;
    EXPECT_FALSE(engine->OpenPort(cable.Entries()));
    EXPECT_EQ(status.text, "ISP interface NOT initialised");
    EXPECT_EQ(status.color, clRed);

    // A library missing one entry is never asked for access.
    BareCable partial;
    bool initCalled = false;
    TPortEntries entries = partial.Entries();
    entries.InitializeWinIo = [&] {
        initCalled = true;
        return 1;
    };
    entries.SetPortVal = nullptr;
    TAVRisp other;
    other.SetStatus(&status);
    EXPECT_FALSE(other.OpenPort(entries));
    EXPECT_FALSE(initCalled);
    EXPECT_EQ(status.text, "ISP interface NOT initialised");

    // Every access is then a no-op that reads 0.
    for (uint32_t address : {0x378u, 0x379u, 0x37Au, 0u, 0xFFFFu})
        EXPECT_EQ(engine->ReadPort(address), 0);
    engine->SetUpperLines();
    engine->SendByte(0xFF);
    cable.status = 0xFF;
    EXPECT_EQ(engine->ReceiveByte(), 0x00);
    EXPECT_TRUE(cable.dataWrites.empty());
    EXPECT_EQ(cable.statusReads, 0u);
    engine.reset();
    EXPECT_EQ(cable.shutdowns, 0) << "a port never opened is not shut down";
}

TEST_F(LinkTest, ReadPortTakesLowByteAndReadsZeroOnFailure) {
    Open();
    cable.data = 0x5A;
    EXPECT_EQ(engine->ReadPort(0x378), 0x5A);
    EXPECT_EQ(engine->ReadPort(0x37B), 0x00) << "the library refuses this address";
    engine->WritePort(0x378, 0xC3);
    EXPECT_EQ(cable.data, 0xC3);
}

TEST_F(LinkTest, EachLinePrimitiveChangesOnlyItsOwnBits) {
    Open();
    struct Case {
        void (TAVRisp::*op)();
        uint8_t from, to;
    };
    const Case cases[] = {
        {&TAVRisp::SetRESET, 0xF4, 0xF6},
        {&TAVRisp::ClearUpperLines, 0xF6, 0x06},
        {&TAVRisp::SetSCK, 0x00, Sck},
        {&TAVRisp::ClearSCK, 0xFF, uint8_t(~Sck)},
        {&TAVRisp::SetMOSI, 0x81, 0x81 | Mosi},
        {&TAVRisp::ClearMOSI, 0xFF, uint8_t(~Mosi)},
        {&TAVRisp::ClearRESET, 0xFF, uint8_t(~Reset)},
        {&TAVRisp::SetUpperLines, 0x0B, 0xFB},
    };
    for (const Case& c : cases) {
        cable.data = c.from;
        cable.dataWrites.clear();
        ((*engine).*(c.op))();
        ASSERT_EQ(cable.dataWrites.size(), 1u);
        EXPECT_EQ(cable.dataWrites[0], c.to) << "from " << int(c.from);
    }
}

TEST_F(LinkTest, MisoIsStatusBitSixWithoutInversion) {
    Open();
    cable.status = 0x40;
    EXPECT_TRUE(engine->GetMISO());
    cable.status = 0xBF;
    EXPECT_FALSE(engine->GetMISO());
}

TEST_F(LinkTest, SendByteShiftsMostSignificantBitFirstAndLeavesLinesLow) {
    cable.data = 0xF0 | Sck | Mosi;
    ASSERT_TRUE(engine->OpenPort(wire.Wrap(cable.Entries())));
    engine->SendByte(0xA5);
    EXPECT_EQ(wire.Text(), "A5");
    EXPECT_EQ(cable.data, 0xF0) << "SCK and MOSI low, upper lines kept";

    // MOSI level at each rising edge of SCK.
    std::string bits;
    uint8_t last = 0xF0;
    for (uint8_t v : cable.dataWrites) {
        if ((v & Sck) && !(last & Sck)) bits += (v & Mosi) ? '1' : '0';
        last = v;
    }
    EXPECT_EQ(bits, "10100101");
}

TEST_F(LinkTest, ReceiveByteSamplesMisoBeforeEachRisingEdge) {
    Open();
    // A part shifting out 0x3C: its next bit appears after each falling edge.
    const uint8_t answer = 0x3C;
    int falls = 0;
    uint8_t last = cable.data;
    cable.miso = [&] {
        for (std::size_t i = 0; i < cable.dataWrites.size(); ++i) {
            const uint8_t v = cable.dataWrites[i];
            if ((last & Sck) && !(v & Sck)) ++falls;
            last = v;
        }
        cable.dataWrites.erase(cable.dataWrites.begin(), cable.dataWrites.end());
        return falls < 8 && ((answer >> (7 - falls)) & 1) != 0;
    };
    EXPECT_EQ(engine->ReceiveByte(), answer);
    EXPECT_EQ(cable.data & (Sck | Mosi), 0);

    cable.miso = nullptr;
    cable.status = 0x40;
    cable.dataWrites.clear();
    EXPECT_EQ(engine->ReceiveByte(), 0xFF);
    for (uint8_t v : cable.dataWrites)
        EXPECT_EQ(v & Mosi, 0) << "MOSI is not touched while receiving";
}

TEST_F(LinkTest, BitClockIsPacedByStatusReadsTimesSpeedFactor) {
    Open();
    cable.status = 0x40; // empty cable: every byte reads 0xFF
    // One failed attempt raises SpeedFactor to 11; the update event of the
    // second attempt stops the identification there.
    int updates = 0;
    engine->OnUpdateEvent = [&](TAVRisp*) { return ++updates < 2; };
    EXPECT_FALSE(engine->Identify());
    ASSERT_EQ(engine->SpeedFactor(), 11u);

    cable.statusReads = 0;
    engine->Delay(2);
    EXPECT_EQ(cable.statusReads, 22u);
    cable.statusReads = 0;
    engine->Delay(0);
    EXPECT_EQ(cable.statusReads, 0u);

    // SCK is high for two delay units and low for one before and one after.
    cable.statusReads = 0;
    cable.dataWrites.clear();
    cable.statusReadsAtWrite.clear();
    engine->ClockPulse();
    ASSERT_EQ(cable.dataWrites.size(), 2u);
    EXPECT_EQ(cable.dataWrites[0] & Sck, Sck);
    EXPECT_EQ(cable.dataWrites[1] & Sck, 0);
    EXPECT_EQ(cable.statusReadsAtWrite[0], 11u);
    EXPECT_EQ(cable.statusReadsAtWrite[1] - cable.statusReadsAtWrite[0], 22u);
    EXPECT_EQ(cable.statusReads, 44u);
}

TEST_F(LinkTest, ShowStatusColoursInformationNavyAndAnythingElseRed) {
    engine->ShowStatus("a", skInformation);
    EXPECT_EQ(status.color, 0x800000u);
    for (uint8_t kind : {0, 2, 255}) {
        status.color = 0;
        engine->ShowStatus("b", kind);
        EXPECT_EQ(status.color, 0x0000FFu);
        EXPECT_EQ(status.text, "b");
    }
    TAVRisp bare; // no panel attached: nothing to show, nothing breaks
    bare.ShowStatus("c", skError);
}

TEST_F(LinkTest, ProgressProtocolCountsStepsAndReportsAbortPosition) {
    progress.position = 50;
    engine->StartProgress(0);
    EXPECT_EQ(events.text, "") << "no steps, no start event";
    EXPECT_EQ(progress.position, 0);

    progress.min = 3;
    engine->StartProgress(10);
    EXPECT_EQ(events.text, "start");
    EXPECT_EQ(progress.max, 10);
    EXPECT_EQ(progress.position, 3) << "back to the minimum, wherever that is";
    EXPECT_TRUE(engine->StepProgress()) << "an empty update event counts as true";
    EXPECT_EQ(progress.position, 4);

    bool keepGoing = false;
    engine->OnUpdateEvent = [&](TAVRisp* sender) {
        EXPECT_EQ(sender, engine.get());
        return keepGoing;
    };
    EXPECT_FALSE(engine->StepProgress());
    EXPECT_EQ(events.text, "start stop");
    EXPECT_EQ(status.text, "Operation aborted at address 0x0005");
    EXPECT_EQ(status.color, clRed);

    // Abort() requested from inside the update event stops the next step.
    keepGoing = true;
    engine->OnUpdateEvent = [&](TAVRisp* sender) {
        sender->Abort();
        return true;
    };
    EXPECT_FALSE(engine->StepProgress());
    EXPECT_EQ(engine->AbortRequest(), 0) << "the stop clears the request";

    // A request made while nothing runs is cleared by the next start.
    engine->OnUpdateEvent = nullptr;
    engine->Abort();
    engine->StartProgress(2);
    EXPECT_TRUE(engine->StepProgress());

    // Without a progress bar the position reported is 0.
    engine->SetProgress(nullptr);
    engine->Abort();
    EXPECT_FALSE(engine->StepProgress());
    EXPECT_EQ(status.text, "Operation aborted at address 0x0000");
}

TEST_F(LinkTest, WithoutAPartEraseWriteAndVerifyAreRefusedAndReadsRunOverNothing) {
    Open();
    cable.dataWrites.clear();
    EXPECT_FALSE(engine->EraseDevice());
    EXPECT_FALSE(engine->WriteFlash(0, 0));
    EXPECT_FALSE(engine->WriteEEprom(0, 16));
    EXPECT_FALSE(engine->VerifyFlash(0));
    EXPECT_FALSE(engine->VerifyEEprom(0));
    EXPECT_EQ(status.text, "Atmel AVR Device NOT found");
    EXPECT_EQ(status.color, clRed);
    EXPECT_EQ(events.text, "") << "a refused operation starts nothing";
    EXPECT_TRUE(cable.dataWrites.empty()) << "nothing reaches the cable";
    EXPECT_TRUE(engine->ReadEEprom(0, -5));
    EXPECT_EQ(events.text, "stop");
}

TEST_F(LinkTest, ReadRangesAreKeptInsideTheBuffers) {
    Open();
    int steps = 0;
    engine->OnUpdateEvent = [&](TAVRisp*) {
        ++steps;
        return true;
    };
    EXPECT_TRUE(engine->ReadFlash(FlashBufferWords - 6, 100));
    EXPECT_EQ(steps, 6);
    steps = 0;
    EXPECT_TRUE(engine->ReadEEprom(EEpromBufferBytes - 8, 100));
    EXPECT_EQ(steps, 8);
}

TEST(PortLibraryChoice, NamesResolveBesideTheExecutableThenInTheInstalledFolder) {
    using V = std::vector<std::string>;
    // Installed under the prefix /opt/q, outside bin/, with ".." folded away.
    const std::string inst = PortLibraryCandidates("sim", "/opt/q/bin").at(1);
    EXPECT_EQ(inst.rfind("/opt/q/", 0), 0u) << inst;
    EXPECT_NE(inst.rfind("/opt/q/bin/", 0), 0u) << inst;
    EXPECT_EQ(inst.find(".."), std::string::npos) << inst;
    const std::string dir = inst.substr(0, inst.rfind('/') + 1);
    EXPECT_EQ(inst, dir + "libportio-sim.so");

    EXPECT_EQ(PortLibraryCandidates(nullptr, "/opt/q/bin"),
              (V{"/opt/q/bin/libportio-lpt.so", dir + "libportio-lpt.so", "libportio-lpt.so"}));
    EXPECT_EQ(PortLibraryCandidates("", "/opt/q/bin"),
              (V{"/opt/q/bin/libportio-lpt.so", dir + "libportio-lpt.so", "libportio-lpt.so"}));
    EXPECT_EQ(PortLibraryCandidates("lpt", ""), (V{"libportio-lpt.so"}));
    EXPECT_EQ(PortLibraryCandidates("/x/my.so", "/opt/q/bin"), (V{"/x/my.so"}));
    EXPECT_EQ(PortLibraryCandidates("./my.so", "/opt/q/bin"), (V{"./my.so"}));
    EXPECT_EQ(PortLibraryCandidates("libother.so", "/opt/q/bin"),
              (V{"/opt/q/bin/libother.so", dir + "libother.so", "libother.so"}));
}

TEST(PortLibraryChoice, ExecutableDirIsTheFolderOfThisTest) {
    const std::string dir = ExecutableDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.front(), '/');
    EXPECT_NE(dir.back(), '/');
}

// The variable is process-wide: restore it whatever the test does.
struct PortVariable {
    explicit PortVariable(const char* value) {
        if (const char* old = std::getenv(PortLibraryVariable)) saved = old, had = true;
        setenv(PortLibraryVariable, value, 1);
    }
    ~PortVariable() {
        if (had)
            setenv(PortLibraryVariable, saved.c_str(), 1);
        else
            unsetenv(PortLibraryVariable);
    }
    std::string saved;
    bool had = false;
};

TEST(PortLibraryLoading, MissingLibraryLeavesInterfaceUninitialised) {
    PortVariable var("/nonexistent/libportio-none.so");
    RecordingStatus status;
    TAVRisp engine;
    engine.SetStatus(&status);
    EXPECT_FALSE(engine.OpenPort());
    EXPECT_FALSE(engine.PortOpen());
    EXPECT_EQ(status.text, "ISP interface NOT initialised");
    EXPECT_EQ(status.color, clRed);
    EXPECT_EQ(engine.ReadPort(0x379), 0);
}

TEST(PortLibraryLoading, LibraryWithoutTheEntriesIsRefused) {
    PortVariable var("libm.so.6"); // loads, but exports none of the four entries
    RecordingStatus status;
    TAVRisp engine;
    engine.SetStatus(&status);
    EXPECT_FALSE(engine.OpenPort());
    EXPECT_EQ(engine.PortLibraryPath(), "libm.so.6");
    EXPECT_EQ(status.text, "ISP interface NOT initialised");
    EXPECT_EQ(engine.PortError(), "libm.so.6 is not a port library: an entry is missing");
}

} // namespace

// The catalogue text: a faulty row refuses the whole text and names the row.
TEST(DeviceCatalogue, FaultyRowRefusesTheWholeTextAndNamesTheRow) {
    const std::string good =
        "# two parts\n"
        "[Small parts]\n"
        "PartA/PartA2 1E 90 07 1024 16 64 LH 4500 4000 9000 4500 ready - FF FF self\n"
        "\n"
        "  [ Old parts ]  # byte-written\n"
        "PartB 1E 91 01 2048 -  128 none 9000 9000 20000 0 data 7F 80 7F reset # old\n";
    std::vector<TAVRdesc> rows;
    std::string error;
    ASSERT_TRUE(ParseDeviceTable(good, rows, error)) << error;
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].Name, "NONE");
    EXPECT_EQ(rows[1].Name, "PartA");
    EXPECT_EQ(rows[1].Names, "PartA/PartA2");
    EXPECT_EQ(PartNames(rows[1]), (std::vector<std::string_view>{"PartA", "PartA2"}));
    EXPECT_EQ(rows[1].Family, "Small parts");
    EXPECT_EQ(rows[2].Family, "Old parts");
    EXPECT_EQ(rows[1].PageWords, 16);
    EXPECT_EQ(rows[1].FuseKind, 2);
    EXPECT_EQ(rows[1].Poll, TPollMethod::ReadyBusy);
    EXPECT_EQ(rows[1].FlashPollValue, 0xFF) << "no published answer";
    EXPECT_FALSE(rows[1].EraseEndsAtReset);
    EXPECT_EQ(rows[2].EEpromPollErase, 0x80);
    EXPECT_EQ(rows[2].UnpolledWriteMs, 15);

    const std::string row = " 1E 92 01 4096 32 256 LHE 4500 3600 9000 4500 ready FF FF FF self\n";
    const std::vector<std::pair<std::string, std::string>> faulty{
        {good + "PartC 1E 92 01 4096 32 256 LHE 4500 3600 9000 4500 ready FF FF FF\n",
         "line 7 (PartC): missing field \"erase\""},
        {good + "PartC 1E 91 01 4096 32 256 LHE 4500 3600 9000 4500 ready FF FF FF self\n",
         "line 7 (PartC): same signature as line 6 (PartB)"},
        {good + "PartC/PartA2" + row, "line 7 (PartC/PartA2): same name PartA2 as line 3 (PartA)"},
        {good + "PartC//PartD" + row,
         "line 7 (PartC//PartD): names \"PartC//PartD\" hold an empty"},
        {good + "PartC 1E 92 01 4000 32 256 LHE 4500 3600 9000 4500 ready FF FF FF self\n",
         "line 7 (PartC): page of 32 words does not divide the flash of 4000 bytes"},
        {good + "PartC 1E 92 01 4096 24 256 LHE 4500 3600 9000 4500 ready FF FF FF self\n",
         "line 7 (PartC): page 24 is not a power of two"},
        {good + "PartC 1E 92 01 4096 32 99999 LHE 4500 3600 9000 4500 ready FF FF FF self\n",
         "line 7 (PartC): eeprom 99999 is not between 1 and "},
        {good + "PartC 1E 92 0G 4096 32 256 LHE 4500 3600 9000 4500 ready FF FF FF self\n",
         "line 7 (PartC): signature byte 2 \"0G\" is not a hex byte"},
        {good + "PartC 1E 92 01 4096 32 256 LHE 4500 3600 9000 4500 data FF - FF self\n",
         "line 7 (PartC): a busy answer \"-\" leaves a data-polled part nothing to poll for"},
        {"PartC" + row, "line 1 (PartC): no family heading above the row"},
        {good + "[]\n", "line 7: a family heading is a name in brackets"},
        {"# nothing\n[Empty]\n", "no part in the catalogue"},
    };
    for (const auto& [text, message] : faulty) {
        rows.assign(2, rows[1]);
        EXPECT_FALSE(ParseDeviceTable(text, rows, error)) << message;
        EXPECT_TRUE(rows.empty()) << message;
        EXPECT_EQ(error.substr(0, message.size()), message);
    }
}
