// The baud rates a Linux tty offers by name (termios B constants), for the
// programmers on a serial line and their simulated firmware. Header-only.
#pragma once

#include <termios.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace cable {

struct TSerialSpeed {
    uint32_t Baud;
    speed_t Code;
};

inline constexpr std::array<TSerialSpeed, 14> SerialSpeeds{{
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {500000, B500000},
    {576000, B576000},
    {921600, B921600},
    {1000000, B1000000},
}};

inline std::optional<speed_t> SpeedCode(uint32_t baud) {
    for (const TSerialSpeed& s : SerialSpeeds)
        if (s.Baud == baud) return s.Code;
    return std::nullopt;
}

// 0 for a code outside the table (B0: the line hung up).
inline uint32_t SpeedBaud(speed_t code) {
    for (const TSerialSpeed& s : SerialSpeeds)
        if (s.Code == code) return s.Baud;
    return 0;
}

// "1200, 2400, ... 1000000", for a person choosing one.
inline std::string SerialSpeedList() {
    std::string list;
    for (const TSerialSpeed& s : SerialSpeeds)
        list += (list.empty() ? "" : ", ") + std::to_string(s.Baud);
    return list;
}

} // namespace cable
