// The gpio, serial and spidev cables on the stand-ins of libgpiod, a serial
// adapter's modem lines and spidev, each driving the simulated part: a whole
// transfer over each cable and part, and the faults a person meets at the
// bench. The gpio and serial port libraries are loaded by the engine from
// QUILLON_PORTIO; the spidev link is driven through the link seam.
#include "AVRisp.h"
#include "LinkDriver.h"
#include "ScopedEnv.h"
#include "SpidevLink.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Bin(const std::string& file) {
    return std::string(QUILLON_BIN_DIR) + "/" + file;
}

// A symbol of a built library, loaded (once) by path like the engine does.
template <typename Fn> Fn Entry(const std::string& file, const char* name) {
    void* handle = dlopen(Bin(file).c_str(), RTLD_NOW | RTLD_LOCAL);
    return handle != nullptr ? reinterpret_cast<Fn>(dlsym(handle, name)) : nullptr;
}

// Device files open and GPIO lines requested in the stand-in now.
unsigned Held() {
    auto held = Entry<unsigned (*)()>("libstandin-linux.so", "quillon_standin_held");
    return held != nullptr ? held() : 1000;
}

struct Cable {
    std::string name;    // gpio, serial, spidev
    std::string options; // the cable's option text
    std::string wiring;  // the simulated board's wiring, same words
};

const Cable kCables[] = {{"gpio", "", ""},
                         {"gpio", "chip=gpiochip0,reset=24,sck=4,mosi=17,miso=27",
                          "reset=24,sck=4,mosi=17,miso=27"},
                         {"serial", "", ""},
                         {"serial", "/dev/ttyUSB1,wiring=dtr-reset,levels=rs232",
                          "wiring=dtr-reset,levels=rs232"},
                         {"spidev", "", ""}};

// A simulated part for one case: its device, a fresh state folder, the
// stand-ins selected and wired as the cable is told.
struct Bench {
    Bench(const Cable& c, const std::string& device, const char* fault = "", uint64_t pullAfter = 0)
        : state(fs::temp_directory_path() /
                ("quillon-cable-" + std::to_string(::getpid()) + "-" + std::to_string(++serial))) {
        fs::remove_all(state);
        fs::create_directories(state);
        env.Set("QUILLON_CABLE_SIMULATE", "1");
        env.Set("QUILLON_SIM_DEVICE", device);
        env.Set("QUILLON_SIM_STATE", state.string());
        env.Set("QUILLON_SIM_CLOCK_HZ", "1000000");
        env.Set("QUILLON_SIM_REPORT", "");
        env.Set("QUILLON_SIM_CABLE_FAULT", fault);
        env.Set("QUILLON_SIM_DISCONNECT_AFTER", std::to_string(pullAfter));
        env.Set(c.name == "serial" ? "QUILLON_SIM_SERIAL_WIRING" : "QUILLON_SIM_GPIO_WIRING", c.wiring);
        if (c.name != "spidev") {
            library = "libportio-" + c.name + ".so";
            env.Set("QUILLON_PORTIO", Bin(library));
        }
    }
    ~Bench() { fs::remove_all(state); }

    // The engine in fast mode, and its link: the cable's port library with
    // the cable's options, its waits and deadlines on the library's clock.
    std::unique_ptr<TAVRisp> Engine() {
        auto engine = std::make_unique<TAVRisp>();
        engine->SetFastMode(true);
        return engine;
    }
    bool Open(TAVRisp& engine, const Cable& c) {
        return engine.OpenLink(std::make_unique<TPortLink>(Bin(library), c.options));
    }
    std::string LibraryError() {
        auto error = Entry<const char* (*)()>(library, "GetWinIoError");
        return error != nullptr ? error() : "";
    }

    std::vector<uint8_t> Saved(const char* file) {
        std::ifstream in(state / file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static inline int serial = 0;
    fs::path state;
    std::string library;
    ScopedEnv env;
};

// Random Flash and EEPROM with most of both erased, so fast writes and the
// sanitizer build stay quick; `full`: every byte random.
std::vector<uint8_t> Image(std::size_t bytes, uint32_t seed, bool full = false) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> image(bytes, 0xFF);
    for (std::size_t i = 0; i < bytes; ++i)
        if (full || i < 384 || i >= bytes - 128) image[i] = static_cast<uint8_t>(rng());
    return image;
}

std::unique_ptr<cable::TSpidevLink> SpidevLink(const Cable& c) {
    std::string error;
    auto options = cable::ParseCableOptions(c.options, error);
    auto link = options ? cable::MakeSpidevLink(*options, true, error) : nullptr;
    return std::unique_ptr<cable::TSpidevLink>(static_cast<cable::TSpidevLink*>(link.release()));
}

// ------------------------------------------------------------ transfer ----

// Each cable with its default wiring on three parts; the other wirings on one.
using TransferCase = std::tuple<Cable, std::string>;
std::vector<TransferCase> TransferCases() {
    std::vector<TransferCase> cases;
    for (const Cable& c : kCables)
        for (const char* device : {"ATtiny85", "ATmega328P", "ATmega1284P"})
            if (c.options.empty() || std::string(device) == "ATmega328P") cases.emplace_back(c, device);
    return cases;
}

class TransferOverCable : public ::testing::TestWithParam<TransferCase> {};

// What the part holds at the end (its state folder) is what was written,
// and the cable let every line go.
TEST_P(TransferOverCable, WritesVerifiesAndSetsFusesThenLetsTheLinesGo) {
    const auto& [c, device] = GetParam();
    Bench b(c, device);
    std::vector<uint8_t> flash, eeprom;
    constexpr uint8_t kLowFuse = 0xE2;
    // Read back through the cable: the written start; the state folder
    // shows the whole memory.
    constexpr std::size_t kReadBack = 1024;
    if (c.name == "spidev") {
        auto link = SpidevLink(c);
        ASSERT_TRUE(link && link->Open()) << (link ? link->FailureText() : "options refused");
        harness::LinkDriver d(*link);
        const TAVRdesc* part = d.Identify();
        ASSERT_NE(part, nullptr) << link->FailureText();
        EXPECT_EQ(part->Name, device);
        link->SpeedUp([&] { return d.Answers(); }, [&] { return d.Confirms(); });
        EXPECT_GT(link->SpeedHz(), cable::SpidevStartHz) << "a 1 MHz part takes more than 100 kHz";
        EXPECT_LT(link->SpeedHz(), 250000u) << "and less than a quarter of its clock";
        ASSERT_TRUE(d.Erase());
        flash = Image(static_cast<std::size_t>(part->FlashSize), 7);
        ASSERT_TRUE(d.WriteFlash(flash));
        std::vector<uint8_t> back;
        ASSERT_TRUE(d.ReadFlash(kReadBack, back));
        EXPECT_TRUE(std::equal(back.begin(), back.end(), flash.begin()));
        ASSERT_TRUE(d.WriteFuse(0, kLowFuse));
        EXPECT_EQ(d.ReadFuse(0), kLowFuse);
        link->Release();
        link->Close();
        eeprom.assign(static_cast<std::size_t>(part->EEpromSize), 0xFF);
    } else {
        auto engine = b.Engine();
        ASSERT_TRUE(b.Open(*engine, c)) << engine->PortError();
        ASSERT_TRUE(engine->Identify());
        EXPECT_EQ(engine->AVRversion(), device);
        ASSERT_TRUE(engine->FastPhasesKnown());
        ASSERT_TRUE(engine->EraseDevice());
        flash = Image(static_cast<std::size_t>(engine->FlashSize()), 7);
        eeprom = Image(static_cast<std::size_t>(engine->EEpromSize()), 8);
        for (std::size_t w = 0; w < flash.size() / 2; ++w)
            engine->FlashBuffer[w] = flash[2 * w] | (flash[2 * w + 1] << 8);
        std::copy(eeprom.begin(), eeprom.end(), engine->EEpromBuffer.begin());
        ASSERT_TRUE(engine->WriteFlash(0, engine->FlashSize()));
        ASSERT_TRUE(engine->VerifyFlash(kReadBack));
        ASSERT_TRUE(engine->WriteEEprom(0, engine->EEpromSize()));
        ASSERT_TRUE(engine->VerifyEEprom(engine->EEpromSize()));
        engine->WriteFuses(engine->AVRefb(), engine->AVRhfb(), kLowFuse);
        EXPECT_EQ(engine->ReadFuse(0), kLowFuse);
        engine->Release();
    }
    EXPECT_EQ(Held(), 0u) << "every device closed, every line released";
    EXPECT_EQ(b.Saved("flash.bin"), flash);
    EXPECT_EQ(b.Saved("eeprom.bin"), eeprom);
    ASSERT_FALSE(b.Saved("fuses.bin").empty());
    EXPECT_EQ(b.Saved("fuses.bin")[0], kLowFuse);
}

INSTANTIATE_TEST_SUITE_P(Cables, TransferOverCable,
                         ::testing::ValuesIn(TransferCases()),
                         [](const auto& info) {
                             const Cable& c = std::get<0>(info.param);
                             return c.name + (c.options.empty() ? "" : "_options") + "_" +
                                    std::get<1>(info.param);
                         });

// --------------------------------------------------------------- faults ----

struct FaultCase {
    const char* cable;
    const char* fault;     // QUILLON_SIM_CABLE_FAULT, or "pulled"
    const char* says;      // what the one line names
};

class CableFault : public ::testing::TestWithParam<FaultCase> {};

// A device that is missing, refused or taken fails the opening with a line
// naming the cause and what to do; a cable pulled mid-write ends in a
// failure, never in success. Either way nothing stays held.
TEST_P(CableFault, NamesTheCauseReportsNoSuccessAndHoldsNothing) {
    const FaultCase& f = GetParam();
    const bool pulled = std::string(f.fault) == "pulled";
    const Cable c{f.cable, "", ""};
    Bench b(c, "ATmega328P", pulled ? "" : f.fault, pulled ? 300000 : 0);
    const std::vector<uint8_t> flash = Image(32768, 3, true);
    if (c.name == "spidev") {
        auto link = SpidevLink(c);
        ASSERT_TRUE(link);
        if (!pulled) {
            EXPECT_FALSE(link->Open());
            EXPECT_NE(link->FailureText().find(f.says), std::string::npos) << link->FailureText();
        } else {
            ASSERT_TRUE(link->Open()) << link->FailureText();
            harness::LinkDriver d(*link);
            ASSERT_NE(d.Identify(), nullptr);
            ASSERT_TRUE(d.Erase());
            std::vector<uint8_t> back;
            EXPECT_FALSE(d.WriteFlash(flash) && d.ReadFlash(flash.size(), back) && back == flash);
        }
    } else {
        auto engine = b.Engine();
        if (!pulled) {
            EXPECT_FALSE(b.Open(*engine, c));
            EXPECT_NE(engine->PortError().find(f.says), std::string::npos) << engine->PortError();
        } else {
            ASSERT_TRUE(b.Open(*engine, c)) << engine->PortError();
            ASSERT_TRUE(engine->Identify());
            ASSERT_TRUE(engine->EraseDevice());
            for (std::size_t w = 0; w < flash.size() / 2; ++w)
                engine->FlashBuffer[w] = flash[2 * w] | (flash[2 * w + 1] << 8);
            const bool written = engine->WriteFlash(0, 32768);
            EXPECT_FALSE(written && engine->VerifyFlash(32768)) << "a pulled cable never passes";
            EXPECT_NE(b.LibraryError().find(f.says), std::string::npos) << b.LibraryError();
        }
    }
    EXPECT_EQ(Held(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Bench, CableFault,
    ::testing::Values(FaultCase{"gpio", "absent", "/dev/gpiochip0: no such GPIO chip"},
                      FaultCase{"gpio", "denied", "join the group gpio"},
                      FaultCase{"gpio", "busy", "line 11 (SCK) of /dev/gpiochip0 is in use by \"spi0\": disable the SPI"},
                      FaultCase{"gpio", "pulled", ""},
                      FaultCase{"serial", "absent", "/dev/ttyUSB0: no such serial port"},
                      FaultCase{"serial", "denied", "join the group dialout"},
                      FaultCase{"serial", "busy", "/dev/ttyUSB0 is in use by another program"},
                      FaultCase{"serial", "pulled", "/dev/ttyUSB0 stopped answering"},
                      FaultCase{"spidev", "absent", "/dev/spidev0.0: no such SPI device"},
                      FaultCase{"spidev", "denied", "join the group spi"},
                      FaultCase{"spidev", "busy", "line 25 (RESET) of /dev/gpiochip0 is in use by \"sysfs\""},
                      FaultCase{"spidev", "pulled", ""}),
    [](const auto& info) { return std::string(info.param.cable) + "_" + info.param.fault; });

} // namespace
