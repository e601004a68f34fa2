#pragma once

#include <cstdint>
#include <string>

namespace portio {

// Register addresses of the first parallel port as the programmer names them.
inline constexpr uint16_t kLptData = 0x378;
inline constexpr uint16_t kLptStatus = 0x379;
inline constexpr uint16_t kLptControl = 0x37A;

// The few system calls the port needs, so that tests can stand in for a
// parallel port this machine does not have.
class ParportSystem {
public:
    virtual ~ParportSystem() = default;
    virtual int Open(const char* path) = 0;                          // file descriptor, or -1
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0; // 0 on success
    virtual void Close(int fd) = 0;
};

// The real calls: open(2), ioctl(2), close(2).
ParportSystem& SystemParport();

// A parallel port reached through Linux ppdev. The data register is written
// with PPWDATA and read back from a shadow of the last byte written, so a
// data read costs no system call.
class LptPort {
public:
    explicit LptPort(ParportSystem& sys) : sys_(sys) {}
    ~LptPort() { Close(); }
    LptPort(const LptPort&) = delete;
    LptPort& operator=(const LptPort&) = delete;

    // Opens and claims the device file; false when either fails (nothing is
    // left open then, and Error() says what failed).
    bool Open(const std::string& device);
    // Why the last Open failed: the device file and the system's error;
    // empty after an Open that succeeded.
    const std::string& Error() const { return error_; }
    // Releases and closes the port; nothing happens when it is not open.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // 1 on success, 0 when the port is not open, the address is not one of
    // the three registers, size is not 1 or the system call fails.
    int Get(uint16_t port, uint32_t* value, uint8_t size);
    int Set(uint16_t port, uint32_t value, uint8_t size);

    // QUILLON_PARPORT when set and not empty, else /dev/parport0.
    static std::string DevicePath();

private:
    ParportSystem& sys_;
    int fd_ = -1;
    std::string error_;
    uint8_t dataShadow_ = 0;
};

} // namespace portio
