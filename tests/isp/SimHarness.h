// An engine wired to an in-process simulated part on a virtual clock: every
// wait the engine asks for advances the part's clock instead of sleeping, so
// a run is deterministic and takes no wall time.
#pragma once

#include "AVRisp.h"
#include "EngineHarness.h"
#include "SimPortEntries.h"
#include "avrsim/SimTarget.h"

#include <chrono>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace harness {

inline avrsim::SimConfig PartConfig(const std::string& device, uint32_t clockHz = 1000000,
                                    uint32_t nsPerAccess = 1000) {
    avrsim::SimConfig cfg;
    cfg.device = device;
    cfg.clockHz = clockHz;
    cfg.nsPerAccess = nsPerAccess;
    return cfg;
}

struct SimBench {
    // logWire false: the port goes straight to the part, for long transfers.
    explicit SimBench(const std::string& device, uint32_t clockHz = 1000000, bool logWire = true,
                      uint32_t nsPerAccess = 1000)
        : sim(std::make_unique<avrsim::SimTarget>(PartConfig(device, clockHz, nsPerAccess), &clock)),
          engine(std::make_unique<TAVRisp>()) {
        engine->SetStatus(&status);
        engine->SetProgress(&progress);
        events.Attach(*engine);
        engine->SleepHook = [this](uint32_t ms) {
            clock.Advance(std::chrono::milliseconds(ms));
            wire.Wait(ms);
        };
        TPortEntries direct = SimPortEntries(*sim);
        opened = engine->OpenPort(logWire ? wire.Wrap(std::move(direct)) : std::move(direct));
    }
    ~SimBench() { engine.reset(); }

    bool Identify() {
        events.text.clear();
        return engine->Identify();
    }

    // The simulated part's Flash as words, like the engine's buffer.
    std::vector<uint32_t> PartFlashWords() const {
        std::vector<uint32_t> words(sim->Flash().size() / 2);
        for (std::size_t i = 0; i < words.size(); ++i)
            words[i] = sim->FlashWord(static_cast<uint32_t>(i));
        return words;
    }
    std::vector<uint32_t> BufferWords() const {
        const std::size_t n = static_cast<std::size_t>(engine->FlashSize()) / 2;
        return {engine->FlashBuffer.begin(),
                engine->FlashBuffer.begin() + static_cast<std::ptrdiff_t>(n)};
    }
    std::vector<uint8_t> BufferEEprom() const {
        const std::size_t n = static_cast<std::size_t>(engine->EEpromSize());
        return {engine->EEpromBuffer.begin(),
                engine->EEpromBuffer.begin() + static_cast<std::ptrdiff_t>(n)};
    }
    std::vector<uint8_t> PartEEprom() const { return {sim->Eeprom().begin(), sim->Eeprom().end()}; }

    // Random program and data images in the buffers, with some erased
    // (0xFF) bytes and some 0x7F bytes among them.
    void FillBuffers(uint32_t seed) {
        std::mt19937 rng(seed);
        auto byte = [&]() -> uint32_t {
            const uint32_t r = rng() % 16;
            return r == 0 ? 0xFF : r == 1 ? 0x7F : rng() & 0xFF;
        };
        for (uint32_t& w : engine->FlashBuffer)
            w = byte() | (byte() << 8);
        for (uint8_t& b : engine->EEpromBuffer)
            b = static_cast<uint8_t>(byte());
    }

    avrsim::VirtualClock clock;
    WireLog wire;
    RecordingStatus status;
    RecordingProgress progress;
    EventLog events;
    std::unique_ptr<avrsim::SimTarget> sim;
    std::unique_ptr<TAVRisp> engine;
    bool opened = false;
};

// The catalogue parts `keep` accepts (all when empty), by the names the
// simulated target knows them by.
inline std::vector<std::string> CataloguePartNames(bool (*keep)(const TAVRdesc&) = nullptr) {
    std::vector<std::string> names;
    for (std::size_t row = 1; row < AVRDeviceTable.size(); ++row)
        if (keep == nullptr || keep(AVRDeviceTable[row]))
            names.emplace_back(AVRDeviceTable[row].Name);
    return names;
}

// One part of each kind the engine treats apart: page size, fuse bytes and
// their form, poll method, how a chip erase ends, extended address. Of the
// rows `keep` accepts (all when empty), the one with the least Flash stands
// for its kind.
inline std::vector<std::string> OnePartOfEachKind(bool (*keep)(const TAVRdesc&) = nullptr) {
    using Kind = std::tuple<uint16_t, uint8_t, TFuseForm, TPollMethod, bool, bool>;
    std::map<Kind, const TAVRdesc*> smallest;
    for (std::size_t row = 1; row < AVRDeviceTable.size(); ++row) {
        const TAVRdesc& d = AVRDeviceTable[row];
        if (keep != nullptr && !keep(d)) continue;
        const Kind kind{d.PageWords, d.FuseKind,         d.FuseForm,
                        d.Poll,      d.EraseEndsAtReset, d.ExtendedAddress()};
        const TAVRdesc*& chosen = smallest[kind];
        if (chosen == nullptr || d.FlashSize < chosen->FlashSize) chosen = &d;
    }
    std::vector<std::string> names;
    for (const auto& [kind, d] : smallest)
        names.emplace_back(d->Name);
    return names;
}

} // namespace harness
