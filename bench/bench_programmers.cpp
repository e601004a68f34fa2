// The programmers with firmware of their own, at the link, against their
// floors: an ATmega328P's whole 32 KB Flash and 1 KB EEPROM erased, written
// and read back in blocks, in the model time of the simulated programmer.
//
// ArduinoISP floor: every byte of the block commands and their answers at
// the baud rate (10 bits a byte), plus the part's busy times. USBasp floor:
// one USB round trip (1 ms) a block, plus the busy times. The simulated
// firmwares also spend their own SPI shifting where a real one would have to
// (see standin/ArduinoIspBoard.h, UsbaspFirmware.h), which the floors leave
// out.
//
//   build/bench/bin/bench_programmers
#include "AVRDeviceTable.h"
#include "ArduinoIspLink.h"
#include "StandinProcess.h"
#include "UsbaspLink.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kArduinoBlock = cable::TArduinoIspLink::PageBufferBytes;
constexpr uint32_t kUsbaspBlock = cable::TUsbaspLink::MaxBlockBytes;

void Check(bool ok, TIspLink& link, const char* what) {
    if (!ok) throw std::runtime_error(std::string(what) + ": " + link.FailureText());
}

const TAVRdesc& Part() {
    return AVRDeviceTable[static_cast<size_t>(FindDeviceRow(0x95, 0x0F))];
}

uint32_t Blocks(uint32_t bytes, uint32_t block) {
    return (bytes + block - 1) / block;
}

// Erase (the instruction and its wait), the whole image in blocks, the
// whole image read back and compared.
void WriteAndVerify(TIspLink& link) {
    const TAVRdesc& part = Part();
    Check(link.ProgrammingEnable(), link, "programming mode");
    TIspBytes out{0x30, 0x00, 0x01, 0x00}, in{};
    Check(link.Transfer({&out, 1}, {&in, 1}) && in[3] == part.Signature1, link, "signature");
    TBlockProgrammer& blocks = *link.Blocks();
    Check(blocks.SetPart(part), link, "part");
    out = {0xAC, 0x80, 0x00, 0x00};
    Check(link.Transfer({&out, 1}, {&in, 1}), link, "erase");
    link.Sleep(part.EraseBusyUs / 1000 + 1);
    std::mt19937 random(7);
    std::vector<uint8_t> flash(static_cast<size_t>(part.FlashSize));
    std::vector<uint8_t> eeprom(static_cast<size_t>(part.EEpromSize));
    for (uint8_t& b : flash)
        b = static_cast<uint8_t>(random());
    for (uint8_t& b : eeprom)
        b = static_cast<uint8_t>(random());
    Check(blocks.WriteFlashBlock(0, flash), link, "write Flash");
    Check(blocks.WriteEEpromBlock(0, eeprom), link, "write EEPROM");
    std::vector<uint8_t> back(flash.size());
    Check(blocks.ReadFlashBlock(0, back) && back == flash, link, "verify Flash");
    back.resize(eeprom.size());
    Check(blocks.ReadEEpromBlock(0, back) && back == eeprom, link, "verify EEPROM");
}

double BusySeconds() {
    const TAVRdesc& p = Part();
    const uint32_t pages = static_cast<uint32_t>(p.FlashSize) / (2u * p.PageWords);
    return (p.EraseBusyUs + pages * static_cast<double>(p.FlashBusyUs) +
            p.EEpromSize * static_cast<double>(p.EEpromBusyUs)) *
           1e-6;
}

// "simulated part: ..., model time 1.234 s, ..., 567 <unit>"
struct Report {
    double modelS = 0;
    double busyS = 0;
    double counted = 0;
};
Report ParseReport(const std::string& text) {
    const std::regex line(
        R"(simulated part: [^\n]*model time ([0-9.]+) s, busy ([0-9.]+) s, ([0-9]+) [a-zA-Z ]+)");
    std::smatch m;
    if (!std::regex_search(text, m, line)) throw std::runtime_error("no report in: " + text);
    return {std::stod(m[1]), std::stod(m[2]), std::stod(m[3])};
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void ArduinoIsp(benchmark::State& state, uint32_t baud) {
    setenv("QUILLON_SIM_DEVICE", "ATmega328P", 1);
    setenv("QUILLON_SIM_BOOT_MS", "0", 1);
    setenv("QUILLON_SIM_REPORT", "1", 1);
    Report report;
    for (auto _ : state) {
        char log[] = "/tmp/bench-arduinoisp.XXXXXX";
        const int fd = mkstemp(log);
        cable::TStandinProcess board;
        std::string pty, error;
        if (!board.Start(cable::FindStandinProgram("quillon-sim-arduinoisp"), pty, error,
                         std::chrono::seconds(10), fd))
            throw std::runtime_error(error);
        cable::TArduinoIspLink link({pty, baud, 0}, false);
        Check(link.Open(), link, "open");
        WriteAndVerify(link);
        link.Close(); // leaves programming mode: the session's report
        board.Stop();
        close(fd);
        report = ParseReport(ReadFile(log));
        unlink(log);
    }
    // The block commands: load address (3 + check byte, 2 back) before each,
    // program page (4 + data + check byte, 2 back), read page (4 + check
    // byte, data + 2 back).
    const TAVRdesc& p = Part();
    const uint32_t blocks = Blocks(static_cast<uint32_t>(p.FlashSize), kArduinoBlock) +
                            Blocks(static_cast<uint32_t>(p.EEpromSize), kArduinoBlock);
    const double bytes = 2.0 * (p.FlashSize + p.EEpromSize) + blocks * (2 * 6.0 + 7 + 7);
    const double floor = bytes * 10.0 / baud + BusySeconds();
    state.counters["model_s"] = report.modelS;
    state.counters["floor_s"] = floor;
    state.counters["model_over_floor"] = report.modelS / floor;
    state.counters["serial_bytes"] = report.counted;
    state.counters["floor_bytes"] = bytes;
    state.counters["busy_s"] = report.busyS;
}

void Usbasp(benchmark::State& state, uint32_t partHz) {
    setenv("QUILLON_SIM_DEVICE", "ATmega328P", 1);
    setenv("QUILLON_SIM_CLOCK_HZ", std::to_string(partHz).c_str(), 1);
    setenv("QUILLON_SIM_REPORT", "1", 1);
    double model = 0;
    Report report;
    std::string pace;
    for (auto _ : state) {
        cable::TUsbaspLink link({}, true);
        Check(link.Open(), link, "open");
        Check(link.ProgrammingEnable(), link, "programming mode");
        const auto signature = [&] {
            TIspBytes out{0x30, 0x00, 0x02, 0x00}, in{};
            return link.Transfer({&out, 1}, {&in, 1}) && in[3] == Part().Signature2;
        };
        link.SpeedUp([&] { return link.ProgrammingEnable() && signature(); }, signature);
        pace = link.PaceText();
        const uint64_t from = link.NowUs();
        WriteAndVerify(link);
        model = static_cast<double>(link.NowUs() - from) * 1e-6;
        // The stand-in reports on standard error when the device closes.
        char log[] = "/tmp/bench-usbasp.XXXXXX";
        const int fd = mkstemp(log);
        const int saved = dup(STDERR_FILENO);
        dup2(fd, STDERR_FILENO);
        link.Close();
        dup2(saved, STDERR_FILENO);
        close(saved);
        close(fd);
        report = ParseReport(ReadFile(log));
        unlink(log);
    }
    const TAVRdesc& p = Part();
    const uint32_t blocks = 2 * (Blocks(static_cast<uint32_t>(p.FlashSize), kUsbaspBlock) +
                                 Blocks(static_cast<uint32_t>(p.EEpromSize), kUsbaspBlock));
    const double floor = blocks * 1e-3 + BusySeconds();
    state.SetLabel(pace);
    state.counters["model_s"] = model;
    state.counters["floor_s"] = floor;
    state.counters["model_over_floor"] = model / floor;
    state.counters["round_trips"] = report.counted;
    state.counters["floor_round_trips"] = blocks;
    state.counters["session_model_s"] = report.modelS;
}

int Register() {
    for (const uint32_t baud : {19200u, 115200u})
        benchmark::RegisterBenchmark(("ArduinoISP/" + std::to_string(baud)).c_str(), ArduinoIsp,
                                     baud)
            ->Unit(benchmark::kSecond)
            ->Iterations(1)
            ->UseRealTime();
    for (const uint32_t hz : {1000000u, 16000000u})
        benchmark::RegisterBenchmark(("USBasp/part_clock_" + std::to_string(hz)).c_str(), Usbasp,
                                     hz)
            ->Unit(benchmark::kSecond)
            ->Iterations(1)
            ->UseRealTime();
    return 0;
}

const int registered = Register();

} // namespace

BENCHMARK_MAIN();
