// Test doubles for the engine: a recording status line and progress bar, a
// bare cable whose registers the test controls, and a wire log that decodes
// what the engine puts on the pins (bytes on MOSI, RESET edges) together with
// the waits it asks for.
#pragma once

#include "AVRisp.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace harness {

struct RecordingStatus : TStatusPanel {
    std::string text;
    uint32_t color = 0xFFFFFFFF;
    std::vector<std::string> history;
    void SetText(const std::string& Text) override {
        text = Text;
        history.push_back(Text);
    }
    void SetTextColor(uint32_t Color) override { color = Color; }
};

// Behaves like a toolkit progress bar: the position stays within [min, max].
struct RecordingProgress : TProgressIndicator {
    int32_t min = 0;
    int32_t max = 100;
    int32_t position = 0;
    void SetMax(int32_t Max) override {
        max = Max;
        if (position > max) position = max;
    }
    int32_t Min() const override { return min; }
    int32_t Position() const override { return position; }
    void SetPosition(int32_t Position) override {
        position = Position < min ? min : (Position > max ? max : Position);
    }
};

// Records start and stop events in one string, e.g. "start stop".
struct EventLog {
    std::string text;
    void Attach(TAVRisp& engine) {
        engine.OnStartEvent = [this](TAVRisp*) { text += text.empty() ? "start" : " start"; };
        engine.OnStopEvent = [this](TAVRisp*) { text += text.empty() ? "stop" : " stop"; };
    }
};

// A cable with no part: the data register reads back what was written, the
// status register returns `status` (MISO is bit 6) or what `miso` says.
struct BareCable {
    uint8_t data = 0;
    uint8_t status = 0;
    std::function<bool()> miso;
    std::vector<uint8_t> dataWrites;
    uint64_t statusReads = 0;
    std::vector<uint64_t> statusReadsAtWrite; // statusReads at each data write
    int initResult = 1;
    int shutdowns = 0;

    TPortEntries Entries() {
        TPortEntries e;
        e.InitializeWinIo = [this] { return initResult; };
        e.ShutdownWinIo = [this] { ++shutdowns; };
        e.GetPortVal = [this](uint16_t port, uint32_t* value, uint8_t size) {
            if (size != 1) return 0;
            if (port == LptBase) {
                *value = 0xABCD0000u | data; // upper bits must be ignored
                return 1;
            }
            if (port == LptBase + 1) {
                ++statusReads;
                uint8_t s = status;
                if (miso) s = static_cast<uint8_t>(miso() ? (s | 0x40) : (s & ~0x40));
                *value = s;
                return 1;
            }
            return 0;
        };
        e.SetPortVal = [this](uint16_t port, uint32_t value, uint8_t size) {
            if (size != 1 || port != LptBase) return 0;
            data = static_cast<uint8_t>(value);
            dataWrites.push_back(data);
            statusReadsAtWrite.push_back(statusReads);
            return 1;
        };
        return e;
    }
};

// Wraps a port and turns the data-register writes into a readable trace:
// "AC 53 00 00" for bytes clocked out on MOSI, "~50" for a 50 ms wait,
// "R+"/"R-" for RESET edges. Bits are sampled at SCK rising edges, as a
// part does; a RESET edge starts a new byte.
class WireLog {
public:
    TPortEntries Wrap(TPortEntries inner) {
        inner_ = std::move(inner);
        TPortEntries e;
        e.InitializeWinIo = [this] { return inner_.InitializeWinIo(); };
        e.ShutdownWinIo = [this] { inner_.ShutdownWinIo(); };
        e.GetPortVal = [this](uint16_t port, uint32_t* value, uint8_t size) {
            ++accesses;
            return inner_.GetPortVal(port, value, size);
        };
        e.SetPortVal = [this](uint16_t port, uint32_t value, uint8_t size) {
            ++accesses;
            if (port == LptBase) Observe(static_cast<uint8_t>(value));
            return inner_.SetPortVal(port, value, size);
        };
        return e;
    }

    // To be called from the engine's sleep hook.
    void Wait(uint32_t ms) {
        Token("~" + std::to_string(ms));
        waitedMs += ms;
    }

    void Clear() {
        tokens.clear();
        bits_ = 0;
        value_ = 0;
        waitedMs = 0;
    }

    std::string Text() const {
        std::string s;
        for (const std::string& t : tokens)
            s += (s.empty() ? "" : " ") + t;
        return s;
    }

    std::vector<std::string> tokens;
    uint64_t accesses = 0;
    uint64_t waitedMs = 0;
    bool logResetEdges = true;

private:
    void Token(std::string t) { tokens.push_back(std::move(t)); }

    void Observe(uint8_t v) {
        const bool sck = v & (1u << SckBit), oldSck = last_ & (1u << SckBit);
        const bool reset = v & (1u << ResetBit), oldReset = last_ & (1u << ResetBit);
        if (reset != oldReset) {
            bits_ = 0;
            value_ = 0;
            if (logResetEdges) Token(reset ? "R+" : "R-");
        }
        if (sck && !oldSck && !reset) {
            value_ = static_cast<uint8_t>((value_ << 1) | ((v >> MosiBit) & 1));
            if (++bits_ == 8) {
                char buf[4];
                std::snprintf(buf, sizeof buf, "%02X", value_);
                Token(buf);
                bits_ = 0;
                value_ = 0;
            }
        }
        last_ = v;
    }

    TPortEntries inner_;
    uint8_t last_ = 0;
    int bits_ = 0;
    uint8_t value_ = 0;
};

} // namespace harness
