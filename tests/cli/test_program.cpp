// quillon-isp as a user runs it: the built program on the simulated part of
// the port library, whose memories are kept in a state folder between runs.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <stdlib.h>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

const fs::path Data = QUILLON_TEST_DATA;
const fs::path Program = fs::path(QUILLON_BIN_DIR) / "quillon-isp";

std::vector<uint8_t> FileBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Result {
    int code = -1;
    std::string output; // standard output and standard error together
};

class Program_ : public ::testing::Test {
protected:
    void SetUp() override {
        // A folder of its own, so that runs of the suite side by side never meet.
        std::string name = (fs::temp_directory_path() / "quillon-isp-XXXXXX").string();
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        state = name;
    }
    void TearDown() override { fs::remove_all(state); }

    // errors: where standard error goes; by default with standard output.
    // env: further variables for the simulated part, "NAME=value ...".
    Result Run(const std::string& device, const std::string& args,
               const std::string& errors = "2>&1", const std::string& env = "") {
        const std::string cmd = "cd '" + state.string() + "' && " + env +
                                " QUILLON_PORTIO=sim QUILLON_SIM_DEVICE=" + device +
                                " QUILLON_SIM_STATE='" + state.string() + "' '" + Program.string() +
                                "' " + args + " " + errors;
        Result r;
        FILE* p = popen(cmd.c_str(), "r");
        if (!p) return r;
        std::array<char, 4096> buf;
        std::size_t n;
        while ((n = fread(buf.data(), 1, buf.size(), p)) > 0)
            r.output.append(buf.data(), n);
        const int status = pclose(p);
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return r;
    }

    fs::path state;
};

TEST_F(Program_, ProgramsAPagedPartAndKeepsItBetweenRuns) {
    auto r = Run("ATmega16", "write '" + (Data / "blink_m16_lf.hex").string() + "' '" +
                                 (Data / "blink_m16_ee.hex").string() + "'");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("Atmel AVR Device found"), std::string::npos);
    EXPECT_NE(r.output.find("Writting data to Flash memory"), std::string::npos);
    EXPECT_NE(r.output.find("AVR memory is OK"), std::string::npos);

    auto flash = FileBytes(state / "flash.bin");
    const auto image = FileBytes(Data / "blink_m16.bin");
    ASSERT_EQ(flash.size(), 16384u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_TRUE(std::all_of(flash.begin() + static_cast<std::ptrdiff_t>(image.size()), flash.end(),
                            [](uint8_t b) { return b == 0xFF; }));
    const auto ee = FileBytes(Data / "blink_m16_ee.bin");
    const auto partEE = FileBytes(state / "eeprom.bin");
    ASSERT_EQ(partEE.size(), 512u);
    EXPECT_TRUE(std::equal(ee.begin(), ee.end(), partEE.begin()));

    // A later run meets the same chip: it verifies, and reads back what was written.
    r = Run("ATmega16", "verify '" + (Data / "blink_m16.bin").string() + "' '" +
                            (Data / "blink_m16_ee.bin").string() + "'");
    EXPECT_EQ(r.code, 0) << r.output;
    r = Run("ATmega16", "read back.hex");
    ASSERT_EQ(r.code, 0) << r.output;
    r = Run("ATmega16", "verify back.hex");
    EXPECT_EQ(r.code, 0) << r.output;
}

TEST_F(Program_, ProgramsAByteProgrammedPart) {
    auto r = Run("AT90S2313", "write '" + (Data / "count_2313.hex").string() + "'");
    ASSERT_EQ(r.code, 0) << r.output;
    const auto flash = FileBytes(state / "flash.bin");
    auto image = FileBytes(Data / "count_2313.bin");
    image.resize(120); // the binary image has one odd byte more than the HEX file
    ASSERT_EQ(flash.size(), 2048u);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_TRUE(std::all_of(flash.begin() + 120, flash.end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(FileBytes(state / "eeprom.bin"), std::vector<uint8_t>(128, 0xFF));
}

// The simulated part's report tells what a run would cost on a real port:
// --fast writes the same chip in less model time with no more busy time,
// and meets a part slower than twice its datasheet, or a pulled cable, with
// the failure the normal mode reports.
TEST_F(Program_, FastModeWritesTheSameChipInLessModelTime) {
    const std::regex report("simulated part: ([0-9]+) port accesses, model time ([0-9.]+) s, "
                            "busy ([0-9.]+) s");
    const std::string write = "write '" + (Data / "count_2313.hex").string() + "'";
    double modelTime[2], busy[2];
    for (const bool fast : {false, true}) {
        fs::remove_all(state / "flash.bin");
        const auto r = Run("AT90S2313", (fast ? "--fast " : "") + write, "2>&1",
                         "QUILLON_SIM_REPORT=1");
        ASSERT_EQ(r.code, 0) << r.output;
        EXPECT_NE(r.output.find("AVR memory is OK"), std::string::npos);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.output, m, report)) << r.output;
        modelTime[fast] = std::stod(m[2]);
        busy[fast] = std::stod(m[3]);
        auto image = FileBytes(Data / "count_2313.bin");
        image.resize(120);
        const auto flash = FileBytes(state / "flash.bin");
        ASSERT_EQ(flash.size(), 2048u);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    }
    // Its bits keep a margin over the shortest the part follows, so most of
    // the gain on a small image is in the waits.
    EXPECT_LT(modelTime[1] * 1.3, modelTime[0]);
    EXPECT_LE(busy[1], busy[0]);

    auto r = Run("ATmega16", "--fast " + write, "2>&1", "QUILLON_SIM_BUSY_SCALE=3");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.output.find("Can NOT Erease AVR device."), std::string::npos) << r.output;
    r = Run("ATmega16", "--fast " + write, "2>&1", "QUILLON_SIM_DISCONNECT_AFTER=200000");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.output.find("Error in Flash"), std::string::npos) << r.output;
}

TEST_F(Program_, ExitCodesTellUsageFromFailure) {
    auto r = Run("ATmega16", "frobnicate");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.output.find("usage: quillon-isp"), std::string::npos);

    // A value that is no byte: one line naming it, before the port is opened.
    r = Run("ATmega16", "fuses E1 6G");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.output, "quillon-isp: '6G' is not a fuse byte (one or two hex digits)\n");

    r = Run("none", "identify");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.output.find("Atmel Device NOT found"), std::string::npos);

    r = Run("ATmega16", "verify missing.bin");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.output.find("Flash file Error."), std::string::npos);

    // Asked for, the usage goes to standard output and is no failure.
    r = Run("ATmega16", "--help", "2>/dev/null");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.output.rfind("usage: quillon-isp", 0), 0u) << r.output;

    // A file far larger than any image is refused at once, the part untouched.
    std::ofstream(state / "huge.hex") << ":0100000055AA\r\n";
    fs::resize_file(state / "huge.hex", 3ull << 30);
    r = Run("ATmega16", "write huge.hex");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.output.find("HEX file error or file too long (line 2: "), std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("Clear AVR memory"), std::string::npos);
}

} // namespace
