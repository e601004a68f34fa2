#include "SimBoard.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace standin {

namespace {

// The pins take a look at the lines through the cable's data register; the
// cost of that look is the cable's, spent apart, so one access is worth
// next to nothing here.
constexpr uint32_t kNsPerPinAccess = 1;

avrsim::SimConfig BoardConfig(avrsim::SimConfig cfg) {
    cfg.nsPerAccess = kNsPerPinAccess;
    return cfg;
}

} // namespace

Fault FaultFromEnvironment() {
    const char* text = std::getenv("QUILLON_SIM_CABLE_FAULT");
    if (text == nullptr) return Fault::None;
    if (std::strcmp(text, "absent") == 0) return Fault::Absent;
    if (std::strcmp(text, "denied") == 0) return Fault::Denied;
    if (std::strcmp(text, "busy") == 0) return Fault::Busy;
    return Fault::None;
}

int OpenErrorFromEnvironment(bool BusyRefusesOpen) {
    switch (FaultFromEnvironment()) {
    case Fault::Absent:
        return ENOENT;
    case Fault::Denied:
        return EACCES;
    case Fault::Busy:
        return BusyRefusesOpen ? EBUSY : 0;
    case Fault::None:
        break;
    }
    return 0;
}

SimBoard::SimBoard(std::string cable) : SimBoard(std::move(cable), avrsim::SimConfig::FromEnvironment()) {}

SimBoard::SimBoard(std::string cable, const avrsim::SimConfig& config)
    : cable_(std::move(cable)),
      target_(std::make_unique<avrsim::SimTarget>(BoardConfig(config), &clock_)) {}

SimBoard::~SimBoard() {
    Report();
}

void SimBoard::Drive(bool reset, bool sck, bool mosi) {
    reset_ = reset;
    sck_ = sck;
    mosi_ = mosi;
    const uint32_t data = (reset ? avrsim::kResetLine : 0u) | (sck ? avrsim::kSckLine : 0u) |
                          (mosi ? avrsim::kMosiLine : 0u);
    target_->SetPortVal(avrsim::kDataPort, data, 1);
}

bool SimBoard::Miso() {
    uint32_t status = 0;
    target_->GetPortVal(avrsim::kStatusPort, &status, 1);
    return (status & avrsim::kMisoLine) != 0;
}

void SimBoard::Spend(std::chrono::nanoseconds cost) {
    if (cost.count() > 0) clock_.Advance(cost);
}

uint64_t SimBoard::NowNs() const {
    return static_cast<uint64_t>(target_->ModelTime().count());
}

void SimBoard::Count(const char* what, uint64_t n) {
    countName_ = what;
    count_ += n;
}

void SimBoard::Report() {
    if (reported_) return;
    reported_ = true;
    const char* wanted = std::getenv("QUILLON_SIM_REPORT");
    if (wanted == nullptr || *wanted == '\0') return;
    using Seconds = std::chrono::duration<double>;
    std::fprintf(stderr, "simulated part: %s, %llu pin accesses, model time %.3f s, busy %.3f s",
                 cable_.c_str(), static_cast<unsigned long long>(target_->PortAccesses()),
                 Seconds(target_->ModelTimeSinceStart()).count(),
                 Seconds(target_->BusyTotal()).count());
    if (countName_ != nullptr)
        std::fprintf(stderr, ", %llu %s", static_cast<unsigned long long>(count_), countName_);
    std::fprintf(stderr, "\n");
}

} // namespace standin
