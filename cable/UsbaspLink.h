// A USBasp: a programmer with its own firmware, reached with vendor control
// requests through libusb-1.0. It drives the part's pins itself and takes
// whole memory blocks (at most 200 bytes a request; a Flash write names the
// page size and whether it is the first or last block of a write, so the
// firmware knows when to write a page); single instructions go through its
// transmit request, four bytes out and four back. Parts above 64 KB get the
// long address before each block.
//
// Found by its USB ids (16C0:05DC with the product string "USBasp", or
// 03EB:C7B4 on older boards), chosen by serial number when several are
// plugged in. Its SCK is set with the clock request where the firmware has
// it: slow enough for a part on a 1 MHz clock to start with, slower on
// SlowDown, faster on SpeedUp; firmware without it keeps its own clock.
#pragma once

#include "CableOptions.h"
#include "IspLink.h"
#include "LibusbLibrary.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace cable {

struct TUsbaspOptions {
    std::string Serial; // empty: the only one plugged in
};

class TUsbaspLink final : public TIspLink, public TBlockProgrammer {
public:
    static constexpr uint32_t MaxBlockBytes = 200;

    TUsbaspLink(TUsbaspOptions Options, bool Simulate);
    ~TUsbaspLink() override;

    bool Open() override;
    void Close() override;
    bool IsOpen() const override { return Handle_ != nullptr; }
    std::string FailureText() const override { return Failure_; }
    std::string Description() const override;

    TBlockProgrammer* Blocks() override { return this; }

    // The firmware powers the part up when it connects: these disconnect,
    // so that the next ProgrammingEnable connects afresh.
    void PowerUp() override;
    void ResetPulse() override;
    void Release() override;
    // Connect and enable programming. False with the link still open: no
    // part answered (FailureText says what to check); false with the link
    // closed: the USBasp failed or went away.
    bool ProgrammingEnable() override;
    bool Transfer(std::span<const TIspBytes> Out, std::span<TIspBytes> In) override;

    bool SlowDown() override;
    void SpeedUp(const std::function<bool()>& Answers,
                 const std::function<bool()>& Confirms) override;
    std::string PaceText() const override;

    uint64_t NowUs() override;
    void Sleep(uint32_t Milliseconds) override;

    bool SetPart(const TAVRdesc& Part) override;
    uint32_t BlockBytes() const override { return MaxBlockBytes; }
    bool WriteFlashBlock(uint32_t Address, std::span<const uint8_t> Data) override;
    bool ReadFlashBlock(uint32_t Address, std::span<uint8_t> Data) override;
    bool WriteEEpromBlock(uint32_t Address, std::span<const uint8_t> Data) override;
    bool ReadEEpromBlock(uint32_t Address, std::span<uint8_t> Data) override;

private:
    bool Fail(std::string Text);
    bool Broken(std::string Text);
    void LetGo();
    bool Request(uint8_t Code, uint16_t Value, uint16_t Index, std::span<uint8_t> Data, bool Out,
                 const std::string& What, int* Moved = nullptr);
    bool Find(std::string& Why);
    bool SetClock(int Option);
    void Disconnect();
    bool SetLongAddress(uint32_t Address, const std::string& What);
    bool WriteBlocks(uint8_t Code, uint32_t Address, std::span<const uint8_t> Data,
                     const std::string& What);
    bool ReadBlocks(uint8_t Code, uint32_t Address, std::span<uint8_t> Data,
                    const std::string& What);

    TUsbaspOptions Options_;
    bool Simulate_;
    TLibusbLibrary Lib_;
    libusb_context* Context_ = nullptr;
    libusb_device_handle* Handle_ = nullptr;
    std::string Place_;  // "bus 1 device 5"
    std::string Serial_; // of the USBasp in use
    std::string Failure_;
    bool Connected_ = false;
    bool ClockSettable_ = false;
    int Option_ = 0; // the SCK option in use (0: the firmware's own)
    uint32_t PageBytes_ = 0;
    uint32_t FlashBytes_ = 0;
};

// The link of `--cable usbasp[:serial=S]`. Null with `error` naming the
// option at fault; nothing is opened.
std::unique_ptr<TIspLink> MakeUsbaspLink(const std::vector<TCableOption>& options, bool simulate,
                                         std::string& error);

// The USBasp's 10-pin ISP header (and the 6-pin one), for the Information
// window and `quillon-isp cables`.
std::string UsbaspWiringText();
// The options in one line, with their defaults.
std::string UsbaspOptionsText();

} // namespace cable
