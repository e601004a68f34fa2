// An Arduino board running the ArduinoISP sketch: STK500 version 1 over the
// board's USB serial port. The sketch drives the part's pins itself and
// takes whole memory blocks: Flash and EEPROM move with program page and
// read page (up to its 256-byte page buffer, from a loaded word address,
// which counts words for EEPROM as well); everything else — signature,
// fuses, lock bits, the erase — goes as single instructions through the
// universal command, which answers only the instruction's last byte.
//
// Opening resets the board (DTR); the link then keeps the line silent for
// the boot wait. A boot loader that also speaks STK500 listens only for a
// while after the reset and only as long as it is spoken to, so a host that
// says nothing until it has surely timed out talks to the sketch and never
// to the boot loader (which would write the board's own chip). Only then
// does it get in sync, with a few tries. Should a boot loader answer all the
// same (a wait too short for it), leave programming mode sends it on to the
// application, the sketch, which itself has nothing to leave; the link then
// gets in sync again.
#pragma once

#include "CableOptions.h"
#include "IspLink.h"
#include "SerialPort.h"
#include "StandinProcess.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace cable {

struct TArduinoIspOptions {
    std::string Port; // empty: the simulated board (simulate only)
    uint32_t Baud = 19200;
    uint32_t BootWaitMs = 2000; // silence after the reset, for the boot loader to hand over
};

class TArduinoIspLink final : public TIspLink, public TBlockProgrammer {
public:
    // The sketch's page buffer: the most a program page command carries.
    static constexpr uint32_t PageBufferBytes = 256;

    TArduinoIspLink(TArduinoIspOptions Options, bool Simulate);
    ~TArduinoIspLink() override;

    bool Open() override;
    void Close() override;
    bool IsOpen() const override { return Port_.IsOpen(); }
    std::string FailureText() const override { return Failure_; }
    std::string Description() const override;

    bool FullDuplex() const override { return false; }
    TBlockProgrammer* Blocks() override { return this; }

    // The programmer powers the part up when it enters programming mode:
    // these leave programming mode, so that the next ProgrammingEnable
    // starts afresh (which also ends an erase that waits for a RESET pulse).
    void PowerUp() override;
    void ResetPulse() override;
    void Release() override;
    // Enter programming mode. False with the link still open: the sketch
    // found no part answering (FailureText says what to check); false with
    // the link closed: the line failed.
    bool ProgrammingEnable() override;
    bool Transfer(std::span<const TIspBytes> Out, std::span<TIspBytes> In) override;

    uint64_t NowUs() override;
    void Sleep(uint32_t Milliseconds) override;

    bool SetPart(const TAVRdesc& Part) override;
    uint32_t BlockBytes() const override { return PageBufferBytes; }
    bool WriteFlashBlock(uint32_t Address, std::span<const uint8_t> Data) override;
    bool ReadFlashBlock(uint32_t Address, std::span<uint8_t> Data) override;
    bool WriteEEpromBlock(uint32_t Address, std::span<const uint8_t> Data) override;
    bool ReadEEpromBlock(uint32_t Address, std::span<uint8_t> Data) override;

private:
    enum class TReply : uint8_t { Ok, Failed, Broken };

    bool Fail(std::string Text);
    bool Broken(std::string Text);
    TReply Command(std::span<const uint8_t> Cmd, std::span<uint8_t> Answer, const std::string& What,
                   uint32_t WorkMs = 0);
    bool Sync();
    void Leave();
    bool LoadAddress(uint32_t ByteAddress, bool Flash, const std::string& What);
    bool WriteBlock(uint8_t Memory, uint32_t Address, std::span<const uint8_t> Data);
    bool ReadBlock(uint8_t Memory, uint32_t Address, std::span<uint8_t> Data);
    std::string Where() const;

    TArduinoIspOptions Options_;
    bool Simulate_;
    TSerialPort Port_;
    TStandinProcess Board_; // the simulated board, when the link started it
    std::string PortPath_;
    std::string Failure_;
    std::string Versions_;
    bool Programming_ = false;
    bool PartSet_ = false;
    uint32_t PageBytes_ = 0;
    uint32_t FlashBytes_ = 0;
    uint32_t EEpromBusyMs_ = 10;
    int ExtendedSent_ = -1;
};

// The link of `--cable arduino[:PORT][,baud=N][,boot=MS]`. Null with
// `error` naming the option at fault; nothing is opened.
std::unique_ptr<TIspLink> MakeArduinoIspLink(const std::vector<TCableOption>& options,
                                             bool simulate, std::string& error);

// How to wire the board to the part (Uno/Nano and Mega pins), for the
// Information window and `quillon-isp cables`.
std::string ArduinoIspWiringText();
// The options in one line, with their defaults.
std::string ArduinoIspOptionsText();

} // namespace cable
