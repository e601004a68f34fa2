#include "SerialPort.h"

#include "SerialSpeeds.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace cable {

namespace {

using Clock = std::chrono::steady_clock;

std::string OpenError(const std::string& path, int err) {
    switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return "no serial port " + path +
               ": is the board plugged in? (ls /dev/ttyACM* /dev/ttyUSB* lists the ports)";
    case EACCES:
    case EPERM:
        return "permission denied on " + path +
               ": join the group dialout (sudo usermod -aG dialout $USER, then log in again)";
    case EBUSY:
        return path + " is in use by another program (a serial monitor?): close it and retry";
    default:
        return "cannot open " + path + ": " + std::strerror(err);
    }
}

} // namespace

TSerialPort::~TSerialPort() {
    Close();
}

bool TSerialPort::Open(const std::string& path, uint32_t baud, std::string& error) {
    Close();
    const auto speed = SpeedCode(baud);
    if (!speed) {
        error = std::to_string(baud) + " baud is not a speed a serial port offers (" +
                SerialSpeedList() + ")";
        return false;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = OpenError(path, errno);
        return false;
    }
    const auto fail = [&](std::string why) {
        close(fd);
        error = std::move(why);
        return false;
    };
    termios t{};
    if (tcgetattr(fd, &t) != 0) return fail(path + " is not a serial port");
    // Another program that locks the port (as this one does) holds it.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(OpenError(path, EBUSY));
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | CS8 | HUPCL;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (cfsetispeed(&t, *speed) != 0 || cfsetospeed(&t, *speed) != 0 ||
        tcsetattr(fd, TCSANOW, &t) != 0)
        return fail("cannot set " + std::to_string(baud) + " baud on " + path + ": " +
                    std::strerror(errno));
    // Nobody else opens it while it is ours.
    ioctl(fd, TIOCEXCL);
    fd_ = fd;
    path_ = path;
    return true;
}

void TSerialPort::Close() {
    if (fd_ < 0) return;
    ioctl(fd_, TIOCNXCL);
    close(fd_);
    fd_ = -1;
}

void TSerialPort::PulseDtr(std::chrono::milliseconds low) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd_, TIOCMBIC, &lines) != 0) return; // no modem lines here
    std::this_thread::sleep_for(low);
    ioctl(fd_, TIOCMBIS, &lines);
}

void TSerialPort::Discard() {
    if (fd_ >= 0) tcflush(fd_, TCIOFLUSH);
}

TSerialPort::TIo TSerialPort::Write(std::span<const uint8_t> data, std::string& error) {
    while (!data.empty()) {
        const ssize_t n = write(fd_, data.data(), data.size());
        if (n > 0) {
            data = data.subspan(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            if (poll(&p, 1, 1000) > 0 && (p.revents & POLLOUT) != 0) continue;
            error = "the port takes no more data";
            return TIo::Timeout;
        }
        if (n < 0 && errno != EIO && errno != ENODEV && errno != ENXIO) {
            error = std::strerror(errno);
            return TIo::Error;
        }
        return TIo::Gone;
    }
    return TIo::Ok;
}

TSerialPort::TIo TSerialPort::Read(std::span<uint8_t> into, std::chrono::milliseconds timeout,
                                   std::size_t& got, std::string& error) {
    got = 0;
    const auto deadline = Clock::now() + timeout;
    while (got < into.size()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) return TIo::Timeout;
        pollfd p{fd_, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left.count()) + 1);
        if (r < 0) {
            if (errno == EINTR) continue;
            error = std::strerror(errno);
            return TIo::Error;
        }
        if (r == 0) continue;
        if ((p.revents & POLLIN) == 0) return TIo::Gone; // hung up: no more data will come
        const ssize_t n = read(fd_, into.data() + got, into.size() - got);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0 && errno != EIO && errno != ENODEV && errno != ENXIO) {
            error = std::strerror(errno);
            return TIo::Error;
        }
        return TIo::Gone;
    }
    return TIo::Ok;
}

} // namespace cable
