#include "ArduinoIspBoard.h"

#include "avrsim/SimTarget.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace standin {

namespace {

using namespace std::chrono_literals;

// STK500 version 1.
constexpr uint8_t kInSync = 0x14;
constexpr uint8_t kOk = 0x10;
constexpr uint8_t kFailed = 0x11;
constexpr uint8_t kUnknown = 0x12;
constexpr uint8_t kNoSync = 0x15;
constexpr uint8_t kCheckByte = 0x20;

constexpr uint8_t kGetSync = 0x30;
constexpr uint8_t kGetSignOn = 0x31;
constexpr uint8_t kSetParameter = 0x40;
constexpr uint8_t kGetParameter = 0x41;
constexpr uint8_t kSetDevice = 0x42;
constexpr uint8_t kSetDeviceExt = 0x45;
constexpr uint8_t kEnterProgramming = 0x50;
constexpr uint8_t kLeaveProgramming = 0x51;
constexpr uint8_t kChipErase = 0x52;
constexpr uint8_t kLoadAddress = 0x55;
constexpr uint8_t kUniversal = 0x56;
constexpr uint8_t kProgramPage = 0x64;
constexpr uint8_t kReadPage = 0x74;
constexpr uint8_t kReadSignature = 0x75;

constexpr size_t kPageBuffer = 256; // the sketch's page buffer
constexpr size_t kSetDeviceBytes = 20;

// The simulated sketch's own version, and its boot loader's.
constexpr uint8_t kHardwareVersion = 2;
constexpr uint8_t kSoftwareMajor = 1;
constexpr uint8_t kSoftwareMinor = 16;
constexpr uint8_t kBootHardwareVersion = 3;
constexpr uint8_t kBootSoftwareMajor = 4;
// The board's own chip, which the boot loader reports.
constexpr std::array<uint8_t, 3> kBoardChip{0x1E, 0x95, 0x0F};

// The SCK phases the sketch tries, fastest first: the first suits a part on
// a 1 MHz clock (more than 2 CPU clocks a phase), the last a 32 kHz one.
constexpr std::array<std::chrono::nanoseconds, 4> kPhases{2500ns, 10us, 40us, 160us};
constexpr int kEnableTries = 2;
// The longest chip erase of the known parts, waited after the erase command.
constexpr auto kEraseWait = 60ms;

} // namespace

bool ArduinoIspSetup::FromEnvironment(ArduinoIspSetup& setup, std::string& error) {
    setup = ArduinoIspSetup{};
    if (const char* fault = std::getenv("QUILLON_SIM_CABLE_FAULT"); fault != nullptr && *fault) {
        const std::string_view f(fault);
        if (f == "silent")
            setup.play = Play::Silent;
        else if (f == "nosync")
            setup.play = Play::OutOfSync;
        else if (f == "fail")
            setup.play = Play::FailWrites;
        else if (f != "none") {
            error = "QUILLON_SIM_CABLE_FAULT=" + std::string(f) +
                    " is not a fault the simulated ArduinoISP plays (silent, nosync, fail)";
            return false;
        }
    }
    if (const char* boot = std::getenv("QUILLON_SIM_BOOT_MS"); boot != nullptr && *boot) {
        const std::string_view b(boot);
        unsigned ms = 0;
        const auto [end, ec] = std::from_chars(b.data(), b.data() + b.size(), ms);
        if (ec != std::errc() || end != b.data() + b.size()) {
            error = "QUILLON_SIM_BOOT_MS=" + std::string(b) + " is not a number of milliseconds";
            return false;
        }
        setup.bootTime = std::chrono::milliseconds(ms);
    }
    return true;
}

ArduinoIspBoard::ArduinoIspBoard(const ArduinoIspSetup& setup, TimedSerial& line)
    : setup_(setup), line_(line) {
    NewPart();
}

ArduinoIspBoard::~ArduinoIspBoard() = default;

void ArduinoIspBoard::NewPart() {
    auto fresh = std::make_unique<SimBoard>("ArduinoISP");
    if (part_) {
        // The same chip on a fresh clock: what the last session wrote stays.
        const avrsim::SimTarget& old = part_->Target();
        avrsim::SimTarget& now = fresh->Target();
        now.SetFlash(old.Flash());
        now.SetEeprom(old.Eeprom());
        const auto fuses = old.Fuses();
        now.SetFuses(fuses[0], fuses[1], fuses[2]);
        now.SetLockBits(old.LockBits());
        const uint64_t oldNow = part_->NowNs();
        bootUntilNs_ = fresh->NowNs() + (bootUntilNs_ > oldNow ? bootUntilNs_ - oldNow : 0);
    }
    line_.Attach(*fresh);
    isp_ = std::make_unique<FirmwareIsp>(*fresh);
    isp_->SetPollValues(device_.poll);
    part_ = std::move(fresh);
    isp_->Release();
    spent_ = false;
}

void ArduinoIspBoard::PortOpened() {
    line_.Clear();
    sessionMark_ = 0;
    device_ = Device{};
    address_ = 0;
    isp_->SetPollValues(device_.poll);
    isp_->Release();
    bootUntilNs_ =
        part_->NowNs() + static_cast<uint64_t>(std::chrono::nanoseconds(setup_.bootTime).count());
}

bool ArduinoIspBoard::Gone() {
    if (!pulled_ && !part_->Target().Connected()) pulled_ = true;
    return pulled_;
}

void ArduinoIspBoard::EndSession() {
    // A pulled board sends nothing more.
    if (!pulled_) line_.Drain();
    if (!spent_ && line_.Received() > sessionMark_) {
        part_->Report();
        spent_ = true;
    }
    sessionMark_ = line_.Received();
}

void ArduinoIspBoard::Serve() {
    for (;;) {
        if (!line_.Await()) break;
        if (spent_) NewPart();
        Command cmd;
        if (!ReadCommand(cmd) || Gone()) break;
        if (cmd.forBootLoader)
            RunBootLoader(cmd);
        else
            RunSketch(cmd);
        if (Gone()) break;
        if (sessionEnds_) {
            sessionEnds_ = false;
            EndSession();
        }
    }
    // The port closed: its modem lines drop and reset the board, which lets
    // the part go. A pulled board says nothing more.
    if (!pulled_) isp_->Release();
    EndSession();
}

bool ArduinoIspBoard::BootLoaderListens() const {
    return part_->NowNs() < bootUntilNs_;
}

bool ArduinoIspBoard::Read(size_t n, std::vector<uint8_t>& into) {
    for (size_t i = 0; i < n; ++i) {
        const auto b = line_.Receive();
        if (!b) return false;
        into.push_back(*b);
    }
    return true;
}

bool ArduinoIspBoard::ReadCommand(Command& cmd) {
    const auto code = line_.Receive();
    if (!code) return false;
    cmd.code = *code;
    cmd.forBootLoader = BootLoaderListens();
    size_t n = 0;
    switch (cmd.code) {
    case kGetParameter:
        n = 1;
        break;
    case kSetParameter:
    case kLoadAddress:
        n = 2;
        break;
    case kUniversal:
        n = 4;
        break;
    case kReadPage:
        n = 3;
        break;
    case kSetDevice:
        n = kSetDeviceBytes;
        break;
    case kSetDeviceExt: // its first byte counts the parameters, itself included
        if (!Read(1, cmd.args)) return false;
        n = cmd.args[0] > 0 ? cmd.args[0] - 1u : 0u;
        break;
    case kProgramPage:
        if (!Read(3, cmd.args)) return false;
        n = (size_t{cmd.args[0]} << 8) | cmd.args[1];
        break;
    default:
        break;
    }
    if (!Read(n, cmd.args)) return false;
    const auto check = line_.Receive();
    if (!check) return false;
    cmd.checked = *check == kCheckByte;
    return true;
}

void ArduinoIspBoard::Answer(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes)
        line_.Send(b);
}

void ArduinoIspBoard::RunBootLoader(const Command& cmd) {
    // It stays as long as it is spoken to.
    bootUntilNs_ =
        part_->NowNs() + static_cast<uint64_t>(std::chrono::nanoseconds(setup_.bootTime).count());
    if (!cmd.checked) {
        Answer({kNoSync});
        return;
    }
    const auto& a = cmd.args;
    switch (cmd.code) {
    case kGetSync:
    case kSetParameter:
    case kSetDevice:
    case kSetDeviceExt:
    case kEnterProgramming:
    case kChipErase:
    case kLoadAddress:
        Answer({kInSync, kOk});
        break;
    case kLeaveProgramming: // starts the sketch at once
        bootUntilNs_ = part_->NowNs();
        Answer({kInSync, kOk});
        break;
    case kGetParameter:
        Answer({kInSync,
                a[0] == 0x80   ? kBootHardwareVersion
                : a[0] == 0x81 ? kBootSoftwareMajor
                               : uint8_t{0},
                kOk});
        break;
    case kUniversal:
        Answer({kInSync, 0x00, kOk});
        break;
    case kProgramPage:
        if (!bootWarned_)
            std::fprintf(stderr, "simulated ArduinoISP: the boot loader took a program page "
                                 "command and wrote the board's own chip: the host spoke before "
                                 "the sketch started\n");
        bootWarned_ = true;
        Answer({kInSync, kOk});
        break;
    case kReadPage:
        line_.Send(kInSync);
        for (size_t i = 0, n = (size_t{a[0]} << 8) | a[1]; i < n; ++i)
            line_.Send(0xFF);
        line_.Send(kOk);
        break;
    case kReadSignature:
        Answer({kInSync, kBoardChip[0], kBoardChip[1], kBoardChip[2], kOk});
        break;
    default:
        Answer({kUnknown});
        break;
    }
}

void ArduinoIspBoard::RunSketch(const Command& cmd) {
    if (setup_.play == ArduinoIspSetup::Play::Silent) return;
    if (!cmd.checked || setup_.play == ArduinoIspSetup::Play::OutOfSync) {
        Answer({kNoSync});
        return;
    }
    const auto& a = cmd.args;
    const bool programming = isp_->Programming();
    switch (cmd.code) {
    case kGetSync:
    case kSetParameter:
    case kSetDeviceExt:
        Answer({kInSync, kOk});
        break;
    case kGetSignOn:
        line_.Send(kInSync);
        for (char c : std::string_view("AVR ISP"))
            line_.Send(static_cast<uint8_t>(c));
        line_.Send(kOk);
        break;
    case kGetParameter:
        Answer({kInSync,
                a[0] == 0x80   ? kHardwareVersion
                : a[0] == 0x81 ? kSoftwareMajor
                : a[0] == 0x82 ? kSoftwareMinor
                               : uint8_t{0},
                kOk});
        break;
    case kSetDevice:
        SetDevice(a);
        Answer({kInSync, kOk});
        break;
    case kEnterProgramming:
        Answer({kInSync, EnterProgramming() ? kOk : kFailed});
        break;
    case kLeaveProgramming: // ends the session when there was one to leave
        sessionEnds_ = programming;
        LeaveProgramming();
        Answer({kInSync, kOk});
        break;
    case kChipErase:
        if (programming) {
            isp_->Transfer({0xAC, 0x80, 0x00, 0x00});
            part_->Spend(kEraseWait);
        }
        Answer({kInSync, programming ? kOk : kFailed});
        break;
    case kLoadAddress:
        address_ = a[0] | (uint32_t{a[1]} << 8);
        Answer({kInSync, kOk});
        break;
    case kUniversal:
        if (programming)
            Answer({kInSync, isp_->Transfer({a[0], a[1], a[2], a[3]})[3], kOk});
        else
            Answer({kInSync, 0x00, kFailed});
        break;
    case kProgramPage: {
        const size_t size = a.size() - 3;
        const bool ok = programming && size <= kPageBuffer &&
                        setup_.play != ArduinoIspSetup::Play::FailWrites &&
                        ProgramPage(a[2], a.data() + 3, size);
        if (!Gone()) Answer({kInSync, ok ? kOk : kFailed});
        break;
    }
    case kReadPage: {
        const size_t size = (size_t{a[0]} << 8) | a[1];
        if (programming && size <= kPageBuffer && (a[2] == 'F' || a[2] == 'E'))
            ReadPage(a[2], size);
        else
            Answer({kInSync, kFailed});
        break;
    }
    case kReadSignature:
        if (!programming) {
            Answer({kInSync, kFailed});
            break;
        }
        line_.Send(kInSync);
        for (uint8_t i = 0; i < 3; ++i)
            line_.Send(isp_->Transfer({0x30, 0x00, i, 0x00})[3]);
        line_.Send(kOk);
        break;
    default:
        Answer({kUnknown});
        break;
    }
}

void ArduinoIspBoard::SetDevice(const std::vector<uint8_t>& p) {
    // devicecode, revision, progtype, parmode, polling, selftimed, lockbytes,
    // fusebytes, flashpollval1, flashpollval2, eeprompollval1, eeprompollval2,
    // pagesize (2, bytes), eepromsize (2), flashsize (4), high byte first.
    device_.known = true;
    device_.poll = PollValues{p[8], p[10], p[11]};
    device_.pageBytes = (uint32_t{p[12]} << 8) | p[13];
    isp_->SetPollValues(device_.poll);
}

bool ArduinoIspBoard::EnterProgramming() {
    for (const auto phase : kPhases) {
        isp_->SetPhase(phase);
        isp_->Connect();
        if (isp_->ProgrammingEnable(kEnableTries)) return true;
        if (Gone()) return false;
    }
    isp_->Release();
    return false;
}

void ArduinoIspBoard::LeaveProgramming() {
    isp_->Release();
}

bool ArduinoIspBoard::ProgramPage(uint8_t memory, const uint8_t* data, size_t size) {
    const uint32_t base = 2 * address_;
    bool ok = true;
    if (memory == 'F') {
        if (!device_.known) return false; // no page size: set device first
        const uint32_t page = device_.pageBytes;
        for (size_t i = 0; i < size && !Gone(); ++i) {
            const uint32_t at = base + static_cast<uint32_t>(i);
            if (page == 0) {
                ok = isp_->WriteFlashByte(at, data[i]) && ok;
                continue;
            }
            isp_->LoadFlash(at, data[i]);
            if ((at + 1) % page == 0) ok = isp_->WritePage() && ok;
        }
        if (isp_->PageLoaded() && !Gone()) ok = isp_->WritePage() && ok;
    } else if (memory == 'E') {
        for (size_t i = 0; i < size && !Gone(); ++i)
            ok = isp_->WriteEeprom(base + static_cast<uint32_t>(i), data[i]) && ok;
    } else {
        return false;
    }
    address_ += static_cast<uint32_t>(size / 2);
    return ok && !Gone();
}

void ArduinoIspBoard::ReadPage(uint8_t memory, size_t size) {
    const uint32_t base = 2 * address_;
    // The bytes leave the line while the next ones are read from the part.
    line_.Send(kInSync);
    for (size_t i = 0; i < size; ++i) {
        const uint32_t at = base + static_cast<uint32_t>(i);
        line_.Send(memory == 'F' ? isp_->ReadFlash(at) : isp_->ReadEeprom(at));
        if (Gone()) return;
    }
    line_.Send(kOk);
    address_ += static_cast<uint32_t>(size / 2);
}

} // namespace standin
