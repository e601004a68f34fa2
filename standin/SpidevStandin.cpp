// The Raspberry Pi's SPI0 controller behind /dev/spidev0.0 and 0.1 (the two
// chip selects; the part's RESET is a GPIO line, not a chip select). Its
// SCK, MOSI and MISO pins are the part's. It takes the spidev ioctls:
// SPI_IOC_{RD,WR}_MODE, _MODE32, _LSB_FIRST, _BITS_PER_WORD (8 only),
// _MAX_SPEED_HZ and SPI_IOC_MESSAGE(n), which clocks every byte of its
// transfers out and in, full duplex, at the transfer's speed (or the
// device's): each bit is a low and a high SCK phase of half the period, in
// the clock mode set (mode 0: MOSI set while SCK is low, MISO sampled as
// SCK rises), most significant bit first unless SPI_LSB_FIRST. A message
// of more than 4096 bytes fails with EMSGSIZE, as spidev's default buffer
// does. Cost: 10 us of model time for every ioctl, plus the bits at the SPI
// clock and the delays a transfer asks for. Faults
// (QUILLON_SIM_CABLE_FAULT): "absent" and "denied" fail the open with
// ENOENT and EACCES; "busy" leaves the device alone (spidev may be opened
// twice) and shows the GPIO lines in use instead.
#include "SharedBoard.h"
#include "StandinDevices.h"

#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

namespace standin {

namespace {

using namespace std::chrono_literals;

constexpr auto kSpiIoctl = 10us;
constexpr uint32_t kMaxMessageBytes = 4096;
constexpr uint32_t kMaxSpeedHz = 125000000;

class Spidev final : public Device {
public:
    Spidev() { shared::Drive(Pin::Sck, false); }
    ~Spidev() override {
        const shared::PinLevel off[2] = {{Pin::Sck, std::nullopt}, {Pin::Mosi, std::nullopt}};
        shared::Drive(off, 2);
        shared::Release();
    }

    int Ioctl(unsigned long request, void* arg) override {
        shared::Spend(kSpiIoctl);
        if (_IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 &&
            _IOC_DIR(request) == _IOC_WRITE)
            return Message(static_cast<const spi_ioc_transfer*>(arg),
                           _IOC_SIZE(request) / sizeof(spi_ioc_transfer),
                           _IOC_SIZE(request) % sizeof(spi_ioc_transfer) == 0);
        switch (request) {
        case SPI_IOC_RD_MODE:
            *static_cast<uint8_t*>(arg) = static_cast<uint8_t>(mode_);
            return 0;
        case SPI_IOC_RD_MODE32:
            *static_cast<uint32_t*>(arg) = mode_;
            return 0;
        case SPI_IOC_WR_MODE:
            return SetMode((mode_ & ~0xFFu) | *static_cast<const uint8_t*>(arg));
        case SPI_IOC_WR_MODE32:
            return SetMode(*static_cast<const uint32_t*>(arg));
        case SPI_IOC_RD_LSB_FIRST:
            *static_cast<uint8_t*>(arg) = (mode_ & SPI_LSB_FIRST) != 0;
            return 0;
        case SPI_IOC_WR_LSB_FIRST:
            return SetMode(*static_cast<const uint8_t*>(arg) != 0 ? (mode_ | SPI_LSB_FIRST)
                                                                  : (mode_ & ~SPI_LSB_FIRST));
        case SPI_IOC_RD_BITS_PER_WORD:
            *static_cast<uint8_t*>(arg) = 8;
            return 0;
        case SPI_IOC_WR_BITS_PER_WORD: {
            const uint8_t bits = *static_cast<const uint8_t*>(arg);
            return bits == 0 || bits == 8 ? 0 : Fail(EINVAL);
        }
        case SPI_IOC_RD_MAX_SPEED_HZ:
            *static_cast<uint32_t*>(arg) = speedHz_;
            return 0;
        case SPI_IOC_WR_MAX_SPEED_HZ: {
            const uint32_t hz = *static_cast<const uint32_t*>(arg);
            if (hz == 0 || hz > kMaxSpeedHz) return Fail(EINVAL);
            speedHz_ = hz;
            return 0;
        }
        default:
            return Fail(ENOTTY);
        }
    }

private:
    static int Fail(int error) {
        errno = error;
        return -1;
    }

    int SetMode(uint32_t mode) {
        if ((mode & ~(SPI_CPHA | SPI_CPOL | SPI_LSB_FIRST | SPI_CS_HIGH | SPI_NO_CS)) != 0)
            return Fail(EINVAL);
        mode_ = mode;
        shared::Drive(Pin::Sck, (mode_ & SPI_CPOL) != 0);
        return 0;
    }

    int Message(const spi_ioc_transfer* transfers, std::size_t count, bool whole) {
        if (!whole || transfers == nullptr) return Fail(EINVAL);
        uint64_t total = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const spi_ioc_transfer& t = transfers[i];
            if (t.bits_per_word != 0 && t.bits_per_word != 8) return Fail(EINVAL);
            if (t.speed_hz > kMaxSpeedHz) return Fail(EINVAL);
            total += t.len;
        }
        if (total > kMaxMessageBytes) return Fail(EMSGSIZE);
        shared::Count(kSpiTransfers);
        for (std::size_t i = 0; i < count; ++i) {
            const spi_ioc_transfer& t = transfers[i];
            const uint32_t hz = t.speed_hz != 0 ? t.speed_hz : speedHz_;
            // Half a period, rounded up: no phase shorter than asked.
            const std::chrono::nanoseconds half((1000000000ull + 2ull * hz - 1) / (2ull * hz));
            const auto* tx = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(t.tx_buf));
            auto* rx = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(t.rx_buf));
            for (uint32_t k = 0; k < t.len; ++k) {
                const uint8_t in = Shift(tx != nullptr ? tx[k] : 0, half);
                if (rx != nullptr) rx[k] = in;
            }
            shared::Spend(std::chrono::microseconds(t.delay_usecs));
        }
        return static_cast<int>(total);
    }

    // One byte out and in, in the clock mode set; SCK ends at its idle level.
    uint8_t Shift(uint8_t out, std::chrono::nanoseconds half) {
        const bool cpol = (mode_ & SPI_CPOL) != 0;
        const bool cpha = (mode_ & SPI_CPHA) != 0;
        const bool lsb = (mode_ & SPI_LSB_FIRST) != 0;
        uint8_t in = 0;
        for (int i = 0; i < 8; ++i) {
            const int bit = lsb ? i : 7 - i;
            const bool level = ((out >> bit) & 1) != 0;
            bool sample = false;
            if (!cpha) {
                // Data out while SCK rests, sampled at the leading edge.
                const shared::PinLevel setup[2] = {{Pin::Sck, cpol}, {Pin::Mosi, level}};
                shared::Drive(setup, 2);
                shared::Spend(half);
                sample = shared::Miso();
                shared::Drive(Pin::Sck, !cpol);
                shared::Spend(half);
            } else {
                // Data out at the leading edge, sampled at the trailing one.
                const shared::PinLevel lead[2] = {{Pin::Sck, !cpol}, {Pin::Mosi, level}};
                shared::Drive(lead, 2);
                shared::Spend(half);
                sample = shared::Miso();
                shared::Drive(Pin::Sck, cpol);
                shared::Spend(half);
            }
            if (sample) in = static_cast<uint8_t>(in | (1u << bit));
        }
        shared::Drive(Pin::Sck, cpol);
        return in;
    }

    uint32_t mode_ = 0;
    uint32_t speedHz_ = 500000;
};

} // namespace

std::unique_ptr<Device> OpenSpidev(const std::string& path, int& error) {
    if ((error = OpenErrorFromEnvironment(false)) != 0) return nullptr;
    if (!shared::Acquire("spidev " + path, kSpiTransfers, error)) return nullptr;
    return std::make_unique<Spidev>();
}

} // namespace standin
