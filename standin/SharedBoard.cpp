#include "SharedBoard.h"
#include "StandinApi.h"

#include <cstdio>
#include <exception>
#include <memory>

namespace standin {

namespace {

struct State {
    std::unique_ptr<SimBoard> board;
    std::string owner;     // the kind of call the report counts
    unsigned devices = 0;  // open devices sharing the board
    int lines = 0;         // GPIO lines requested
    uint64_t baseNs = 0;   // model time of the boards before this one
    std::optional<bool> driven[3];
};

State& S() {
    static State state;
    return state;
}

bool IdleLevel(Pin pin) {
    return pin == Pin::Reset; // the part's RESET pull-up
}

void Apply() {
    State& s = S();
    if (!s.board) return;
    auto level = [&](Pin p) {
        const auto& d = s.driven[static_cast<int>(p)];
        return d ? *d : IdleLevel(p);
    };
    s.board->Drive(level(Pin::Reset), level(Pin::Sck), level(Pin::Mosi));
}

} // namespace

namespace shared {

bool Acquire(const std::string& cable, const char* unit, int& error) {
    State& s = S();
    if (!s.board) {
        try {
            s.board = std::make_unique<SimBoard>(cable);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "simulated part: %s (QUILLON_SIM_DEVICE)\n", e.what());
            error = 22; // EINVAL: the device is there, the part on it is not one we know
            return false;
        }
        s.owner = unit;
        for (auto& d : s.driven)
            d.reset();
        Apply();
    }
    ++s.devices;
    return true;
}

void Release() {
    State& s = S();
    if (s.devices == 0) return;
    if (--s.devices > 0) return;
    s.baseNs += s.board->NowNs();
    s.board.reset(); // reports, saves the state folder
}

bool Open() {
    return static_cast<bool>(S().board);
}

void Drive(const PinLevel* levels, std::size_t count) {
    State& s = S();
    for (std::size_t i = 0; i < count; ++i)
        s.driven[static_cast<int>(levels[i].pin)] = levels[i].level;
    Apply();
}

void Drive(Pin pin, std::optional<bool> level) {
    const PinLevel one{pin, level};
    Drive(&one, 1);
}

bool Miso() {
    State& s = S();
    return s.board ? s.board->Miso() : true;
}

bool Connected() {
    State& s = S();
    return s.board && s.board->Target().Connected();
}

void Spend(std::chrono::nanoseconds cost) {
    State& s = S();
    if (s.board)
        s.board->Spend(cost);
    else
        s.baseNs += static_cast<uint64_t>(cost.count());
}

uint64_t NowNs() {
    State& s = S();
    return s.baseNs + (s.board ? s.board->NowNs() : 0);
}

void SleepMs(uint32_t ms) {
    Spend(std::chrono::milliseconds(ms));
}

void Count(const char* unit, uint64_t n) {
    State& s = S();
    if (s.board && s.owner == unit) s.board->Count(unit, n);
}

void LinesHeld(int delta) {
    S().lines += delta;
}

unsigned Held() {
    const State& s = S();
    return s.devices + static_cast<unsigned>(s.lines);
}

} // namespace shared

} // namespace standin

extern "C" {

uint64_t quillon_standin_now_ns(void) {
    return standin::shared::NowNs();
}

void quillon_standin_sleep_ms(uint32_t ms) {
    standin::shared::SleepMs(ms);
}

unsigned quillon_standin_held(void) {
    return standin::shared::Held();
}

} // extern "C"
