#include "ArduinoIspLink.h"

#include "AVRDeviceTable.h"
#include "EngineText.h"
#include "SerialSpeeds.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <thread>

namespace cable {

namespace {

using namespace std::chrono_literals;

constexpr uint8_t kInSync = 0x14;
constexpr uint8_t kOk = 0x10;
constexpr uint8_t kFailed = 0x11;
constexpr uint8_t kNoSync = 0x15;
constexpr uint8_t kCheckByte = 0x20;

constexpr uint8_t kGetSync = 0x30;
constexpr uint8_t kGetParameter = 0x41;
constexpr uint8_t kSetDevice = 0x42;
constexpr uint8_t kEnterProgramming = 0x50;
constexpr uint8_t kLeaveProgramming = 0x51;
constexpr uint8_t kLoadAddress = 0x55;
constexpr uint8_t kUniversal = 0x56;
constexpr uint8_t kProgramPage = 0x64;
constexpr uint8_t kReadPage = 0x74;
constexpr uint8_t kFlash = 'F';
constexpr uint8_t kEEprom = 'E';

constexpr uint8_t kHardwareVersion = 0x80;
constexpr uint8_t kSoftwareMajor = 0x81;
constexpr uint8_t kSoftwareMinor = 0x82;

constexpr int kSyncTries = 5;
constexpr auto kSyncWait = 250ms;
constexpr auto kResetLow = 50ms;
// What a board takes to start the sketch when its boot loader leaves.
constexpr uint32_t kHandOverMs = 100;
// Beyond the bytes on the line: how long the sketch may take before it
// answers, at the least, to enter programming mode, and per byte written.
constexpr uint32_t kAnswerSlackMs = 500;
constexpr uint32_t kEnterMs = 2000;
constexpr uint32_t kFlashByteMs = 2;
constexpr uint32_t kEEpromByteSlackMs = 5;
// Flash above 128 KB: the extended address byte before the load address.
constexpr uint32_t kExtendedFrom = 0x20000;

constexpr const char* kWiring =
    "Uno / Nano: RESET pin 10, MOSI 11, MISO 12, SCK 13; Mega: RESET 53, MOSI 51, MISO 50, "
    "SCK 52; and GND, and 5 V unless the part has its own supply";

} // namespace

TArduinoIspLink::TArduinoIspLink(TArduinoIspOptions Options, bool Simulate)
    : Options_(std::move(Options)), Simulate_(Simulate) {}

TArduinoIspLink::~TArduinoIspLink() {
    Close();
}

std::string TArduinoIspLink::Where() const {
    return PortPath_.empty() ? Options_.Port : PortPath_;
}

std::string TArduinoIspLink::Description() const {
    std::string text =
        "ArduinoISP on " +
        (Simulate_ && Options_.Port.empty()
             ? "a simulated board" + (PortPath_.empty() ? "" : " (" + PortPath_ + ")")
             : Options_.Port) +
        " at " + std::to_string(Options_.Baud) + " baud";
    if (!Versions_.empty()) text += " (" + Versions_ + ")";
    return text + "; " + kWiring;
}

bool TArduinoIspLink::Fail(std::string Text) {
    Failure_ = std::move(Text);
    return false;
}

// The line is of no use any more: the failure is said, the port let go.
bool TArduinoIspLink::Broken(std::string Text) {
    Failure_ = std::move(Text);
    Port_.Close();
    Board_.Stop();
    Programming_ = false;
    return false;
}

bool TArduinoIspLink::Open() {
    if (IsOpen()) return true;
    Failure_.clear();
    Versions_.clear();
    PortPath_ = Options_.Port;
    if (PortPath_.empty()) {
        if (!Simulate_)
            return Fail("the arduino cable needs its serial port (arduino:/dev/ttyACM0)");
        const std::string program = FindStandinProgram("quillon-sim-arduinoisp");
        if (program.empty())
            return Fail("the simulated ArduinoISP (quillon-sim-arduinoisp) is not installed beside "
                        "this program");
        std::string error;
        if (!Board_.Start(program, PortPath_, error)) return Fail(error);
        // It names its terminal, or says why it cannot start.
        if (PortPath_.empty() || PortPath_[0] != '/') {
            const std::string why =
                PortPath_.rfind("error: ", 0) == 0 ? PortPath_.substr(7) : PortPath_;
            PortPath_.clear();
            Board_.Stop();
            return Fail("the simulated ArduinoISP did not start: " + why);
        }
    }
    std::string error;
    if (!Port_.Open(PortPath_, Options_.Baud, error)) return Broken(error);
    // The board restarts: its boot loader listens for a while, then the
    // sketch runs. Nothing is said until then; whatever came meanwhile is
    // dropped.
    Port_.PulseDtr(kResetLow);
    Sleep(Options_.BootWaitMs);
    Port_.Discard();
    if (!Sync()) return false;
    // Should a boot loader have answered after all (a wait too short for
    // it), leave programming mode starts the application, the sketch; the
    // sketch itself has nothing to leave. Then in sync again, with the
    // sketch for sure.
    const std::array<uint8_t, 1> leave{kLeaveProgramming};
    if (Command(leave, {}, "handing over to the sketch") == TReply::Broken) return false;
    Sleep(kHandOverMs);
    Port_.Discard();
    if (!Sync()) return false;

    std::array<uint8_t, 3> version{};
    const std::array<uint8_t, 3> which{kHardwareVersion, kSoftwareMajor, kSoftwareMinor};
    for (size_t i = 0; i < which.size(); ++i) {
        const std::array<uint8_t, 2> cmd{kGetParameter, which[i]};
        const TReply r = Command(cmd, std::span(&version[i], 1), "reading its version");
        if (r == TReply::Broken) return false;
    }
    Versions_ = "hardware " + std::to_string(version[0]) + ", firmware " +
                std::to_string(version[1]) + "." + std::to_string(version[2]);
    Failure_.clear();
    return true;
}

bool TArduinoIspLink::Sync() {
    bool heard = false;
    uint8_t other = 0;
    for (int attempt = 0; attempt < kSyncTries; ++attempt) {
        const std::array<uint8_t, 2> cmd{kGetSync, kCheckByte};
        std::string error;
        std::array<uint8_t, 2> answer{};
        size_t got = 0;
        TSerialPort::TIo io = Port_.Write(cmd, error);
        if (io == TSerialPort::TIo::Ok) io = Port_.Read(answer, kSyncWait, got, error);
        if (io == TSerialPort::TIo::Gone)
            return Broken(Where() + " went away while getting in sync (board unplugged?): plug it "
                                    "in again and retry");
        if (io == TSerialPort::TIo::Error) return Broken(Where() + ": " + error);
        if (got == 2 && answer[0] == kInSync && answer[1] == kOk) return true;
        if (got > 0) {
            heard = true;
            other = answer[0];
        }
        // Whatever else came is dropped before the next try.
        std::this_thread::sleep_for(kSyncWait / 5);
        Port_.Discard();
    }
    if (!heard)
        return Broken("no answer from " + Where() + " at " + std::to_string(Options_.Baud) +
                      " baud: is the ArduinoISP sketch loaded? is this the board's port?");
    return Broken("the programmer on " + Where() + " is out of sync (it answered 0x" +
                  Hex(other, 2) + " to get sync): is the ArduinoISP sketch running at " +
                  std::to_string(Options_.Baud) + " baud? unplug the board, plug it in and retry");
}

TArduinoIspLink::TReply TArduinoIspLink::Command(std::span<const uint8_t> Cmd,
                                                 std::span<uint8_t> Answer, const std::string& What,
                                                 uint32_t WorkMs) {
    if (!IsOpen()) {
        Fail("the programmer is not open");
        return TReply::Broken;
    }
    std::vector<uint8_t> bytes(Cmd.begin(), Cmd.end());
    bytes.push_back(kCheckByte);
    std::string error;
    // The line's time for the command and its answer, twice over, and the
    // sketch's work.
    const uint32_t lineMs =
        static_cast<uint32_t>((bytes.size() + Answer.size() + 2) * 20000 / Options_.Baud) + 1;
    const auto timeout = std::chrono::milliseconds(kAnswerSlackMs + lineMs + WorkMs);
    TSerialPort::TIo io = Port_.Write(bytes, error);
    std::array<uint8_t, 1> first{};
    size_t got = 0;
    if (io == TSerialPort::TIo::Ok) io = Port_.Read(first, timeout, got, error);
    std::vector<uint8_t> rest(Answer.size() + 1);
    if (io == TSerialPort::TIo::Ok && first[0] == kInSync)
        io = Port_.Read(rest, timeout, got, error);

    if (io == TSerialPort::TIo::Gone) {
        Broken(Where() + " went away while " + What +
               " (board unplugged?): plug it in again and "
               "start over");
        return TReply::Broken;
    }
    if (io == TSerialPort::TIo::Error) {
        Broken(Where() + ": " + error + " while " + What);
        return TReply::Broken;
    }
    // A failed command answers 0x14 0x11 at once, without the data.
    if (first[0] == kInSync && io == TSerialPort::TIo::Timeout && got == 1 && rest[0] == kFailed) {
        Fail("the programmer on " + Where() + " reported a failure " + What +
             ": check the wiring to the part and the part's power");
        return TReply::Failed;
    }
    if (io == TSerialPort::TIo::Timeout) {
        Broken("no answer from the programmer on " + Where() + " while " + What +
               ": is the board still running the ArduinoISP sketch?");
        return TReply::Broken;
    }
    if (first[0] != kInSync || (rest.back() != kOk && rest.back() != kFailed)) {
        const uint8_t seen = first[0] != kInSync ? first[0] : rest.back();
        Broken("the programmer on " + Where() + " is out of sync (it answered 0x" + Hex(seen, 2) +
               (seen == kNoSync ? ", not in sync," : "") + " while " + What +
               "): unplug the board, plug it in and start over");
        return TReply::Broken;
    }
    std::copy(rest.begin(), rest.end() - 1, Answer.begin());
    if (rest.back() == kFailed) {
        Fail("the programmer on " + Where() + " reported a failure " + What +
             ": check the wiring to the part and the part's power");
        return TReply::Failed;
    }
    return TReply::Ok;
}

void TArduinoIspLink::Close() {
    if (IsOpen()) Leave();
    Port_.Close();
    Board_.Stop();
    Programming_ = false;
    PartSet_ = false;
    ExtendedSent_ = -1;
}

void TArduinoIspLink::Leave() {
    if (!Programming_ || !IsOpen()) return;
    Programming_ = false;
    const std::array<uint8_t, 1> cmd{kLeaveProgramming};
    Command(cmd, {}, "leaving programming mode");
}

void TArduinoIspLink::PowerUp() {
    Leave();
}

void TArduinoIspLink::ResetPulse() {
    Leave();
}

void TArduinoIspLink::Release() {
    Leave();
}

bool TArduinoIspLink::ProgrammingEnable() {
    Leave();
    Failure_.clear();
    ExtendedSent_ = -1;
    const std::array<uint8_t, 1> cmd{kEnterProgramming};
    const TReply r = Command(cmd, {}, "entering programming mode", kEnterMs);
    if (r == TReply::Failed)
        Fail("the programmer on " + Where() +
             " found no part answering on its ISP pins: check the wiring (" + kWiring +
             ") and the part's power");
    Programming_ = r == TReply::Ok;
    return Programming_;
}

bool TArduinoIspLink::Transfer(std::span<const TIspBytes> Out, std::span<TIspBytes> In) {
    for (size_t i = 0; i < Out.size(); ++i) {
        const TIspBytes& o = Out[i];
        const std::array<uint8_t, 5> cmd{kUniversal, o[0], o[1], o[2], o[3]};
        uint8_t answer = 0;
        const TReply r = Command(cmd, std::span(&answer, 1),
                                 "passing the instruction " + Hex(o[0], 2) + " " + Hex(o[1], 2) +
                                     " " + Hex(o[2], 2) + " " + Hex(o[3], 2) + " to the part");
        if (r != TReply::Ok) return false;
        // Only the last byte comes back: the others are not known.
        if (i < In.size()) In[i] = {0x00, 0x00, 0x00, answer};
    }
    return true;
}

uint64_t TArduinoIspLink::NowUs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

void TArduinoIspLink::Sleep(uint32_t Milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

bool TArduinoIspLink::SetPart(const TAVRdesc& Part) {
    const uint32_t page = 2u * Part.PageWords;
    const auto eeprom = static_cast<uint32_t>(Part.EEpromSize);
    const auto flash = static_cast<uint32_t>(Part.FlashSize);
    // Device code, revision, programming type, parallel mode, polling, self
    // timed, lock bytes, fuse bytes, Flash and EEPROM poll values, page size,
    // EEPROM size, Flash size; sizes high byte first.
    const std::array<uint8_t, 21> cmd{kSetDevice,
                                      0x00,
                                      0x00,
                                      0x00,
                                      0x01,
                                      0x01,
                                      0x01,
                                      0x01,
                                      Part.FuseKind,
                                      Part.FlashPollValue,
                                      Part.FlashPollValue,
                                      Part.EEpromPollErase,
                                      Part.EEpromPollWrite,
                                      static_cast<uint8_t>(page >> 8),
                                      static_cast<uint8_t>(page),
                                      static_cast<uint8_t>(eeprom >> 8),
                                      static_cast<uint8_t>(eeprom),
                                      static_cast<uint8_t>(flash >> 24),
                                      static_cast<uint8_t>(flash >> 16),
                                      static_cast<uint8_t>(flash >> 8),
                                      static_cast<uint8_t>(flash)};
    if (Command(cmd, {}, "setting the part's parameters") != TReply::Ok) return false;
    PartSet_ = true;
    PageBytes_ = page;
    FlashBytes_ = flash;
    EEpromBusyMs_ = Part.EEpromBusyUs / 1000 + 1;
    ExtendedSent_ = -1;
    return true;
}

bool TArduinoIspLink::LoadAddress(uint32_t ByteAddress, bool Flash, const std::string& What) {
    if (Flash && FlashBytes_ > kExtendedFrom) {
        const int ext = static_cast<int>(ByteAddress / kExtendedFrom);
        if (ext != ExtendedSent_) {
            const TIspBytes out{0x4D, 0x00, static_cast<uint8_t>(ext), 0x00};
            TIspBytes in{};
            if (!Transfer({&out, 1}, {&in, 1})) return false;
            ExtendedSent_ = ext;
        }
    }
    // A word address, for EEPROM too.
    const uint32_t word = (ByteAddress >> 1) & 0xFFFF;
    const std::array<uint8_t, 3> cmd{kLoadAddress, static_cast<uint8_t>(word),
                                     static_cast<uint8_t>(word >> 8)};
    return Command(cmd, {}, "loading the address of " + What) == TReply::Ok;
}

bool TArduinoIspLink::WriteBlock(uint8_t Memory, uint32_t Address, std::span<const uint8_t> Data) {
    const bool flash = Memory == kFlash;
    if (flash && !PartSet_) return Fail("the part's page size is not known yet (SetPart)");
    std::vector<uint8_t> joined;
    if ((Address & 1u) != 0) {
        // Blocks start at even addresses: the byte before goes along as it is.
        uint8_t before = 0;
        if (!ReadBlock(Memory, Address - 1, std::span(&before, 1))) return false;
        joined.push_back(before);
        joined.insert(joined.end(), Data.begin(), Data.end());
        Data = joined;
        --Address;
    }
    for (size_t done = 0; done < Data.size();) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(PageBufferBytes, Data.size() - done));
        const uint32_t at = Address + static_cast<uint32_t>(done);
        const std::string what =
            std::string(flash ? "writing Flash" : "writing EEPROM") + " at 0x" + Hex(at, 4);
        if (!LoadAddress(at, flash, what)) return false;
        std::vector<uint8_t> cmd{kProgramPage, static_cast<uint8_t>(n >> 8),
                                 static_cast<uint8_t>(n), Memory};
        cmd.insert(cmd.end(), Data.begin() + static_cast<std::ptrdiff_t>(done),
                   Data.begin() + static_cast<std::ptrdiff_t>(done + n));
        const uint32_t pages = PageBytes_ != 0 ? n / PageBytes_ + 1 : n;
        const uint32_t workMs = flash ? n * kFlashByteMs + pages * 2 * 60
                                      : n * (EEpromBusyMs_ * 2 + kEEpromByteSlackMs);
        if (Command(cmd, {}, what, workMs) != TReply::Ok) return false;
        done += n;
    }
    return true;
}

bool TArduinoIspLink::ReadBlock(uint8_t Memory, uint32_t Address, std::span<uint8_t> Data) {
    const bool flash = Memory == kFlash;
    // Blocks start at even addresses: from an odd one, the byte before is
    // read along and dropped.
    std::vector<uint8_t> joined;
    std::span<uint8_t> target = Data;
    const bool odd = (Address & 1u) != 0;
    if (odd) {
        joined.resize(Data.size() + 1);
        target = joined;
        --Address;
    }
    for (size_t done = 0; done < target.size();) {
        const auto n =
            static_cast<uint32_t>(std::min<size_t>(PageBufferBytes, target.size() - done));
        const uint32_t at = Address + static_cast<uint32_t>(done);
        const std::string what =
            std::string(flash ? "reading Flash" : "reading EEPROM") + " at 0x" + Hex(at, 4);
        if (!LoadAddress(at, flash, what)) return false;
        const std::array<uint8_t, 4> cmd{kReadPage, static_cast<uint8_t>(n >> 8),
                                         static_cast<uint8_t>(n), Memory};
        if (Command(cmd, target.subspan(done, n), what, n * kFlashByteMs) != TReply::Ok)
            return false;
        done += n;
    }
    for (size_t i = 0; odd && i < Data.size(); ++i)
        Data[i] = joined[i + 1];
    return true;
}

bool TArduinoIspLink::WriteFlashBlock(uint32_t Address, std::span<const uint8_t> Data) {
    return WriteBlock(kFlash, Address, Data);
}

bool TArduinoIspLink::ReadFlashBlock(uint32_t Address, std::span<uint8_t> Data) {
    return ReadBlock(kFlash, Address, Data);
}

bool TArduinoIspLink::WriteEEpromBlock(uint32_t Address, std::span<const uint8_t> Data) {
    return WriteBlock(kEEprom, Address, Data);
}

bool TArduinoIspLink::ReadEEpromBlock(uint32_t Address, std::span<uint8_t> Data) {
    return ReadBlock(kEEprom, Address, Data);
}

std::unique_ptr<TIspLink> MakeArduinoIspLink(const std::vector<TCableOption>& options,
                                             bool simulate, std::string& error) {
    if (!CheckCableOptions(options, {"", "baud", "boot"}, "arduino", error)) return nullptr;
    TArduinoIspOptions o;
    o.Port = CableOption(options, "").value_or("");
    if (o.Port.empty() && !simulate) {
        // Said the same way on the command line and in the window's options.
        error = "the arduino cable needs the board's serial port, e.g. arduino:/dev/ttyACM0 "
                "(an Uno or Leonardo) or arduino:/dev/ttyUSB0 (a Nano)";
        return nullptr;
    }
    if (const auto baud = CableOption(options, "baud")) {
        const auto value = CableNumber(*baud);
        if (!value || !SpeedCode(static_cast<uint32_t>(*value))) {
            error = "baud=" + *baud + " is not a speed a serial port offers (" + SerialSpeedList() +
                    ")";
            return nullptr;
        }
        o.Baud = static_cast<uint32_t>(*value);
    }
    if (const auto boot = CableOption(options, "boot")) {
        const auto value = CableNumber(*boot, 60000);
        if (!value) {
            error = "boot=" + *boot + " is not a wait in milliseconds (0 to 60000)";
            return nullptr;
        }
        o.BootWaitMs = static_cast<uint32_t>(*value);
    }
    return std::make_unique<TArduinoIspLink>(std::move(o), simulate);
}

std::string ArduinoIspWiringText() {
    return "Arduino as ISP: load the ArduinoISP sketch onto the board (File > Examples > "
           "ArduinoISP in the Arduino IDE), then wire it to the part's ISP pins:\n"
           "  Uno, Nano, Duemilanove:  pin 10 to RESET, 11 to MOSI, 12 to MISO, 13 to SCK\n"
           "  Mega, Mega 2560:         pin 53 to RESET, 51 to MOSI, 50 to MISO, 52 to SCK\n"
           "  GND to GND, and 5V to VCC unless the part has its own supply.\n"
           "Opening the port resets the board; its boot loader hands over to the sketch after "
           "about 2 s. A 10 uF capacitor between the board's RESET and GND keeps it from "
           "resetting (then boot=0).";
}

std::string ArduinoIspOptionsText() {
    return "arduino:PORT[,baud=19200][,boot=2000]  the board's serial port (/dev/ttyACM0), its "
           "baud rate (the sketch's is 19200), and the wait in ms for its boot loader after the "
           "reset";
}

} // namespace cable
