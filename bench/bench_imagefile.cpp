// Reading and writing a 32 KB memory image (an ATmega32's Flash) as Intel HEX.
// The rate that counts is MB_per_s: megabytes (10^6) of HEX text read per
// second, from a file in process; the target is at least 200.
#include "HexReader.h"
#include "HexWriter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kImageSize = 32768;

std::vector<std::uint8_t> RandomImage() {
    std::vector<std::uint8_t> image(kImageSize);
    std::mt19937 rng(32);
    for (auto& b : image)
        b = static_cast<std::uint8_t>(rng());
    return image;
}

const std::string& HexText() {
    static const std::string text = imagefile::FormatHexImage(RandomImage());
    return text;
}

void SetRate(benchmark::State& state, std::size_t bytesPerIteration) {
    const double bytes =
        static_cast<double>(bytesPerIteration) * static_cast<double>(state.iterations());
    state.counters["MB_per_s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
}

void BM_ReadHexFile32K(benchmark::State& state) {
    std::string name =
        (std::filesystem::temp_directory_path() / "quillon-bench-XXXXXX.hex").string();
    const int fd = mkstemps(name.data(), 4);
    if (fd < 0) {
        state.SkipWithError("cannot create a temporary file");
        return;
    }
    const std::string& text = HexText();
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    if (!written) {
        state.SkipWithError("cannot write the temporary file");
        std::remove(name.c_str());
        return;
    }
    imagefile::THexBuffer image;
    for (auto _ : state) {
        const auto r = imagefile::ReadHexFile(name, kImageSize, image);
        if (!r.Accepted()) state.SkipWithError("image refused");
        benchmark::DoNotOptimize(image.data());
    }
    SetRate(state, text.size());
    std::remove(name.c_str());
}
BENCHMARK(BM_ReadHexFile32K);

void BM_ReadHexText32K(benchmark::State& state) {
    const std::string& text = HexText();
    imagefile::THexBuffer image;
    for (auto _ : state) {
        const auto r = imagefile::ReadHexText(text, kImageSize, image);
        if (!r.Accepted()) state.SkipWithError("image refused");
        benchmark::DoNotOptimize(image.data());
    }
    SetRate(state, text.size());
}
BENCHMARK(BM_ReadHexText32K);

void BM_FormatHexImage32K(benchmark::State& state) {
    const auto image = RandomImage();
    std::size_t length = 0;
    for (auto _ : state) {
        const std::string text = imagefile::FormatHexImage(image);
        length = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    SetRate(state, length);
}
BENCHMARK(BM_FormatHexImage32K);

} // namespace
