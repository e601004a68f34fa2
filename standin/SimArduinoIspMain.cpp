// quillon-sim-arduinoisp: a simulated Arduino running the ArduinoISP
// sketch, with a simulated part on its ISP pins, behind a pseudo-terminal.
// It prints the terminal's path as the first line of its standard output (or,
// when it cannot start, "error: " and why, there and on standard error) and
// serves whoever opens it, one opener after the other, until SIGTERM or
// SIGINT. Any program that speaks STK500 version 1 over a tty can program
// the part through it, exactly as through a real board: open the path, set
// the baud rate, wait for the boot loader to hand over, get in sync.
//
// Environment: the simulated part as everywhere (QUILLON_SIM_DEVICE,
// QUILLON_SIM_CLOCK_HZ, QUILLON_SIM_STATE, QUILLON_SIM_BUSY_SCALE,
// QUILLON_SIM_REPORT), QUILLON_SIM_BOOT_MS (how long the boot loader listens
// after a reset, default 1000), QUILLON_SIM_CABLE_FAULT (silent, nosync,
// fail: see ArduinoIspBoard.h) and QUILLON_SIM_DISCONNECT_AFTER (the board
// is pulled after that many pin accesses: the terminal goes away and the
// program ends).
#include "ArduinoIspBoard.h"
#include "SerialSpeeds.h"
#include "TimedSerial.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int) {
    g_stop = 1;
}

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Why the program cannot start, where its first line is expected too.
int CannotStart(const std::string& why, int status) {
    std::fprintf(stderr, "quillon-sim-arduinoisp: %s\n", why.c_str());
    std::printf("error: %s\n", why.c_str());
    std::fflush(stdout);
    return status;
}

// How often a blocked wait looks at the stop flag, and how often a closed
// terminal is looked at for its next opener.
constexpr int kWakeMs = 200;
constexpr auto kOpenerPoll = 5ms;
// A host that does not read its answers for that long loses them.
constexpr int kWriteTimeoutMs = 5000;

// The master side of the pseudo-terminal: the host's tty is its other end.
class PtyLine final : public standin::RawSerial {
public:
    explicit PtyLine(int fd) : fd_(fd) {}

    bool WaitForInput(std::chrono::nanoseconds& waited) override {
        const auto from = Clock::now();
        while (g_stop == 0) {
            pollfd p{fd_, POLLIN, 0};
            const int r = poll(&p, 1, kWakeMs);
            if (r < 0 && errno != EINTR) return false;
            if (r <= 0) continue;
            if ((p.revents & POLLIN) != 0) {
                waited = Clock::now() - from;
                return true;
            }
            if ((p.revents & (POLLHUP | POLLERR)) != 0) return false; // the host closed its tty
        }
        return false;
    }

    size_t Read(uint8_t* data, size_t max) override {
        const ssize_t n = read(fd_, data, max);
        return n > 0 ? static_cast<size_t>(n) : 0;
    }

    void Write(const uint8_t* data, size_t size) override {
        while (size > 0) {
            const ssize_t n = write(fd_, data, size);
            if (n > 0) {
                data += n;
                size -= static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                if (poll(&p, 1, kWriteTimeoutMs) > 0 && (p.revents & POLLOUT) != 0) continue;
            }
            return; // the host is gone or does not read
        }
    }

    uint32_t Baud() override {
        termios t{};
        if (tcgetattr(fd_, &t) != 0) return 0;
        return cable::SpeedBaud(cfgetospeed(&t));
    }

    // True once a host has the terminal open; false when asked to stop.
    bool WaitForOpener() const {
        while (g_stop == 0) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0) return true;
            std::this_thread::sleep_for(kOpenerPoll);
        }
        return false;
    }

private:
    int fd_;
};

// A pseudo-terminal in raw mode at 19200 baud; its path in `path`. -1 with
// `path` holding the reason when the system refuses one.
int OpenPty(std::string& path) {
    const int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0) {
        path = std::string("no pseudo-terminal: ") + std::strerror(errno);
        if (fd >= 0) close(fd);
        return -1;
    }
    const char* name = ptsname(fd);
    path = name != nullptr ? name : "";
    termios t{};
    tcgetattr(fd, &t);
    // No echo, no line editing, no translation: bytes go through as sent.
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    tcsetattr(fd, TCSANOW, &t);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    // Opened and closed once, the far end reads as hung up until a host
    // opens it: that is how an opener is seen.
    const int far = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (far >= 0) close(far);
    return fd;
}

} // namespace

int main() {
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    standin::ArduinoIspSetup setup;
    std::string error;
    if (!standin::ArduinoIspSetup::FromEnvironment(setup, error)) return CannotStart(error, 2);
    std::string path;
    const int fd = OpenPty(path);
    if (fd < 0) return CannotStart(path, 1);
    PtyLine pty(fd);
    standin::TimedSerial line(pty);
    int status = 0;
    try {
        standin::ArduinoIspBoard board(setup, line);
        std::printf("%s\n", path.c_str());
        std::fflush(stdout);
        while (pty.WaitForOpener()) {
            board.PortOpened();
            board.Serve();
            if (board.Pulled()) {
                std::fprintf(stderr, "quillon-sim-arduinoisp: the board was pulled "
                                     "(QUILLON_SIM_DISCONNECT_AFTER)\n");
                break;
            }
        }
    } catch (const std::exception& e) {
        status = CannotStart(e.what(), 2);
    }
    close(fd);
    return status;
}
