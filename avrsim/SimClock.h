#pragma once

#include <chrono>

namespace avrsim {

// The time base of the simulated part's busy periods. The part adds the
// model time of its port accesses on top of what the clock reports, so a
// clock only has to account for the time spent outside the port (sleeps).
class SimClock {
public:
    virtual ~SimClock() = default;
    // Monotonic time since an arbitrary origin fixed when the clock was made.
    virtual std::chrono::nanoseconds Now() const = 0;
};

// Wall time from std::chrono::steady_clock.
class SteadySimClock final : public SimClock {
public:
    SteadySimClock();
    std::chrono::nanoseconds Now() const override;

private:
    std::chrono::steady_clock::time_point origin_;
};

// A clock that moves only when told to; tests advance it from the engine's
// sleep hook so that every run is deterministic and takes no wall time.
class VirtualClock final : public SimClock {
public:
    std::chrono::nanoseconds Now() const override { return now_; }
    void Advance(std::chrono::nanoseconds d) { now_ += d; }

private:
    std::chrono::nanoseconds now_{0};
};

} // namespace avrsim
