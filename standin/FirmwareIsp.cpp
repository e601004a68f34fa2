#include "FirmwareIsp.h"

namespace standin {

namespace {

using namespace std::chrono_literals;

// A RESET pulse long enough for any part, and the wait after RESET goes low
// before the part takes its first instruction (at least 20 ms).
constexpr auto kResetPulse = 100us;
constexpr auto kArmWait = 21ms;

uint8_t High(uint32_t v) {
    return static_cast<uint8_t>((v >> 8) & 0xFF);
}
uint8_t Low(uint32_t v) {
    return static_cast<uint8_t>(v & 0xFF);
}

} // namespace

void FirmwareIsp::Release() {
    board_.Drive(true, false, false);
    programming_ = false;
    pageLoaded_ = false;
    pagePollable_ = false;
}

void FirmwareIsp::Connect() {
    board_.Drive(false, false, false);
    board_.Spend(kResetPulse);
    ResetPulse();
}

void FirmwareIsp::ResetPulse() {
    board_.Drive(true, false, false);
    board_.Spend(kResetPulse);
    board_.Drive(false, false, false);
    board_.Spend(kArmWait);
}

bool FirmwareIsp::ProgrammingEnable(int tries) {
    for (int i = 0; i < tries; ++i) {
        if (i > 0) ResetPulse();
        if (Transfer({0xAC, 0x53, 0x00, 0x00})[2] == 0x53) {
            programming_ = true;
            extendedSent_ = -1;
            return true;
        }
    }
    programming_ = false;
    return false;
}

uint8_t FirmwareIsp::ShiftByte(uint8_t out) {
    const bool reset = board_.Reset();
    unsigned in = 0;
    for (int bit = 7; bit >= 0; --bit) {
        const bool mosi = ((out >> bit) & 1u) != 0;
        board_.Drive(reset, false, mosi);
        board_.Spend(phase_);
        board_.Drive(reset, true, mosi);
        in = (in << 1) | (board_.Miso() ? 1u : 0u);
        board_.Spend(phase_);
    }
    return static_cast<uint8_t>(in);
}

IspInstruction FirmwareIsp::Transfer(const IspInstruction& out) {
    IspInstruction in{};
    for (size_t i = 0; i < out.size(); ++i)
        in[i] = ShiftByte(out[i]);
    // The falling edge that completes the last bit.
    board_.Drive(board_.Reset(), false, false);
    return in;
}

void FirmwareIsp::ExtendedAddress(uint32_t byteAddress) {
    const int ext = static_cast<int>(byteAddress / kExtendedAddressFrom);
    if (ext == extendedSent_ || (ext == 0 && extendedSent_ < 0)) return;
    Transfer({0x4D, 0x00, static_cast<uint8_t>(ext), 0x00});
    extendedSent_ = ext;
}

uint8_t FirmwareIsp::ReadFlash(uint32_t byteAddress) {
    const uint32_t word = byteAddress >> 1;
    const uint8_t op = (byteAddress & 1u) != 0 ? 0x28 : 0x20;
    return Transfer({op, High(word), Low(word), 0x00})[3];
}

uint8_t FirmwareIsp::ReadEeprom(uint32_t address) {
    return Transfer({0xA0, High(address), Low(address), 0x00})[3];
}

void FirmwareIsp::LoadFlash(uint32_t byteAddress, uint8_t value) {
    const uint32_t word = byteAddress >> 1;
    const uint8_t op = (byteAddress & 1u) != 0 ? 0x48 : 0x40;
    Transfer({op, High(word), Low(word), value});
    pageLoaded_ = true;
    pageAddress_ = byteAddress;
    if (value != poll_.flash) {
        pagePollable_ = true;
        pollAddress_ = byteAddress;
        pollValue_ = value;
    }
}

template <typename Read>
bool FirmwareIsp::WaitWritten(Read read, uint8_t expected, bool unpollable,
                              std::chrono::nanoseconds fixed) {
    if (unpollable) {
        board_.Spend(fixed);
        return true;
    }
    const uint64_t deadline = board_.NowNs() + 2 * static_cast<uint64_t>(fixed.count());
    while (read() != expected) {
        if (board_.NowNs() >= deadline) return false;
        board_.Spend(kPollPause);
    }
    return true;
}

bool FirmwareIsp::WritePage() {
    if (!pageLoaded_) return true;
    const uint32_t word = pageAddress_ >> 1;
    Transfer({0x4C, High(word), Low(word), 0x00});
    const bool pollable = pagePollable_;
    const uint32_t at = pollAddress_;
    pageLoaded_ = false;
    pagePollable_ = false;
    // A busy page reads the poll value anywhere in it; once written, a byte
    // loaded with another value reads something else (programming only
    // clears bits, so that holds on a part that was not erased as well).
    const uint8_t busy = poll_.flash;
    return WaitWritten([&] { return ReadFlash(at) != busy ? pollValue_ : busy; }, pollValue_,
                       !pollable, kUnpolledFlashWait);
}

bool FirmwareIsp::WriteFlashByte(uint32_t byteAddress, uint8_t value) {
    // Programming only clears bits: an erased byte needs no write.
    if (value == 0xFF) return true;
    const uint32_t word = byteAddress >> 1;
    const uint8_t op = (byteAddress & 1u) != 0 ? 0x48 : 0x40;
    Transfer({op, High(word), Low(word), value});
    const uint8_t busy = poll_.flash;
    return WaitWritten([&] { return ReadFlash(byteAddress) != busy ? value : busy; }, value,
                       value == busy, kUnpolledFlashWait);
}

bool FirmwareIsp::WriteEeprom(uint32_t address, uint8_t value) {
    Transfer({0xC0, High(address), Low(address), value});
    // EEPROM bytes are erased before they are written: the byte reads back
    // exactly once the part is done.
    const bool unpollable = value == poll_.eepromErase || value == poll_.eepromWrite;
    return WaitWritten([&] { return ReadEeprom(address); }, value, unpollable, kUnpolledEepromWait);
}

} // namespace standin
