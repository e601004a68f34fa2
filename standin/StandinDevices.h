// The device files of libstandin-linux.so: what open(2) gives back and what
// ioctl(2) reaches. Each device costs model time per call as the real one
// does and drives the shared simulated part.
#pragma once

#include <memory>
#include <string>

namespace standin {

class Device {
public:
    virtual ~Device() = default;
    // ioctl(2): the result, or -1 with errno set.
    virtual int Ioctl(unsigned long request, void* arg) = 0;
};

// A USB-serial adapter whose modem lines are wired to the part
// (TtyStandin.cpp). Null with `error` an errno when it cannot be opened.
std::unique_ptr<Device> OpenTty(const std::string& path, int& error);
// The Pi's SPI0 controller with the part on its SCK, MOSI and MISO pins
// (SpidevStandin.cpp).
std::unique_ptr<Device> OpenSpidev(const std::string& path, int& error);

} // namespace standin
