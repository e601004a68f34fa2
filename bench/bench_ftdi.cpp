// The ftdi cable on a full ATmega328P: chip erase, 32 KB of Flash and 1 KB
// of EEPROM written and both read back, through the link and the libftdi1
// stand-in, in model time (cables.md's cost model: a USB round trip 1 ms,
// the bytes at the bus or the pin rate).
//
//   FtdiProgramming/<board>/<Hz>   board FT232R (synchronous bit-bang) or
//                                  FT232H (MPSSE), the part clocked at Hz.
//
// The work is done as the engine's fast mode does it, batched for a USB
// cable: erased pages skipped; each page's loads, its write and the
// ready/busy polls that cover its busy time in one Transfer; EEPROM bytes
// written in batches, each write followed by polls covering its busy time
// and checked to have found the part ready before the next; everything
// read back in blocks of 1024 instructions. The floor is every instruction
// bit at the cheapest SCK phase the cable makes that the part still takes
// (more than 2 CPU clocks, 3 from 12 MHz; FT232R: no faster than the
// full-speed bus carries each pin byte and its sample, 1.69 us; FT232H: a
// whole divisor step of 1/60 us), plus the part's longest busy time for
// every write, and no round trip at all. Target: within 1.3x the floor.
//
// Counters: quillon_s, floor_s, quillon_over_floor, trips_per_page,
// trips_per_block; the label is the pace SpeedUp settled on.
#include "AVRDeviceTable.h"
#include "FtdiLink.h"
#include "PortLibrary.h"
#include "SerialInstructions.h"
#include "avrsim/PartTable.h"

#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace serial;

void Check(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(what);
}

uint64_t RoundTrips() {
    const std::string path = ExecutableDir() + "/libstandin-ftdi1.so";
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return 0;
    auto count = reinterpret_cast<uint64_t (*)()>(dlsym(handle, "quillon_standin_count"));
    const uint64_t n = count != nullptr ? count() : 0;
    dlclose(handle);
    return n;
}

const TAVRdesc& Row(std::string_view name) {
    for (const TAVRdesc& d : AVRDeviceTable)
        if (d.Name == name) return d;
    throw std::runtime_error("no catalogue row");
}

constexpr TIspBytes Poll{OpPoll1, OpPoll2, 0x00, 0x00};

struct Programmer {
    TIspLink& link;
    double instructionUs = 0;

    // Polls covering `busyUs` after the last instruction, with 1 % to spare
    // for the instruction time measured; and one more, as a poll answers from
    // its third byte while the busy time starts with the write's fourth.
    std::size_t PollsFor(uint32_t busyUs) const {
        return static_cast<std::size_t>(std::ceil(busyUs * 1.01 / instructionUs)) + 2;
    }
    bool Ready(const TIspBytes& answer) const { return (answer[3] & 1u) == 0; }

    // Instructions, then polls covering the busy time, in one Transfer; more
    // polls (a round trip each) only when the part is still busy.
    void WriteAndWait(std::vector<TIspBytes> out, uint32_t busyUs) {
        out.insert(out.end(), PollsFor(busyUs), Poll);
        std::vector<TIspBytes> in(out.size());
        Check(link.Transfer(out, in), link.FailureText());
        TIspBytes answer = in.back();
        for (int i = 0; !Ready(answer); ++i) {
            Check(i < 100, "part never ready");
            Check(link.Transfer({&Poll, 1}, {&answer, 1}), link.FailureText());
        }
    }

    // EEPROM bytes in batches: each write, then polls covering its busy
    // time. A write whose poll before it still saw the part busy was not
    // taken: it goes again with the next batch.
    void WriteEEprom(std::vector<std::pair<uint32_t, uint8_t>> bytes, uint32_t busyUs) {
        const std::size_t polls = PollsFor(busyUs), batch = 32;
        while (!bytes.empty()) {
            const std::size_t n = std::min(batch, bytes.size());
            std::vector<TIspBytes> out;
            for (std::size_t i = 0; i < n; ++i) {
                const auto [a, v] = bytes[i];
                out.push_back({OpWriteEEprom, HighByte(a), LowByte(a), v});
                out.insert(out.end(), polls, Poll);
            }
            std::vector<TIspBytes> in(out.size());
            Check(link.Transfer(out, in), link.FailureText());
            std::vector<std::pair<uint32_t, uint8_t>> again;
            for (std::size_t i = 1; i < n; ++i)
                if (!Ready(in[i * (polls + 1) - 1])) again.push_back(bytes[i]);
            if (!Ready(in.back())) WriteAndWait({}, 0);
            again.insert(again.end(), bytes.begin() + static_cast<std::ptrdiff_t>(n), bytes.end());
            bytes.swap(again);
        }
    }

    void Read(const std::vector<TIspBytes>& out, std::vector<uint8_t>& data, uint64_t& blocks) {
        const std::size_t block = 1024;
        std::vector<TIspBytes> in(out.size());
        for (std::size_t i = 0; i < out.size(); i += block, ++blocks) {
            const std::size_t n = std::min(block, out.size() - i);
            Check(link.Transfer(std::span(out).subspan(i, n), std::span(in).subspan(i, n)),
                  link.FailureText());
        }
        data.clear();
        for (const TIspBytes& a : in)
            data.push_back(a[3]);
    }
};

double Seconds(uint64_t us) {
    return static_cast<double>(us) * 1e-6;
}

// The cheapest SCK phase the cable makes that the part takes, in seconds.
double FloorPhase(bool mpsse, uint32_t clockHz) {
    const double least = (clockHz >= 12000000 ? 3.0 : 2.0) / clockHz; // the phase must be longer
    if (mpsse) return (std::floor(least * 60e6) + 1) / 60e6;
    const double bus = (1.0 + 64.0 / 62.0) / 1216000.0;          // a pin byte out and its sample in
    return std::max(bus, (std::floor(least * 24e6) + 1) / 24e6); // divisor in eighths of 1/3 us
}

void FtdiProgramming(benchmark::State& state, const char* board, uint32_t clockHz) {
    const char* part = "ATmega328P";
    for (const char* v :
         {"QUILLON_SIM_STATE", "QUILLON_SIM_CABLE_FAULT", "QUILLON_SIM_DISCONNECT_AFTER",
          "QUILLON_SIM_FTDI_PINS", "QUILLON_SIM_FTDI_SERIAL", "QUILLON_SIM_REPORT"})
        unsetenv(v);
    setenv("QUILLON_SIM_FTDI", board, 1);
    setenv("QUILLON_SIM_DEVICE", part, 1);
    setenv("QUILLON_SIM_CLOCK_HZ", std::to_string(clockHz).c_str(), 1);
    const TAVRdesc& d = Row(part);
    const avrsim::PartInfo& sim = *avrsim::FindPart(part);

    double quillon = 0, floor = 0, tripsPerPage = 0, tripsPerBlock = 0;
    std::string pace;
    for (auto _ : state) {
        std::string error;
        auto link = cable::MakeFtdiLink({}, true, error);
        Check(link && link->Open(), link ? link->FailureText() : error);
        link->PowerUp();
        auto answers = [&] {
            link->ResetPulse();
            std::vector<TIspBytes> out, in(3);
            for (uint8_t i = 0; i < 3; ++i)
                out.push_back({OpReadSignature, 0, i, 0});
            if (!link->ProgrammingEnable() || !link->Transfer(out, in)) return false;
            return in[0][3] == sim.signature[0] && in[1][3] == sim.signature[1] &&
                   in[2][3] == sim.signature[2];
        };
        Check(answers(), "signature");
        link->SpeedUp(answers, [&] {
            for (int i = 0; i < PaceConfirmReads / 3; ++i)
                if (!answers()) return false;
            return true;
        });
        Check(answers(), "signature after SpeedUp");
        pace = link->PaceText();

        // The time of one instruction, from two batches of polls.
        Programmer p{*link};
        std::vector<TIspBytes> polls(72, Poll), in(72);
        const uint64_t t0 = link->NowUs();
        Check(link->Transfer(std::span(polls).first(8), std::span(in).first(8)), "polls");
        const uint64_t t1 = link->NowUs();
        Check(link->Transfer(polls, in), "polls");
        const uint64_t t2 = link->NowUs();
        p.instructionUs = static_cast<double>((t2 - t1) - (t1 - t0)) / 64.0;

        std::mt19937 rng(7);
        std::vector<uint16_t> flash(static_cast<std::size_t>(d.FlashSize) / 2);
        for (uint16_t& w : flash)
            w = static_cast<uint16_t>(rng() & 0xFFFF);
        std::vector<uint8_t> eeprom(static_cast<std::size_t>(d.EEpromSize));
        for (uint8_t& b : eeprom)
            b = static_cast<uint8_t>(rng());

        const uint64_t start = link->NowUs();
        p.WriteAndWait({{OpChipErase1, OpChipErase2, 0x00, 0x00}}, d.EraseBusyUs);
        uint64_t pages = 0, bits = 32, busyUs = d.EraseBusyUs;
        const uint64_t tripsBeforePages = RoundTrips();
        for (uint32_t page = 0; page < flash.size(); page += d.PageWords) {
            if (std::all_of(&flash[page], &flash[page] + d.PageWords,
                            [](uint16_t w) { return w == 0xFFFF; }))
                continue;
            std::vector<TIspBytes> out;
            for (uint32_t w = 0; w < d.PageWords; ++w) {
                out.push_back(
                    {OpWriteFlashLow, 0, static_cast<uint8_t>(w), LowByte(flash[page + w])});
                out.push_back(
                    {OpWriteFlashHigh, 0, static_cast<uint8_t>(w), HighByte(flash[page + w])});
            }
            out.push_back({OpWritePage, HighByte(page), LowByte(page), 0});
            bits += 32 * out.size();
            p.WriteAndWait(std::move(out), d.FlashBusyUs);
            busyUs += d.FlashBusyUs;
            ++pages;
        }
        tripsPerPage =
            static_cast<double>(RoundTrips() - tripsBeforePages) / static_cast<double>(pages);
        std::vector<std::pair<uint32_t, uint8_t>> bytes;
        for (uint32_t a = 0; a < eeprom.size(); ++a)
            if (eeprom[a] != 0xFF) bytes.emplace_back(a, eeprom[a]);
        p.WriteEEprom(bytes, d.EEpromBusyUs);
        bits += 32 * bytes.size();
        busyUs += d.EEpromBusyUs * bytes.size();

        std::vector<TIspBytes> reads;
        for (uint32_t w = 0; w < flash.size(); ++w)
            for (const uint8_t op : {OpReadFlashLow, OpReadFlashHigh})
                reads.push_back({op, HighByte(w), LowByte(w), 0});
        std::vector<uint8_t> got;
        uint64_t blocks = 0;
        const uint64_t tripsBeforeReads = RoundTrips();
        p.Read(reads, got, blocks);
        for (uint32_t w = 0; w < flash.size(); ++w)
            Check(got[2 * w] == LowByte(flash[w]) && got[2 * w + 1] == HighByte(flash[w]),
                  "Flash verification at word " + std::to_string(w));
        bits += 32 * reads.size();
        reads.clear();
        for (uint32_t a = 0; a < eeprom.size(); ++a)
            reads.push_back({OpReadEEprom, HighByte(a), LowByte(a), 0});
        p.Read(reads, got, blocks);
        Check(got == eeprom, "EEPROM verification");
        bits += 32 * reads.size();
        tripsPerBlock =
            static_cast<double>(RoundTrips() - tripsBeforeReads) / static_cast<double>(blocks);
        quillon = Seconds(link->NowUs() - start);
        floor =
            static_cast<double>(bits) * 2 * FloorPhase(std::string(board) != "ft232r", clockHz) +
            Seconds(busyUs);
        link->Release();
    }
    state.counters["quillon_s"] = quillon;
    state.counters["floor_s"] = floor;
    state.counters["quillon_over_floor"] = quillon / floor;
    state.counters["trips_per_page"] = tripsPerPage;
    state.counters["trips_per_block"] = tripsPerBlock;
    state.SetLabel(pace);
}

int Register() {
    for (const char* board : {"ft232r", "ft232h"})
        for (const uint32_t hz : {16000000u, 1000000u})
            benchmark::RegisterBenchmark((std::string("FtdiProgramming/") +
                                          (std::string(board) == "ft232r" ? "FT232R" : "FT232H") +
                                          "/" + std::to_string(hz))
                                             .c_str(),
                                         FtdiProgramming, board, hz)
                ->Unit(benchmark::kSecond)
                ->Iterations(1);
    return 0;
}

const int registered = Register();

} // namespace

BENCHMARK_MAIN();
