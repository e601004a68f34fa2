// The spidev cable: a Raspberry Pi's (or another board's) SPI controller
// shifts the instructions through /dev/spidevB.C, full duplex, SPI mode 0,
// 8 bits a word, a whole batch of instructions in one SPI_IOC_MESSAGE; the
// part's RESET is a GPIO line taken through libgpiod. Under --simulate the
// stand-in library provides both, on the simulated part and its model time.
#pragma once

#include "CableDefaults.h"
#include "CableOptions.h"
#include "DeviceCalls.h"
#include "GpioLines.h"
#include "IspLink.h"

#include <memory>
#include <string>
#include <vector>

namespace cable {

// What the spidev cable was told: dev= (default /dev/spidev0.0), chip= and
// reset= (default gpiochip0, 25), speed= (the SCK speed to start at, Hz).
struct TSpidevSettings {
    std::string Device = SpidevDefaultDevice;
    std::string Chip = GpioDefaultChip;
    unsigned Reset = GpioDefaultReset;
    uint32_t StartHz = SpidevStartHz;
};

// Checks the options; false with `error` naming the option at fault.
bool SpidevSettingsFrom(const std::vector<TCableOption>& options, TSpidevSettings& settings,
                        std::string& error);

class TSpidevLink final : public TIspLink {
public:
    TSpidevLink(TSpidevSettings settings, bool simulate);
    ~TSpidevLink() override;

    bool Open() override;
    void Close() override;
    bool IsOpen() const override { return fd_ >= 0; }
    std::string FailureText() const override { return failure_; }
    std::string Description() const override;

    void PowerUp() override;
    void ResetPulse() override;
    void Release() override;
    bool Transfer(std::span<const TIspBytes> Out, std::span<TIspBytes> In) override;

    bool SlowDown() override;
    void SpeedUp(const std::function<bool()>& Answers, const std::function<bool()>& Confirms) override;
    std::string PaceText() const override;
    // The SCK speed in use, Hz.
    uint32_t SpeedHz() const { return speedHz_; }

    uint64_t NowUs() override;
    void Sleep(uint32_t Milliseconds) override;

private:
    bool SetReset(bool high);
    bool Fail(const std::string& text);

    TSpidevSettings settings_;
    bool simulate_;
    TDeviceCalls calls_ = SystemDeviceCalls();
    TGpiod gpiod_;
    TGpioLines reset_;
    int fd_ = -1;
    uint32_t speedHz_;
    std::string failure_;
};

// The factory the programs call: null with `error` naming the option at
// fault (nothing is opened); the link opens with Open().
std::unique_ptr<TIspLink> MakeSpidevLink(const std::vector<TCableOption>& options, bool simulate,
                                         std::string& error);

} // namespace cable
