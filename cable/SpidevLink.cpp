#include "SpidevLink.h"

#include "CableDefaults.h"
#include "PortLibrary.h"

#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cable {

namespace {

// Waits of the RESET line: the pulse, and the time the part needs after
// RESET goes low before it takes its first instruction (20 ms and more).
constexpr uint32_t ResetPulseMs = 1;
constexpr uint32_t ArmWaitMs = 25;

constexpr uint32_t InstructionsPerMessage = SpidevMessageBytes / 4;

uint64_t PeriodNs(uint32_t hz) {
    return (1000000000ull + hz - 1) / hz;
}

uint32_t HzOf(uint64_t periodNs) {
    return static_cast<uint32_t>(1000000000ull / std::max<uint64_t>(periodNs, 1));
}

std::string OpenFailure(const std::string& device, int why) {
    switch (why) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return device + ": no such SPI device; enable the SPI interface (raspi-config, Interface "
                        "Options, SPI, or dtparam=spi=on in config.txt) or name the device with dev=";
    case EACCES:
    case EPERM:
        return device + ": permission denied; join the group spi (sudo usermod -aG spi $USER, then "
                        "log in again) or add a udev rule (SUBSYSTEM==\"spidev\", GROUP=\"spi\", "
                        "MODE=\"0660\")";
    default:
        return device + ": cannot open the SPI device: " + ErrorText(why);
    }
}

} // namespace

bool SpidevSettingsFrom(const std::vector<TCableOption>& options, TSpidevSettings& settings,
                        std::string& error) {
    if (!CheckCableOptions(options, {"", "dev", "chip", "reset", "speed"}, "spidev", error))
        return false;
    TSpidevSettings s; // the defaults
    const auto bare = CableOption(options, "");
    const auto dev = CableOption(options, "dev");
    if (bare && dev) {
        error = "the spidev cable's device is given twice ('" + *bare + "' and dev=" + *dev + ")";
        return false;
    }
    s.Device = bare ? *bare : dev.value_or(SpidevDefaultDevice);
    s.Chip = CableOption(options, "chip").value_or(GpioDefaultChip);
    if (s.Device.empty() || s.Chip.empty()) {
        error = s.Device.empty() ? "dev= names no SPI device" : "chip= names no GPIO chip";
        return false;
    }
    if (const auto reset = CableOption(options, "reset")) {
        const auto n = CableNumber(*reset, GpioMaxOffset);
        if (!n) {
            error = "reset=" + *reset + " is not a GPIO line offset";
            return false;
        }
        s.Reset = static_cast<unsigned>(*n);
    }
    if (const auto speed = CableOption(options, "speed")) {
        const auto n = CableNumber(*speed, SpidevFastestHz);
        if (!n || *n < SpidevSlowestHz) {
            error = "speed=" + *speed + " is not an SPI clock the cable uses: " +
                    std::to_string(SpidevSlowestHz) + " to " + std::to_string(SpidevFastestHz) + " Hz";
            return false;
        }
        s.StartHz = static_cast<uint32_t>(*n);
    }
    settings = s;
    return true;
}

TSpidevLink::TSpidevLink(TSpidevSettings settings, bool simulate)
    : settings_(std::move(settings)), simulate_(simulate), speedHz_(settings_.StartHz) {}

TSpidevLink::~TSpidevLink() {
    Close();
}

bool TSpidevLink::Fail(const std::string& text) {
    if (failure_.empty()) failure_ = text;
    return false;
}

bool TSpidevLink::Open() {
    if (IsOpen()) return true;
    failure_.clear();
    speedHz_ = settings_.StartHz;
    std::string error;
    const auto standin = PortLibraryCandidates(StandinLibraryFile, ExecutableDir());
    calls_ = SystemDeviceCalls();
    if (simulate_) {
        void* handle = LoadStandin(standin, error);
        if (handle == nullptr || !StandinDeviceCalls(handle, calls_, error))
            return Fail("the spidev cable cannot start: " + error);
    }
    if (!LoadGpiod(simulate_, standin, gpiod_, error))
        return Fail("the spidev cable cannot drive RESET: " + error);
    fd_ = calls_.Open(settings_.Device.c_str(), O_RDWR);
    if (fd_ < 0) return Fail(OpenFailure(settings_.Device, errno));
    uint8_t mode = SPI_MODE_0;
    uint8_t bits = 8;
    uint32_t hz = speedHz_;
    if (calls_.Ioctl(fd_, SPI_IOC_WR_MODE, &mode) != 0 ||
        calls_.Ioctl(fd_, SPI_IOC_WR_BITS_PER_WORD, &bits) != 0 ||
        calls_.Ioctl(fd_, SPI_IOC_WR_MAX_SPEED_HZ, &hz) != 0) {
        const int why = errno;
        Close();
        return Fail(settings_.Device + " does not take SPI mode 0, 8 bits at " + std::to_string(hz) +
                    " Hz: " + ErrorText(why));
    }
    if (!reset_.Open(gpiod_, GpioChipPath(settings_.Chip), {{settings_.Reset, "RESET", "reset"}},
                     std::nullopt, GpioConsumer, error)) {
        Close();
        return Fail(error);
    }
    return true;
}

void TSpidevLink::Close() {
    reset_.Close();
    if (fd_ >= 0) calls_.Close(fd_);
    fd_ = -1;
}

std::string TSpidevLink::Description() const {
    return "spidev " + settings_.Device + ": RESET " + settings_.Chip + " line " +
           std::to_string(settings_.Reset) + ", SCK, MOSI, MISO the SPI controller's";
}

bool TSpidevLink::SetReset(bool high) {
    const int value = high ? 1 : 0;
    if (reset_.Set(&value)) return true;
    return Fail("setting RESET (line " + std::to_string(settings_.Reset) + " of " + settings_.Chip +
                ") failed: " + ErrorText(errno));
}

void TSpidevLink::PowerUp() {
    SetReset(false);
    Sleep(ResetPulseMs);
    SetReset(true);
    Sleep(ResetPulseMs);
    SetReset(false);
    Sleep(ArmWaitMs);
}

void TSpidevLink::ResetPulse() {
    SetReset(true);
    Sleep(ResetPulseMs);
    SetReset(false);
    Sleep(ArmWaitMs);
}

void TSpidevLink::Release() {
    SetReset(true);
}

bool TSpidevLink::Transfer(std::span<const TIspBytes> Out, std::span<TIspBytes> In) {
    if (!IsOpen()) return Fail("the spidev cable is not open");
    if (!failure_.empty()) return false;
    if (In.size() != Out.size()) return Fail("a transfer needs as many answers as instructions");
    std::vector<uint8_t> tx, rx;
    for (std::size_t from = 0; from < Out.size(); from += InstructionsPerMessage) {
        const std::size_t n = std::min<std::size_t>(InstructionsPerMessage, Out.size() - from);
        tx.resize(4 * n);
        rx.assign(4 * n, 0);
        for (std::size_t i = 0; i < n; ++i)
            std::memcpy(&tx[4 * i], Out[from + i].data(), 4);
        spi_ioc_transfer t{};
        t.tx_buf = reinterpret_cast<uintptr_t>(tx.data());
        t.rx_buf = reinterpret_cast<uintptr_t>(rx.data());
        t.len = static_cast<uint32_t>(tx.size());
        t.speed_hz = speedHz_;
        t.bits_per_word = 8;
        if (calls_.Ioctl(fd_, SPI_IOC_MESSAGE(1), &t) < 0)
            return Fail("an SPI transfer on " + settings_.Device + " failed: " + ErrorText(errno));
        for (std::size_t i = 0; i < n; ++i)
            std::memcpy(In[from + i].data(), &rx[4 * i], 4);
    }
    return true;
}

bool TSpidevLink::SlowDown() {
    if (speedHz_ <= SpidevSlowestHz) return false;
    speedHz_ = std::max(SpidevSlowestHz, speedHz_ / 2);
    return true;
}

// Doubles the speed while the part answers, narrows the step to the first
// failure down by halving the SCK period's interval, then keeps the margin
// of PaceWithMargin on the fastest period that held (never slower than the
// speed it began with) and confirms it.
void TSpidevLink::SpeedUp(const std::function<bool()>& Answers, const std::function<bool()>& Confirms) {
    const uint32_t start = speedHz_;
    auto answersAt = [&](uint32_t hz) {
        speedHz_ = hz;
        return Answers();
    };
    uint32_t good = start, bad = 0;
    while (bad == 0 && good < SpidevFastestHz) {
        const uint32_t next = std::min(SpidevFastestHz, good * 2);
        if (answersAt(next))
            good = next;
        else
            bad = next;
    }
    uint64_t goodNs = PeriodNs(good);
    if (bad != 0) {
        uint64_t badNs = PeriodNs(bad);
        while (goodNs - badNs > goodNs / 16) {
            const uint64_t mid = badNs + (goodNs - badNs) / 2;
            if (answersAt(HzOf(mid)))
                goodNs = mid;
            else
                badNs = mid;
        }
    }
    const uint32_t kept = std::max(start, HzOf(PaceWithMargin(static_cast<uint32_t>(goodNs))));
    speedHz_ = kept;
    if (Answers() && Confirms()) return;
    speedHz_ = start;
    Answers();
}

std::string TSpidevLink::PaceText() const {
    char text[32];
    if (speedHz_ >= 1000000)
        std::snprintf(text, sizeof text, "SPI %.3g MHz", speedHz_ / 1e6);
    else
        std::snprintf(text, sizeof text, "SPI %.3g kHz", speedHz_ / 1e3);
    return text;
}

uint64_t TSpidevLink::NowUs() {
    return calls_.NowNs() / 1000;
}

void TSpidevLink::Sleep(uint32_t Milliseconds) {
    calls_.SleepMs(Milliseconds);
}

std::unique_ptr<TIspLink> MakeSpidevLink(const std::vector<TCableOption>& options, bool simulate,
                                         std::string& error) {
    TSpidevSettings settings;
    if (!SpidevSettingsFrom(options, settings, error)) return nullptr;
    return std::make_unique<TSpidevLink>(std::move(settings), simulate);
}

} // namespace cable
