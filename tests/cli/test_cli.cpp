// The command-line programmer run in process against a simulated part on a
// virtual clock: each command's effect on the part, and its refusals.
#include "CliBench.h"

#include "MemoryImage.h"

#include <algorithm>
#include <regex>
#include <set>

namespace {

using namespace clibench;

const fs::path Data = QUILLON_TEST_DATA;

// The part's Flash compared with an image file: the image's bytes, and
// erased bytes beyond it.
void ExpectFlashHolds(const avrsim::SimTarget& sim, const std::vector<uint8_t>& image) {
    ASSERT_LE(image.size(), sim.Flash().size());
    for (std::size_t i = 0; i < sim.Flash().size(); ++i) {
        const uint8_t want = i < image.size() ? image[i] : 0xFF;
        ASSERT_EQ(sim.Flash()[i], want) << "at byte 0x" << std::hex << i;
    }
}

TEST(CommandLine, ParsesEachCommandAndRefusesWrongUsage) {
    std::string error;
    auto w = cli::ParseCommandLine({"write", "a.hex", "b.bin"}, error);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->verb, cli::TVerb::vbWrite);
    EXPECT_EQ(w->files, (std::vector<std::string>{"a.hex", "b.bin"}));
    EXPECT_FALSE(w->fast);
    for (const auto& args : {std::vector<std::string>{"--fast", "write", "a.hex", "b.bin"},
                             std::vector<std::string>{"write", "a.hex", "--fast", "b.bin"}}) {
        const auto fw = cli::ParseCommandLine(args, error);
        ASSERT_TRUE(fw);
        EXPECT_TRUE(fw->fast);
        EXPECT_EQ(fw->files, w->files);
    }

    auto f = cli::ParseCommandLine({"fuses", "e1", "0x99", "F"}, error);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->fuses, (std::vector<uint8_t>{0xE1, 0x99, 0x0F}));

    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"program", "a.hex"},
        {"write"},
        {"write", "a", "b", "c"},
        {"identify", "extra"},
        {"lock", "1", "2"},
        {"erase", "x"},
        {"write-eeprom"},
        {"write", "a.hex", "--allow-lockout"},
        {"read", ""},
        {"read", "--truncate", "f.bin"},
        {"identify", "--bogus"},
    };
    for (const auto& args : wrong) {
        error.clear();
        EXPECT_FALSE(cli::ParseCommandLine(args, error)) << (args.empty() ? "" : args[0]);
        EXPECT_FALSE(error.empty());
    }

    // A value that is not a hex byte, or a fourth fuse byte: one line naming
    // it, exit 1, and nothing sent to the part.
    Cable c("ATmega328P");
    const std::vector<std::pair<std::vector<std::string>, std::string>> values = {
        {{"fuses", "100"}, "'100'"},   {{"fuses", "0x"}, "'0x'"},
        {{"fuses", "62", "G1"}, "'G1'"}, {{"lock", "1FF"}, "'1FF'"},
        {{"fuses", "1", "2", "3", "4"}, "'4'"},
    };
    for (const auto& [args, named] : values) {
        const auto v = cli::ParseCommandLine(args, error);
        ASSERT_TRUE(v) << error;
        EXPECT_EQ(v->valueError.rfind(named, 0), 0u) << v->valueError;
        EXPECT_EQ(c.Run(args), cli::ExitFailed);
        EXPECT_EQ(c.err.str(), "quillon-isp: " + v->valueError + "\n");
    }
    EXPECT_EQ(c.sim->ClockedBits(), 0u);

    auto t = cli::ParseCommandLine({"write", "a.bin", "--truncate"}, error);
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->truncate);
    EXPECT_EQ(t->files, std::vector<std::string>{"a.bin"});
    for (const char* help : {"--help", "-h"}) {
        auto h = cli::ParseCommandLine({"write", help}, error);
        ASSERT_TRUE(h);
        EXPECT_TRUE(h->help);
    }
}

TEST(CommandLine, IdentifyPrintsTheDeviceAndItsFuses) {
    Cable c("ATmega32");
    c.sim->SetFuses(0xE1, 0x99, 0xFF);
    ASSERT_EQ(c.Run({"identify"}), cli::ExitOk);
    EXPECT_NE(c.out.str().find("Device: ATmega32\n"), std::string::npos) << c.out.str();
    EXPECT_NE(c.out.str().find("Flash: 32768 bytes (0x8000)"), std::string::npos);
    EXPECT_NE(c.out.str().find("EEPROM: 1024 bytes (0x0400)"), std::string::npos);
    EXPECT_NE(c.out.str().find("Fuse low: 0xE1\nFuse high: 0x99\n"), std::string::npos);
    EXPECT_EQ(c.out.str().find("Fuse extended"), std::string::npos);
}

TEST(CommandLine, NoPartOrAForeignPartFailsWithTheStatusText) {
    Cable none("none");
    EXPECT_EQ(none.Run({"identify"}), cli::ExitFailed);
    EXPECT_NE(none.out.str().find("Atmel Device NOT found"), std::string::npos);
    EXPECT_NE(none.err.str().find("Atmel Device NOT found"), std::string::npos);

    Cable foreign("ATtiny12");
    TempFolder dir;
    EXPECT_EQ(foreign.Run({"read", (dir / "unused.bin").string()}), cli::ExitFailed);
    EXPECT_NE(foreign.err.str().find("Atmel AVR Device NOT found"), std::string::npos);
    EXPECT_NE(foreign.err.str().find("signature 1E 90 05"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "unused.bin"));
}

TEST(CommandLine, PartsListsTheCatalogueByFamilyWithoutTouchingThePart) {
    Cable c("ATtiny85");
    ASSERT_EQ(c.Run({"parts"}), cli::ExitOk);
    const std::string out = c.out.str();
    std::set<std::string_view> families;
    for (const TAVRdesc& d : AVRDeviceTable)
        if (!d.Family.empty()) families.insert(d.Family);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'),
              static_cast<long>(AVRDeviceTable.size() + families.size()))
        << "a header, a line per family and one per row";
    const std::regex row("\n  (\\S+) +(.. .. ..) +(\\d+) +(\\S+) +(\\d+)  (\\S+)(?=\n)");
    std::vector<std::string> rows;
    for (auto m = std::sregex_iterator(out.begin(), out.end(), row); m != std::sregex_iterator();
         ++m)
        rows.push_back((*m)[1].str() + " " + (*m)[2].str() + " " + (*m)[3].str() + " " +
                       (*m)[4].str() + " " + (*m)[5].str() + " " + (*m)[6].str());
    ASSERT_EQ(rows.size(), AVRDeviceTable.size() - 1);
    EXPECT_EQ(rows.front(), "AT90S1200 1E 90 01 1024 - 64 none");
    EXPECT_NE(std::find(rows.begin(), rows.end(), "ATmega16/ATmega16A 1E 94 03 16384 64 512 L/H"),
              rows.end());
    EXPECT_NE(std::find(rows.begin(), rows.end(), "ATmega2560 1E 98 01 262144 128 4096 L/H/E"),
              rows.end());
    EXPECT_EQ(out.find("AT90S\n  AT90S1200 "), out.find('\n') + 1) << "the first family";
    EXPECT_NE(out.find("\nATtiny\n  ATtiny13/ATtiny13A "), std::string::npos);
    EXPECT_EQ(c.sim->ClockedBits(), 0u);
}

TEST(CommandLine, WritesReadsAndVerifiesAPagedPart) {
    Cable c("ATmega16");
    ASSERT_EQ(
        c.Run({"write", (Data / "blink_m16.hex").string(), (Data / "blink_m16_ee.bin").string()}),
        cli::ExitOk)
        << c.err.str();
    EXPECT_NE(c.out.str().find("AVR memory is OK"), std::string::npos);
    ExpectFlashHolds(*c.sim, FileBytes(Data / "blink_m16.bin"));
    const auto ee = FileBytes(Data / "blink_m16_ee.bin");
    ASSERT_FALSE(ee.empty());
    for (std::size_t j = 0; j < c.sim->Eeprom().size(); ++j)
        ASSERT_EQ(c.sim->Eeprom()[j], j < ee.size() ? ee[j] : 0xFF) << j;

    EXPECT_EQ(c.Run({"verify", (Data / "blink_m16.bin").string()}), cli::ExitOk) << c.err.str();

    TempFolder dir;
    ASSERT_EQ(c.Run({"read", (dir / "f.bin").string(), (dir / "e.hex").string()}), cli::ExitOk);
    EXPECT_EQ(FileBytes(dir / "f.bin"),
              std::vector<uint8_t>(c.sim->Flash().begin(), c.sim->Flash().end()));
    std::array<uint8_t, 512> back{};
    const auto loaded = imagefile::LoadEEpromImage(dir / "e.hex", back.size(), back);
    EXPECT_TRUE(loaded.Accepted());
    EXPECT_TRUE(std::equal(back.begin(), back.end(), c.sim->Eeprom().begin()));
}

TEST(CommandLine, WriteWithoutEEpromImageErasesTheEEpromAndVerifiesIt) {
    Cable c("AT90S2313");
    std::vector<uint8_t> old(128, 0x11);
    c.sim->SetEeprom(old);
    ASSERT_EQ(c.Run({"write", (Data / "count_2313_lf.hex").string()}), cli::ExitOk) << c.err.str();
    // The binary image has one odd byte more than the HEX file.
    auto image = FileBytes(Data / "count_2313.bin");
    image.resize(120);
    ExpectFlashHolds(*c.sim, image);
    for (uint8_t b : c.sim->Eeprom())
        ASSERT_EQ(b, 0xFF);
}

TEST(CommandLine, WriteWithoutEEpromImageLeavesThePartsEEpromAsTheEraseLeftIt) {
    Cable c("ATmega16");
    c.sim->SetFuses(0xE1, 0x91, 0xFF); // EESAVE programmed: the erase keeps the EEPROM
    c.sim->SetEeprom(std::vector<uint8_t>(512, 0x42));
    EXPECT_EQ(c.Run({"write", (Data / "blink_m16.bin").string()}), cli::ExitFailed);
    EXPECT_EQ(c.out.str().find("Writting data to EEPROM memory"), std::string::npos) << c.out.str();
    EXPECT_NE(c.out.str().find("Verifying data in EEPROM memory"), std::string::npos);
    EXPECT_NE(c.err.str().find("Error in EEPROM"), std::string::npos);
    for (uint8_t b : c.sim->Eeprom())
        ASSERT_EQ(b, 0x42);
    ExpectFlashHolds(*c.sim, FileBytes(Data / "blink_m16.bin"));
}

TEST(CommandLine, VerifyReportsADifferingPart) {
    Cable c("ATmega16");
    ASSERT_EQ(c.Run({"write", (Data / "blink_m16.bin").string()}), cli::ExitOk);
    auto flash = FileBytes(Data / "blink_m16.bin");
    flash[6] ^= 0x01;
    c.sim->SetFlash(flash);
    EXPECT_EQ(c.Run({"verify", (Data / "blink_m16.bin").string()}), cli::ExitFailed);
    EXPECT_NE(c.out.str().find("Flash error at word address 0x0003"), std::string::npos)
        << c.out.str();
    EXPECT_NE(c.err.str().find("Error in Flash"), std::string::npos);
}

TEST(CommandLine, ARefusedImageEndsTheCommandBeforeThePartIsErased) {
    Cable c("ATmega16");
    std::vector<uint8_t> program(200, 0x5A);
    c.sim->SetFlash(program);
    TempFolder dir;
    const fs::path bad = dir / "bad.hex";
    std::ofstream(bad) << ":0200000001FF\n"; // wrong checksum
    EXPECT_EQ(c.Run({"write", bad.string()}), cli::ExitFailed);
    EXPECT_NE(c.err.str().find("HEX file error or file too long"), std::string::npos);
    EXPECT_EQ(c.Run({"write", "/nonexistent/flash.bin"}), cli::ExitFailed);
    EXPECT_NE(c.err.str().find("Flash file Error."), std::string::npos);
    EXPECT_EQ(c.sim->Flash()[0], 0x5A);
}

TEST(CommandLine, ATooLongImageIsRefusedUnlessTruncateAcceptsTheCut) {
    Cable c("AT90S1200");
    TempFolder dir;
    const fs::path big = dir / "big.bin";
    std::vector<uint8_t> image(1100);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 7);
    std::ofstream(big, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), 1100);
    const std::vector<uint8_t> program(1024, 0x5A);
    c.sim->SetFlash(program);
    for (const char* verb : {"write", "verify"}) {
        EXPECT_EQ(c.Run({verb, big.string()}), cli::ExitFailed) << verb;
        EXPECT_NE(c.err.str().find("Flash file too long (the part holds 1024 bytes"),
                  std::string::npos)
            << c.err.str();
        ExpectFlashHolds(*c.sim, program);
    }
    ASSERT_EQ(c.Run({"write", "--truncate", big.string()}), cli::ExitOk) << c.err.str();
    EXPECT_NE(c.err.str().find("Flash file too long (only its first 1024 bytes"),
              std::string::npos);
    image.resize(1024);
    ExpectFlashHolds(*c.sim, image);
}

TEST(CommandLine, OnATerminalOnlyMemoryTransfersDrawAProgressBar) {
    Cable c("ATmega16");
    std::ostringstream bar;
    cli::TConsoleProgress progress(bar, true);
    c.status.SetProgress(&progress);
    c.engine.SetProgress(&progress);
    TempFolder dir;
    ASSERT_EQ(c.Run({"read", (dir / "f.bin").string()}), cli::ExitOk);
    progress.Finish();
    EXPECT_EQ(bar.str().find("/100"), std::string::npos) << "identification drew a bar";
    EXPECT_NE(bar.str().find("] 8192/8192\n"), std::string::npos) << bar.str();
    c.engine.SetProgress(nullptr);
    c.status.SetProgress(nullptr);
}

TEST(CommandLine, FusesWritesTheBytesThePartHas) {
    Cable m162("ATmega162");
    EXPECT_EQ(m162.Run({"fuses", "E2", "D9", "F9"}), cli::ExitOk) << m162.err.str();
    EXPECT_EQ(m162.sim->Fuses(), (std::array<uint8_t, 3>{0xE2, 0xD9, 0xF9}));
    EXPECT_NE(m162.out.str().find("Fuse updated"), std::string::npos);

    Cable m32("ATmega32");
    EXPECT_EQ(m32.Run({"fuses", "E2"}), cli::ExitFailed);
    EXPECT_NE(m32.err.str().find("give LOW HIGH"), std::string::npos);
    EXPECT_EQ(m32.Run({"fuses", "E2", "89"}), cli::ExitOk);
    EXPECT_EQ(m32.sim->Fuses()[0], 0xE2);
    EXPECT_EQ(m32.sim->Fuses()[1], 0x89);

    Cable s8515("AT90S8515");
    EXPECT_EQ(s8515.Run({"fuses", "E2"}), cli::ExitFailed);
    EXPECT_NE(s8515.err.str().find("has no fuse bytes"), std::string::npos);
}

TEST(CommandLine, ReleaseLeavesThePartRunning) {
    Cable c("ATmega16");
    ASSERT_EQ(c.Run({"release"}), cli::ExitOk);
    EXPECT_FALSE(c.sim->Armed());
    EXPECT_NE(c.out.str().find("AVR device released"), std::string::npos);
}

} // namespace
