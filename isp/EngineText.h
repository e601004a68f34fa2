// Numbers as the engine's status texts show them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// At least four upper-case hex digits, more when the value needs them.
inline std::string Hex4(uint32_t Value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04X", Value);
    return buf;
}
