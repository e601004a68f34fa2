// "Write to AVR" (erase, Flash, EEPROM) and both verifications on a full
// image, through the engine and the in-process simulated part.
//
//   WriteToAvr/<part>            virtual clock: port accesses per Flash word
//                                written and read, engine + simulator CPU
//                                time per port access (target <= 50 ns)
//   WriteToAvrRealSleeps/<part>  real sleeps on a real clock: wall time over
//                                the sum of the waits the engine asked for
//                                (target <= 1.03). The thread's timer slack
//                                is set to 1 ns, as for a program that wants
//                                precise millisecond waits; what the sleeps
//                                overran all the same is reported apart, and
//                                engine_over_waits leaves it out.
//   FastProgramming/<part>/<Hz>  model time of the same command on a full
//                                random image (1 us a port access), in the
//                                normal mode, in fast mode, and the floor:
//                                the part's longest busy time for every
//                                write the image needs plus every
//                                instruction bit at the shortest bit the
//                                part allows (SCK high and low for more than
//                                2 CPU clocks each, 3 from 12 MHz up; never
//                                under 3 port accesses a bit). Targets: fast
//                                within 1.3x the floor; on the ATmega16 at
//                                least 2.5x faster than normal.
//   CatalogueLookup/<which>      one signature looked up in the catalogue:
//                                the last row, and a signature it does not
//                                hold (the whole walk); target: microseconds.
#include "AVRisp.h"
#include "FloorWork.h"
#include "SimPortEntries.h"
#include "avrsim/SimTarget.h"

#include <benchmark/benchmark.h>
#include <sys/prctl.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <random>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// An engine on a simulated part, with the port entries going straight to it.
struct Rig {
    Rig(const std::string& device, avrsim::SimClock* clock) {
        avrsim::SimConfig cfg;
        cfg.device = device;
        sim = std::make_unique<avrsim::SimTarget>(cfg, clock);
        if (!engine.OpenPort(SimPortEntries(*sim))) throw std::runtime_error("port not opened");
    }

    void Identify() {
        if (!engine.Identify() || engine.AVRversion() == "NONE")
            throw std::runtime_error("part not identified");
        // A full image with a realistic share of erased bytes.
        std::mt19937 rng(1);
        for (uint32_t& w : engine.FlashBuffer)
            w = rng() % 8 == 0 ? 0xFFFF : rng() & 0xFFFF;
        for (uint8_t& b : engine.EEpromBuffer)
            b = static_cast<uint8_t>(rng());
    }

    TAVRisp engine;
    std::unique_ptr<avrsim::SimTarget> sim;
};

void Check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(what);
}

void WriteToAvr(benchmark::State& state, const std::string& device) {
    avrsim::VirtualClock clock;
    Rig rig(device, &clock);
    rig.engine.SleepHook = [&clock](uint32_t ms) { clock.Advance(std::chrono::milliseconds(ms)); };
    rig.Identify();
    TAVRisp& e = rig.engine;
    const double words = e.FlashSize() / 2.0;

    uint64_t accesses = 0, writeAccesses = 0, readAccesses = 0;
    double cpu = 0;
    for (auto _ : state) {
        const uint64_t a0 = rig.sim->PortAccesses();
        const double c0 = ThreadCpuSeconds();
        Check(e.EraseDevice(), "erase");
        const uint64_t a1 = rig.sim->PortAccesses();
        Check(e.WriteFlash(0, e.FlashSize()), "write flash");
        const uint64_t a2 = rig.sim->PortAccesses();
        Check(e.WriteEEprom(0, e.EEpromSize()), "write eeprom");
        const uint64_t a3 = rig.sim->PortAccesses();
        Check(e.VerifyFlash(e.FlashSize()), "verify flash");
        const uint64_t a4 = rig.sim->PortAccesses();
        Check(e.VerifyEEprom(e.EEpromSize()), "verify eeprom");
        cpu += ThreadCpuSeconds() - c0;
        writeAccesses += a2 - a1;
        readAccesses += a4 - a3;
        accesses += rig.sim->PortAccesses() - a0;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["accesses_per_word_written"] = static_cast<double>(writeAccesses) / n / words;
    state.counters["accesses_per_word_read"] = static_cast<double>(readAccesses) / n / words;
    state.counters["cpu_ns_per_access"] = cpu * 1e9 / static_cast<double>(accesses);
    state.counters["accesses"] = static_cast<double>(accesses) / n;
}

void WriteToAvrRealSleeps(benchmark::State& state, const std::string& device) {
    const int oldSlack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    prctl(PR_SET_TIMERSLACK, 1, 0, 0, 0);
    Rig rig(device, nullptr);
    TAVRisp& e = rig.engine;
    double waitedMs = 0, overrunS = 0;
    uint64_t sleeps = 0;
    const TAVRisp::TSleepHook realSleep = e.SleepHook;
    e.SleepHook = [&](uint32_t ms) {
        const auto t0 = std::chrono::steady_clock::now();
        realSleep(ms);
        const double slept =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        waitedMs += ms;
        overrunS += slept - ms / 1000.0;
        ++sleeps;
    };
    rig.Identify();

    double wall = 0, waits = 0, overrun = 0, count = 0;
    for (auto _ : state) {
        waitedMs = 0;
        overrunS = 0;
        sleeps = 0;
        const auto t0 = std::chrono::steady_clock::now();
        Check(e.EraseDevice(), "erase");
        Check(e.WriteFlash(0, e.FlashSize()), "write flash");
        Check(e.WriteEEprom(0, e.EEpromSize()), "write eeprom");
        Check(e.VerifyFlash(e.FlashSize()), "verify flash");
        Check(e.VerifyEEprom(e.EEpromSize()), "verify eeprom");
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        waits += waitedMs / 1000.0;
        overrun += overrunS;
        count += static_cast<double>(sleeps);
    }
    prctl(PR_SET_TIMERSLACK, oldSlack, 0, 0, 0);
    const double n = static_cast<double>(state.iterations());
    state.counters["wall_s"] = wall / n;
    state.counters["required_waits_s"] = waits / n;
    state.counters["sleeps"] = count / n;
    state.counters["sleep_overrun_us_each"] = overrun * 1e6 / count;
    state.counters["wall_over_waits"] = wall / waits;
    state.counters["engine_over_waits"] = (wall - overrun) / waits;
}

// Model time of erase, Flash and EEPROM writes and both verifications.
double WriteToAvrModelSeconds(const std::string& device, uint32_t clockHz, bool fast,
                              uint32_t seed, const TAVRdesc** row) {
    avrsim::VirtualClock clock;
    avrsim::SimConfig cfg;
    cfg.device = device;
    cfg.clockHz = clockHz;
    avrsim::SimTarget sim(cfg, &clock);
    TAVRisp e;
    e.SleepHook = [&clock](uint32_t ms) { clock.Advance(std::chrono::milliseconds(ms)); };
    Check(e.OpenPort(SimPortEntries(sim)), "port");
    e.SetFastMode(fast);
    Check(e.Identify() && e.AVRversion() == device, "identify");
    std::mt19937 rng(seed);
    for (uint32_t& w : e.FlashBuffer)
        w = rng() & 0xFFFF;
    for (uint8_t& b : e.EEpromBuffer)
        b = static_cast<uint8_t>(rng());
    const auto t0 = sim.ModelTime();
    Check(e.EraseDevice(), "erase");
    Check(e.WriteFlash(0, e.FlashSize()), "write flash");
    Check(e.WriteEEprom(0, e.EEpromSize()), "write eeprom");
    Check(e.VerifyFlash(e.FlashSize()), "verify flash");
    Check(e.VerifyEEprom(e.EEpromSize()), "verify eeprom");
    *row = &e.CurrentDevice();
    return std::chrono::duration<double>(sim.ModelTime() - t0).count();
}

// The floor of the same command on the same image: the parallel port's
// access is 1 us of model time.
double FloorSeconds(const TAVRdesc& d, uint32_t clockHz, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint16_t> words(FlashBufferWords);
    for (uint16_t& w : words)
        w = static_cast<uint16_t>(rng() & 0xFFFF);
    std::vector<uint8_t> eeprom(EEpromBufferBytes);
    for (uint8_t& b : eeprom)
        b = static_cast<uint8_t>(rng());
    const TFloorWork work =
        FloorWorkOf(d, std::span(words).first(static_cast<std::size_t>(d.FlashSize) / 2),
                    std::span(eeprom).first(static_cast<std::size_t>(d.EEpromSize)));
    return BitBangFloorSeconds(work, 1000, clockHz);
}

void FastProgramming(benchmark::State& state, const std::string& device, uint32_t clockHz) {
    double normal = 0, fast = 0, floor = 0;
    for (auto _ : state) {
        const TAVRdesc* row = nullptr;
        normal = WriteToAvrModelSeconds(device, clockHz, false, 7, &row);
        fast = WriteToAvrModelSeconds(device, clockHz, true, 7, &row);
        floor = FloorSeconds(*row, clockHz, 7);
    }
    state.counters["normal_s"] = normal;
    state.counters["fast_s"] = fast;
    state.counters["floor_s"] = floor;
    state.counters["fast_over_floor"] = fast / floor;
    state.counters["normal_over_fast"] = normal / fast;
}

// The catalogue walk identification makes once a part has answered.
void CatalogueLookup(benchmark::State& state, bool known) {
    const TAVRdesc& last = AVRDeviceTable[AVRDeviceTable.size() - 1];
    const uint8_t s1 = known ? last.Signature1 : 0x90;
    const uint8_t s2 = known ? last.Signature2 : 0x05; // the ATtiny12, outside the catalogue
    for (auto _ : state) {
        int row = FindDeviceRow(s1, s2);
        benchmark::DoNotOptimize(row);
    }
    state.counters["rows"] = static_cast<double>(AVRDeviceTable.size());
}
BENCHMARK_CAPTURE(CatalogueLookup, LastRow, true);
BENCHMARK_CAPTURE(CatalogueLookup, NotInTheCatalogue, false);

const char* const Parts[] = {"ATmega32", "AT90S8515"};

int Register() {
    for (const char* part : {"ATmega16", "AT90S8515"})
        for (const uint32_t hz : {1000000u, 16000000u})
            benchmark::RegisterBenchmark(
                (std::string("FastProgramming/") + part + "/" + std::to_string(hz)).c_str(),
                FastProgramming, part, hz)
                ->Unit(benchmark::kSecond)
                ->Iterations(1);
    // The largest part, its upper 128 KB behind the extended address, on the
    // clock of an Arduino Mega.
    benchmark::RegisterBenchmark("FastProgramming/ATmega2560/16000000", FastProgramming,
                                 "ATmega2560", 16000000u)
        ->Unit(benchmark::kSecond)
        ->Iterations(1);
    for (const char* part : Parts) {
        benchmark::RegisterBenchmark((std::string("WriteToAvr/") + part).c_str(), WriteToAvr, part)
            ->Unit(benchmark::kMillisecond)
            ->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark((std::string("WriteToAvrRealSleeps/") + part).c_str(),
                                     WriteToAvrRealSleeps, part)
            ->Unit(benchmark::kSecond)
            ->Iterations(1)
            ->UseRealTime();
    }
    return 0;
}

const int registered = Register();

} // namespace

BENCHMARK_MAIN();
