// A tty for a programmer on a serial line: opened raw (8N1, no flow
// control, no translation) at a baud rate, kept to itself while open, read
// with timeouts. The board's reset is its DTR and RTS lines.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace cable {

class TSerialPort {
public:
    enum class TIo : uint8_t {
        Ok,
        Timeout, // fewer bytes than asked for came in time
        Gone,    // the device went away (unplugged) or the other end closed
        Error,   // any other system error; the text says which
    };

    TSerialPort() = default;
    ~TSerialPort();
    TSerialPort(const TSerialPort&) = delete;
    TSerialPort& operator=(const TSerialPort&) = delete;

    // Opens `path` at `baud`. False: `error` says in one line what failed
    // and what a person can do; nothing stays open.
    bool Open(const std::string& path, uint32_t baud, std::string& error);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }

    // Drops DTR and RTS for `low`, then raises them again: a board with an
    // auto-reset circuit restarts. A line without modem lines (a
    // pseudo-terminal) is left alone.
    void PulseDtr(std::chrono::milliseconds low);
    // Forgets what came in and what is still waiting to go out.
    void Discard();

    TIo Write(std::span<const uint8_t> data, std::string& error);
    // Reads until `into` is full or `timeout` has passed since the call;
    // `got` counts the bytes read.
    TIo Read(std::span<uint8_t> into, std::chrono::milliseconds timeout, std::size_t& got,
             std::string& error);

private:
    int fd_ = -1;
    std::string path_;
};

} // namespace cable
