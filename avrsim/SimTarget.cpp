#include "avrsim/SimTarget.h"

#include "avrsim/StateFolder.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace avrsim {

using namespace std::chrono_literals;

enum class SimTarget::Op : uint8_t {
    Unknown = 0,
    Enable,
    Erase,
    ReadFlash,
    WriteFlashByte,
    LoadPage,
    WritePage,
    ReadEeprom,
    WriteEeprom,
    ReadSignature,
    ReadCalibration,
    WriteLock,
    ReadLock,
    WriteFuse,
    ReadFuse,
    Poll,
    LoadExtendedAddress,
};

namespace {

// After RESET goes low the part needs this long before it takes in bits.
constexpr auto kArmDelay = 20ms;
// Clock rate from which the parts want one more CPU clock per SCK phase.
constexpr uint32_t kFastClockHz = 12000000;
// Status register bits other than MISO: BUSY (inverted) low, the other
// inputs pulled up, as a port with only this cable attached reads.
constexpr uint8_t kStatusIdle = 0x3F;

} // namespace

SimTarget::SimTarget(const SimConfig& cfg, SimClock* clock)
    : part_(FindPart(cfg.device)), clockHz_(cfg.clockHz), nsPerAccess_(cfg.nsPerAccess),
      stateDir_(cfg.stateDir) {
    if (part_ == nullptr) throw std::invalid_argument("unknown simulated part: " + cfg.device);
    if (cfg.clockHz == 0) throw std::invalid_argument("simulated part needs a clock above 0 Hz");
    if (cfg.nsPerAccess == 0) throw std::invalid_argument("a port access must take model time");
    minLowClocks_ = part_->minLowClocks;
    minHighClocks_ = part_->minHighClocks;
    if (clockHz_ >= kFastClockHz) {
        minLowClocks_ = std::max<uint8_t>(minLowClocks_, 3);
        minHighClocks_ = std::max<uint8_t>(minHighClocks_, 3);
    }
    if (clock == nullptr) {
        ownClock_ = std::make_unique<SteadySimClock>();
        clock = ownClock_.get();
    }
    clock_ = clock;

    flash_.assign(part_->flashBytes, 0xFF);
    eeprom_.assign(part_->eepromBytes, 0xFF);
    pageBuffer_.assign(2u * part_->pageWords, 0xFF);
    fuses_ = part_->factoryFuses;
    if (!stateDir_.empty() && part_->present &&
        LoadChipState(stateDir_, part_->name, flash_, eeprom_, fuses_))
        LoadLockState(stateDir_, lock_);
    effects_ = EffectsOf(*part_);
    latchedFuses_ = fuses_;

    SetBusyScale(cfg.busyScale);
    if (cfg.disconnectAfter != 0) DisconnectAfterAccesses(cfg.disconnectAfter);

    // Power-up with every data line low: RESET low and SCK low arm serial programming.
    startedAt_ = NowAt();
    sckChangedAt_ = startedAt_;
    if (part_->present && SerialProgrammingReachable()) Arm(sckChangedAt_);
    UpdateMiso();
}

SimTarget::~SimTarget() {
    if (dirty_ && !SaveState())
        std::fprintf(stderr, "simulated %s: state not saved: %s\n",
                     std::string(part_->name).c_str(), stateError_.c_str());
}

// ---- port entries ----------------------------------------------------------

void SimTarget::CountAccess() {
    accessTime_ += nsPerAccess_;
    if (++accesses_ == goneAt_) GoAway();
}

int SimTarget::SetPortVal(uint16_t port, uint32_t value, uint8_t size) {
    CountAccess();
    if (port != kDataPort || size != 1) return 0;
    const auto v = static_cast<uint8_t>(value);
    const uint8_t changed = (v ^ data_) & (kResetLine | kSckLine);
    data_ = v;
    if (changed == 0 || gone_) return 1;
    const Nanos t = NowAt();
    // SCK is judged with the RESET level it met; a RESET edge in the same
    // write then sees the new SCK level.
    if (changed & kSckLine) {
        if (v & kSckLine)
            OnSckRise(t);
        else
            OnSckFall(t);
    }
    if (changed & kResetLine) {
        if (v & kResetLine)
            OnResetRise(t);
        else
            OnResetFall(t);
    }
    return 1;
}

int SimTarget::GetPortVal(uint16_t port, uint32_t* value, uint8_t size) {
    CountAccess();
    if (value == nullptr || size != 1) return 0;
    if (port == kStatusPort) {
        *value = statusValue_;
        return 1;
    }
    if (port == kDataPort) {
        *value = data_;
        return 1;
    }
    return 0;
}

// ---- pins --------------------------------------------------------------------

bool SimTarget::PhaseLongEnough(Nanos phase, uint8_t clocks) const {
    // phase > clocks / clockHz, in integers; a second is long enough for any part.
    if (phase >= 1s) return true;
    if (phase <= 0ns) return false;
    return static_cast<uint64_t>(phase.count()) * clockHz_ > uint64_t{clocks} * 1000000000u;
}

// Long enough, and not one of the marginal edges the part loses.
bool SimTarget::PhaseHolds(Nanos phase, uint8_t clocks) {
    if (!PhaseLongEnough(phase, clocks)) return false;
    if (marginalEvery_ == 0) return true;
    const double need = marginalFactor_ * clocks * 1e9 / clockHz_;
    if (static_cast<double>(phase.count()) >= need) return true;
    return ++marginalEdges_ % marginalEvery_ != 0;
}

void SimTarget::OnSckRise(Nanos t) {
    const Nanos low = t - sckChangedAt_;
    sckChangedAt_ = t;
    riseSeen_ = false;
    if (!armed_ || silent_) return;
    if (t - armedAt_ < kArmDelay || !PhaseHolds(low, minLowClocks_)) {
        ++lostPulses_;
        return;
    }
    riseSeen_ = true;
    mosiAtRise_ = (data_ & kMosiLine) != 0;
}

void SimTarget::OnSckFall(Nanos t) {
    const Nanos high = t - sckChangedAt_;
    sckChangedAt_ = t;
    if (!riseSeen_ || !armed_ || silent_) return;
    riseSeen_ = false;
    // The bit was sampled at the rising edge; a high phase too short for the
    // part means it never saw that pulse at all.
    if (!PhaseHolds(high, minHighClocks_)) {
        ++lostPulses_;
        return;
    }
    ClockBit(mosiAtRise_, t);
}

void SimTarget::OnResetRise(Nanos t) {
    // Releasing RESET ends serial programming; it is also what completes the
    // chip erase of the parts that do not time it themselves.
    if (eraseAwaitsReset_) {
        eraseAwaitsReset_ = false;
        if (t >= eraseDoneAt_) EraseChip();
        busyKind_ = BusyKind::None;
    }
    armed_ = false;
    enabled_ = false;
    riseSeen_ = false;
    // Leaving programming mode puts the fuses written in it into effect.
    latchedFuses_ = fuses_;
    UpdateMiso();
    if (dirty_ && !SaveState())
        std::fprintf(stderr, "simulated %s: state not saved: %s\n",
                     std::string(part_->name).c_str(), stateError_.c_str());
}

void SimTarget::OnResetFall(Nanos t) {
    // With SCK high the part does not enter serial programming; it takes a
    // positive RESET pulse while SCK is low.
    // A part whose RESET pin is taken, or that has no clock, never listens.
    if (!part_->present || (data_ & kSckLine) != 0 || !SerialProgrammingReachable()) return;
    Arm(t);
}

void SimTarget::Arm(Nanos t) {
    marginalEdges_ = 0;
    armed_ = true;
    enabled_ = false;
    armedAt_ = t;
    bitInFrame_ = 0;
    shiftIn_ = 0;
    out_ = part_->echoesEnable ? 0x00 : 0xFF;
    outBit_ = 7;
    nextOut_ = out_;
    riseSeen_ = false;
    current_ = Decoded{};
    extendedAddress_ = 0;
    UpdateMiso();
}

void SimTarget::GoAway() {
    gone_ = true;
    goneAt_ = UINT64_MAX;
    armed_ = false;
    enabled_ = false;
    riseSeen_ = false;
    UpdateMiso();
}

void SimTarget::UpdateMiso() {
    bool level = true; // an undriven MISO reads high through the port's pull-up
    if (misoStuck_ != MisoStuck::No)
        level = misoStuck_ == MisoStuck::High;
    else if (armed_ && !silent_ && !gone_ && part_->present)
        level = ((out_ >> outBit_) & 1u) != 0;
    statusValue_ = static_cast<uint8_t>(kStatusIdle | (level ? kMisoLine : 0));
}

// ---- serial framing ------------------------------------------------------------

void SimTarget::ClockBit(bool bit, Nanos t) {
    ++clockedBits_;
    shiftIn_ = static_cast<uint8_t>((shiftIn_ << 1) | (bit ? 1u : 0u));
    ++bitInFrame_;
    const bool byteDone = (bitInFrame_ & 7u) == 0;
    if (byteDone) ByteReceived(shiftIn_, bitInFrame_ / 8u - 1u, t);
    if (bitInFrame_ == 32) bitInFrame_ = 0;
    // MISO moves to its next bit after the falling edge.
    if (byteDone) {
        out_ = nextOut_;
        outBit_ = 7;
    } else {
        --outBit_;
    }
    UpdateMiso();
}

void SimTarget::ByteReceived(uint8_t b, unsigned index, Nanos t) {
    frame_[index] = b;
    // By default the next byte out is this one: the echo. The AT90S1200 shows
    // none until programming is enabled.
    nextOut_ = (enabled_ || part_->echoesEnable) ? b : 0xFF;
    if (index == 2) {
        current_ = Decode();
        uint8_t answer = 0;
        currentAnswered_ = ReadAnswer(current_, t, answer);
        if (currentAnswered_) nextOut_ = answer;
        return;
    }
    if (index != 3) return;

    bool executed = currentAnswered_;
    if (current_.op != Op::Unknown && !executed && !BusyAt(t)) executed = Execute(current_, b, t);
    currentAnswered_ = false;
    current_ = Decoded{};
    if (logFrames_) frames_.push_back(SimFrame{frame_, t, executed});
}

SimTarget::Decoded SimTarget::Decode() const {
    const uint8_t b1 = frame_[0];
    const uint8_t b2 = frame_[1];
    const uint8_t b3 = frame_[2];
    const PartInfo& p = *part_;
    const uint32_t wordMask = p.FlashWords() - 1;
    const uint32_t address = (uint32_t{b2} << 8) | b3;
    // Flash reads and page writes take the extended address byte as bit 16
    // of the word address on the parts that have one; without it they reach
    // the low 128 KB, as the 16 address bits alone do.
    const uint32_t flashAddress =
        (p.ExtendedAddress() ? uint32_t{extendedAddress_} << 16 : 0u) | address;
    const uint8_t byteSel = (b1 >> 3) & 1u;

    if (b1 == 0xAC && b2 == 0x53) return {Op::Enable, 0, 0};
    // Before programming enable nothing else is recognised.
    if (!enabled_) return {Op::Unknown, 0, 0};

    if (b1 == 0xAC) {
        if ((b2 & 0xE0) == 0x80) return {Op::Erase, 0, 0};
        switch (p.lock) {
        case LockLayout::Classic:
            if ((b2 & 0xE0) == 0xE0)
                return {Op::WriteLock, static_cast<uint8_t>(0xFC | ((b2 >> 1) & 3u)), 0};
            break;
        case LockLayout::Tiny:
            if ((b2 & 0xF9) == 0xF9)
                return {Op::WriteLock, static_cast<uint8_t>(0xFC | ((b2 >> 1) & 3u)), 0};
            break;
        case LockLayout::Mega:
            if ((b2 & 0xE0) == 0xE0) return {Op::WriteLock, 0, 0};
            break;
        case LockLayout::None:
            break;
        }
        switch (p.fuses) {
        case FuseLayout::SingleByte:
            if ((b2 & 0xE0) == 0xA0) return {Op::WriteFuse, 0, 0};
            break;
        case FuseLayout::LowHighExt:
            if (b2 == 0xA4) return {Op::WriteFuse, 2, 0};
            [[fallthrough]];
        case FuseLayout::LowHigh:
            if (b2 == 0xA0) return {Op::WriteFuse, 0, 0};
            if (b2 == 0xA8) return {Op::WriteFuse, 1, 0};
            break;
        case FuseLayout::None:
            break;
        }
        return {Op::Unknown, 0, 0};
    }

    switch (b1 & 0xF7) {
    case 0x20:
        return {Op::ReadFlash, byteSel, flashAddress & wordMask};
    case 0x40:
        if (p.Paged()) return {Op::LoadPage, byteSel, b3 & (p.pageWords - 1u)};
        return {Op::WriteFlashByte, byteSel, address & wordMask};
    default:
        break;
    }

    switch (b1) {
    case 0x4C:
        if (p.Paged()) return {Op::WritePage, 0, flashAddress & wordMask & ~(p.pageWords - 1u)};
        break;
    case 0x4D:
        if (b2 == 0x00 && p.ExtendedAddress()) return {Op::LoadExtendedAddress, 0, b3};
        break;
    case 0xA0:
        return {Op::ReadEeprom, 0, address & (p.eepromBytes - 1)};
    case 0xC0:
        return {Op::WriteEeprom, 0, address & (p.eepromBytes - 1)};
    case 0x30:
        return {Op::ReadSignature, static_cast<uint8_t>(b3 & 3u), 0};
    case 0x38:
        if (p.calibrationCount > 0) return {Op::ReadCalibration, static_cast<uint8_t>(b3 & 3u), 0};
        break;
    case 0x50:
        if (p.fuses == FuseLayout::SingleByte) return {Op::ReadFuse, 0, 0};
        if (p.fuses == FuseLayout::None) break;
        if (b2 == 0x00) return {Op::ReadFuse, 0, 0};
        if (b2 == 0x08 && p.fuses == FuseLayout::LowHighExt) return {Op::ReadFuse, 2, 0};
        break;
    case 0x58:
        if (b2 == 0x00 && p.lock == LockLayout::Mega) return {Op::ReadLock, 0, 0};
        if (b2 == 0x08 && (p.fuses == FuseLayout::LowHigh || p.fuses == FuseLayout::LowHighExt))
            return {Op::ReadFuse, 1, 0};
        break;
    case 0xF0:
        if (b2 == 0x00 && p.hasPollInstruction) return {Op::Poll, 0, 0};
        break;
    default:
        break;
    }
    return {Op::Unknown, 0, 0};
}

// ---- instructions --------------------------------------------------------------

bool SimTarget::ProgrammingLocked() const {
    return (lock_ & 0x01) == 0;
}
bool SimTarget::VerifyLocked() const {
    return (lock_ & 0x03) == 0;
}

bool SimTarget::BusyAt(Nanos t) const {
    return eraseAwaitsReset_ || t < busyUntil_;
}

bool SimTarget::Busy() const {
    return BusyAt(ModelTime());
}

std::chrono::nanoseconds SimTarget::ModelTime() const {
    return NowAt();
}

bool SimTarget::ReadAnswer(const Decoded& d, Nanos t, uint8_t& value) const {
    const PartInfo& p = *part_;
    if (d.op == Op::Poll) {
        value = BusyAt(t) ? 0x01 : 0x00;
        return true;
    }
    if (BusyAt(t)) {
        // Data polling: the location being written answers the part's polling
        // value; every other read waits for the write and is not executed.
        switch (busyKind_) {
        case BusyKind::FlashByte:
            if (d.op != Op::ReadFlash || 2 * d.addr + d.which != busyAddr_) return false;
            value = p.flashPoll;
            return true;
        case BusyKind::EepromByte:
            if (d.op != Op::ReadEeprom || d.addr != busyAddr_) return false;
            value = (t - busyFrom_ < (busyUntil_ - busyFrom_) / 2) ? p.eepromPollErase
                                                                   : p.eepromPollWrite;
            return true;
        case BusyKind::Page:
            if (d.op != Op::ReadFlash || d.addr / p.pageWords != busyAddr_ / p.pageWords)
                return false;
            value = 0xFF;
            return true;
        default:
            return false;
        }
    }
    switch (d.op) {
    case Op::ReadFlash:
        value = VerifyLocked() ? 0xFF : flash_[2 * d.addr + d.which];
        return true;
    case Op::ReadEeprom:
        value = VerifyLocked() ? 0xFF : eeprom_[d.addr];
        return true;
    case Op::ReadSignature:
        if (p.lockHidesSignature && VerifyLocked())
            value = d.which;
        else
            value = d.which < 3 ? p.signature[d.which] : 0xFF;
        return true;
    case Op::ReadCalibration:
        value = d.which < p.calibrationCount ? p.calibration[d.which] : 0xFF;
        return true;
    case Op::ReadLock:
        value = static_cast<uint8_t>(lock_ | 0xC0);
        return true;
    case Op::ReadFuse:
        value = fuses_[d.which];
        return true;
    default:
        return false;
    }
}

bool SimTarget::Execute(const Decoded& d, uint8_t data, Nanos t) {
    const PartInfo& p = *part_;
    switch (d.op) {
    case Op::Enable:
        enabled_ = true;
        return true;
    case Op::Erase:
        if (p.eraseEndsAtReset) {
            eraseAwaitsReset_ = true;
            eraseDoneAt_ = t + Nanos(static_cast<int64_t>(p.eraseBusyUs * 1000.0 * busyScale_));
            busyKind_ = BusyKind::Erase;
            busyTotal_ += eraseDoneAt_ - t;
        } else {
            EraseChip();
            StartBusy(BusyKind::Erase, p.eraseBusyUs, 0, t);
        }
        if (noAnswerAfterErase_) {
            silent_ = true;
            UpdateMiso();
        }
        return true;
    case Op::WriteFlashByte: {
        if (ProgrammingLocked()) return false;
        const uint32_t at = 2 * d.addr + d.which;
        flash_[at] &= data; // programming only clears bits
        dirty_ = true;
        StartBusy(BusyKind::FlashByte, p.flashBusyUs, at, t);
        return true;
    }
    case Op::LoadPage:
        pageBuffer_[2 * d.addr + d.which] = data;
        return true;
    case Op::LoadExtendedAddress:
        extendedAddress_ = static_cast<uint8_t>(d.addr);
        return true;
    case Op::WritePage: {
        if (ProgrammingLocked()) return false;
        uint8_t* page = flash_.data() + 2 * d.addr;
        for (size_t i = 0; i < pageBuffer_.size(); ++i)
            page[i] &= pageBuffer_[i];
        std::fill(pageBuffer_.begin(), pageBuffer_.end(), 0xFF);
        dirty_ = true;
        StartBusy(BusyKind::Page, p.flashBusyUs, d.addr, t);
        return true;
    }
    case Op::WriteEeprom:
        if (ProgrammingLocked()) return false;
        eeprom_[d.addr] = data; // the byte is erased before it is written
        dirty_ = true;
        StartBusy(BusyKind::EepromByte, p.eepromBusyUs, d.addr, t);
        return true;
    case Op::WriteLock: {
        const uint8_t bits =
            p.lock == LockLayout::Mega ? static_cast<uint8_t>(data | 0xC0) : d.which;
        lock_ &= bits; // lock bits are only cleared, and set again by chip erase
        dirty_ = true;
        StartBusy(BusyKind::Fuse, p.fuseBusyUs, 0, t);
        return true;
    }
    case Op::WriteFuse: {
        const uint8_t fixed = p.fixedFuseBits[d.which];
        fuses_[d.which] = static_cast<uint8_t>((data & ~fixed) | (fuses_[d.which] & fixed));
        dirty_ = true;
        StartBusy(BusyKind::Fuse, p.fuseBusyUs, 0, t);
        return true;
    }
    default:
        return false;
    }
}

void SimTarget::StartBusy(BusyKind kind, uint32_t us, uint32_t addr, Nanos t) {
    busyKind_ = kind;
    busyFrom_ = t;
    busyUntil_ = t + Nanos(static_cast<int64_t>(us * 1000.0 * busyScale_));
    busyAddr_ = addr;
    busyTotal_ += busyUntil_ - t;
}

void SimTarget::EraseChip() {
    std::fill(flash_.begin(), flash_.end(), 0xFF);
    const bool keepEeprom = part_->eesaveMask != 0 && (fuses_[part_->eesaveFuse] & part_->eesaveMask) == 0;
    if (!keepEeprom) std::fill(eeprom_.begin(), eeprom_.end(), 0xFF);
    std::fill(pageBuffer_.begin(), pageBuffer_.end(), 0xFF);
    lock_ = 0xFF;
    dirty_ = true;
}

// ---- inspection, preparation, knobs ------------------------------------------------

uint16_t SimTarget::FlashWord(uint32_t word) const {
    if (word >= part_->FlashWords()) return 0xFFFF;
    return static_cast<uint16_t>(flash_[2 * word] | (flash_[2 * word + 1] << 8));
}

void SimTarget::SetFrameLog(bool on) {
    logFrames_ = on;
}

void SimTarget::SetFlash(std::span<const uint8_t> image) {
    std::copy_n(image.begin(), std::min(image.size(), flash_.size()), flash_.begin());
    dirty_ = true;
}

void SimTarget::SetEeprom(std::span<const uint8_t> bytes) {
    std::copy_n(bytes.begin(), std::min(bytes.size(), eeprom_.size()), eeprom_.begin());
    dirty_ = true;
}

void SimTarget::SetFuses(uint8_t low, uint8_t high, uint8_t extended) {
    fuses_ = {low, high, extended};
    latchedFuses_ = fuses_;
    dirty_ = true;
}

void SimTarget::SetLockBits(uint8_t lock) {
    lock_ = lock;
}

void SimTarget::SetNoAnswerAfterErase(bool on) {
    noAnswerAfterErase_ = on;
    if (!on) {
        silent_ = false;
        UpdateMiso();
    }
}

void SimTarget::SetMisoStuck(MisoStuck s) {
    misoStuck_ = s;
    UpdateMiso();
}

void SimTarget::DisconnectAfterAccesses(uint64_t n) {
    if (n == 0)
        GoAway();
    else
        goneAt_ = accesses_ + n;
}

void SimTarget::Disconnect() {
    GoAway();
}

void SimTarget::SetNsPerAccess(uint32_t ns) {
    if (ns > 0) nsPerAccess_ = Nanos(ns);
}

void SimTarget::SetMarginalPhases(double factor, uint32_t every) {
    marginalFactor_ = factor;
    marginalEvery_ = every;
    marginalEdges_ = 0;
}

void SimTarget::SetBusyScale(double factor) {
    busyScale_ = std::max(1.0, factor);
}

bool SimTarget::SaveState() {
    if (stateDir_.empty() || !part_->present) return true;
    if (!SaveChipState(stateDir_, part_->name, flash_, eeprom_, fuses_, stateError_) ||
        !SaveLockState(stateDir_, lock_, stateError_))
        return false;
    stateError_.clear();
    dirty_ = false;
    return true;
}

} // namespace avrsim
