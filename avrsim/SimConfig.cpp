#include "avrsim/SimConfig.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace avrsim {
namespace {

// A positive decimal number filling the whole text, or `fallback`.
template <typename T> T PositiveOr(const char* text, T fallback) {
    if (text == nullptr) return fallback;
    const std::string_view s(text);
    T value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || !(value > 0)) return fallback;
    return value;
}

} // namespace

SimConfig SimConfig::FromEnvironment() {
    SimConfig cfg;
    if (const char* device = std::getenv("QUILLON_SIM_DEVICE");
        device != nullptr && *device != '\0')
        cfg.device = device;
    cfg.clockHz = PositiveOr(std::getenv("QUILLON_SIM_CLOCK_HZ"), cfg.clockHz);
    if (const char* state = std::getenv("QUILLON_SIM_STATE"); state != nullptr)
        cfg.stateDir = state;
    cfg.nsPerAccess = PositiveOr(std::getenv("QUILLON_SIM_NS_PER_ACCESS"), cfg.nsPerAccess);
    // A part is never faster than its datasheet.
    const double scale = PositiveOr(std::getenv("QUILLON_SIM_BUSY_SCALE"), cfg.busyScale);
    if (std::isfinite(scale) && scale >= 1.0) cfg.busyScale = scale;
    cfg.disconnectAfter =
        PositiveOr(std::getenv("QUILLON_SIM_DISCONNECT_AFTER"), cfg.disconnectAfter);
    return cfg;
}

} // namespace avrsim
