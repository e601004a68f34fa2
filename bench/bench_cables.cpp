// The engine over every cable and programmer, each on its stand-in, against
// the cable's floor: an ATmega328P with a full random image (32 KB Flash,
// 1 KB EEPROM), the part at 16 MHz and at 1 MHz. The engine (TAVRisp in
// fast mode, on the link cable::MakeCableLink makes with simulate on)
// identifies the part, then erases it, writes Flash and EEPROM and verifies
// both; that work is timed in model time.
//
//   WriteVerify328P/<cable>/<part Hz>  the whole work above
//   FlashOnly328P/<cable>/<part Hz>    erase, 32 KB Flash written and
//                                      verified (gpio, spidev), beside
//                                      cables.md's published 1.8 s (libgpiod
//                                      bit-banging) and 2.9 s (spidev) of a
//                                      Raspberry Pi 400
//
// Cables: sim (the parallel-port cable on libportio-sim.so), gpio, serial,
// spidev, ftdi with an FT232R and with an FT232H (QUILLON_SIM_FTDI), the
// ArduinoISP at 19200 and 115200 baud, the USBasp.
//
// Model time: the link's clock (NowUs), which on every stand-in is the
// simulated part's model time, from just before the erase to just after
// the EEPROM verification. The ArduinoISP link's clock is the real one;
// its simulated board keeps the model time and prints it in its
// "simulated part:" line at the end of each session (a session runs from
// entering programming mode to leaving it). After identification the
// benchmark leaves programming mode and enters it again, so that the
// session reported when the engine releases the part holds the work plus
// one enter and one leave command (8 bytes on the line). Like hardware, the
// board also counts the host's pauses while the line is idle, which are
// wall time: the figure varies by a few tenths of a per cent between runs.
//
// Floors, each the cheapest the cable's cost model (cables.md) allows for
// the same work, plus the part's longest busy time for every write the
// image needs (the erase, every Flash page, every EEPROM byte but 0xFF):
//   sim, gpio, serial  every instruction bit in the fewest line accesses:
//                      3 a bit (MOSI with SCK rising, MISO read, SCK
//                      falling), SCK high and low each longer than 2 CPU
//                      clocks (3 from 12 MHz) in whole accesses; an access
//                      is 1 us (a port access of the simulated port, a GPIO
//                      call) or 20 us (a modem-line ioctl). For sim this is
//                      bench_isp's FastProgramming floor.
//   spidev             every instruction bit at the fastest SCK the part
//                      allows (half a period longer than 2 CPU clocks, 3
//                      from 12 MHz), plus 10 us an ioctl: one per write
//                      (erase, page, EEPROM byte) and one per 4096 bytes
//                      read (spidev's largest message).
//   ftdi               every instruction bit at the cheapest SCK phase the
//                      board makes that the part takes: FT232R no faster
//                      than the full-speed bus carries each pin byte and its
//                      sample (1.67 us), in steps of 1/24 us; FT232H in
//                      steps of 1/60 us; and no USB round trip at all.
//                      Counted: USB round trips per page written and per
//                      block read (the engine's read batches: 128 Flash
//                      words, 64 EEPROM bytes), target at most 1.
//   arduino            every byte of the block commands and their answers
//                      at the baud rate (10 bits a byte): per 256-byte block
//                      load address (4 bytes out, 2 back), then program page
//                      (5 + data out, 2 back) or read page (5 out, data + 2
//                      back). Counted: the serial bytes of the session
//                      against those.
//   usbasp             one USB round trip (1 ms) per block of at most 200
//                      bytes written or read. Counted: the USB requests of
//                      the work against those blocks.
// The programmers' floors leave out their own SPI shifting to the part.
// Targets: the cables within 1.3x, the programmers within 1.2x.
//
// Counters: quillon_s, floor_s, ratio; each floor's own counts; and but for
// the ArduinoISP identify_s (identification, the pace search included),
// write_flash_s, write_eeprom_s and verify_s (both verifications) on the
// link's clock. The label is the pace the engine settled on.
//
//   build/bench/bin/bench_cables [--benchmark_filter=ftdi]
#include "AVRisp.h"
#include "CableChoice.h"
#include "FloorWork.h"
#include "PortLibrary.h"

#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr const char* kPart = "ATmega328P";

// QUILLON_SIM_REPORT as the benchmark was started: every stand-in's
// "simulated part:" line is printed too.
const bool g_report = [] {
    const char* v = std::getenv("QUILLON_SIM_REPORT");
    return v != nullptr && *v != '\0';
}();

enum class TKind : uint8_t { Port, Spidev, Ftdi, Arduino, Usbasp };

struct TCase {
    std::string Name;  // in the benchmark's name
    std::string Cable; // as --cable takes it
    TKind Kind;
    uint64_t AccessNs = 0; // port cables: the cost of one line access
    std::string Board;     // ftdi: QUILLON_SIM_FTDI
    uint32_t Baud = 0;     // arduino
};

// The cost model of cables.md and the stand-ins.
constexpr uint64_t kGpioCallNs = 1000;
constexpr uint64_t kModemIoctlNs = 20000;
constexpr uint64_t kPortAccessNs = 1000; // libportio-sim.so's default
constexpr double kSpidevIoctlS = 10e-6;
constexpr uint64_t kSpidevMessageInstructions = 4096 / 4;
constexpr double kUsbRoundTripS = 1e-3;
constexpr uint32_t kArduinoBlock = 256; // the sketch's page buffer
constexpr uint32_t kUsbaspBlock = 200;  // a USBasp request's largest block
// The engine's read batches on a cable that shifts instructions.
constexpr uint32_t kReadBatchWords = 128;
constexpr uint32_t kReadBatchEEpromBytes = 64;

void Check(bool ok, const std::string& what) {
    if (!ok) throw std::runtime_error(what);
}

const TAVRdesc& Part() {
    for (const TAVRdesc& d : AVRDeviceTable)
        if (d.Name == kPart) return d;
    throw std::runtime_error("no catalogue row for the ATmega328P");
}

struct TImage {
    std::vector<uint16_t> Flash;
    std::vector<uint8_t> EEprom;
};

TImage RandomImage(const TAVRdesc& d) {
    std::mt19937 rng(7);
    TImage image;
    image.Flash.resize(static_cast<std::size_t>(d.FlashSize) / 2);
    for (uint16_t& w : image.Flash)
        w = static_cast<uint16_t>(rng() & 0xFFFF);
    image.EEprom.resize(static_cast<std::size_t>(d.EEpromSize));
    for (uint8_t& b : image.EEprom)
        b = static_cast<uint8_t>(rng());
    return image;
}

// ------------------------------------------------------------- floors ----

double SpidevFloorSeconds(const TFloorWork& w, uint32_t clockHz) {
    const double clocks = clockHz >= 12000000 ? 3.0 : 2.0;
    const double bitS = 2.0 * clocks / clockHz; // both SCK phases at their least
    const uint64_t ioctls = w.Writes() + (w.ReadInstructions + kSpidevMessageInstructions - 1) /
                                             kSpidevMessageInstructions;
    return w.BusyS + static_cast<double>(w.Instructions() * 32) * bitS +
           static_cast<double>(ioctls) * kSpidevIoctlS;
}

// The cheapest SCK phase an FTDI board makes that the part takes, seconds.
double FtdiFloorPhase(bool mpsse, uint32_t clockHz) {
    const double least = (clockHz >= 12000000 ? 3.0 : 2.0) / clockHz; // the phase must be longer
    if (mpsse) return (std::floor(least * 60e6) + 1) / 60e6;
    const double bus = (1.0 + 64.0 / 62.0) / 1216000.0;          // a pin byte out and its sample in
    return std::max(bus, (std::floor(least * 24e6) + 1) / 24e6); // divisor in eighths of 1/3 us
}

uint64_t Blocks(uint64_t bytes, uint64_t block) {
    return (bytes + block - 1) / block;
}

// Bytes of the ArduinoISP's block commands and answers: per block, load
// address (4 out, 2 back) and program page (5 + data out, 2 back) to
// write, load address and read page (5 out, data + 2 back) to read.
uint64_t ArduinoFloorBytes(uint64_t flashBytes, uint64_t eepromBytes) {
    const uint64_t blocks = Blocks(flashBytes, kArduinoBlock) + Blocks(eepromBytes, kArduinoBlock);
    return 2 * (flashBytes + eepromBytes) + blocks * (6 + 7 + 6 + 7);
}

uint64_t UsbaspFloorTrips(uint64_t flashBytes, uint64_t eepromBytes) {
    return 2 * (Blocks(flashBytes, kUsbaspBlock) + Blocks(eepromBytes, kUsbaspBlock));
}

// ------------------------------------------------------ the stand-ins ----

// A stand-in's count of USB round trips (its quillon_standin_count), from
// the copy the link loaded.
uint64_t StandinCount(const char* library) {
    const std::string path = ExecutableDir() + "/" + library;
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    Check(handle != nullptr, path + " is not loaded: no USB round trips to count");
    auto count = reinterpret_cast<uint64_t (*)()>(dlsym(handle, "quillon_standin_count"));
    const uint64_t n = count != nullptr ? count() : 0;
    dlclose(handle);
    Check(count != nullptr, path + " does not count its USB round trips");
    return n;
}

const char* CountingLibrary(TKind kind) {
    if (kind == TKind::Ftdi) return "libstandin-ftdi1.so";
    if (kind == TKind::Usbasp) return "libstandin-usbasp.so";
    return nullptr;
}

// Every variable of the simulated parts and cables that would change the
// work, cleared; then the part and the board of this case.
void SetEnvironment(const TCase& c, uint32_t clockHz, bool report) {
    for (const char* v :
         {"QUILLON_PORTIO", "QUILLON_CABLE", "QUILLON_SIM_STATE", "QUILLON_SIM_CABLE_FAULT",
          "QUILLON_SIM_DISCONNECT_AFTER", "QUILLON_SIM_BUSY_SCALE", "QUILLON_SIM_NS_PER_ACCESS",
          "QUILLON_SIM_GPIO_WIRING", "QUILLON_SIM_SERIAL_WIRING", "QUILLON_SIM_FTDI",
          "QUILLON_SIM_FTDI_PINS", "QUILLON_SIM_FTDI_SERIAL", "QUILLON_SIM_USB_SERIAL",
          "QUILLON_SIM_USB_IDS", "QUILLON_SIM_USB_PRODUCT", "QUILLON_SIM_USBASP_CLOCK",
          "QUILLON_SIM_REPORT"})
        unsetenv(v);
    setenv("QUILLON_SIM_DEVICE", kPart, 1);
    setenv("QUILLON_SIM_CLOCK_HZ", std::to_string(clockHz).c_str(), 1);
    // The board's boot loader does not listen: the link is told boot=0.
    setenv("QUILLON_SIM_BOOT_MS", "0", 1);
    if (!c.Board.empty()) setenv("QUILLON_SIM_FTDI", c.Board.c_str(), 1);
    if (report || c.Kind == TKind::Arduino) setenv("QUILLON_SIM_REPORT", "1", 1);
}

// What the simulated ArduinoISP said on its standard error: the last
// session's "simulated part:" line.
struct TSessionReport {
    double ModelS = 0;
    double BusyS = 0;
    uint64_t SerialBytes = 0;
};

TSessionReport LastSession(const std::string& text) {
    const std::regex line(
        R"(simulated part: [^\n]*model time ([0-9.]+) s, busy ([0-9.]+) s, ([0-9]+) serial bytes)");
    TSessionReport last;
    bool found = false;
    for (auto m = std::sregex_iterator(text.begin(), text.end(), line); m != std::sregex_iterator();
         ++m) {
        last = {std::stod((*m)[1]), std::stod((*m)[2]), std::stoull((*m)[3])};
        found = true;
    }
    Check(found, "the simulated ArduinoISP reported no session: " + text);
    return last;
}

// Standard error of the programs started while it lives (the simulated
// ArduinoISP) goes to a file; the benchmark's own comes back when it ends.
class TCapturedStderr {
public:
    TCapturedStderr() {
        char name[] = "/tmp/bench-cables.XXXXXX";
        fd_ = mkstemp(name);
        Check(fd_ >= 0, "no temporary file for the simulated board's report");
        path_ = name;
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        dup2(fd_, STDERR_FILENO);
    }
    ~TCapturedStderr() {
        Restore();
        close(fd_);
        unlink(path_.c_str());
    }
    void Restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
    }
    std::string Text() const {
        std::ifstream in(path_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

private:
    int fd_ = -1;
    int saved_ = -1;
    std::string path_;
};

// ------------------------------------------------------------ the run ----

// The engine's last status line, for the message of a failed run.
class TLastStatus final : public TStatusPanel {
public:
    void SetText(const std::string& Text) override { Text_ = Text; }
    void SetTextColor(uint32_t) override {}
    const std::string& Text() const { return Text_; }

private:
    std::string Text_;
};

// The steps of the work, each with its model time on the link's clock and
// its USB round trips (ftdi, usbasp).
enum TStep : uint8_t { Erase, WriteFlash, WriteEEprom, VerifyFlash, VerifyEEprom, Steps };
constexpr const char* kStepNames[Steps] = {"erase", "write Flash", "write EEPROM", "verify Flash",
                                           "verify EEPROM"};

struct TResult {
    double QuillonS = 0;
    double IdentifyS = 0;
    std::string Pace;
    double StepS[Steps] = {};
    uint64_t StepTrips[Steps] = {};
    TSessionReport Session; // arduino

    uint64_t Trips() const {
        uint64_t n = 0;
        for (const uint64_t t : StepTrips)
            n += t;
        return n;
    }
};

TResult Run(const TCase& c, uint32_t clockHz, bool flashOnly, const TImage& image, bool report) {
    SetEnvironment(c, clockHz, report);
    std::unique_ptr<TCapturedStderr> captured;
    if (c.Kind == TKind::Arduino) captured = std::make_unique<TCapturedStderr>();
    TResult r;
    {
        TAVRisp engine;
        TLastStatus status;
        engine.SetStatus(&status);
        engine.SetFastMode(true);
        std::string error;
        auto link = cable::MakeCableLink({c.Cable, true}, error);
        Check(link != nullptr, c.Cable + ": " + error);
        const bool opened = engine.OpenLink(std::move(link));
        if (captured) captured->Restore(); // the board has its standard error
        Check(opened, c.Cable + ": " + engine.PortError());
        TIspLink& l = engine.Link();

        const uint64_t t0 = l.NowUs();
        Check(engine.Identify() && engine.AVRversion() == kPart,
              c.Cable + ": no ATmega328P identified: " + status.Text());
        r.IdentifyS = static_cast<double>(l.NowUs() - t0) * 1e-6;
        r.Pace = l.PaceText();
        for (std::size_t w = 0; w < image.Flash.size(); ++w)
            engine.FlashBuffer[w] = image.Flash[w];
        std::copy(image.EEprom.begin(), image.EEprom.end(), engine.EEpromBuffer.begin());
        if (c.Kind == TKind::Arduino) {
            // A session of its own for the work (see the top).
            l.ResetPulse();
            Check(engine.ProgrammingEnable(), c.Cable + ": programming mode: " + l.FailureText());
        }

        const char* counting = CountingLibrary(c.Kind);
        auto trips = [&] { return counting != nullptr ? StandinCount(counting) : 0; };
        auto step = [&](TStep which, const std::function<bool()>& work) {
            const uint64_t t = l.NowUs(), n = trips();
            Check(work(), c.Cable + ": " + kStepNames[which] + ": " + status.Text());
            r.StepS[which] = static_cast<double>(l.NowUs() - t) * 1e-6;
            r.StepTrips[which] = trips() - n;
        };
        const int32_t flash = engine.FlashSize(), eeprom = engine.EEpromSize();
        const uint64_t from = l.NowUs();
        step(Erase, [&] { return engine.EraseDevice(); });
        step(WriteFlash, [&] { return engine.WriteFlash(0, flash); });
        if (!flashOnly) step(WriteEEprom, [&] { return engine.WriteEEprom(0, eeprom); });
        step(VerifyFlash, [&] { return engine.VerifyFlash(flash); });
        if (!flashOnly) step(VerifyEEprom, [&] { return engine.VerifyEEprom(eeprom); });
        r.QuillonS = static_cast<double>(l.NowUs() - from) * 1e-6;
        engine.Release();
        l.Close();
    }
    if (captured) {
        const std::string text = captured->Text();
        r.Session = LastSession(text);
        r.QuillonS = r.Session.ModelS;
        // Whatever else the board said stays visible.
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("simulated part:", 0) != 0 || report)
                std::fprintf(stderr, "%s\n", line.c_str());
    }
    return r;
}

void CableBenchmark(benchmark::State& state, const TCase& c, uint32_t clockHz, bool flashOnly) {
    const TAVRdesc& d = Part();
    const TImage image = RandomImage(d);
    const TFloorWork work = FloorWorkOf(d, image.Flash,
                                        flashOnly ? std::span<const uint8_t>()
                                                  : std::span<const uint8_t>(image.EEprom));
    const uint64_t flashBytes = static_cast<uint64_t>(d.FlashSize);
    const uint64_t eepromBytes = flashOnly ? 0 : static_cast<uint64_t>(d.EEpromSize);

    TResult r;
    bool failed = false;
    for (auto _ : state) {
        try {
            r = Run(c, clockHz, flashOnly, image, g_report);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
            failed = true;
            break;
        }
    }
    if (failed) return;

    double floor = 0;
    switch (c.Kind) {
    case TKind::Port:
        floor = BitBangFloorSeconds(work, c.AccessNs, clockHz);
        state.counters["floor_accesses_per_bit"] =
            static_cast<double>(BitBangAccessesPerBit(c.AccessNs, clockHz));
        break;
    case TKind::Spidev:
        floor = SpidevFloorSeconds(work, clockHz);
        state.counters["floor_sck_hz"] = clockHz / (clockHz >= 12000000 ? 6.0 : 4.0);
        break;
    case TKind::Ftdi: {
        const double phase = FtdiFloorPhase(c.Board != "ft232r", clockHz);
        floor = work.BusyS + static_cast<double>(work.Instructions() * 32) * 2 * phase;
        const double readBlocks = static_cast<double>(Blocks(flashBytes / 2, kReadBatchWords) +
                                                      Blocks(eepromBytes, kReadBatchEEpromBytes));
        state.counters["floor_phase_us"] = phase * 1e6;
        state.counters["trips_per_page"] =
            static_cast<double>(r.StepTrips[WriteFlash]) / static_cast<double>(work.Pages);
        state.counters["trips_per_block"] =
            static_cast<double>(r.StepTrips[VerifyFlash] + r.StepTrips[VerifyEEprom]) / readBlocks;
        state.counters["eeprom_write_trips"] = static_cast<double>(r.StepTrips[WriteEEprom]);
        state.counters["round_trips"] = static_cast<double>(r.Trips());
        break;
    }
    case TKind::Arduino: {
        const uint64_t bytes = ArduinoFloorBytes(flashBytes, eepromBytes);
        floor = work.BusyS + static_cast<double>(bytes) * 10.0 / c.Baud;
        state.counters["serial_bytes"] = static_cast<double>(r.Session.SerialBytes);
        state.counters["floor_bytes"] = static_cast<double>(bytes);
        state.counters["busy_s"] = r.Session.BusyS;
        break;
    }
    case TKind::Usbasp: {
        const uint64_t blocks = UsbaspFloorTrips(flashBytes, eepromBytes);
        floor = work.BusyS + static_cast<double>(blocks) * kUsbRoundTripS;
        state.counters["round_trips"] = static_cast<double>(r.Trips());
        state.counters["flash_write_trips"] = static_cast<double>(r.StepTrips[WriteFlash]);
        state.counters["floor_round_trips"] = static_cast<double>(blocks);
        break;
    }
    }
    state.counters["quillon_s"] = r.QuillonS;
    state.counters["floor_s"] = floor;
    state.counters["ratio"] = r.QuillonS / floor;
    if (c.Kind != TKind::Arduino) {
        state.counters["identify_s"] = r.IdentifyS;
        state.counters["write_flash_s"] = r.StepS[WriteFlash];
        if (!flashOnly) state.counters["write_eeprom_s"] = r.StepS[WriteEEprom];
        state.counters["verify_s"] = r.StepS[VerifyFlash] + r.StepS[VerifyEEprom];
    }
    if (flashOnly) {
        const double published = c.Kind == TKind::Spidev ? 2.9 : 1.8;
        state.counters["published_s"] = published;
        state.counters["over_published"] = r.QuillonS / published;
    }
    state.SetLabel(r.Pace);
}

const std::vector<TCase>& Cases() {
    static const std::vector<TCase> cases{
        {"sim", "sim", TKind::Port, kPortAccessNs, "", 0},
        {"gpio", "gpio", TKind::Port, kGpioCallNs, "", 0},
        {"serial", "serial", TKind::Port, kModemIoctlNs, "", 0},
        {"spidev", "spidev", TKind::Spidev, 0, "", 0},
        {"ftdi_FT232R", "ftdi", TKind::Ftdi, 0, "ft232r", 0},
        {"ftdi_FT232H", "ftdi", TKind::Ftdi, 0, "ft232h", 0},
        {"arduino_19200", "arduino:baud=19200,boot=0", TKind::Arduino, 0, "", 19200},
        {"arduino_115200", "arduino:baud=115200,boot=0", TKind::Arduino, 0, "", 115200},
        {"usbasp", "usbasp", TKind::Usbasp, 0, "", 0},
    };
    return cases;
}

int Register() {
    for (const uint32_t hz : {16000000u, 1000000u}) {
        for (const TCase& c : Cases())
            benchmark::RegisterBenchmark(
                ("WriteVerify328P/" + c.Name + "/" + std::to_string(hz)).c_str(),
                [&c, hz](benchmark::State& s) { CableBenchmark(s, c, hz, false); })
                ->Unit(benchmark::kSecond)
                ->Iterations(1)
                ->UseRealTime();
        for (const TCase& c : Cases())
            if (c.Name == "gpio" || c.Name == "spidev")
                benchmark::RegisterBenchmark(
                    ("FlashOnly328P/" + c.Name + "/" + std::to_string(hz)).c_str(),
                    [&c, hz](benchmark::State& s) { CableBenchmark(s, c, hz, true); })
                    ->Unit(benchmark::kSecond)
                    ->Iterations(1)
                    ->UseRealTime();
    }
    return 0;
}

const int registered = Register();

} // namespace

BENCHMARK_MAIN();
