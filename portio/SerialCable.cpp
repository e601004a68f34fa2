// libportio-serial.so: the bit-bang cable on a serial port's modem lines.
// Outputs are RTS and DTR (TIOCMBIS/TIOCMBIC, TIOCMSET when both change)
// and TXD held by a break (TIOCSBRK/TIOCCBRK); MISO is CTS (TIOCMGET).
// Options: the device as dev=/dev/ttyUSB0 or a bare word (default
// /dev/ttyUSB0); wiring=rts-reset (RESET RTS, SCK DTR, MOSI TXD, MISO CTS;
// the default) or wiring=dtr-reset (RESET inverted DTR, SCK RTS, MOSI TXD,
// MISO CTS); levels=ttl (default: an asserted RTS or DTR and a break drive
// their pins low, and CTS reads asserted while its pin is low, as on
// USB-serial adapters with TTL pins) or levels=rs232 (all the other way
// round: RS-232 levels clamped to the part's supply). Every change is one
// ioctl per kind of line; SCK is changed last when it rises and first when
// it falls, so MOSI is steady at the rising edge. The port is held
// exclusively (TIOCEXCL) while open.
#include "CableDefaults.h"
#include "DeviceCalls.h"
#include "LineCable.h"

#include <fcntl.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace {

class SerialCable final : public portio::TLineCable {
public:
    const char* Name() const override { return "serial"; }

    bool Configure(const std::vector<cable::TCableOption>& options, std::string& error) override {
        if (!cable::CheckCableOptions(options, {"", "dev", "wiring", "levels"}, "serial", error))
            return false;
        const auto bare = cable::CableOption(options, "");
        const auto dev = cable::CableOption(options, "dev");
        if (bare && dev) {
            error = "the serial cable's device is given twice ('" + *bare + "' and dev=" + *dev + ")";
            return false;
        }
        const std::string device = bare ? *bare : dev.value_or(cable::SerialDefaultDevice);
        if (device.empty()) {
            error = "dev= names no serial port";
            return false;
        }
        const std::string wiring = cable::CableOption(options, "wiring").value_or(cable::SerialWiringRtsReset);
        if (wiring != cable::SerialWiringRtsReset && wiring != cable::SerialWiringDtrReset) {
            error = "wiring=" + wiring + " is not a wiring of the serial cable: rts-reset or dtr-reset";
            return false;
        }
        const std::string levels = cable::CableOption(options, "levels").value_or(cable::SerialLevelsTtl);
        if (levels != cable::SerialLevelsTtl && levels != cable::SerialLevelsRs232) {
            error = "levels=" + levels + " is not ttl or rs232";
            return false;
        }
        device_ = device;
        dtrReset_ = wiring == cable::SerialWiringDtrReset;
        rs232_ = levels == cable::SerialLevelsRs232;
        return true;
    }

    bool Open(bool simulate, const std::string& libraryDir, std::string& error) override {
        calls_ = cable::SystemDeviceCalls();
        if (simulate) {
            void* handle = cable::LoadStandin({libraryDir + "/" + cable::StandinLibraryFile}, error);
            if (handle == nullptr || !cable::StandinDeviceCalls(handle, calls_, error)) {
                error = "the serial cable cannot start: " + error;
                return false;
            }
        }
        fd_ = calls_.Open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) {
            error = OpenFailure(errno);
            return false;
        }
        int modem = 0;
        if (calls_.Ioctl(fd_, TIOCEXCL, nullptr) != 0 || calls_.Ioctl(fd_, TIOCMGET, &modem) != 0) {
            const int why = errno;
            error = device_ + " has no modem lines to drive (" + cable::ErrorText(why) +
                    "): name a serial port with dev=";
            Close();
            return false;
        }
        // Opening asserted RTS and DTR; every line starts low.
        modem_ = modem & (TIOCM_RTS | TIOCM_DTR);
        breakOn_ = false;
        std::string why;
        if (!Drive(0, portio::kLineOutputs, why)) {
            error = why;
            Close();
            return false;
        }
        return true;
    }

    void Close() override {
        if (fd_ < 0) return;
        calls_.Ioctl(fd_, TIOCCBRK, nullptr);
        calls_.Ioctl(fd_, TIOCNXCL, nullptr);
        calls_.Close(fd_);
        fd_ = -1;
    }

    bool Drive(uint8_t levels, uint8_t changed, std::string& error) override {
        const bool reset = (levels & portio::kLineReset) != 0;
        const bool sck = (levels & portio::kLineSck) != 0;
        const bool mosi = (levels & portio::kLineMosi) != 0;
        // The pins RTS and DTR must show, and whether each is then asserted.
        const bool rtsPin = dtrReset_ ? sck : reset;
        const bool dtrPin = dtrReset_ ? !reset : sck;
        const int modem = (Asserted(rtsPin) ? TIOCM_RTS : 0) | (Asserted(dtrPin) ? TIOCM_DTR : 0);
        const bool breakOn = Asserted(mosi);
        const bool sckRises = (changed & portio::kLineSck) != 0 && sck;
        if (sckRises) return SetBreak(breakOn, error) && SetModem(modem, error);
        return SetModem(modem, error) && SetBreak(breakOn, error);
    }

    int Miso(std::string& error) override {
        int modem = 0;
        if (calls_.Ioctl(fd_, TIOCMGET, &modem) != 0) {
            error = Lost(errno);
            return -1;
        }
        const bool asserted = (modem & TIOCM_CTS) != 0;
        return asserted == rs232_ ? 1 : 0;
    }

private:
    // Whether a line is asserted to show `level` on its pin.
    bool Asserted(bool level) const { return rs232_ ? level : !level; }

    bool SetModem(int modem, std::string& error) {
        if (modem == modem_) return true;
        const int rise = modem & ~modem_, fall = modem_ & ~modem;
        int bits = rise != 0 ? rise : fall;
        const unsigned long request = rise != 0 && fall != 0 ? TIOCMSET : rise != 0 ? TIOCMBIS : TIOCMBIC;
        if (request == TIOCMSET) bits = modem;
        if (calls_.Ioctl(fd_, request, &bits) != 0) {
            error = Lost(errno);
            return false;
        }
        modem_ = modem;
        return true;
    }

    bool SetBreak(bool on, std::string& error) {
        if (on == breakOn_) return true;
        if (calls_.Ioctl(fd_, on ? TIOCSBRK : TIOCCBRK, nullptr) != 0) {
            error = Lost(errno);
            return false;
        }
        breakOn_ = on;
        return true;
    }

    std::string OpenFailure(int why) const {
        switch (why) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return device_ + ": no such serial port; plug the adapter in or name the port with dev= "
                             "(see ls /dev/ttyUSB* /dev/ttyACM* /dev/ttyS*)";
        case EACCES:
        case EPERM:
            return device_ + ": permission denied; join the group dialout (sudo usermod -aG dialout "
                             "$USER, then log in again)";
        case EBUSY:
            return device_ + " is in use by another program that holds it exclusively (a serial "
                             "terminal, ModemManager): close it and try again";
        default:
            return device_ + ": cannot open the serial port: " + cable::ErrorText(why);
        }
    }

    std::string Lost(int why) const {
        if (why == EIO || why == ENXIO || why == ENODEV)
            return device_ + " stopped answering (" + cable::ErrorText(why) +
                   "): the adapter was unplugged or its cable pulled; plug it in and start again";
        return "a modem-line ioctl on " + device_ + " failed: " + cable::ErrorText(why);
    }

    std::string device_ = cable::SerialDefaultDevice;
    bool dtrReset_ = false;
    bool rs232_ = false;
    cable::TDeviceCalls calls_ = cable::SystemDeviceCalls();
    int fd_ = -1;
    int modem_ = 0;
    bool breakOn_ = false;
};

} // namespace

std::unique_ptr<portio::TLineCable> portio::MakeLineCable() {
    return std::make_unique<SerialCable>();
}
