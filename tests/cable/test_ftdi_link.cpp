// The ftdi cable driven directly through its link, against the built
// libftdi1 stand-in (loaded with dlopen from the bin folder) and the
// simulated part behind it, on model time.
#include "FtdiLink.h"
#include "SerialInstructions.h"
#include "avrsim/PartTable.h"
#include "avrsim/StateFolder.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using cable::MakeFtdiLink;
using cable::TCableOption;

const char* const SimVariables[] = {"QUILLON_SIM_FTDI",
                                    "QUILLON_SIM_FTDI_SERIAL",
                                    "QUILLON_SIM_FTDI_PINS",
                                    "QUILLON_SIM_CABLE_FAULT",
                                    "QUILLON_SIM_DISCONNECT_AFTER",
                                    "QUILLON_SIM_DEVICE",
                                    "QUILLON_SIM_CLOCK_HZ",
                                    "QUILLON_SIM_STATE",
                                    "QUILLON_SIM_REPORT"};

// Every simulation variable unset, then those a test names; a state folder
// of its own.
struct FtdiTest : ::testing::Test {
    fs::path state;

    void SetUp() override {
        for (const char* v : SimVariables)
            unsetenv(v);
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        state =
            fs::temp_directory_path() / ("quillon-ftdi-" + std::to_string(getpid()) + "-" + name);
        fs::remove_all(state);
        fs::create_directories(state);
    }
    void TearDown() override {
        for (const char* v : SimVariables)
            unsetenv(v);
        fs::remove_all(state);
    }
    static void Set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

    static std::unique_ptr<TIspLink> Link(const std::vector<TCableOption>& options = {}) {
        std::string error;
        auto link = MakeFtdiLink(options, true, error);
        EXPECT_TRUE(link) << error;
        return link;
    }
};

// USB round trips the stand-in counted so far, read from the library the
// link loaded.
uint64_t RoundTrips() {
    const std::string path = std::string(QUILLON_BIN_DIR) + "/libstandin-ftdi1.so";
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return 0;
    auto count = reinterpret_cast<uint64_t (*)()>(dlsym(handle, "quillon_standin_count"));
    const uint64_t n = count != nullptr ? count() : 0;
    dlclose(handle);
    return n;
}

bool ReadsSignature(TIspLink& link, const avrsim::PartInfo& part, int reads = 1) {
    std::vector<TIspBytes> out, in(3 * reads);
    for (int r = 0; r < reads; ++r)
        for (uint8_t i = 0; i < 3; ++i)
            out.push_back({serial::OpReadSignature, 0x00, i, 0x00});
    if (!link.Transfer(out, in)) return false;
    for (std::size_t i = 0; i < in.size(); ++i)
        if (in[i][3] != part.signature[i % 3]) return false;
    return true;
}

// Polls ready/busy until the part is done; false when it never is.
bool WaitReady(TIspLink& link) {
    for (int i = 0; i < 200; ++i) {
        const TIspBytes poll{serial::OpPoll1, serial::OpPoll2, 0x00, 0x00};
        TIspBytes answer{};
        if (!link.Transfer({&poll, 1}, {&answer, 1})) return false;
        if ((answer[3] & 1u) == 0) return true;
    }
    return false;
}

struct Board {
    const char* chip; // QUILLON_SIM_FTDI
    const char* name; // in the link's description
};
struct Part {
    const char* name;
    uint32_t clockHz;
};
void PrintTo(const Board& b, std::ostream* os) {
    *os << b.name;
}
void PrintTo(const Part& p, std::ostream* os) {
    *os << p.name << " at " << p.clockHz << " Hz";
}

class FtdiTransfer : public FtdiTest,
                     public ::testing::WithParamInterface<std::tuple<Board, Part>> {};

// Power-up, programming enable, signature, the fastest pace with margin, a
// page written in one transfer and polled, blocks read back, a fuse: the
// part ends up holding what was written, and no page or block costs more
// than one USB round trip.
TEST_P(FtdiTransfer, ProgramsThePartInBatches) {
    const auto [board, partSpec] = GetParam();
    const avrsim::PartInfo& part = *avrsim::FindPart(partSpec.name);
    Set("QUILLON_SIM_FTDI", board.chip);
    Set("QUILLON_SIM_DEVICE", part.name.data());
    Set("QUILLON_SIM_CLOCK_HZ", std::to_string(partSpec.clockHz));
    Set("QUILLON_SIM_STATE", state.string());

    // The part holds random memories with one erased page.
    const uint32_t pageBytes = 2u * part.pageWords;
    const uint32_t page = 3;
    std::mt19937 rng(part.flashBytes);
    std::vector<uint8_t> flash(part.flashBytes), eeprom(part.eepromBytes);
    for (uint8_t& b : flash)
        b = static_cast<uint8_t>(rng());
    for (uint8_t& b : eeprom)
        b = static_cast<uint8_t>(rng());
    std::fill_n(flash.begin() + page * pageBytes, pageBytes, 0xFF);
    std::string error;
    ASSERT_TRUE(
        avrsim::SaveChipState(state.string(), part.name, flash, eeprom, {0x62, 0xDF, 0xFF}, error))
        << error;

    auto link = Link();
    ASSERT_TRUE(link->Open()) << link->FailureText();
    EXPECT_NE(link->Description().find(board.name), std::string::npos) << link->Description();
    EXPECT_TRUE(link->FullDuplex());
    link->PowerUp();
    ASSERT_TRUE(link->ProgrammingEnable());
    ASSERT_TRUE(ReadsSignature(*link, part));

    const std::string startPace = link->PaceText();
    auto answers = [&] {
        link->ResetPulse();
        return link->ProgrammingEnable() && ReadsSignature(*link, part);
    };
    link->SpeedUp(answers, [&] { return answers() && ReadsSignature(*link, part, 16); });
    EXPECT_NE(link->PaceText(), startPace)
        << "a part clocked at " << partSpec.clockHz << " Hz answers faster than the start pace";
    link->ResetPulse();
    ASSERT_TRUE(link->ProgrammingEnable()) << link->PaceText();

    // A page: its loads and the write in one transfer, then polled.
    std::vector<uint8_t> data(pageBytes);
    for (uint8_t& b : data)
        b = static_cast<uint8_t>(rng());
    std::vector<TIspBytes> out, in;
    for (uint32_t w = 0; w < part.pageWords; ++w) {
        out.push_back({serial::OpWriteFlashLow, 0x00, static_cast<uint8_t>(w), data[2 * w]});
        out.push_back({serial::OpWriteFlashHigh, 0x00, static_cast<uint8_t>(w), data[2 * w + 1]});
    }
    const uint32_t pageWord = page * part.pageWords;
    out.push_back(
        {serial::OpWritePage, serial::HighByte(pageWord), serial::LowByte(pageWord), 0x00});
    in.resize(out.size());
    const uint64_t beforePage = RoundTrips();
    ASSERT_TRUE(link->Transfer(out, in)) << link->FailureText();
    EXPECT_LE(RoundTrips() - beforePage, 1u) << "round trips for one page";
    EXPECT_EQ(in[1][1], serial::OpWriteFlashHigh) << "the part echoes each byte one byte later";
    ASSERT_TRUE(WaitReady(*link));
    std::copy(data.begin(), data.end(), flash.begin() + page * pageBytes);

    // Four pages around it read back in blocks of 128 instructions, and an
    // EEPROM block.
    const uint32_t firstWord = (page - 1) * part.pageWords, words = 4 * part.pageWords;
    out.clear();
    for (uint32_t w = firstWord; w < firstWord + words; ++w)
        for (const uint8_t op : {serial::OpReadFlashLow, serial::OpReadFlashHigh})
            out.push_back({op, serial::HighByte(w), serial::LowByte(w), 0x00});
    for (uint32_t a = 0; a < 128; ++a)
        out.push_back({serial::OpReadEEprom, serial::HighByte(a), serial::LowByte(a), 0x00});
    in.assign(out.size(), {});
    const uint64_t beforeRead = RoundTrips();
    const std::size_t block = 128;
    for (std::size_t i = 0; i < out.size(); i += block)
        ASSERT_TRUE(
            link->Transfer(std::span(out).subspan(i, block), std::span(in).subspan(i, block)));
    EXPECT_LE(RoundTrips() - beforeRead, out.size() / block)
        << "round trips for " << out.size() / block << " blocks";
    for (uint32_t i = 0; i < 2 * words; ++i)
        ASSERT_EQ(in[i][3], flash[2 * firstWord + i]) << "Flash byte " << 2 * firstWord + i;
    for (uint32_t a = 0; a < 128; ++a)
        ASSERT_EQ(in[2 * words + a][3], eeprom[a]) << "EEPROM byte " << a;

    // The low fuse written and read.
    const TIspBytes writeFuse{serial::OpWriteFuse, serial::OpWriteFuseSelect[0], 0x00, 0xE2};
    TIspBytes answer{};
    ASSERT_TRUE(link->Transfer({&writeFuse, 1}, {&answer, 1}));
    ASSERT_TRUE(WaitReady(*link));
    const TIspBytes readFuse{serial::OpReadFuseLow, 0x00, 0x00, 0x00};
    ASSERT_TRUE(link->Transfer({&readFuse, 1}, {&answer, 1}));
    EXPECT_EQ(answer[3], 0xE2);

    link->Release();
    link->Close();
    EXPECT_FALSE(link->IsOpen());
    EXPECT_FALSE(link->Transfer(out, in)) << "a closed cable shifts nothing";
    std::array<uint8_t, 3> fuses{};
    std::vector<uint8_t> kept(part.flashBytes), keptEeprom(part.eepromBytes);
    ASSERT_TRUE(avrsim::LoadChipState(state.string(), part.name, kept, keptEeprom, fuses));
    EXPECT_TRUE(kept == flash) << "the Flash holds the page written and nothing else changed";
    EXPECT_EQ(fuses[0], 0xE2);
}

INSTANTIATE_TEST_SUITE_P(
    Boards, FtdiTransfer,
    ::testing::Combine(::testing::Values(Board{"ft232r", "FT232R"}, Board{"ft232h", "FT232H"}),
                       ::testing::Values(Part{"ATtiny85", 1000000}, Part{"ATmega328P", 16000000},
                                         Part{"ATmega1284P", 8000000})),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

// What a person meets at the bench: each fault ends with one line naming
// the cause and what to do, nothing reported as done, and the board free for
// the next program.
TEST_F(FtdiTest, FaultsSayWhatHappenedAndReleaseTheBoard) {
    struct Row {
        const char* variable;
        const char* value;
        std::vector<const char*> words; // all in the failure text
        bool failsOnOpen;
    };
    const Row rows[] = {
        {"QUILLON_SIM_CABLE_FAULT",
         "absent",
         {"no FTDI board found", "0403:6001", "0403:6014"},
         true},
        {"QUILLON_SIM_CABLE_FAULT", "denied", {"permission denied", "udev", "plugdev"}, true},
        {"QUILLON_SIM_CABLE_FAULT", "busy", {"busy", "another program", "ftdi_sio"}, true},
        {"QUILLON_SIM_FTDI",
         "ft232r,ft232h",
         {"several FTDI boards", "QUIL0001", "QUIL0002", "serial="},
         true},
        {"QUILLON_SIM_DISCONNECT_AFTER", "3000", {"USB", "unplugged", "plug it in again"}, false},
    };
    for (const char* chip : {"ft232r", "ft232h"})
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(chip) + " " + row.variable + "=" + row.value);
            Set("QUILLON_SIM_FTDI", chip);
            Set(row.variable, row.value);
            Set("QUILLON_SIM_DEVICE", "ATmega328P");
            auto link = Link();
            bool failed = !link->Open();
            if (!row.failsOnOpen) {
                ASSERT_FALSE(failed) << link->FailureText();
                link->PowerUp();
                ASSERT_TRUE(link->ProgrammingEnable());
                std::vector<TIspBytes> loads(129, TIspBytes{serial::OpWriteFlashLow, 0, 0, 0x12});
                std::vector<TIspBytes> in(loads.size());
                failed = !link->Transfer(loads, in);
                EXPECT_FALSE(link->Transfer(loads, in)) << "nothing is trusted after a failure";
                EXPECT_FALSE(link->ProgrammingEnable());
            }
            EXPECT_TRUE(failed);
            const std::string text = link->FailureText();
            EXPECT_EQ(text.find('\n'), std::string::npos) << text;
            for (const char* word : row.words)
                EXPECT_NE(text.find(word), std::string::npos) << "'" << word << "' in: " << text;
            link->Close();
            link.reset();

            unsetenv(row.variable);
            Set("QUILLON_SIM_FTDI", chip);
            auto next = Link();
            EXPECT_TRUE(next->Open()) << "board released: " << next->FailureText();
        }
}

// Options are checked before anything is opened; each refusal names the
// option. A board wired to other pins answers when the options name them.
TEST_F(FtdiTest, OptionsNameTheFaultAndChooseThePins) {
    const std::pair<std::vector<TCableOption>, const char*> refused[] = {
        {{{"bogus", "1"}}, "'bogus'"},
        {{{"", "/dev/ttyUSB0"}}, "device"},
        {{{"type", "ft4232h"}}, "'type'"},
        {{{"serial", ""}}, "'serial'"},
        {{{"sck", "txd"}, {"mosi", "d0"}}, "twice"},
        {{{"sck", "dtr"}}, "'sck'"},
        {{{"miso", "adbus2"}}, "'miso'"},
        {{{"reset", "zz"}}, "'reset'"},
        {{{"type", "ft232h"}, {"sck", "rts"}}, "'sck'"},
        {{{"type", "ft232r"}, {"reset", "adbus4"}}, "'reset'"},
        {{{"reset", "acbus1"}, {"mosi", "rts"}}, "'mosi'"},
        {{{"speed", "fast"}}, "'speed'"},
        {{{"type", "ft232r"}, {"speed", "1M"}}, "'speed'"},
        {{{"reset", "dtr"}, {"reset", "rts"}}, "'reset'"},
    };
    for (const auto& [options, word] : refused) {
        std::string error;
        EXPECT_FALSE(MakeFtdiLink(options, true, error)) << word;
        EXPECT_NE(error.find(word), std::string::npos) << "'" << word << "' in: " << error;
    }

    Set("QUILLON_SIM_DEVICE", "ATtiny85");
    Set("QUILLON_SIM_FTDI_PINS", "reset=rts,sck=dsr,mosi=dcd,miso=ri");
    const avrsim::PartInfo& part = *avrsim::FindPart("ATtiny85");
    for (const bool named : {false, true}) {
        auto link = Link(named ? std::vector<TCableOption>{{"reset", "d2"},
                                                           {"sck", "5"},
                                                           {"mosi", "DCD"},
                                                           {"miso", "ri"}}
                               : std::vector<TCableOption>{});
        ASSERT_TRUE(link->Open()) << link->FailureText();
        link->PowerUp();
        EXPECT_EQ(link->ProgrammingEnable() && ReadsSignature(*link, part), named)
            << link->Description();
    }

    // Two boards: serial= picks one.
    Set("QUILLON_SIM_FTDI", "ft232r,ft232h");
    Set("QUILLON_SIM_FTDI_PINS", "reset=adbus5");
    auto link = Link({{"serial", "QUIL0002"}, {"reset", "gpiol1"}});
    ASSERT_TRUE(link->Open()) << link->FailureText();
    EXPECT_NE(link->Description().find("FT232H QUIL0002 MPSSE"), std::string::npos)
        << link->Description();
    link->PowerUp();
    EXPECT_TRUE(link->ProgrammingEnable() && ReadsSignature(*link, part));
}

} // namespace
