// The ppdev port against a stand-in for the system calls: which ioctl each
// register access makes, and what happens when the device refuses.

#include "LptPort.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <linux/ppdev.h>
#include <map>
#include <sys/ioctl.h>
#include <vector>

namespace {

class FakeParport : public portio::ParportSystem {
public:
    int Open(const char* path) override {
        opened.push_back(path);
        return openResult;
    }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        EXPECT_EQ(fd, openResult);
        calls.push_back(request);
        if (failing.count(request) != 0) return -1;
        auto* byte = static_cast<unsigned char*>(arg);
        if (request == PPWDATA) written.push_back(*byte);
        if (request == PPWCONTROL) control = *byte;
        if (request == PPRCONTROL) *byte = control;
        if (request == PPRSTATUS) *byte = status;
        if (request == PPRDATA) *byte = 0x5A;
        return 0;
    }
    void Close(int fd) override { closed.push_back(fd); }

    int openResult = 7;
    std::map<unsigned long, bool> failing;
    std::vector<std::string> opened;
    std::vector<unsigned long> calls;
    std::vector<int> closed;
    std::vector<unsigned char> written;
    unsigned char control = 0x0C;
    unsigned char status = 0x7F;
};

TEST(LptPort, ClaimsOnOpenAndReleasesOnClose) {
    FakeParport sys;
    {
        portio::LptPort port(sys);
        ASSERT_TRUE(port.Open("/dev/parport3"));
        EXPECT_EQ(sys.opened, std::vector<std::string>{"/dev/parport3"});
        ASSERT_FALSE(sys.calls.empty());
        EXPECT_EQ(sys.calls.front(), static_cast<unsigned long>(PPCLAIM));
        port.Close();
        EXPECT_EQ(sys.calls.back(), static_cast<unsigned long>(PPRELEASE));
        EXPECT_EQ(sys.closed, std::vector<int>{7});
        EXPECT_FALSE(port.IsOpen());
        ASSERT_TRUE(port.Open("/dev/parport3"));
    }
    EXPECT_EQ(sys.closed.size(), 2u) << "destruction closes an open port";
}

TEST(LptPort, RefusedClaimOrMissingFileLeavesNothingOpen) {
    FakeParport sys;
    sys.failing[PPCLAIM] = true;
    portio::LptPort port(sys);
    EXPECT_FALSE(port.Open("/dev/parport0"));
    EXPECT_EQ(sys.closed, std::vector<int>{7});
    EXPECT_FALSE(port.IsOpen());
    uint32_t v = 0;
    EXPECT_EQ(port.Get(portio::kLptStatus, &v, 1), 0);
    EXPECT_EQ(port.Set(portio::kLptData, 1, 1), 0);

    FakeParport missing;
    missing.openResult = -1;
    portio::LptPort none(missing);
    EXPECT_FALSE(none.Open("/nowhere"));
    EXPECT_TRUE(missing.calls.empty());
    EXPECT_TRUE(missing.closed.empty());
}

TEST(LptPort, MapsTheThreeRegistersAndShadowsTheDataRegister) {
    FakeParport sys;
    portio::LptPort port(sys);
    ASSERT_TRUE(port.Open("p"));
    uint32_t v = 0;
    EXPECT_EQ(port.Get(portio::kLptData, &v, 1), 1);
    EXPECT_EQ(v, 0x5Au) << "the shadow starts from the port's data lines";
    sys.calls.clear();
    EXPECT_EQ(port.Set(portio::kLptData, 0x1A6, 1), 1);
    EXPECT_EQ(sys.written, std::vector<unsigned char>{0xA6});
    EXPECT_EQ(port.Get(portio::kLptData, &v, 1), 1);
    EXPECT_EQ(v, 0xA6u);
    EXPECT_EQ(sys.calls, std::vector<unsigned long>{PPWDATA}) << "a data read makes no system call";

    sys.status = 0x3F;
    EXPECT_EQ(port.Get(portio::kLptStatus, &v, 1), 1);
    EXPECT_EQ(v, 0x3Fu);
    EXPECT_EQ(port.Set(portio::kLptControl, 0x04, 1), 1);
    EXPECT_EQ(port.Get(portio::kLptControl, &v, 1), 1);
    EXPECT_EQ(v, 0x04u);
}

TEST(LptPort, RefusesOtherAddressesSizesAndFailedCalls) {
    FakeParport sys;
    portio::LptPort port(sys);
    ASSERT_TRUE(port.Open("p"));
    uint32_t v = 0;
    EXPECT_EQ(port.Get(0x37B, &v, 1), 0);
    EXPECT_EQ(port.Get(0x278, &v, 1), 0);
    EXPECT_EQ(port.Set(0x3BC, 0, 1), 0);
    EXPECT_EQ(port.Set(portio::kLptStatus, 0, 1), 0) << "the status register is read-only";
    EXPECT_EQ(port.Get(portio::kLptData, &v, 2), 0);
    EXPECT_EQ(port.Set(portio::kLptData, 0, 4), 0);
    EXPECT_EQ(port.Get(portio::kLptData, nullptr, 1), 0);
    sys.failing[PPWDATA] = true;
    sys.failing[PPRSTATUS] = true;
    EXPECT_EQ(port.Set(portio::kLptData, 0x55, 1), 0);
    EXPECT_EQ(port.Get(portio::kLptData, &v, 1), 1);
    EXPECT_EQ(v, 0x5Au) << "a failed write does not change the shadow";
    EXPECT_EQ(port.Get(portio::kLptStatus, &v, 1), 0);
}

TEST(LptPort, DevicePathComesFromTheEnvironment) {
    unsetenv("QUILLON_PARPORT");
    EXPECT_EQ(portio::LptPort::DevicePath(), "/dev/parport0");
    setenv("QUILLON_PARPORT", "", 1);
    EXPECT_EQ(portio::LptPort::DevicePath(), "/dev/parport0");
    setenv("QUILLON_PARPORT", "/dev/parport2", 1);
    EXPECT_EQ(portio::LptPort::DevicePath(), "/dev/parport2");
    unsetenv("QUILLON_PARPORT");
}

} // namespace
