// A USB-serial adapter with TTL-level pins and its modem lines wired to the
// part, as the serial cable's wirings say:
//   rts-reset: RESET = RTS, SCK = DTR, MOSI = TXD, MISO = CTS
//   dtr-reset: RESET = DTR through an inverter, SCK = RTS, MOSI = TXD, MISO = CTS
// Levels: on TTL pins an asserted RTS or DTR (TIOCM_RTS, TIOCM_DTR set) is
// a low pin, a break (TIOCSBRK) holds TXD low, and CTS reads asserted
// (TIOCM_CTS) while its pin is low. "levels=rs232" turns every one of them
// round, as on a port with RS-232 levels clamped to the part's supply.
// QUILLON_SIM_SERIAL_WIRING takes those two options in the serial cable's
// own words ("wiring=dtr-reset,levels=rs232"); by default the board is
// wired rts-reset with TTL levels. Opening asserts RTS and DTR, as the
// kernel does. Every ioctl costs 20 us of model time. Faults
// (QUILLON_SIM_CABLE_FAULT) fail the open with ENOENT, EACCES or EBUSY (the
// port held by another program with TIOCEXCL); a cable pulled
// (QUILLON_SIM_DISCONNECT_AFTER) fails every ioctl from then on with EIO,
// as an unplugged adapter does.
#include "SharedBoard.h"
#include "StandinDevices.h"

#include "CableOptions.h"

#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace standin {

namespace {

using namespace std::chrono_literals;

constexpr auto kModemIoctl = 20us;

struct Wiring {
    bool dtrReset = false;
    bool rs232 = false;
};

bool WiringFromEnvironment(Wiring& w) {
    const char* text = std::getenv("QUILLON_SIM_SERIAL_WIRING");
    if (text == nullptr || *text == '\0') return true;
    std::string error;
    auto options = cable::ParseCableOptions(text, error);
    if (options && cable::CheckCableOptions(*options, {"wiring", "levels"}, "simulated serial", error)) {
        const std::string wiring = cable::CableOption(*options, "wiring").value_or("rts-reset");
        const std::string levels = cable::CableOption(*options, "levels").value_or("ttl");
        if ((wiring == "rts-reset" || wiring == "dtr-reset") && (levels == "ttl" || levels == "rs232")) {
            w.dtrReset = wiring == "dtr-reset";
            w.rs232 = levels == "rs232";
            return true;
        }
        error = "wiring is rts-reset or dtr-reset, levels ttl or rs232";
    }
    std::fprintf(stderr, "QUILLON_SIM_SERIAL_WIRING: %s\n", error.c_str());
    return false;
}

class Tty final : public Device {
public:
    explicit Tty(Wiring w) : wiring_(w) { Apply(); }
    ~Tty() override {
        const shared::PinLevel off[3] = {{Pin::Reset, std::nullopt}, {Pin::Sck, std::nullopt},
                                         {Pin::Mosi, std::nullopt}};
        shared::Drive(off, 3);
        shared::Release();
    }

    int Ioctl(unsigned long request, void* arg) override {
        shared::Spend(kModemIoctl);
        shared::Count(kModemIoctls);
        if (unplugged_ || !shared::Connected()) {
            unplugged_ = true;
            errno = EIO;
            return -1;
        }
        int* bits = static_cast<int*>(arg);
        switch (request) {
        case TIOCEXCL:
        case TIOCNXCL:
            return 0;
        case TIOCMGET:
            *bits = modem_ | (Level(true) == shared::Miso() ? TIOCM_CTS : 0);
            return 0;
        case TIOCMSET:
            modem_ = *bits & kOutputs;
            break;
        case TIOCMBIS:
            modem_ |= *bits & kOutputs;
            break;
        case TIOCMBIC:
            modem_ &= ~(*bits & kOutputs);
            break;
        case TIOCSBRK:
            break_ = true;
            break;
        case TIOCCBRK:
            break_ = false;
            break;
        default:
            errno = ENOTTY;
            return -1;
        }
        Apply();
        return 0;
    }

private:
    static constexpr int kOutputs = TIOCM_RTS | TIOCM_DTR;

    // The pin's level for an asserted (or not) line.
    bool Level(bool asserted) const { return wiring_.rs232 ? asserted : !asserted; }

    void Apply() {
        const bool rts = Level((modem_ & TIOCM_RTS) != 0);
        const bool dtr = Level((modem_ & TIOCM_DTR) != 0);
        const bool txd = Level(break_);
        const shared::PinLevel pins[3] = {{Pin::Reset, wiring_.dtrReset ? !dtr : rts},
                                          {Pin::Sck, wiring_.dtrReset ? rts : dtr},
                                          {Pin::Mosi, txd}};
        shared::Drive(pins, 3);
    }

    Wiring wiring_;
    int modem_ = TIOCM_RTS | TIOCM_DTR;
    bool break_ = false;
    bool unplugged_ = false;
};

} // namespace

std::unique_ptr<Device> OpenTty(const std::string& path, int& error) {
    if ((error = OpenErrorFromEnvironment(true)) != 0) return nullptr;
    Wiring wiring;
    if (!WiringFromEnvironment(wiring)) {
        error = EINVAL;
        return nullptr;
    }
    if (!shared::Acquire("serial " + path, kModemIoctls, error)) return nullptr;
    return std::make_unique<Tty>(wiring);
}

} // namespace standin
