// A bit-bang cable behind a port library: the parallel-port cable's
// register bits mapped onto the cable's own lines, so the engine's normal
// and fast modes run on it unchanged. Data register 0x378: bit 1 RESET,
// bit 2 SCK, bit 3 MOSI (bits 0 and 4-7 are kept but drive nothing); status
// register 0x379: bit 6 MISO, not inverted. LineEntries.cpp holds the port
// entries; each library (gpio, serial) adds its cable with MakeLineCable.
#pragma once

#include "CableOptions.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace portio {

inline constexpr uint16_t kLineDataPort = 0x378;
inline constexpr uint16_t kLineStatusPort = 0x379;
inline constexpr uint8_t kLineReset = 1u << 1;
inline constexpr uint8_t kLineSck = 1u << 2;
inline constexpr uint8_t kLineMosi = 1u << 3;
inline constexpr uint8_t kLineMiso = 1u << 6;
inline constexpr uint8_t kLineOutputs = kLineReset | kLineSck | kLineMosi;

class TLineCable {
public:
    virtual ~TLineCable() = default;
    // The cable's name in messages ("gpio").
    virtual const char* Name() const = 0;
    // Checks and keeps the options; nothing is opened. False: `error`
    // names the option at fault.
    virtual bool Configure(const std::vector<cable::TCableOption>& options, std::string& error) = 0;
    // Opens the device and takes the lines, RESET, SCK and MOSI low. With
    // `simulate` the stand-in library in `libraryDir` stands in for the
    // device. False: `error` says what failed and what to do; nothing is
    // held then.
    virtual bool Open(bool simulate, const std::string& libraryDir, std::string& error) = 0;
    // Lets the lines and the device go; safe to call again.
    virtual void Close() = 0;
    // Sets the output lines to `levels` (kLineReset, kLineSck, kLineMosi);
    // `changed` has the bits that differ from the last call. False: the
    // cable failed, `error` says how.
    virtual bool Drive(uint8_t levels, uint8_t changed, std::string& error) = 0;
    // MISO: 0 or 1; -1 when the read failed, `error` says how.
    virtual int Miso(std::string& error) = 0;
};

std::unique_ptr<TLineCable> MakeLineCable();

} // namespace portio
