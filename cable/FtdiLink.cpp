#include "FtdiLink.h"

#include "FtdiBitBang.h"
#include "FtdiLibrary.h"
#include "FtdiMpsse.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <thread>

namespace cable {

namespace {

// The part takes instructions 20 ms after RESET fell; a little more for a
// clock that runs slow.
constexpr uint32_t ArmWaitMs = 25;
// The chip sends what it sampled once its latency timer runs out; 1 ms is
// the shortest it takes, and one USB round trip then costs about 1 ms.
constexpr unsigned char LatencyTimerMs = 1;
// One USB write should end well within libusb's time-out (5 s by default).
constexpr double ExchangeSeconds = 2.0;
// The wait after MPSSE mode is set, before the first command.
constexpr uint32_t MpsseSettleMs = 50;

constexpr std::array<TFtdiChip, 3> AllChips{TFtdiChip::FT232R, TFtdiChip::FT232H,
                                            TFtdiChip::FT2232H};

const char* const PermissionRemedy =
    "install Quillon's udev rule 60-quillon-ftdi.rules (the package puts it in "
    "/usr/lib/udev/rules.d; then run sudo udevadm control --reload-rules), join the group "
    "plugdev (sudo usermod -aG plugdev $USER, then log in again) and plug the board in again";
const char* const BusyRemedy =
    "close the program that uses it (a serial terminal, another programmer); if the kernel's "
    "serial driver holds it, unload the driver with sudo rmmod ftdi_sio";

std::string UsbId(TFtdiChip Chip) {
    char id[16];
    std::snprintf(id, sizeof id, "%04x:%04x", FtdiVendorId, FtdiProductId(Chip));
    return std::string(FtdiChipName(Chip)) + " (" + id + ")";
}

bool Contains(const std::string& text, const char* word) {
    return text.find(word) != std::string::npos;
}

// A board found on the bus.
struct TFound {
    TFtdiChip Chip;
    libusb_device* Device;
    std::string Serial; // empty when it could not be read
    int SerialError = 0;
};

std::string FoundList(const std::vector<TFound>& found) {
    std::string list;
    for (const TFound& b : found) {
        if (!list.empty()) list += ", ";
        list += FtdiChipName(b.Chip);
        list += b.Serial.empty() ? " (serial number unreadable)" : " " + b.Serial;
    }
    return list;
}

} // namespace

std::unique_ptr<TIspLink> MakeFtdiLink(const std::vector<TCableOption>& options, bool simulate,
                                       std::string& error) {
    const auto settings = ParseFtdiOptions(options, error);
    if (!settings) return nullptr;
    return std::make_unique<TFtdiLink>(*settings, simulate);
}

TFtdiLink::TFtdiLink(const TFtdiSettings& Settings, bool Simulate)
    : Settings_(Settings), Simulate_(Simulate), Library_(std::make_unique<TFtdiLibrary>()) {}

TFtdiLink::~TFtdiLink() {
    Close();
}

bool TFtdiLink::Fail(std::string Text) {
    Failure_ = std::move(Text);
    return false;
}

// ---- opening -----------------------------------------------------------------

bool TFtdiLink::Open() {
    if (Open_) return true;
    Failure_.clear();
    Broken_ = false;
    std::string error;
    if (!Library_->Load(Simulate_, error)) return Fail(error);
    Context_ = Library_->Api().New();
    if (Context_ == nullptr) return Fail("libftdi could not set up a context (out of memory)");
    if (!OpenBoard()) {
        Library_->Api().Free(Context_);
        Context_ = nullptr;
        return false;
    }
    Open_ = true;
    if (!SetUpChip()) {
        CloseBoard();
        return false;
    }
    return true;
}

// Finds the boards of the ids looked for, picks one by serial number (or the
// only one) and opens it.
bool TFtdiLink::OpenBoard() {
    const TFtdiApi& f = Library_->Api();
    std::vector<ftdi_device_list*> lists;
    struct ListsFreed {
        const TFtdiApi& f;
        std::vector<ftdi_device_list*>& lists;
        ~ListsFreed() {
            for (ftdi_device_list*& l : lists)
                f.ListFree(&l);
        }
    } freed{f, lists};

    std::vector<TFound> found;
    std::string lookedFor;
    for (const TFtdiChip chip : AllChips) {
        if (Settings_.Chip != TFtdiChip::Auto && Settings_.Chip != chip) continue;
        lookedFor += (lookedFor.empty() ? "" : ", ") + UsbId(chip);
        ftdi_device_list* list = nullptr;
        const int n = f.FindAll(Context_, &list, FtdiVendorId, FtdiProductId(chip));
        if (n < 0)
            return Fail(std::string("cannot list the USB devices (libftdi: ") +
                        f.ErrorString(Context_) + ")");
        lists.push_back(list);
        for (ftdi_device_list* p = list; p != nullptr; p = p->next)
            found.push_back({chip, p->dev, {}, 0});
    }
    if (found.empty())
        return Fail("no FTDI board found (looked for " + lookedFor +
                    "): plug it in; lsusb shows what is on the bus");

    for (TFound& b : found) {
        std::array<char, 128> serial{};
        b.SerialError = f.GetStrings(Context_, b.Device, nullptr, 0, nullptr, 0, serial.data(),
                                     static_cast<int>(serial.size()));
        if (b.SerialError == 0) b.Serial = serial.data();
    }
    const bool unreadable = std::any_of(found.begin(), found.end(),
                                        [](const TFound& b) { return b.Serial.empty(); });
    const std::string readThem =
        unreadable ? std::string("; to read their serial numbers, ") + PermissionRemedy : "";
    const TFound* chosen = nullptr;
    if (!Settings_.Serial.empty()) {
        for (const TFound& b : found)
            if (b.Serial == Settings_.Serial) chosen = &b;
        if (chosen == nullptr)
            return Fail("no FTDI board with serial number '" + Settings_.Serial + "'; found " +
                        FoundList(found) + readThem);
    } else if (found.size() > 1) {
        return Fail("several FTDI boards plugged in (" + FoundList(found) +
                    "): choose one with serial=" + readThem);
    } else {
        chosen = &found.front();
    }

    const std::string mismatch = FtdiSettingsMismatch(Settings_, chosen->Chip);
    if (!mismatch.empty()) return Fail(mismatch);
    if (chosen->Chip == TFtdiChip::FT2232H && f.SetInterface(Context_, INTERFACE_A) < 0)
        return Fail(std::string("cannot select channel A of the FT2232H (libftdi: ") +
                    f.ErrorString(Context_) + ")");
    const int result = f.OpenDev(Context_, chosen->Device);
    if (result < 0) {
        const std::string why = f.ErrorString(Context_);
        const std::string board = UsbId(chosen->Chip);
        if (result == -4 || Contains(why, "permission"))
            return Fail("cannot open the " + board + ": permission denied (libftdi: " + why +
                        "); " + PermissionRemedy);
        if (result == -5 || result == -11)
            return Fail("the " + board +
                        " is busy: another program or the kernel's serial driver ftdi_sio holds it "
                        "(libftdi: " +
                        why + "); " + BusyRemedy);
        if (Simulate_) return Fail("cannot open the simulated " + board + ": " + why);
        return Fail("cannot open the " + board + " (libftdi error " + std::to_string(result) +
                    ": " + why + "): unplug it and plug it in again");
    }
    Chip_ = chosen->Chip;
    Serial_ = chosen->Serial;
    return true;
}

// The bit mode, the pace, RESET high (the part keeps running) and, for
// MPSSE, the check that the serial engine answers.
bool TFtdiLink::SetUpChip() {
    const TFtdiApi& f = Library_->Api();
    if (FtdiChipUsesMpsse(Chip_))
        Encoder_ = std::make_unique<TMpsseEncoder>(Settings_.MpsseReset);
    else
        Encoder_ = std::make_unique<TBitBangEncoder>(Settings_.BitBang);
    const std::string board = FtdiChipName(Chip_);
    auto failed = [&](const std::string& what) {
        return Fail("the " + board + " " + what + " (libftdi: " + f.ErrorString(Context_) +
                    "): unplug it and plug it in again");
    };
    if (f.SetLatencyTimer(Context_, LatencyTimerMs) < 0) return failed("refused its latency timer");
    if (f.SetBitmode(Context_, 0, BITMODE_RESET) < 0 ||
        f.SetBitmode(Context_, Encoder_->BitModeMask(), Encoder_->BitMode()) < 0)
        return failed(std::string("did not enter ") + Encoder_->ModeName() + " mode");
    if (f.Flush(Context_) < 0) return failed("did not empty its buffers");
    // The serial engine wants a moment after it is switched on before it
    // takes commands.
    if (FtdiChipUsesMpsse(Chip_)) Sleep(MpsseSettleMs);
    if (!SetPace(Encoder_->UnitsForSck(Settings_.StartSckHz))) return false;

    BeginExchange();
    const std::size_t setup = Encoder_->AppendSetup(Out_);
    const std::size_t lines = Encoder_->AppendLines(Out_, true);
    Encoder_->AppendFlush(Out_);
    if (!Exchange(setup + lines)) return false;
    if (!Encoder_->SetupAnswered(std::span(Back_).first(setup))) {
        char got[8];
        std::snprintf(got, sizeof got, "%02X %02X", Back_[0], Back_[1]);
        // The FT2232C/D shares the FT2232H's USB id, but its engine lacks the
        // 60 MHz clock and refuses 0x8A as an unknown command.
        if (Back_[1] == 0x8A)
            return Fail("the board with the FT2232H's USB id is an FT2232C/D, whose engine this "
                        "cable does not drive: use an FT232H or FT2232H board");
        return Fail("the " + board + " did not answer in MPSSE mode (" + got +
                    " instead of FA AA): unplug it and plug it in again");
    }
    return true;
}

void TFtdiLink::CloseBoard() {
    const TFtdiApi& f = Library_->Api();
    if (Open_) {
        f.SetBitmode(Context_, 0, BITMODE_RESET); // the pins go back to inputs
        f.Close(Context_);
        Open_ = false;
    }
    if (Context_ != nullptr) f.Free(Context_);
    Context_ = nullptr;
}

void TFtdiLink::Close() {
    if (Context_ == nullptr) return;
    if (Open_ && !Broken_) SetLines(true); // RESET high: the part runs
    CloseBoard();
}

std::string TFtdiLink::Description() const {
    if (!Open_ || !Encoder_)
        return std::string("ftdi ") + (Settings_.Chip == TFtdiChip::Auto
                                           ? "(FT232R, FT232H or FT2232H)"
                                           : FtdiChipName(Settings_.Chip));
    std::string text = std::string("ftdi ") + FtdiChipName(Chip_) +
                       (Serial_.empty() ? "" : " " + Serial_) + " " + Encoder_->ModeName() + ": ";
    if (FtdiChipUsesMpsse(Chip_))
        return text + "SCK ADBUS0, MOSI ADBUS1, MISO ADBUS2, RESET " +
               FtdiMpssePinName(Settings_.MpsseReset);
    const TFtdiBitBangPins& p = Settings_.BitBang;
    return text + "RESET " + FtdiBitBangPinName(p.Reset) + ", SCK " + FtdiBitBangPinName(p.Sck) +
           ", MOSI " + FtdiBitBangPinName(p.Mosi) + ", MISO " + FtdiBitBangPinName(p.Miso);
}

// ---- USB ---------------------------------------------------------------------------

bool TFtdiLink::Usable() {
    if (!Open_) {
        if (Failure_.empty()) Failure_ = "the ftdi cable is not open";
        return false;
    }
    return !Broken_;
}

bool TFtdiLink::Lost(const char* What) {
    Broken_ = true;
    return Fail(std::string("the USB ") + What + " to the " + FtdiChipName(Chip_) +
                " failed (libftdi: " + Library_->Api().ErrorString(Context_) +
                "): the board was unplugged, lost power or stopped answering; plug it in again "
                "and start over");
}

// Starts the next USB write, with a pace still to be sent in front.
void TFtdiLink::BeginExchange() {
    Out_.clear();
    if (PacePending_) Encoder_->AppendPace(Out_, Units_);
    PacePending_ = false;
}

// One USB write of Out_ and the read of its `Answers` bytes into Back_:
// one round trip. The read is under way before the write starts, so the
// chip never waits with a full buffer for the host to collect its answers.
bool TFtdiLink::Exchange(std::size_t Answers) {
    const TFtdiApi& f = Library_->Api();
    Back_.assign(Answers, 0);
    const int size = static_cast<int>(Out_.size());
    if (Answers == 0) {
        if (f.WriteData(Context_, Out_.data(), size) != size) return Lost("write");
        return true;
    }
    ftdi_transfer_control* read = f.ReadSubmit(Context_, Back_.data(), static_cast<int>(Answers));
    if (read == nullptr) return Lost("read");
    ftdi_transfer_control* write = f.WriteSubmit(Context_, Out_.data(), size);
    if (write == nullptr) {
        timeval wait{1, 0};
        f.TransferCancel(read, &wait);
        return Lost("write");
    }
    const int written = f.TransferDone(write);
    const int got = f.TransferDone(read);
    if (written != size) return Lost("write");
    if (got != static_cast<int>(Answers)) return Lost("read");
    return true;
}

bool TFtdiLink::SetLines(bool Reset) {
    if (!Usable()) return false;
    BeginExchange();
    const std::size_t answers = Encoder_->AppendLines(Out_, Reset);
    if (answers > 0) Encoder_->AppendFlush(Out_);
    return Exchange(answers);
}

// ---- lines and instructions ----------------------------------------------------------

void TFtdiLink::PowerUp() {
    if (SetLines(false) && SetLines(true) && SetLines(false)) Sleep(ArmWaitMs);
}

void TFtdiLink::ResetPulse() {
    if (SetLines(true) && SetLines(false)) Sleep(ArmWaitMs);
}

void TFtdiLink::Release() {
    SetLines(true);
}

// Instructions that fit one USB write finishing well within libusb's
// time-out: at any pace a page of loads, and a block of reads at useful
// paces.
std::size_t TFtdiLink::InstructionsPerExchange() const {
    const double instructionSeconds = 32.0 / Encoder_->SckHz(Units_);
    return std::max<std::size_t>(1, static_cast<std::size_t>(ExchangeSeconds / instructionSeconds));
}

bool TFtdiLink::Transfer(std::span<const TIspBytes> Out, std::span<TIspBytes> In) {
    if (!Usable()) return false;
    if (In.size() != Out.size())
        return Fail("a transfer needs room for the answer to each of its instructions");
    const std::size_t step = InstructionsPerExchange();
    for (std::size_t done = 0; done < Out.size(); done += step) {
        const std::size_t n = std::min(step, Out.size() - done);
        BeginExchange();
        const std::size_t answers = Encoder_->AppendInstructions(Out_, Out.subspan(done, n), false);
        Encoder_->AppendFlush(Out_);
        if (!Exchange(answers)) return false;
        Encoder_->Decode(Back_, In.subspan(done, n));
    }
    return true;
}

// ---- pace ---------------------------------------------------------------------------------

bool TFtdiLink::SetPace(uint32_t Units) {
    Units_ = Units;
    if (Encoder_->PaceInStream()) {
        PacePending_ = true;
        return true;
    }
    const TFtdiApi& f = Library_->Api();
    if (f.SetBaudrate(Context_, Encoder_->BaudRate(Units)) < 0) {
        Broken_ = true;
        return Fail(std::string("the ") + FtdiChipName(Chip_) + " refused the bit-bang rate " +
                    std::to_string(Encoder_->BaudRate(Units)) +
                    " (libftdi: " + f.ErrorString(Context_) + "): unplug it and plug it in again");
    }
    return true;
}

bool TFtdiLink::SlowDown() {
    if (!Usable() || Units_ >= Encoder_->SlowestUnits()) return false;
    return SetPace(Encoder_->SlowerUnits(Units_));
}

// The shortest phase the part answers to, found by halving the range of
// paces between the fastest the cable makes and the one in use (which it
// answered to); then the margin, never slower than before.
void TFtdiLink::SpeedUp(const std::function<bool()>& Answers,
                        const std::function<bool()>& Confirms) {
    if (!Usable()) return;
    const uint32_t before = Units_;
    uint32_t good = before;
    uint32_t bad = 0; // paces below `bad` are known to fail
    while (bad < good) {
        const uint32_t mid = bad + (good - bad) / 2;
        if (!SetPace(mid)) return;
        if (Answers())
            good = mid;
        else if (Broken_)
            return;
        else
            bad = mid + 1;
    }
    if (!SetPace(std::min(PaceWithMargin(good), before))) return;
    if (!Confirms() && !Broken_) SetPace(before);
}

std::string TFtdiLink::PaceText() const {
    if (!Encoder_) return {};
    const double hz = Encoder_->SckHz(Units_);
    char text[48];
    if (hz >= 1e6)
        std::snprintf(text, sizeof text, "SCK %.2f MHz", hz / 1e6);
    else if (hz >= 10e3)
        std::snprintf(text, sizeof text, "SCK %.0f kHz", hz / 1e3);
    else
        std::snprintf(text, sizeof text, "SCK %.2f kHz", hz / 1e3);
    return text;
}

// ---- time -----------------------------------------------------------------------------------

uint64_t TFtdiLink::NowUs() {
    const TFtdiApi& f = Library_->Api();
    if (Library_->Loaded() && f.StandinNowNs != nullptr) return f.StandinNowNs() / 1000;
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now() - Origin_)
                                     .count());
}

void TFtdiLink::Sleep(uint32_t Milliseconds) {
    const TFtdiApi& f = Library_->Api();
    if (Library_->Loaded() && f.StandinSleepMs != nullptr)
        f.StandinSleepMs(Milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

} // namespace cable
