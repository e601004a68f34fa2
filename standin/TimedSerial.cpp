#include "TimedSerial.h"

#include <algorithm>
#include <array>

namespace standin {

namespace {

// A serial byte: start bit, eight data bits, stop bit.
constexpr uint64_t kBitsPerByte = 10;
constexpr uint32_t kDefaultBaud = 19200;
constexpr const char* kCountName = "serial bytes";

} // namespace

void TimedSerial::Attach(SimBoard& board) {
    if (board_ != nullptr) {
        const uint64_t oldNow = board_->NowNs();
        const uint64_t newNow = board.NowNs();
        const auto rebase = [&](uint64_t t) { return newNow + (t > oldNow ? t - oldNow : 0); };
        for (Arrival& a : in_)
            a.atNs = rebase(a.atNs);
        rxFreeNs_ = rebase(rxFreeNs_);
        txFreeNs_ = rebase(txFreeNs_);
    }
    board_ = &board;
}

void TimedSerial::UpdateBaud() {
    uint32_t baud = raw_.Baud();
    if (baud == 0) baud = kDefaultBaud;
    byteNs_ = kBitsPerByte * 1000000000ull / baud;
}

void TimedSerial::SpendUntil(uint64_t ns) {
    const uint64_t now = board_->NowNs();
    if (ns > now) board_->Spend(std::chrono::nanoseconds(ns - now));
}

void TimedSerial::ReadArrived(uint64_t fromNs) {
    UpdateBaud();
    std::array<uint8_t, 4096> buffer{};
    const size_t n = raw_.Read(buffer.data(), buffer.size());
    for (size_t i = 0; i < n; ++i) {
        rxFreeNs_ = std::max(rxFreeNs_, fromNs) + byteNs_;
        in_.push_back({buffer[i], rxFreeNs_});
    }
}

bool TimedSerial::Await() {
    while (in_.empty()) {
        Flush();
        // The host sends its next command only once it has the answer.
        SpendUntil(txFreeNs_);
        std::chrono::nanoseconds waited{};
        if (!raw_.WaitForInput(waited)) return false;
        // The line was idle while the host did something else.
        board_->Spend(waited);
        ReadArrived(board_->NowNs());
    }
    return true;
}

std::optional<uint8_t> TimedSerial::Receive() {
    if (!Await()) return std::nullopt;
    const Arrival a = in_.front();
    in_.pop_front();
    SpendUntil(a.atNs);
    ++received_;
    board_->Count(kCountName);
    return a.byte;
}

void TimedSerial::Send(uint8_t byte) {
    if (byteNs_ == 0) UpdateBaud();
    txFreeNs_ = std::max(txFreeNs_, board_->NowNs()) + byteNs_;
    out_.push_back(byte);
    board_->Count(kCountName);
}

void TimedSerial::Flush() {
    if (out_.empty()) return;
    raw_.Write(out_.data(), out_.size());
    out_.clear();
}

void TimedSerial::Drain() {
    Flush();
    SpendUntil(txFreeNs_);
}

void TimedSerial::Clear() {
    in_.clear();
    out_.clear();
    const uint64_t now = board_ != nullptr ? board_->NowNs() : 0;
    rxFreeNs_ = now;
    txFreeNs_ = now;
    received_ = 0;
}

} // namespace standin
