#include "FtdiChip.h"

#include <algorithm>

namespace standin {

namespace {

using Picos = uint64_t;
constexpr Picos kPicosPerSecond = 1000000000000ull;
constexpr Picos kPicosPerMs = 1000000000ull;

// A USB round trip, and what a host waits for a transfer that cannot
// finish (libusb's time-out in libftdi, 5 s by default).
constexpr uint64_t kRoundTripMs = 1;
constexpr uint64_t kTimeoutMs = 5000;

// Bulk bandwidth of the bus in bytes a second: full-speed carries 19
// packets of 64 bytes in a 1 ms frame, high-speed 13 of 512 in a 125 us
// microframe. Every packet coming in starts with two modem status bytes.
constexpr Picos kFullSpeedBytePicos = kPicosPerSecond / 1216000;
constexpr Picos kHighSpeedBytePicos = kPicosPerSecond / 53248000;

// The chips' buffers: bytes from the host waiting to be used, and answers
// waiting for the host.
constexpr std::size_t kR_RxFifo = 128, kR_TxFifo = 256;
constexpr std::size_t kH_RxFifo = 1024, kH_TxFifo = 1024;
constexpr std::size_t k2232H_RxFifo = 4096, k2232H_TxFifo = 4096;

// Fastest baud rate generators.
constexpr int kR_MaxBaud = 3000000;
constexpr int kH_MaxBaud = 12000000;

// UART mode: TXD, RTS and DTR are outputs idling high.
constexpr uint8_t kUartOutputs = 0x15;

// MPSSE commands and the flags of the shift commands.
constexpr uint8_t kWriteNeg = 0x01, kBitMode = 0x02, kReadNeg = 0x04, kLsbFirst = 0x08,
                  kDoWrite = 0x10, kDoRead = 0x20;
constexpr uint8_t kBadCommand = 0xFA;

// Byte and bit shifts: writes, reads or both; the 0x4x and 0x6x commands
// (TMS) are not played.
bool IsShift(uint8_t op) {
    return (op & 0xC0) == 0 && (op & (kDoWrite | kDoRead)) != 0;
}

} // namespace

FtdiChip::FtdiChip(FtdiKind kind, const FtdiWiring& wiring, SimBoard& board)
    : kind_(kind), wiring_(wiring), board_(board) {
    if (kind_ != FtdiKind::FT232R) {
        // MPSSE's SPI pins are fixed; only RESET is a GPIO of the person's choice.
        wiring_.sck = 0;
        wiring_.mosi = 1;
        wiring_.miso = 2;
        wiring_.reset = wiring.mpsseReset;
    }
    Drive();
}

// ---- time and pins ----------------------------------------------------------------------

FtdiChip::Picos FtdiChip::Now() const {
    return board_.NowNs() * 1000;
}

// Never earlier than asked: a phase may come out a fraction of a
// nanosecond long, never short.
void FtdiChip::AdvanceTo(Picos at) {
    const Picos now = Now();
    if (at > now) board_.Spend(std::chrono::nanoseconds((at - now + 999) / 1000));
}

FtdiChip::Picos FtdiChip::BusPerByteOut() const {
    return kind_ == FtdiKind::FT232R ? kFullSpeedBytePicos : kHighSpeedBytePicos;
}

FtdiChip::Picos FtdiChip::BusPerByteIn() const {
    return kind_ == FtdiKind::FT232R ? kFullSpeedBytePicos * 64 / 62
                                     : kHighSpeedBytePicos * 512 / 510;
}

std::size_t FtdiChip::BufferLimit() const {
    switch (kind_) {
    case FtdiKind::FT232R:
        return kR_RxFifo + kR_TxFifo;
    case FtdiKind::FT232H:
        return kH_RxFifo + kH_TxFifo;
    case FtdiKind::FT2232H:
        break;
    }
    return k2232H_RxFifo + k2232H_TxFifo;
}

void FtdiChip::RoundTrip(bool waitsForLatencyTimer) {
    const uint64_t ms =
        waitsForLatencyTimer ? std::max<uint64_t>(kRoundTripMs, latencyMs_) : kRoundTripMs;
    board_.Spend(std::chrono::milliseconds(ms));
    board_.Count("USB round trips");
    ++roundTrips_;
}

namespace {

// The level a pin is driven to, or -1 when it is an input.
int Level(uint8_t pin, bool uart, bool bitBang, uint8_t mask, uint8_t latch, uint8_t lowValue,
          uint8_t lowDir, uint8_t highValue, uint8_t highDir) {
    const unsigned bit = 1u << (pin & 7u);
    if (uart) return pin < 8 && (kUartOutputs & bit) != 0 ? 1 : -1;
    if (bitBang) return pin < 8 && (mask & bit) != 0 ? ((latch & bit) != 0 ? 1 : 0) : -1;
    if (pin < 8) return (lowDir & bit) != 0 ? ((lowValue & bit) != 0 ? 1 : 0) : -1;
    return (highDir & bit) != 0 ? ((highValue & bit) != 0 ? 1 : 0) : -1;
}

} // namespace

// RESET has the part's pull-up; an undriven SCK or MOSI reads low.
void FtdiChip::Drive() {
    auto level = [this](uint8_t pin) {
        return Level(pin, mode_ == Mode::Uart, mode_ == Mode::SyncBitBang, mask_, latch_, lowValue_,
                     lowDir_, highValue_, highDir_);
    };
    const int reset = level(wiring_.reset);
    board_.Drive(reset != 0, level(wiring_.sck) == 1, level(wiring_.mosi) == 1);
}

// Pins 0..7 as the chip reads them: driven pins their level, MISO the
// part's, other inputs high (the chip's pull-ups).
uint8_t FtdiChip::LowPins() {
    unsigned value = 0;
    for (uint8_t pin = 0; pin < 8; ++pin) {
        const int driven = Level(pin, mode_ == Mode::Uart, mode_ == Mode::SyncBitBang, mask_,
                                 latch_, lowValue_, lowDir_, highValue_, highDir_);
        const bool high = driven >= 0 ? driven == 1 : (pin == wiring_.miso ? board_.Miso() : true);
        value |= (high ? 1u : 0u) << pin;
    }
    return static_cast<uint8_t>(value);
}

uint8_t FtdiChip::HighPins() const {
    return static_cast<uint8_t>((highValue_ & highDir_) | ~highDir_);
}

bool FtdiChip::CheckGone() {
    if (!board_.Target().Connected()) gone_ = true;
    return gone_;
}

// ---- control requests ----------------------------------------------------------------------

void FtdiChip::ControlRequest() {
    RoundTrip(false);
}

bool FtdiChip::SetBitMode(uint8_t mask, uint8_t mode) {
    ControlRequest();
    switch (mode) {
    case 0x00:
        mode_ = Mode::Uart;
        break;
    case 0x04:
        mode_ = Mode::SyncBitBang;
        mask_ = mask;
        break;
    case 0x02:
        if (kind_ == FtdiKind::FT232R) return false;
        mode_ = Mode::Mpsse;
        lowDir_ = highDir_ = 0; // every pin an input until 0x80/0x82 say otherwise
        divideBy5_ = true;
        threePhase_ = false;
        loopback_ = false;
        pending_.clear();
        break;
    default:
        return false; // asynchronous bit-bang and the FIFO modes are not played
    }
    answers_.clear();
    Drive();
    return true;
}

bool FtdiChip::SetBaudRate(int baud) {
    ControlRequest();
    const int most = kind_ == FtdiKind::FT232R ? kR_MaxBaud : kH_MaxBaud;
    if (baud <= 0 || baud > most) return false;
    pinStep_ = kPicosPerSecond / static_cast<Picos>(baud);
    return true;
}

// ---- bulk data -------------------------------------------------------------------------------

FtdiChip::WriteResult FtdiChip::Write(std::span<const uint8_t> data, std::size_t readRoom) {
    if (gone_) return WriteResult::Gone;
    WriteResult result = WriteResult::Done;
    bool waits = false;
    const std::size_t before = answers_.size();
    if (mode_ == Mode::SyncBitBang) {
        result = WriteBitBang(data, readRoom);
        waits = true;
    } else if (mode_ == Mode::Mpsse) {
        bool flushed = false;
        result = WriteMpsse(data, readRoom, flushed);
        waits = answers_.size() > before && !flushed;
    } // in UART mode the bytes leave on TXD, which the part does not listen to
    if (result == WriteResult::Stalled) board_.Spend(std::chrono::milliseconds(kTimeoutMs));
    if (result == WriteResult::Gone) return result;
    owed_ = answers_.size() > before;
    RoundTrip(waits);
    return result;
}

std::size_t FtdiChip::Read(std::span<uint8_t> out) {
    if (!owed_) RoundTrip(true); // nothing written for it: the chip answers when its timer runs out
    owed_ = false;
    const std::size_t n = std::min(out.size(), answers_.size());
    std::copy_n(answers_.begin(), n, out.begin());
    answers_.erase(answers_.begin(), answers_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

// Each byte: sample the pins, then drive them, one step of the bit-bang
// clock after the last, and no earlier than the bus brought the byte in and
// took the sample before it out.
FtdiChip::WriteResult FtdiChip::WriteBitBang(std::span<const uint8_t> data, std::size_t readRoom) {
    const Picos start = Now();
    const Picos bus = BusPerByteOut() + BusPerByteIn();
    Picos last = start;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (answers_.size() >= readRoom + BufferLimit()) return WriteResult::Stalled;
        const Picos due = std::max(last + pinStep_, start + (i + 1) * bus);
        AdvanceTo(due);
        last = due;
        answers_.push_back(LowPins());
        latch_ = data[i];
        Drive();
        if (CheckGone()) return WriteResult::Gone;
    }
    return WriteResult::Done;
}

FtdiChip::WriteResult FtdiChip::WriteMpsse(std::span<const uint8_t> data, std::size_t readRoom,
                                           bool& flushed) {
    std::vector<uint8_t> stream;
    stream.swap(pending_);
    stream.insert(stream.end(), data.begin(), data.end());
    const Picos start = Now();
    Picos bus = 0;
    std::size_t used = 0;
    while (used < stream.size()) {
        const std::span<const uint8_t> rest = std::span<const uint8_t>(stream).subspan(used);
        const std::size_t length = CommandLength(rest);
        if (length == 0) break; // the rest of the command comes with the next write
        // A command starts when its head is in; a shift's data streams in
        // behind it, each byte no later than it is shifted.
        const std::size_t head = !IsShift(rest[0]) ? length : (rest[0] & kBitMode) != 0 ? 2 : 3;
        dataDue_ = start + bus + head * BusPerByteOut();
        AdvanceTo(dataDue_);
        bus += length * BusPerByteOut();
        const std::size_t before = answers_.size();
        Execute(rest.first(length), flushed);
        bus += (answers_.size() - before) * BusPerByteIn();
        used += length;
        if (CheckGone()) return WriteResult::Gone;
        if (answers_.size() >= readRoom + BufferLimit()) return WriteResult::Stalled;
    }
    pending_.assign(stream.begin() + static_cast<std::ptrdiff_t>(used), stream.end());
    return WriteResult::Done;
}

// ---- MPSSE commands --------------------------------------------------------------------------

std::size_t FtdiChip::CommandLength(std::span<const uint8_t> s) const {
    std::size_t length = 1;
    const uint8_t op = s[0];
    if (IsShift(op)) {
        if ((op & kBitMode) != 0)
            length = 2 + ((op & kDoWrite) != 0 ? 1 : 0);
        else if (s.size() >= 3)
            length =
                3 + ((op & kDoWrite) != 0 ? (std::size_t{s[1]} | std::size_t{s[2]} << 8) + 1 : 0);
        else
            return 0;
    } else if (op == 0x80 || op == 0x82 || op == 0x86 || op == 0x8F) {
        length = 3;
    } else if (op == 0x8E) {
        length = 2;
    }
    return s.size() >= length ? length : 0;
}

void FtdiChip::Execute(std::span<const uint8_t> c, bool& flushed) {
    const uint8_t op = c[0];
    if (IsShift(op)) {
        const bool bits = (op & kBitMode) != 0;
        const uint32_t count =
            bits ? uint32_t{c[1]} + 1u : ((uint32_t{c[1]} | uint32_t{c[2]} << 8) + 1u) * 8u;
        Shift(op, c.subspan(bits ? 2 : 3), count);
        if ((op & kDoRead) != 0) flushed = false;
        return;
    }
    switch (op) {
    case 0x80:
        lowValue_ = c[1];
        lowDir_ = c[2];
        Drive();
        return;
    case 0x82:
        highValue_ = c[1];
        highDir_ = c[2];
        Drive();
        return;
    case 0x81:
        answers_.push_back(LowPins());
        flushed = false;
        return;
    case 0x83:
        answers_.push_back(HighPins());
        flushed = false;
        return;
    case 0x84:
    case 0x85:
        loopback_ = op == 0x84;
        return;
    case 0x86:
        divisor_ = static_cast<uint16_t>(c[1] | c[2] << 8);
        return;
    case 0x87:
        flushed = true;
        return;
    case 0x8A:
    case 0x8B:
        divideBy5_ = op == 0x8B;
        return;
    case 0x8C:
    case 0x8D:
        threePhase_ = op == 0x8C;
        return;
    case 0x96:
    case 0x97: // adaptive clocking waits for RTCK, which nothing here drives: taken, not played
        return;
    case 0x8E:
        Shift(0, {}, uint32_t{c[1]} + 1u);
        return;
    case 0x8F:
        Shift(0, {}, ((uint32_t{c[1]} | uint32_t{c[2]} << 8) + 1u) * 8u);
        return;
    default:
        answers_.push_back(kBadCommand);
        answers_.push_back(op);
        flushed = false;
        return;
    }
}

FtdiChip::Picos FtdiChip::HalfPeriod() const {
    const Picos base = divideBy5_ ? 12000000 : 60000000;
    return (Picos{divisor_} + 1) * kPicosPerSecond / base;
}

// Clocks `bits` bits. SCK leaves its idle level (ADBUS0 as last set) on
// the leading edge and returns on the trailing one; data goes out on the
// edge the command names (on the other one it is set up before the
// leading edge) and comes in on the edge it names, sampled just before the
// edge so that the part's change on that edge is not yet seen.
void FtdiChip::Shift(uint8_t op, std::span<const uint8_t> data, uint32_t bits) {
    const bool idle = (lowValue_ & 1u) != 0;
    const bool writeAtLead = ((op & kWriteNeg) != 0) == idle;
    const bool readAtLead = ((op & kReadNeg) != 0) == idle;
    const bool lsb = (op & kLsbFirst) != 0;
    const bool write = (op & kDoWrite) != 0, read = (op & kDoRead) != 0;
    const bool bitMode = (op & kBitMode) != 0;
    const Picos half = HalfPeriod();
    auto setSck = [this](bool high) {
        lowValue_ = static_cast<uint8_t>((lowValue_ & ~1u) | (high ? 1u : 0u));
    };
    auto setMosi = [this](bool high) {
        lowValue_ = static_cast<uint8_t>((lowValue_ & ~2u) | (high ? 2u : 0u));
    };
    auto sample = [this]() {
        if (loopback_) return (lowValue_ & 2u) != 0;
        return (LowPins() & (1u << wiring_.miso)) != 0;
    };
    unsigned in = 0;
    for (uint32_t i = 0; i < bits; ++i) {
        const uint32_t inByte = bitMode ? i : i % 8;
        if (write && inByte == 0) AdvanceTo(dataDue_ + (i / 8 + 1) * BusPerByteOut());
        const uint8_t outByte = write && !data.empty() ? data[bitMode ? 0 : i / 8] : 0;
        const bool bit = ((lsb ? outByte >> inByte : outByte << inByte) & (lsb ? 0x01 : 0x80)) != 0;
        if (write && !writeAtLead) {
            setMosi(bit);
            Drive();
        }
        AdvanceTo(Now() + half);
        bool got = false;
        if (read && readAtLead) got = sample();
        setSck(!idle);
        Drive();
        if (write && writeAtLead) {
            setMosi(bit);
            Drive();
        }
        AdvanceTo(Now() + half);
        if (read && !readAtLead) got = sample();
        setSck(idle);
        Drive();
        if (threePhase_) AdvanceTo(Now() + half);
        if (CheckGone()) return;
        in = lsb ? (in >> 1) | (got ? 0x80u : 0u) : (in << 1) | (got ? 1u : 0u);
        const bool byteDone = bitMode ? i + 1 == bits : inByte == 7;
        if (read && byteDone) {
            answers_.push_back(static_cast<uint8_t>(in));
            in = 0;
        }
    }
}

} // namespace standin
