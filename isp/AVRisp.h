// TAVRisp: the in-circuit programming engine. It speaks the AVR serial
// programming instructions to a part through one link (by default the
// five-wire cable on the first parallel port, driven bit by bit; or another
// cable or a programmer behind the same seam), identifies the part from its
// signature, and moves Flash and EEPROM images between its two buffers and
// the part. It knows no toolkit: the status line, the progress bar, the
// events and the sleep are seams that the window (or a test) fills in.
#pragma once

#include "AVRDeviceTable.h"
#include "FuseLayout.h"
#include "IspLink.h"
#include "PortLibrary.h"
#include "PortLink.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

// Byte selectors of a Flash word.
inline constexpr uint8_t HighByteSel = 1;
inline constexpr uint8_t LowByteSel = 0;

// The catalogue row used when no part is identified.
inline constexpr uint8_t DefaultDevice = 0;

// Capacity of the buffers: the largest part of the catalogue.
inline constexpr std::size_t FlashBufferWords = 131072;
inline constexpr std::size_t EEpromBufferBytes = 8192;
static_assert(FlashBufferWords * 2 == CatalogueMaxFlashBytes);
static_assert(EEpromBufferBytes == CatalogueMaxEEpromBytes);

// Status kinds for ShowStatus: information; any other value is an error.
inline constexpr uint8_t skInformation = 1;
inline constexpr uint8_t skError = 0;

// Colours, laid out $00BBGGRR.
inline constexpr uint32_t clNavy = 0x800000;
inline constexpr uint32_t clRed = 0x0000FF;

// The status line the engine writes to.
class TStatusPanel {
public:
    virtual ~TStatusPanel() = default;
    virtual void SetText(const std::string& Text) = 0;
    virtual void SetTextColor(uint32_t Color) = 0; // $00BBGGRR
};

// The progress bar the engine steps.
class TProgressIndicator {
public:
    virtual ~TProgressIndicator() = default;
    virtual void SetMax(int32_t Max) = 0;
    virtual int32_t Min() const = 0;
    virtual int32_t Position() const = 0;
    virtual void SetPosition(int32_t Position) = 0;
};

class TAVRisp {
public:
    using TMyNotify1 = std::function<void(TAVRisp* Sender)>;
    using TMyNotify2 = std::function<bool(TAVRisp* Sender)>;
    using TSleepHook = std::function<void(uint32_t Milliseconds)>;

    TAVRisp();
    ~TAVRisp();
    TAVRisp(const TAVRisp&) = delete;
    TAVRisp& operator=(const TAVRisp&) = delete;

    // Events; an empty one is skipped, an empty OnUpdateEvent counts as true.
    TMyNotify1 OnStartEvent;
    TMyNotify1 OnStopEvent;
    TMyNotify2 OnUpdateEvent;

    // Every millisecond wait goes through here; by default the link waits
    // (the calling thread sleeps, or a simulated cable's model time moves).
    // Empty: no wait at all.
    TSleepHook SleepHook;

    TProgressIndicator* Progress() const { return Progress_; }
    void SetProgress(TProgressIndicator* Value) { Progress_ = Value; }
    TStatusPanel* Status() const { return Status_; }
    void SetStatus(TStatusPanel* Value) { Status_ = Value; }

    // The current device.
    int32_t FlashSize() const { return FlashSize_; }
    int32_t EEpromSize() const { return EEpromSize_; }
    const std::string& AVRversion() const { return AVRversion_; }
    uint8_t AVRlfb() const { return AVRlfb_; }
    uint8_t AVRhfb() const { return AVRhfb_; }
    uint8_t AVRefb() const { return AVRefb_; }
    uint8_t AVRfuse() const { return AVRfuse_; }
    // The three signature bytes the last identification read from an
    // answering part, known or not; zeros when no part answered.
    const std::array<uint8_t, 3>& AVRsignature() const { return AVRsignature_; }

    // Engine state, readable for the window and for inspection.
    uint32_t SpeedFactor() const { return Port_ != nullptr ? Port_->SpeedFactor() : 1; }
    bool PortOpen() const { return PortOpen_; }
    uint32_t PortBase() const { return Port_ != nullptr ? Port_->PortBase() : LptBase; }
    uint8_t DeviceIndex() const { return DeviceIndex_; }
    // The catalogue row of the current device: its page, fuses, busy times.
    const TAVRdesc& CurrentDevice() const;
    uint8_t AbortRequest() const { return AbortRequest_; }
    uint32_t PageWordIndex() const { return PageWordIndex_; }
    // The file of the port library in use, empty for entries supplied in
    // process or a cable that is not a port.
    const std::string& PortLibraryPath() const;
    // Why the last OpenPort failed: which library, which device file, the
    // system's error; empty while the port is open.
    const std::string& PortError() const { return PortError_; }

    // The link to the part; the parallel-port link unless another was opened.
    TIspLink& Link() { return *Link_; }
    // The parallel-port view of the link, null for a cable that is not
    // driven one port access at a time.
    TPortLink* PortLink() { return Port_; }

    // Fast programming, off unless asked for (and always on for a cable that
    // is not driven one port access at a time): the engine waits for the part
    // instead of the fixed times, skips what an erased part already holds,
    // hands the link whole batches of instructions (or whole blocks to a
    // programmer), and clocks bits as fast as the part follows with a margin.
    bool FastMode() const { return FastMode_ || FastModeForced(); }
    void SetFastMode(bool Value);
    // True when the link cannot run the normal mode.
    bool FastModeForced() const { return Port_ == nullptr; }
    // Status reads inside the SCK high and low phases of a fast bit on the
    // parallel port, found at identification in fast mode, or before the
    // first fast write for a part identified earlier; until then bits keep
    // the SpeedFactor pace.
    bool FastPhasesKnown() const { return Port_ != nullptr && Port_->FastPhasesKnown(); }
    uint32_t FastHighReads() const { return Port_ != nullptr ? Port_->FastHighReads() : 0; }
    uint32_t FastLowReads() const { return Port_ != nullptr ? Port_->FastLowReads() : 0; }

    // The images: Flash word i in the low 16 bits of entry i (upper bits 0),
    // EEPROM byte j in entry j.
    std::array<uint32_t, FlashBufferWords> FlashBuffer{};
    std::array<uint8_t, EEpromBufferBytes> EEpromBuffer{};

    // Session.
    bool OpenPort();                     // library named by QUILLON_PORTIO
    bool OpenPort(TPortEntries Entries); // entries supplied in process
    // Any link: another cable or a programmer. Replaces the link in use when
    // the port is not open yet; the status line says whether it opened, and
    // PortError() why not.
    bool OpenLink(std::unique_ptr<TIspLink> NewLink);
    // Puts another link in the place of the one in use, open or not: the old
    // link is closed without driving its lines, the identified part is
    // forgotten (as Release forgets it, and its signature with it), and the
    // new link is opened. Null: the engine is left as it was made, on the
    // parallel port's link, not opened. Not while an operation runs. The
    // status line says whether the new link opened, PortError() why not.
    bool SwitchLink(std::unique_ptr<TIspLink> NewLink);
    bool Identify();
    void Release();
    void Abort();

    // Memories and fuses. Erase, write and verify refuse (false, status
    // "Atmel AVR Device NOT found") while no part of the catalogue is selected.
    bool EraseDevice();
    bool WriteFlash(int32_t Start, int32_t Size);
    bool ReadFlash(int32_t Start, int32_t Size);
    bool VerifyFlash(int32_t Size);
    bool WriteEEprom(int32_t Start, int32_t Count);
    bool ReadEEprom(int32_t Start, int32_t Count);
    bool VerifyEEprom(int32_t Count);

    // Fuses and lock bits (FuseOperations.cpp). Every write is read back:
    // false when the part stayed busy, the link failed or a bit did not
    // take, and the status line names the byte, the bits and, where known,
    // why. After a fuse write AVRlfb/AVRhfb/AVRefb hold what the part reads.
    bool WriteFuses(uint32_t Extended, uint32_t High, uint32_t Low);
    // The bytes the last fuse or lock write compared, in the order written.
    const std::vector<TFuseReadBack>& LastReadBack() const { return ReadBack_; }
    // The current part's fuse and lock layout; null for a part without one.
    const TFuseLayout* FuseLayout() const;
    // Whether the current part's lock byte can be read and written (not on
    // parts with the AT90S lock form, nor without a part).
    bool HasLockBits() const;
    // The lock byte (58 00 00); false, with the status line saying why, on a
    // part without lock access or a failed link.
    bool ReadLockBits(uint8_t& Value);
    // Writes the lock byte (AC E0 00 Value) and reads it back.
    bool WriteLockBits(uint8_t Value);
    // The last verification failed because the part's lock bits forbid
    // reading it back (lock mode 3), not because a memory differs; its
    // status line says so.
    bool MismatchFromLock() const { return MismatchFromLock_; }

    // Status and progress protocol shared by every operation.
    void ShowStatus(const std::string& Text, uint8_t Kind);
    // The text of the last status line, shown or not.
    const std::string& StatusText() const { return StatusText_; }
    void StartProgress(int32_t Count);
    bool StepProgress();
    void DoStart();
    void DoStop();
    bool DoUpdate();

    // Port and lines of the parallel-port link (nothing, and reads of 0, on
    // another cable).
    uint8_t ReadPort(uint32_t Address);
    void WritePort(uint32_t Address, uint8_t Value);
    void SetSCK();
    void ClearSCK();
    void SetRESET();
    void ClearRESET();
    void SetMOSI();
    void ClearMOSI();
    void SetUpperLines();
    void ClearUpperLines();
    bool GetMISO();

    // Serial link.
    void Delay(uint32_t Count);
    void ClockPulse();
    void SendByte(uint8_t Value);
    uint8_t ReceiveByte();

    // Session steps.
    void LinesOff();
    void PowerUpReset();
    bool ProgrammingEnable();
    uint8_t ReadSignature(uint8_t Index);
    uint8_t ReadFuse(uint8_t Selector);

    // Memory and fuse steps.
    bool ChipErase();
    uint8_t ReadFlashByte(uint32_t Address, uint8_t Selector);
    uint16_t ReadFlashWord(uint32_t Address);
    bool WriteFlashByte(uint32_t Address, uint8_t Value, uint8_t Selector);
    bool WriteFlashWord(uint32_t Address, uint16_t Word);
    void LoadPageByte(uint32_t Index, uint8_t Value, uint8_t Selector);
    void WriteFlashWordPaged(uint32_t Address, uint16_t Word);
    uint8_t ReadEEpromByte(uint32_t Address);
    void WriteEEpromByte(uint32_t Address, uint8_t Value);
    void WriteFuse(uint32_t Value, uint8_t Selector);

private:
    bool ShowOpened();
    void SelectDevice(uint8_t Row);
    bool RefusedWithoutDevice();
    bool RefusedWithoutLockBits();
    bool LockedAgainstReading(std::string& Text);
    void Sleep(uint32_t Milliseconds);
    void ResetPulse();
    bool AnswersWithoutEcho();
    bool StopAborted(int32_t Position);
    bool StopFailed(const std::string& Text);
    bool StopMismatch(const std::string& Text);
    bool Finish(const std::string& Text);
    int32_t ProgressPosition() const; // 0 without a progress bar
    // The memory operations go over the link's instructions (fast mode, or
    // a cable without the normal mode) rather than the normal mode's bytes.
    bool LinkOperations() const { return FastMode() && DeviceIndex_ != DefaultDevice; }
    bool NeedsExtendedAddress() const;
    uint64_t NowUs() { return Link_->NowUs(); }
    void NoteUnpolledWrite(uint32_t BusyUs);
    void SettleBeforeReading();
    bool ErasedAtSpots();

    // Instructions: on the parallel port in the normal mode as bytes of the
    // normal mode; otherwise through the link, whole.
    void SendInstruction(uint8_t B1, uint8_t B2, uint8_t B3, uint8_t B4);
    uint8_t QueryInstruction(uint8_t B1, uint8_t B2, uint8_t B3);
    void WritePage(uint32_t Address, uint16_t Word);
    void LoadExtendedAddress(uint32_t WordAddress);

    // Over the link (LinkOperations.cpp).
    bool Exchange(std::span<const TIspBytes> Out, std::span<TIspBytes> In);
    bool Exchange(const TIspBytes& Out, TIspBytes& In) { return Exchange({&Out, 1}, {&In, 1}); }
    bool EchoOk(const TIspBytes& Out, const TIspBytes& In) const;
    void FindFastPace();
    void EnsureFastPace();
    // How the engine learns that a write has finished: the ready/busy
    // instruction, a read of the value written (which the part does not
    // answer while busy), or nothing: twice the longest time is waited.
    struct TWritePoll {
        bool Usable = false;
        bool ReadyBusy = false;
        TIspBytes Poll{};
        uint8_t Expect = 0;
    };
    TWritePoll PollFor(const TIspBytes* Read, uint8_t Expect) const;
    bool PollDone(const TWritePoll& Poll, const TIspBytes& In) const;
    std::size_t CoveringPolls(uint32_t BusyUs) const;
    bool SendAndWait(std::vector<TIspBytes>& Batch, uint32_t BusyUs, const TWritePoll& Poll);
    struct TQueuedWrite {
        TIspBytes Write; // the write instruction
        TIspBytes Read;  // the read of the location written
        TWritePoll Poll;
    };
    bool SendQueuedWrites(std::vector<TQueuedWrite>& Queued, uint32_t BusyUs);
    bool WaitForWrite(uint64_t StartUs, uint32_t BusyUs, const TWritePoll& Poll);
    void MeasureInstructionTime();
    void WaitUntil(uint64_t DeadlineUs);
    bool LinkFailed() const { return !Link_->FailureText().empty(); }
    bool StopWriteFailed();
    bool LinkChipErase();
    bool LinkWriteFlash(uint32_t Start, int32_t Count);
    bool LinkWriteFlashBytes(uint32_t Start, int32_t Count);
    bool LinkWriteEEprom(uint32_t Start, int32_t Count);
    bool LinkReadFlash(uint32_t Start, int32_t Count, bool Verify);
    bool LinkReadEEprom(uint32_t Start, int32_t Count, bool Verify);
    bool LinkWriteFuses(const uint32_t (&Values)[3]); // FuseOperations.cpp
    void AppendExtendedAddress(std::vector<TIspBytes>& Batch, uint32_t WordAddress);

    // Reads a memory (Flash words or EEPROM bytes) in chunks into its buffer,
    // or verifies the buffer against it: `ReadChunk` gives what the part
    // holds in [From, To).
    using TChunkReader = std::function<bool(uint32_t From, uint32_t To, std::vector<uint32_t>& Held)>;
    bool ReadInChunks(bool Flash, uint32_t Start, int32_t Count, uint32_t Chunk, bool Verify,
                      const TChunkReader& ReadChunk);

    // Through a programmer's blocks (BlockOperations.cpp).
    bool BlockWriteFlash(uint32_t Start, int32_t Count);
    bool BlockWriteEEprom(uint32_t Start, int32_t Count);
    bool BlockReadFlash(uint32_t Start, int32_t Count, bool Verify);
    bool BlockReadEEprom(uint32_t Start, int32_t Count, bool Verify);

    TProgressIndicator* Progress_ = nullptr;
    TStatusPanel* Status_ = nullptr;

    int32_t FlashSize_ = 0;
    int32_t EEpromSize_ = 0;
    std::string AVRversion_;
    uint8_t AVRlfb_ = 0xFF;
    uint8_t AVRhfb_ = 0xFF;
    uint8_t AVRefb_ = 0;
    uint8_t AVRfuse_ = 0;
    std::array<uint8_t, 3> AVRsignature_{};

    bool PortOpen_ = false;
    std::string PortError_;
    uint8_t DeviceIndex_ = DefaultDevice;
    uint8_t AbortRequest_ = 0;
    uint32_t PageWordIndex_ = 0;

    std::unique_ptr<TIspLink> Link_;
    TPortLink* Port_ = nullptr; // Link_ when it is a port link
    bool FastMode_ = false;
    bool FastPaceKnown_ = false; // the link's fast pace was found for this part
    int32_t LoadedExtAddress_ = -1; // the part's extended address byte, -1: not known
    // On a link that pays for each Transfer: one instruction's time at the
    // pace in use, to know how many polls cover a write; 0: not measured.
    uint32_t InstructionUs_ = 0;
    // Normal mode: the part may still be busy with a write the fixed waits
    // did not cover until this time (link clock, microseconds).
    uint64_t BusyUntilUs_ = 0;
    std::vector<TFuseReadBack> ReadBack_;
    std::string StatusText_;
    bool MismatchFromLock_ = false;
};
