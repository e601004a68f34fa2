// Model time of the same work over each cable on its stand-in: erase, a
// full random 32 KB image written to an ATmega328P's Flash and verified,
// in fast mode. The gpio and serial cables run under the engine through
// their port libraries; the spidev cable under the small link driver of
// the tests (identification, its pace raised with the margin, page batches,
// batched reads). Counters, in model seconds:
//   write_verify_s  erase + write + verification
//   session_s       from opening the cable to closing it (identification,
//                   the pace search, the work), as the report line says
// QUILLON_SIM_REPORT=1 also prints each run's "simulated part:" line.
#include "AVRisp.h"
#include "LinkDriver.h"
#include "SpidevLink.h"

#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const char* const kCables[] = {"gpio", "serial", "spidev"};

std::vector<uint8_t> RandomImage(std::size_t bytes) {
    std::mt19937 rng(328);
    std::vector<uint8_t> image(bytes);
    for (uint8_t& b : image)
        b = static_cast<uint8_t>(rng());
    return image;
}

template <typename Fn> Fn Entry(const std::string& file, const char* name) {
    void* handle = dlopen((std::string(QUILLON_BIN_DIR) + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL);
    Fn fn = handle != nullptr ? reinterpret_cast<Fn>(dlsym(handle, name)) : nullptr;
    if (fn == nullptr) throw std::runtime_error(file + " has no " + name);
    return fn;
}

uint64_t ModelNs() {
    return Entry<uint64_t (*)()>("libstandin-linux.so", "quillon_standin_now_ns")();
}

// Erase, write and verify through the engine on a port library; model ns
// of that work.
uint64_t OverPortLibrary(const std::string& cable, const std::vector<uint8_t>& image) {
    const std::string library = "libportio-" + cable + ".so";
    setenv("QUILLON_PORTIO", (std::string(QUILLON_BIN_DIR) + "/" + library).c_str(), 1);
    TAVRisp engine;
    engine.SleepHook = Entry<void (*)(uint32_t)>(library, "PortSleepMs");
    engine.SetFastMode(true);
    if (!engine.OpenPort() || !engine.Identify() || engine.AVRversion() != "ATmega328P")
        throw std::runtime_error(cable + ": no ATmega328P: " + engine.PortError());
    for (std::size_t w = 0; w < image.size() / 2; ++w)
        engine.FlashBuffer[w] = image[2 * w] | (image[2 * w + 1] << 8);
    const uint64_t from = ModelNs();
    if (!engine.EraseDevice() || !engine.WriteFlash(0, 32768) || !engine.VerifyFlash(32768))
        throw std::runtime_error(cable + ": write and verification failed");
    return ModelNs() - from;
}

uint64_t OverSpidev(const std::vector<uint8_t>& image, std::string& pace) {
    std::string error;
    auto link = cable::MakeSpidevLink({}, true, error);
    if (!link || !link->Open()) throw std::runtime_error("spidev: " + (link ? link->FailureText() : error));
    harness::LinkDriver d(*link);
    if (d.Identify() == nullptr) throw std::runtime_error("spidev: no ATmega328P");
    link->SpeedUp([&] { return d.Answers(); }, [&] { return d.Confirms(); });
    pace = ", " + link->PaceText();
    const uint64_t from = ModelNs();
    std::vector<uint8_t> back;
    if (!d.Erase() || !d.WriteFlash(image) || !d.ReadFlash(image.size(), back) || back != image)
        throw std::runtime_error("spidev: write and verification failed");
    const uint64_t ns = ModelNs() - from;
    link->Close();
    return ns;
}

void WriteVerify328P(benchmark::State& state) {
    const std::string cable = kCables[state.range(0)];
    const std::string clock = std::to_string(state.range(1));
    setenv("QUILLON_CABLE_SIMULATE", "1", 1);
    setenv("QUILLON_SIM_DEVICE", "ATmega328P", 1);
    setenv("QUILLON_SIM_CLOCK_HZ", clock.c_str(), 1);
    unsetenv("QUILLON_SIM_STATE");
    const std::vector<uint8_t> image = RandomImage(32768);
    double work = 0, session = 0;
    std::string pace;
    for (auto _ : state) {
        const uint64_t opened = ModelNs();
        const uint64_t ns = cable == "spidev" ? OverSpidev(image, pace) : OverPortLibrary(cable, image);
        work = ns * 1e-9;
        session = (ModelNs() - opened) * 1e-9;
    }
    state.SetLabel(cable + " at " + clock + " Hz" + pace);
    state.counters["write_verify_s"] = work;
    state.counters["session_s"] = session;
}

BENCHMARK(WriteVerify328P)
    ->ArgsProduct({{0, 1, 2}, {1000000, 16000000}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
