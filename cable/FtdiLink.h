// The ftdi cable: an FTDI USB board driven through libftdi1, loaded at run
// time. An FT232R (0403:6001) is driven in synchronous bit-bang mode, an
// FT232H (0403:6014) or the channel A of an FT2232H (0403:6010) through its
// MPSSE serial engine. Either way a batch of instructions (a page of loads
// and its write, a block of reads) goes as one USB write, and what the part
// shifted out comes back in one read: a USB round trip costs about 1 ms,
// so the link pays it per batch, never per bit or per instruction.
//
// `--simulate` loads the stand-in of libftdi1 instead, whose board drives
// the simulated part on its model clock; the link then keeps its time on
// that clock too.
#pragma once

#include "CableOptions.h"
#include "FtdiOptions.h"
#include "IspLink.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

struct ftdi_context;

namespace cable {

class TFtdiEncoder;
class TFtdiLibrary;

// The ftdi cable for these options; null with `error` naming the option at
// fault. Nothing is loaded or opened before Open().
std::unique_ptr<TIspLink> MakeFtdiLink(const std::vector<TCableOption>& options, bool simulate,
                                       std::string& error);

class TFtdiLink final : public TIspLink {
public:
    TFtdiLink(const TFtdiSettings& Settings, bool Simulate);
    ~TFtdiLink() override;

    bool Open() override;
    void Close() override;
    bool IsOpen() const override { return Open_; }
    std::string FailureText() const override { return Failure_; }
    std::string Description() const override;

    void PowerUp() override;
    // Also waits until the part takes instructions again.
    void ResetPulse() override;
    void Release() override;
    bool Transfer(std::span<const TIspBytes> Out, std::span<TIspBytes> In) override;
    // Every exchange is a USB round trip of about a millisecond.
    uint32_t TransferOverheadUs() const override { return 1000; }

    bool SlowDown() override;
    void SpeedUp(const std::function<bool()>& Answers,
                 const std::function<bool()>& Confirms) override;
    std::string PaceText() const override;

    uint64_t NowUs() override;
    void Sleep(uint32_t Milliseconds) override;

private:
    bool Fail(std::string Text);
    bool OpenBoard();
    bool SetUpChip();
    void CloseBoard();
    bool Usable();
    bool SetLines(bool Reset);
    bool SetPace(uint32_t Units);
    void BeginExchange();
    bool Exchange(std::size_t Answers);
    bool Lost(const char* What);
    std::size_t InstructionsPerExchange() const;

    TFtdiSettings Settings_;
    bool Simulate_;
    std::unique_ptr<TFtdiLibrary> Library_;
    ftdi_context* Context_ = nullptr;
    bool Open_ = false;
    bool Broken_ = false; // a USB transfer failed: nothing more is trusted
    std::string Failure_;
    TFtdiChip Chip_ = TFtdiChip::Auto; // the board opened
    std::string Serial_;
    std::unique_ptr<TFtdiEncoder> Encoder_;
    uint32_t Units_ = 0;
    bool PacePending_ = false; // an MPSSE divisor to send with the next write
    std::vector<uint8_t> Out_;
    std::vector<uint8_t> Back_;
    std::chrono::steady_clock::time_point Origin_ = std::chrono::steady_clock::now();
};

} // namespace cable
