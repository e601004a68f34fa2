// Numbers as the engine's status texts and the programs built on it show them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Upper-case hex digits, at least `Digits` of them, more when the value needs them.
inline std::string Hex(uint32_t Value, int Digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", Digits, Value);
    return buf;
}

inline std::string Hex4(uint32_t Value) {
    return Hex(Value, 4);
}

// A byte as fuse and lock texts show it: "0xD9".
inline std::string Hex2(uint8_t Value) {
    return "0x" + Hex(Value, 2);
}
