#include "avrsim/SimClock.h"

namespace avrsim {

SteadySimClock::SteadySimClock() : origin_(std::chrono::steady_clock::now()) {}

std::chrono::nanoseconds SteadySimClock::Now() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                                origin_);
}

} // namespace avrsim
