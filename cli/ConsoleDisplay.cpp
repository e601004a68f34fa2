#include "ConsoleDisplay.h"

#include <ostream>

namespace cli {

namespace {

constexpr int BarWidth = 40;

// The status texts with which the engine starts a Flash or EEPROM transfer.
bool AnnouncesTransfer(const std::string& text) {
    return text.starts_with("Writting data to ") || text.starts_with("Reading data from ") ||
           text.starts_with("Verifying data in ");
}

} // namespace

void TConsoleStatus::SetText(const std::string& Text) {
    if (Progress_) {
        Progress_->Finish();
        Progress_->SetTransfer(AnnouncesTransfer(Text));
    }
    Out_ << Text << std::endl;
}

TConsoleProgress::~TConsoleProgress() {
    Finish();
}

void TConsoleProgress::SetMax(int32_t Max) {
    Finish();
    Max_ = Max;
}

void TConsoleProgress::SetPosition(int32_t Position) {
    Position_ = Position;
    Redraw();
}

void TConsoleProgress::Redraw() {
    if (!Draw_ || !Transfer_ || Max_ <= 0 || Position_ <= 0) return;
    const int32_t pos = Position_ > Max_ ? Max_ : Position_;
    const int filled = static_cast<int>(static_cast<int64_t>(pos) * BarWidth / Max_);
    // Redrawing costs a write; only do it when the bar grows visibly, and at the end.
    if (filled == Shown_ && pos != Max_) return;
    Shown_ = filled;
    Out_ << '\r' << '[' << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(BarWidth - filled), ' ') << "] " << pos << '/'
         << Max_ << std::flush;
}

void TConsoleProgress::Finish() {
    if (Shown_ >= 0) Out_ << '\n' << std::flush;
    Shown_ = -1;
}

} // namespace cli
