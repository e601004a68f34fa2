// The engine over every cable and programmer, each on its stand-in and the
// simulated part, chosen by name as the programs choose them: identify,
// erase, write, verify, read back and set a fuse byte; what the part holds
// at the end (its state folder) is what was written.
#include "AVRisp.h"
#include "CableChoice.h"
#include "EngineHarness.h"
#include "ScopedEnv.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Cable {
    const char* label; // test name
    const char* choice; // as on the command line
    const char* ftdiBoard; // the stand-in's board, for the ftdi cable
};

const Cable kCables[] = {
    {"sim", "sim", ""},           {"gpio", "gpio", ""},
    {"serial", "serial", ""},     {"spidev", "spidev", ""},
    {"ft232r", "ftdi", "ft232r"}, {"ft232h", "ftdi", "ft232h"},
    {"arduino", "arduino", ""},   {"usbasp", "usbasp", ""},
};

std::vector<uint8_t> FileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Random data at the start and the end, erased between: the end exercises
// the highest addresses (above 64 K words on the largest part), the gap
// keeps the sanitizer build quick.
std::vector<uint8_t> SparseImage(std::size_t bytes, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> image(bytes, 0xFF);
    for (std::size_t i = 0; i < bytes; ++i)
        if (i < 300 || i + 300 >= bytes) image[i] = static_cast<uint8_t>(rng());
    return image;
}

using Case = std::tuple<Cable, const char*>;

class EngineOverCable : public ::testing::TestWithParam<Case> {};

TEST_P(EngineOverCable, IdentifiesWritesVerifiesReadsAndSetsAFuse) {
    const auto& [cable, device] = GetParam();
    const fs::path state = fs::temp_directory_path() /
                           ("quillon-engine-cable-" + std::to_string(::getpid()) + "-" + cable.label);
    fs::remove_all(state);
    fs::create_directories(state);
    std::vector<uint8_t> flash, eeprom;
    uint8_t low = 0;
    {
        ScopedEnv env;
        env.Set("QUILLON_SIM_DEVICE", device);
        env.Set("QUILLON_SIM_STATE", state.string());
        env.Set("QUILLON_SIM_CLOCK_HZ", "1000000");
        env.Set("QUILLON_SIM_FTDI", cable.ftdiBoard);
        for (const char* unset : {"QUILLON_SIM_REPORT", "QUILLON_SIM_CABLE_FAULT",
                                  "QUILLON_SIM_DISCONNECT_AFTER", "QUILLON_SIM_BUSY_SCALE"})
            env.Set(unset, nullptr);
        TAVRisp e;
        harness::RecordingStatus status;
        e.SetStatus(&status);
        e.SetFastMode(true);
        std::string error;
        ASSERT_TRUE(e.OpenLink(cable::MakeCableLink({cable.choice, true}, error)))
            << error << e.PortError();
        ASSERT_TRUE(e.Identify()) << e.Link().FailureText();
        ASSERT_EQ(e.AVRversion(), device);
        flash = SparseImage(static_cast<std::size_t>(e.FlashSize()), 3);
        eeprom = SparseImage(static_cast<std::size_t>(e.EEpromSize()), 4);
        for (std::size_t w = 0; w < flash.size() / 2; ++w)
            e.FlashBuffer[w] = flash[2 * w] | (flash[2 * w + 1] << 8);
        std::copy(eeprom.begin(), eeprom.end(), e.EEpromBuffer.begin());
        ASSERT_TRUE(e.EraseDevice());
        ASSERT_TRUE(e.WriteFlash(0, e.FlashSize())) << e.Link().FailureText();
        ASSERT_TRUE(e.WriteEEprom(0, e.EEpromSize())) << e.Link().FailureText() << status.text;
        // The whole verification on the small part; on the others the first
        // and the last words read back (the state folder below shows all).
        const int32_t words = e.FlashSize() / 2;
        if (words <= 4096) {
            ASSERT_TRUE(e.VerifyFlash(e.FlashSize())) << e.Link().FailureText();
        }
        ASSERT_TRUE(e.VerifyEEprom(e.EEpromSize())) << e.Link().FailureText();
        const std::vector<uint32_t> written(e.FlashBuffer.begin(), e.FlashBuffer.begin() + words);
        std::fill_n(e.FlashBuffer.begin(), words, 0u);
        ASSERT_TRUE(e.ReadFlash(0, 512));
        ASSERT_TRUE(e.ReadFlash(words - 256, 512));
        EXPECT_TRUE(std::equal(written.begin(), written.begin() + 256, e.FlashBuffer.begin()));
        EXPECT_TRUE(std::equal(written.end() - 256, written.end(), e.FlashBuffer.begin() + words - 256));
        low = static_cast<uint8_t>(e.AVRlfb() ^ 0x40); // another start-up time
        ASSERT_TRUE(e.WriteFuses(e.AVRefb(), e.AVRhfb(), low));
        e.Release();
    }
    EXPECT_EQ(FileBytes(state / "flash.bin"), flash);
    EXPECT_EQ(FileBytes(state / "eeprom.bin"), eeprom);
    const std::vector<uint8_t> fuses = FileBytes(state / "fuses.bin");
    ASSERT_FALSE(fuses.empty());
    EXPECT_EQ(fuses[0], low);
    fs::remove_all(state);
}

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (const Cable& c : kCables)
        for (const char* device : {"ATtiny85", "ATmega328P", "ATmega1284P"})
            cases.emplace_back(c, device);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Cables, EngineOverCable, ::testing::ValuesIn(Cases()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).label) + "_" +
                                    std::get<1>(info.param);
                         });

} // namespace
