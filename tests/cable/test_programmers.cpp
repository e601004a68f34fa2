// The two programmers with firmware of their own, at the link: the ArduinoISP
// link's real tty code against the simulated board program over a
// pseudo-terminal, the USBasp link against the libusb stand-in. What the
// blocks write must land in the simulated part's memories (its state
// folder), and every fault must end in one line that says what to do, with
// nothing left open.
#include "AVRDeviceTable.h"
#include "ArduinoIspLink.h"
#include "UsbaspLink.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

enum class Programmer { Arduino, Usbasp };
using Settings = std::map<std::string, std::string>;

// Every setting the simulated programmers read, so that none leaks in from
// the environment the tests run in.
const char* const kVariables[] = {
    "QUILLON_SIM_DEVICE",      "QUILLON_SIM_CLOCK_HZ",         "QUILLON_SIM_STATE",
    "QUILLON_SIM_BUSY_SCALE",  "QUILLON_SIM_DISCONNECT_AFTER", "QUILLON_SIM_CABLE_FAULT",
    "QUILLON_SIM_BOOT_MS",     "QUILLON_SIM_USB_SERIAL",       "QUILLON_SIM_USB_IDS",
    "QUILLON_SIM_USB_PRODUCT", "QUILLON_SIM_USBASP_CLOCK",     "QUILLON_SIM_REPORT"};

// The environment of one test: the given settings, nothing else.
class Environment {
public:
    explicit Environment(const Settings& settings) {
        for (const char* name : kVariables) {
            const auto it = settings.find(name);
            if (it != settings.end())
                setenv(name, it->second.c_str(), 1);
            else
                unsetenv(name);
        }
    }
    ~Environment() {
        for (const char* name : kVariables)
            unsetenv(name);
    }
};

class StateFolder {
public:
    StateFolder() {
        std::string pattern = (fs::temp_directory_path() / "quillon-programmers.XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~StateFolder() { fs::remove_all(path_); }
    const std::string& Path() const { return path_; }
    std::vector<uint8_t> File(const char* name) const {
        std::ifstream in(fs::path(path_) / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    std::string path_;
};

std::unique_ptr<TIspLink> MakeLink(Programmer programmer, const std::string& optionText) {
    std::string error;
    const auto options = cable::ParseCableOptions(optionText, error);
    EXPECT_TRUE(options) << error;
    auto link = programmer == Programmer::Arduino ? cable::MakeArduinoIspLink(*options, true, error)
                                                  : cable::MakeUsbaspLink(*options, true, error);
    EXPECT_TRUE(link) << error;
    return link;
}

size_t OpenDescriptors() {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TIspBytes Instruction(TIspLink& link, TIspBytes out) {
    TIspBytes in{};
    EXPECT_TRUE(link.Transfer({&out, 1}, {&in, 1})) << link.FailureText();
    return in;
}

const TAVRdesc& IdentifiedPart(TIspLink& link) {
    std::array<uint8_t, 3> sig{};
    for (uint8_t i = 0; i < 3; ++i)
        sig[i] = Instruction(link, {0x30, 0x00, i, 0x00})[3];
    const int row = FindDeviceRow(sig[1], sig[2]);
    EXPECT_GT(row, 0) << UnknownPartText(sig);
    return AVRDeviceTable[static_cast<size_t>(std::max(row, 0))];
}

// Spans of random bytes at random places of a memory of `size` bytes, none
// overlapping, each `unit`-aligned and a whole number of units long (up to
// `maxUnits`), the last unit always among them. `image` holds the result,
// 0xFF elsewhere.
std::vector<std::pair<uint32_t, uint32_t>> SparseImage(std::mt19937& random, uint32_t size,
                                                       uint32_t unit, uint32_t maxUnits, int count,
                                                       std::vector<uint8_t>& image) {
    image.assign(size, 0xFF);
    std::set<uint32_t> used;
    std::vector<std::pair<uint32_t, uint32_t>> spans;
    const uint32_t units = size / unit;
    for (int i = 0; i <= count; ++i) {
        const uint32_t length = i == 0 ? 1 : 1 + random() % maxUnits;
        const uint32_t first = i == 0 ? units - 1 : random() % (units - length + 1);
        bool clash = false;
        for (uint32_t u = first; u < first + length; ++u)
            clash = clash || used.count(u) != 0;
        if (clash) continue;
        for (uint32_t u = first; u < first + length; ++u)
            used.insert(u);
        spans.emplace_back(first * unit, length * unit);
        for (uint32_t b = 0; b < length * unit; ++b)
            image[first * unit + b] = static_cast<uint8_t>(random());
    }
    return spans;
}

struct TransferCase {
    Programmer programmer;
    std::string part;
    std::string options;
    Settings settings; // the simulated programmer's variant
};

void PrintTo(const TransferCase& c, std::ostream* os) {
    *os << (c.programmer == Programmer::Arduino ? "arduino " : "usbasp ") << c.part << " "
        << c.options;
}

class ProgrammerTransfer : public ::testing::TestWithParam<TransferCase> {};

// Open, programming mode, the signature through single instructions, the
// part's parameters, an erase, sparse Flash and EEPROM images in blocks, a
// fuse through single instructions; read back through the blocks, and the
// part's memories afterwards are exactly the images.
TEST_P(ProgrammerTransfer, BlocksLandInThePart) {
    const TransferCase& c = GetParam();
    StateFolder state;
    Settings settings = c.settings;
    settings["QUILLON_SIM_DEVICE"] = c.part;
    settings["QUILLON_SIM_STATE"] = state.Path();
    settings.emplace("QUILLON_SIM_BOOT_MS", "100");
    const Environment environment(settings);
    std::mt19937 random(static_cast<uint32_t>(std::hash<std::string>{}(c.part + c.options)));

    auto link = MakeLink(c.programmer, c.options);
    ASSERT_TRUE(link);
    ASSERT_TRUE(link->Open()) << link->FailureText();
    while (!link->ProgrammingEnable())
        ASSERT_TRUE(link->SlowDown()) << link->FailureText();
    const TAVRdesc& part = IdentifiedPart(*link);
    ASSERT_EQ(part.Name, c.part);
    link->SpeedUp([&] { return link->ProgrammingEnable() && &IdentifiedPart(*link) == &part; },
                  [&] { return &IdentifiedPart(*link) == &part; });
    ASSERT_TRUE(link->IsOpen()) << link->FailureText();
    TBlockProgrammer* blocks = link->Blocks();
    ASSERT_NE(blocks, nullptr);
    ASSERT_TRUE(blocks->SetPart(part)) << link->FailureText();
    Instruction(*link, {0xAC, 0x80, 0x00, 0x00});
    link->Sleep(part.EraseBusyUs / 1000 + 1);

    const uint32_t page = 2u * part.PageWords;
    std::vector<uint8_t> flash, eeprom;
    const auto flashSpans = SparseImage(random, static_cast<uint32_t>(part.FlashSize), page,
                                        3 * blocks->BlockBytes() / page, 5, flash);
    const auto eepromSpans =
        SparseImage(random, static_cast<uint32_t>(part.EEpromSize), 1, 64, 5, eeprom);
    for (const auto& [at, n] : flashSpans)
        ASSERT_TRUE(blocks->WriteFlashBlock(at, {flash.data() + at, n})) << link->FailureText();
    for (const auto& [at, n] : eepromSpans)
        ASSERT_TRUE(blocks->WriteEEpromBlock(at, {eeprom.data() + at, n})) << link->FailureText();
    const uint8_t fuse = static_cast<uint8_t>(random() | 0x40);
    Instruction(*link, {0xAC, 0xA0, 0x00, fuse});
    link->Sleep(part.FuseBusyUs / 1000 + 1);
    EXPECT_EQ(Instruction(*link, {0x50, 0x00, 0x00, 0x00})[3], fuse);

    for (const auto& [at, n] : flashSpans) {
        std::vector<uint8_t> back(n);
        ASSERT_TRUE(blocks->ReadFlashBlock(at, back)) << link->FailureText();
        EXPECT_TRUE(std::equal(back.begin(), back.end(), flash.begin() + at)) << "Flash at " << at;
    }
    for (const auto& [at, n] : eepromSpans) {
        std::vector<uint8_t> back(n);
        ASSERT_TRUE(blocks->ReadEEpromBlock(at, back)) << link->FailureText();
        EXPECT_TRUE(std::equal(back.begin(), back.end(), eeprom.begin() + at))
            << "EEPROM at " << at;
    }
    link->Close();
    EXPECT_FALSE(link->IsOpen());
    EXPECT_EQ(state.File("flash.bin"), flash);
    EXPECT_EQ(state.File("eeprom.bin"), eeprom);
    ASSERT_EQ(state.File("fuses.bin").size(), 3u);
    EXPECT_EQ(state.File("fuses.bin")[0], fuse);
}

INSTANTIATE_TEST_SUITE_P(
    Links, ProgrammerTransfer,
    ::testing::Values(
        // The boot wait outlasts the boot loader; or it does not, and the
        // boot loader is sent on to the sketch.
        TransferCase{Programmer::Arduino, "ATtiny85", "boot=0", {{"QUILLON_SIM_BOOT_MS", "5000"}}},
        TransferCase{Programmer::Arduino, "ATmega328P", "baud=115200,boot=300", {}},
        TransferCase{Programmer::Arduino, "ATmega1284P", "boot=300", {}},
        // Older board: the old ids, firmware without the clock request, a
        // part fast enough for its own clock.
        TransferCase{Programmer::Usbasp,
                     "ATtiny85",
                     "",
                     {{"QUILLON_SIM_USB_IDS", "03eb:c7b4"},
                      {"QUILLON_SIM_USBASP_CLOCK", "none"},
                      {"QUILLON_SIM_CLOCK_HZ", "8000000"}}},
        // Two plugged in, one chosen; a part on a 128 kHz clock.
        TransferCase{Programmer::Usbasp,
                     "ATmega328P",
                     "serial=B2",
                     {{"QUILLON_SIM_USB_SERIAL", "A1,B2"}, {"QUILLON_SIM_CLOCK_HZ", "128000"}}},
        // Above 64 KB: the long address; a 16 MHz part, sped up.
        TransferCase{
            Programmer::Usbasp, "ATmega1284P", "", {{"QUILLON_SIM_CLOCK_HZ", "16000000"}}}),
    [](const ::testing::TestParamInfo<TransferCase>& info) {
        return std::string(info.param.programmer == Programmer::Arduino ? "Arduino" : "Usbasp") +
               "_" + info.param.part;
    });

struct FaultCase {
    const char* name;
    Programmer programmer;
    Settings settings;
    enum Step { AtOpen, AtEnable, AtWrite } failsAt;
    const char* says; // in FailureText
    // The programmer itself refused (the link stays open for another try);
    // otherwise the device is lost and let go at once.
    bool refused = false;
};

// Each fault: the step fails (never reported as success), the text says
// what happened and what to do, the port or device is let go (the
// simulated part's session report says its end), no descriptor or process
// is left behind.
TEST(ProgrammerFaults, SayWhatToDoAndLetGo) {
    const std::vector<FaultCase> faults{
        {"board without the sketch",
         Programmer::Arduino,
         {{"QUILLON_SIM_CABLE_FAULT", "silent"}},
         FaultCase::AtOpen,
         "is the ArduinoISP sketch loaded? is this the board's port?"},
        {"out of sync",
         Programmer::Arduino,
         {{"QUILLON_SIM_CABLE_FAULT", "nosync"}},
         FaultCase::AtOpen,
         "is out of sync (it answered 0x15"},
        {"no part on the pins",
         Programmer::Arduino,
         {{"QUILLON_SIM_DEVICE", "none"}},
         FaultCase::AtEnable,
         "found no part answering on its ISP pins: check the wiring",
         true},
        {"programmer failure",
         Programmer::Arduino,
         {{"QUILLON_SIM_CABLE_FAULT", "fail"}},
         FaultCase::AtWrite,
         "reported a failure writing Flash at 0x0000",
         true},
        {"board unplugged",
         Programmer::Arduino,
         {{"QUILLON_SIM_DISCONNECT_AFTER", "60000"}},
         FaultCase::AtWrite,
         "went away while writing Flash"},
        {"no USBasp",
         Programmer::Usbasp,
         {{"QUILLON_SIM_CABLE_FAULT", "absent"}},
         FaultCase::AtOpen,
         "no USBasp found (USB ids 16C0:05DC"},
        {"another device on the ids",
         Programmer::Usbasp,
         {{"QUILLON_SIM_USB_PRODUCT", "Gadget"}},
         FaultCase::AtOpen,
         "only other devices with its ids at bus 1 device 2 (\"Gadget\")"},
        {"permission denied",
         Programmer::Usbasp,
         {{"QUILLON_SIM_CABLE_FAULT", "denied"}},
         FaultCase::AtOpen,
         "permission denied on the USBasp at bus 1 device 2: install the udev rule"},
        {"several, none chosen",
         Programmer::Usbasp,
         {{"QUILLON_SIM_USB_SERIAL", "A1,B2"}},
         FaultCase::AtOpen,
         "several USBasps are plugged in (serials A1, B2): choose one"},
        {"USBasp without a part",
         Programmer::Usbasp,
         {{"QUILLON_SIM_CABLE_FAULT", "fail"}},
         FaultCase::AtEnable,
         "the USBasp found no part answering at SCK 187.5 kHz",
         true},
        {"USBasp unplugged",
         Programmer::Usbasp,
         {{"QUILLON_SIM_DISCONNECT_AFTER", "60000"}},
         FaultCase::AtWrite,
         "the USBasp went away while writing Flash at 0x"},
    };
    const TAVRdesc& m328p = AVRDeviceTable[static_cast<size_t>(FindDeviceRow(0x95, 0x0F))];
    const std::vector<uint8_t> image(4096, 0x5A);
    for (const FaultCase& f : faults) {
        SCOPED_TRACE(f.name);
        Settings settings = f.settings;
        settings.emplace("QUILLON_SIM_DEVICE", "ATmega328P");
        settings["QUILLON_SIM_REPORT"] = "1";
        settings["QUILLON_SIM_BOOT_MS"] = "0";
        const Environment environment(settings);
        const size_t descriptors = OpenDescriptors();
        ::testing::internal::CaptureStderr();
        {
            auto link = MakeLink(f.programmer, f.programmer == Programmer::Arduino ? "boot=0" : "");
            ASSERT_TRUE(link);
            bool ok = link->Open();
            if (ok && f.failsAt != FaultCase::AtOpen) ok = link->ProgrammingEnable();
            if (ok && f.failsAt == FaultCase::AtWrite)
                ok = link->Blocks()->SetPart(m328p) && link->Blocks()->WriteFlashBlock(0, image);
            EXPECT_FALSE(ok);
            EXPECT_NE(link->FailureText().find(f.says), std::string::npos) << link->FailureText();
            EXPECT_EQ(link->FailureText().find('\n'), std::string::npos);
            EXPECT_EQ(link->IsOpen(), f.refused);
            link->Close();
        }
        const std::string said = ::testing::internal::GetCapturedStderr();
        const bool partUsed = f.failsAt != FaultCase::AtOpen || f.programmer == Programmer::Arduino;
        EXPECT_EQ(said.find("simulated part:") != std::string::npos, partUsed) << said;
        EXPECT_EQ(OpenDescriptors(), descriptors);
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1); // no simulated board left running
    }
}

// The options a person writes: the option at fault is named, nothing opens.
TEST(ProgrammerOptions, NameTheOptionAtFault) {
    const std::vector<std::pair<std::string, std::string>> wrong{
        {"arduino:", "the arduino cable needs the board's serial port"},
        {"arduino:/dev/ttyACM0,baud=12345", "baud=12345 is not a speed"},
        {"arduino:/dev/ttyACM0,boot=soon", "boot=soon is not a wait in milliseconds"},
        {"arduino:/dev/ttyACM0,speed=1", "unknown option 'speed' for the arduino cable"},
        {"usbasp:/dev/bus", "the usbasp cable takes no device"},
        {"usbasp:serial=", "serial= needs the USBasp's serial number"},
    };
    for (const auto& [text, says] : wrong) {
        std::string error;
        const auto choice = cable::ParseCableSpec(text, error);
        ASSERT_TRUE(choice) << error;
        const auto link = choice->Name == "arduino"
                              ? cable::MakeArduinoIspLink(choice->Options, false, error)
                              : cable::MakeUsbaspLink(choice->Options, false, error);
        EXPECT_FALSE(link) << text;
        EXPECT_NE(error.find(says), std::string::npos) << text << ": " << error;
    }
}

} // namespace
