#include "LptPort.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace portio {
namespace {

class RealParport final : public ParportSystem {
public:
    int Open(const char* path) override { return ::open(path, O_RDWR | O_CLOEXEC); }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        return ::ioctl(fd, request, arg);
    }
    void Close(int fd) override { ::close(fd); }
};

} // namespace

ParportSystem& SystemParport() {
    static RealParport real;
    return real;
}

std::string LptPort::DevicePath() {
    const char* env = std::getenv("QUILLON_PARPORT");
    return (env != nullptr && *env != '\0') ? std::string(env) : std::string("/dev/parport0");
}

bool LptPort::Open(const std::string& device) {
    if (IsOpen()) return true;
    const int fd = sys_.Open(device.c_str());
    if (fd < 0) {
        error_ = "cannot open " + device + ": " + std::strerror(errno);
        return false;
    }
    if (sys_.Ioctl(fd, PPCLAIM, nullptr) != 0) {
        error_ = "cannot claim " + device + ": " + std::strerror(errno);
        sys_.Close(fd);
        return false;
    }
    error_.clear();
    fd_ = fd;
    // The cable needs the data lines driven; a port that cannot switch
    // direction is always an output port, so a refusal here is harmless.
    int forward = 0;
    sys_.Ioctl(fd_, PPDATADIR, &forward);
    unsigned char data = 0;
    dataShadow_ = sys_.Ioctl(fd_, PPRDATA, &data) == 0 ? data : 0;
    return true;
}

void LptPort::Close() {
    if (!IsOpen()) return;
    sys_.Ioctl(fd_, PPRELEASE, nullptr);
    sys_.Close(fd_);
    fd_ = -1;
}

int LptPort::Get(uint16_t port, uint32_t* value, uint8_t size) {
    if (!IsOpen() || value == nullptr || size != 1) return 0;
    unsigned char byte = 0;
    switch (port) {
    case kLptData:
        *value = dataShadow_;
        return 1;
    case kLptStatus:
        if (sys_.Ioctl(fd_, PPRSTATUS, &byte) != 0) return 0;
        break;
    case kLptControl:
        if (sys_.Ioctl(fd_, PPRCONTROL, &byte) != 0) return 0;
        break;
    default:
        return 0;
    }
    *value = byte;
    return 1;
}

int LptPort::Set(uint16_t port, uint32_t value, uint8_t size) {
    if (!IsOpen() || size != 1) return 0;
    unsigned char byte = static_cast<unsigned char>(value);
    switch (port) {
    case kLptData:
        if (sys_.Ioctl(fd_, PPWDATA, &byte) != 0) return 0;
        dataShadow_ = byte;
        return 1;
    case kLptControl:
        return sys_.Ioctl(fd_, PPWCONTROL, &byte) == 0 ? 1 : 0;
    default:
        return 0; // the status register is read-only
    }
}

} // namespace portio
