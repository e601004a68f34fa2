#include "PortLink.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

constexpr uint8_t SckLine = 1u << SckBit;
constexpr uint8_t MosiLine = 1u << MosiBit;
constexpr uint8_t MisoLine = 1u << MisoBit;

// Line sequences, in milliseconds.
constexpr uint32_t ResetPulseMs = 1;
constexpr uint32_t PowerUpSettleMs = 30;
constexpr uint32_t ReleasePulseMs = 50;

// The slowest SpeedFactor identification reaches: 1 + 10 for each of its
// 99 retries.
constexpr uint32_t SlowestSpeedFactor = 1001;
constexpr uint32_t SpeedFactorStep = 10;

} // namespace

TPortLink::TPortLink(std::string Setting, std::string Options)
    : Setting_(std::move(Setting)), Options_(std::move(Options)) {}

TPortLink::TPortLink(TPortEntries Entries) : InProcess_(true), Entries_(std::move(Entries)) {}

TPortLink::~TPortLink() {
    Close();
}

const std::string& TPortLink::LibraryPath() const {
    static const std::string none;
    return Library_ ? Library_->Path() : none;
}

std::string TPortLink::Description() const {
    if (!Description_.empty()) return Description_;
    if (InProcess_) return "port entries in process";
    if (Setting_.empty() || Setting_ == "lpt") {
        const char* device = std::getenv("QUILLON_PARPORT");
        return std::string("lpt: parallel port ") +
               (device != nullptr && *device != '\0' ? device : "/dev/parport0");
    }
    if (Setting_ == "sim") return "sim: the simulated part on a parallel-port cable";
    return "port library " + (Library_ ? Library_->Path() : Setting_);
}

// ---------------------------------------------------------------- opening ----

// Loads the library (or takes the entries given), hands it the cable's
// options, and asks for access. The library stays loaded after a failure,
// so that its path can be shown.
bool TPortLink::Open() {
    if (PortOpen_) return true;
    TPortEntries entries;
    std::string failure;
    if (InProcess_) {
        entries = Entries_;
        failure = "the port entries are incomplete";
    } else {
        auto library = std::make_unique<TPortLibrary>();
        if (!library->Load(PortLibraryCandidates(Setting_.c_str(), ExecutableDir())))
            failure = "cannot load the port library: " + library->Error();
        else if (entries = library->Resolve(); !entries.Complete())
            failure = library->Path() + " is not a port library: an entry is missing";
        Library_ = std::move(library);
    }
    const std::string library = Library_ ? Library_->Path() : "the port library";
    auto why = [&entries] { return entries.GetWinIoError ? entries.GetWinIoError() : std::string(); };
    if (entries.Complete()) {
        if (entries.ConfigureWinIo && entries.ConfigureWinIo(Options_.c_str()) == 0) {
            failure = why();
            entries = {};
        } else if (!entries.ConfigureWinIo && !Options_.empty()) {
            failure = library + " takes no options ('" + Options_ + "')";
            entries = {};
        }
    }
    if (entries.Complete()) {
        PortOpen_ = entries.InitializeWinIo() != 0;
        if (PortOpen_) {
            Port_ = std::move(entries);
        } else {
            const std::string reason = why();
            // A cable chosen by name says its own reason; a library named by
            // path is named too.
            if (!Description_.empty() && !reason.empty())
                failure = reason;
            else
                failure = library + " refused port access" + (reason.empty() ? "" : ": " + reason);
        }
    }
    Error_ = PortOpen_ ? std::string() : failure;
    return PortOpen_;
}

void TPortLink::Close() {
    if (PortOpen_ && Port_.ShutdownWinIo) Port_.ShutdownWinIo();
    PortOpen_ = false;
    Port_ = {};
    Library_.reset();
}

// ---------------------------------------------------------------- port ----

// A failed read yields 0. When it is a read of the cable's own registers,
// the cable has stopped answering (unplugged, the device gone): that is kept
// as the link's failure, so that nothing read after it passes for data.
uint8_t TPortLink::ReadPort(uint32_t Address) {
    if (!PortOpen_) return 0;
    uint32_t value = 0;
    if (Port_.GetPortVal(static_cast<uint16_t>(Address), &value, 1) != 0)
        return static_cast<uint8_t>(value & 0xFF);
    const bool cableRegister =
        Address == PortBase_ + DataRegOffset || Address == PortBase_ + StatusRegOffset;
    if (cableRegister && Error_.empty()) {
        const std::string why = Port_.GetWinIoError ? Port_.GetWinIoError() : std::string();
        Error_ = "the cable stopped answering" + (why.empty() ? std::string() : ": " + why);
    }
    return 0;
}

void TPortLink::WritePort(uint32_t Address, uint8_t Value) {
    if (!PortOpen_) return;
    Port_.SetPortVal(static_cast<uint16_t>(Address), Value, 1);
    if (Address == PortBase_ + DataRegOffset) {
        DataCopy_ = Value;
        DataCopyKnown_ = true;
    }
}

void TPortLink::SetDataBits(uint8_t Mask) {
    if (Shadowed_) return WriteDataLines(static_cast<uint8_t>(DataLines() | Mask));
    const uint32_t reg = PortBase_ + DataRegOffset;
    WritePort(reg, static_cast<uint8_t>(ReadPort(reg) | Mask));
}

void TPortLink::ClearDataBits(uint8_t Mask) {
    if (Shadowed_) return WriteDataLines(static_cast<uint8_t>(DataLines() & ~Mask));
    const uint32_t reg = PortBase_ + DataRegOffset;
    WritePort(reg, static_cast<uint8_t>(ReadPort(reg) & ~Mask));
}

bool TPortLink::GetMISO() {
    return (ReadPort(PortBase_ + StatusRegOffset) & MisoLine) != 0;
}

// The data register as the link last wrote it; read from the port only
// when the link has not written it yet.
uint8_t TPortLink::DataLines() {
    if (!DataCopyKnown_) {
        DataCopy_ = ReadPort(PortBase_ + DataRegOffset);
        DataCopyKnown_ = PortOpen_;
    }
    return DataCopy_;
}

void TPortLink::WriteDataLines(uint8_t Value) {
    if (DataCopyKnown_ && Value == DataCopy_) return;
    WritePort(PortBase_ + DataRegOffset, Value);
}

void TPortLink::StatusReads(uint32_t Count) {
    const uint32_t reg = PortBase_ + StatusRegOffset;
    for (uint32_t i = 0; i < Count; ++i)
        ReadPort(reg);
}

// ---------------------------------------------------------- bit clock ----

// The bit clock has no timer: one status read is its time unit, stretched
// by SpeedFactor for parts on a slow clock.
void TPortLink::Delay(uint32_t Count) {
    const uint64_t reads = static_cast<uint64_t>(Count) * SpeedFactor_;
    const uint32_t reg = PortBase_ + StatusRegOffset;
    for (uint64_t i = 0; i < reads; ++i)
        ReadPort(reg);
}

void TPortLink::ClockPulse() {
    Delay(1);
    SetSCK();
    Delay(2);
    ClearSCK();
    Delay(1);
}

void TPortLink::SendByte(uint8_t Value) {
    if (Shadowed_ && FastPhasesKnown_) {
        FastExchangeByte(Value);
        return;
    }
    ClearSCK();
    ClearMOSI();
    for (unsigned mask = 0x80; mask != 0; mask >>= 1) {
        if ((Value & mask) != 0)
            SetMOSI();
        else
            ClearMOSI();
        ClockPulse();
    }
    ClearSCK();
    ClearMOSI();
}

// MISO is sampled while SCK is low, before the rising edge of the bit's
// pulse. MOSI stays low, so the part shifts in 0x00.
uint8_t TPortLink::ReceiveByte() {
    if (Shadowed_ && FastPhasesKnown_) return FastExchangeByte(0x00);
    unsigned result = 0;
    ClearSCK();
    for (unsigned mask = 0x80; mask != 0; mask >>= 1) {
        if (GetMISO()) result |= mask;
        ClockPulse();
    }
    ClearSCK();
    return static_cast<uint8_t>(result);
}

// A byte out and a byte in at the SpeedFactor pace: each bit's MISO level
// is read in the low phase before MOSI is set and SCK pulsed.
uint8_t TPortLink::PacedExchangeByte(uint8_t Value) {
    unsigned result = 0;
    ClearSCK();
    for (unsigned mask = 0x80; mask != 0; mask >>= 1) {
        if (GetMISO()) result |= mask;
        if ((Value & mask) != 0)
            SetMOSI();
        else
            ClearMOSI();
        ClockPulse();
    }
    ClearSCK();
    ClearMOSI();
    return static_cast<uint8_t>(result);
}

// A bit is two writes (SCK falling together with the next MOSI level, SCK
// rising) with the status reads of each phase between them. MISO, which the
// part shifted out on the falling edge and holds until the next one, is
// sampled by the last read of the low phase, or by a first read of the high
// phase when the low phase has none. Ends with SCK and MOSI low.
uint8_t TPortLink::FastExchangeByte(uint8_t Value) {
    const uint32_t status = PortBase_ + StatusRegOffset;
    unsigned result = 0;
    for (unsigned mask = 0x80; mask != 0; mask >>= 1) {
        const uint8_t low = static_cast<uint8_t>(DataLines() & ~SckLine);
        WriteDataLines((Value & mask) != 0 ? (low | MosiLine) : (low & ~MosiLine));
        uint32_t highReads = FastHighReads_;
        if (FastLowReads_ > 0) StatusReads(FastLowReads_ - 1);
        if (FastLowReads_ == 0) WriteDataLines(DataLines() | SckLine);
        if ((ReadPort(status) & MisoLine) != 0) result |= mask;
        if (FastLowReads_ > 0)
            WriteDataLines(DataLines() | SckLine);
        else if (highReads > 0)
            --highReads;
        StatusReads(highReads);
    }
    WriteDataLines(static_cast<uint8_t>(DataLines() & ~(SckLine | MosiLine)));
    return static_cast<uint8_t>(result);
}

// ------------------------------------------------------------------ seam ----

bool TPortLink::Transfer(std::span<const TIspBytes> Out, std::span<TIspBytes> In) {
    const bool fast = Shadowed_ && FastPhasesKnown_;
    for (std::size_t i = 0; i < Out.size(); ++i)
        for (std::size_t k = 0; k < 4; ++k) {
            const uint8_t answer = fast ? FastExchangeByte(Out[i][k]) : PacedExchangeByte(Out[i][k]);
            if (i < In.size()) In[i][k] = answer;
        }
    return Error_.empty();
}

void TPortLink::Wait(uint32_t Milliseconds) {
    if (Waiter_)
        Waiter_(Milliseconds);
    else
        Sleep(Milliseconds);
}

void TPortLink::PowerUp() {
    ClearUpperLines();
    ClearRESET();
    ClearSCK();
    ClearMOSI();
    Wait(ResetPulseMs);
    SetRESET();
    Wait(ResetPulseMs);
    ClearRESET();
    Wait(PowerUpSettleMs);
    SetUpperLines();
}

void TPortLink::ResetPulse() {
    SetRESET();
    Wait(ResetPulseMs);
    ClearRESET();
}

void TPortLink::Release() {
    SetUpperLines();
    SetSCK();
    SetMOSI();
    SetRESET();
    Wait(ReleasePulseMs);
    ClearRESET();
    Wait(ReleasePulseMs);
    SetRESET();
}

bool TPortLink::SlowDown() {
    if (SpeedFactor_ >= SlowestSpeedFactor) return false;
    SpeedFactor_ += SpeedFactorStep;
    return true;
}

// Enters programming mode afresh with the given phases (the engine's probe
// does) and keeps them set.
bool TPortLink::TryPhases(uint32_t High, uint32_t Low, const std::function<bool()>& Answers) {
    FastHighReads_ = High;
    FastLowReads_ = Low;
    FastPhasesKnown_ = true;
    return Answers();
}

// The shortest SCK phases the part answers to: first the shortest equal
// phases, then the low and the high phase each shortened on its own (some
// parts want a longer high than low phase). The bits at the SpeedFactor pace
// bound the search: their phases are at most this long. The phases kept
// are the shortest with a margin, and only once many more reads confirm
// them; otherwise bits go back to the SpeedFactor pace.
void TPortLink::SpeedUp(const std::function<bool()>& Answers, const std::function<bool()>& Confirms) {
    const uint32_t longest = 2 * SpeedFactor_ + 3;
    auto shortest = [&](uint32_t good, auto answers) {
        uint32_t bad = 0; // candidates below `bad` are known to fail
        while (bad < good) {
            const uint32_t mid = bad + (good - bad) / 2;
            if (answers(mid))
                good = mid;
            else
                bad = mid + 1;
        }
        return good;
    };
    const uint32_t both = shortest(longest, [&](uint32_t n) { return TryPhases(n, n, Answers); });
    const uint32_t low = shortest(both, [&](uint32_t n) { return TryPhases(both, n, Answers); });
    const uint32_t high = shortest(both, [&](uint32_t n) { return TryPhases(n, low, Answers); });
    FastHighReads_ = PaceWithMargin(high);
    FastLowReads_ = PaceWithMargin(low);
    FastPhasesKnown_ = true;
    if (!Confirms()) FastPhasesKnown_ = false;
}

std::string TPortLink::PaceText() const {
    if (Shadowed_ && FastPhasesKnown_)
        return "SCK high " +
               std::to_string(1 + (FastLowReads_ > 0 ? FastHighReads_ : std::max(FastHighReads_, 1u))) +
               ", low " + std::to_string(FastLowReads_ + 1) + " port accesses";
    return "bit clock x" + std::to_string(SpeedFactor_);
}

uint64_t TPortLink::NowUs() {
    if (PortOpen_ && Port_.GetPortTimeNs) return Port_.GetPortTimeNs() / 1000;
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

void TPortLink::Sleep(uint32_t Milliseconds) {
    if (PortOpen_ && Port_.PortSleepMs)
        Port_.PortSleepMs(Milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}
