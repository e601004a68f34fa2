// A serial line in model time, for a simulated programmer that talks to its
// host over a tty. Below it, the raw line moves bytes at once (a
// pseudo-terminal); this class keeps the time the real line takes: each byte
// occupies the line for 10 bits at the baud rate the host set, in each
// direction on its own, and the host's pauses while the line is idle (the
// wall time the firmware waited for input) pass in model time as they would
// on hardware. The firmware's own work (SPI shifting, waits for the part)
// runs on the same clock in between, so a byte is read no earlier than it
// arrived and an answer leaves no earlier than the firmware had it.
#pragma once

#include "SimBoard.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace standin {

// The host's end of the line as the simulated firmware reaches it: bytes,
// no time.
class RawSerial {
public:
    virtual ~RawSerial() = default;
    // Waits until the host sent something. False when the host closed the
    // line (or the program is asked to end); `waited` is the wall time spent.
    virtual bool WaitForInput(std::chrono::nanoseconds& waited) = 0;
    // What has arrived, up to `max` bytes, without waiting.
    virtual size_t Read(uint8_t* data, size_t max) = 0;
    virtual void Write(const uint8_t* data, size_t size) = 0;
    // The baud rate the host set on the line.
    virtual uint32_t Baud() = 0;
};

class TimedSerial {
public:
    explicit TimedSerial(RawSerial& raw) : raw_(raw) {}

    // The board whose clock keeps the time. A new board's clock starts
    // afresh: what is still queued keeps its place relative to the moment
    // of the change.
    void Attach(SimBoard& board);

    // Waits until a byte from the host is there, without taking it. Before
    // it waits, what is queued for the host is sent; the wait itself is idle
    // line time. False: the line was closed.
    bool Await();
    // The next byte from the host, waiting for it; the board's clock is then
    // at least at the end of that byte's stop bit. nullopt: the line was
    // closed.
    std::optional<uint8_t> Receive();
    // Queues a byte for the host; it leaves the line after what is queued
    // before it, and not before the current model time.
    void Send(uint8_t byte);
    // Sends what is queued and moves the clock to when its last byte has
    // left the line.
    void Drain();
    // Forgets what the host sent and what waits to be sent (the board was
    // reset).
    void Clear();

    // Bytes taken by Receive since the last Clear.
    uint64_t Received() const { return received_; }
    // Model time of one byte at the line's baud rate.
    uint64_t ByteNs() const { return byteNs_; }

private:
    struct Arrival {
        uint8_t byte;
        uint64_t atNs; // when its stop bit arrived, on the board's clock
    };
    void Flush();
    void ReadArrived(uint64_t fromNs);
    void UpdateBaud();
    void SpendUntil(uint64_t ns);

    RawSerial& raw_;
    SimBoard* board_ = nullptr;
    std::deque<Arrival> in_;
    std::vector<uint8_t> out_;
    uint64_t rxFreeNs_ = 0; // the line from the host is busy until then
    uint64_t txFreeNs_ = 0; // the line to the host is busy until then
    uint64_t byteNs_ = 0;
    uint64_t received_ = 0;
};

} // namespace standin
