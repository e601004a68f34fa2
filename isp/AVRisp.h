// TAVRisp: the in-circuit programming engine. It drives a five-wire cable on
// the first parallel port bit by bit, speaks the AVR serial programming
// instructions, identifies the part from its signature, and moves Flash and
// EEPROM images between its two buffers and the part. It knows no toolkit:
// the status line, the progress bar, the events and the sleep are seams that
// the window (or a test) fills in.
#pragma once

#include "AVRDeviceTable.h"
#include "PortLibrary.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Port and cable.
inline constexpr uint32_t LptBase = 0x378;
inline constexpr uint32_t DataRegOffset = 0;
inline constexpr uint32_t StatusRegOffset = 1;
inline constexpr uint8_t SckBit = 2;
inline constexpr uint8_t ResetBit = 1;
inline constexpr uint8_t MosiBit = 3;
inline constexpr uint8_t MisoBit = 6;
inline constexpr uint8_t UpperLinesMask = 0xF0;

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

    // Every millisecond wait goes through here; by default the calling
    // thread sleeps. Empty: no wait at all.
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
    uint32_t SpeedFactor() const { return SpeedFactor_; }
    bool PortOpen() const { return PortOpen_; }
    uint32_t PortBase() const { return PortBase_; }
    uint8_t DeviceIndex() const { return DeviceIndex_; }
    // The catalogue row of the current device: its page, fuses, busy times.
    const TAVRdesc& CurrentDevice() const;
    uint8_t AbortRequest() const { return AbortRequest_; }
    uint32_t PageWordIndex() const { return PageWordIndex_; }
    // The file of the port library in use, empty for entries supplied in process.
    const std::string& PortLibraryPath() const;
    // Why the last OpenPort failed: which library, which device file, the
    // system's error; empty while the port is open.
    const std::string& PortError() const { return PortError_; }

    // Fast programming, off unless asked for: the engine waits for the part
    // instead of the fixed times, skips what an erased part already holds,
    // keeps a copy of the data register instead of reading it back, and
    // clocks bits with the shortest SCK phases the part answered to when it
    // was identified in this mode.
    bool FastMode() const { return FastMode_; }
    void SetFastMode(bool Value) { FastMode_ = Value; }
    // Status reads inside the SCK high and low phases of a fast bit, found
    // at identification in fast mode, or before the first fast write for a
    // part identified earlier; until then bits keep the SpeedFactor pace.
    bool FastPhasesKnown() const { return FastPhasesKnown_; }
    uint32_t FastHighReads() const { return FastHighReads_; }
    uint32_t FastLowReads() const { return FastLowReads_; }

    // The images: Flash word i in the low 16 bits of entry i (upper bits 0),
    // EEPROM byte j in entry j.
    std::array<uint32_t, FlashBufferWords> FlashBuffer{};
    std::array<uint8_t, EEpromBufferBytes> EEpromBuffer{};

    // Session.
    bool OpenPort();                     // library named by QUILLON_PORTIO
    bool OpenPort(TPortEntries Entries); // entries supplied in process
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
    void WriteFuses(uint32_t Extended, uint32_t High, uint32_t Low);

    // Status and progress protocol shared by every operation.
    void ShowStatus(const std::string& Text, uint8_t Kind);
    void StartProgress(int32_t Count);
    bool StepProgress();
    void DoStart();
    void DoStop();
    bool DoUpdate();

    // Port and lines.
    uint8_t ReadPort(uint32_t Address);
    void WritePort(uint32_t Address, uint8_t Value);
    void SetSCK() { SetDataBits(1u << SckBit); }
    void ClearSCK() { ClearDataBits(1u << SckBit); }
    void SetRESET() { SetDataBits(1u << ResetBit); }
    void ClearRESET() { ClearDataBits(1u << ResetBit); }
    void SetMOSI() { SetDataBits(1u << MosiBit); }
    void ClearMOSI() { ClearDataBits(1u << MosiBit); }
    void SetUpperLines() { SetDataBits(UpperLinesMask); }
    void ClearUpperLines() { ClearDataBits(UpperLinesMask); }
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
    bool OpenWith(TPortEntries Entries, std::string Failure);
    void SelectDevice(uint8_t Row);
    bool RefusedWithoutDevice();
    void Sleep(uint32_t Milliseconds);
    void SetDataBits(uint8_t Mask);
    void ClearDataBits(uint8_t Mask);
    void ResetPulse();
    bool AnswersWithoutEcho();
    bool StopAborted(int32_t Position);
    int32_t ProgressPosition() const; // 0 without a progress bar
    bool FastOperations() const { return FastMode_ && DeviceIndex_ != DefaultDevice; }

    // Fast link (FastLink.cpp).
    uint8_t DataLines();
    void WriteDataLines(uint8_t Value);
    void StatusReads(uint32_t Count);
    void FastSendByte(uint8_t Value);
    uint8_t FastReceiveByte();
    void FindFastPhases(uint8_t Signature1, uint8_t Signature2);
    void EnsureFastPhases();
    bool AnswersWithPhases(uint32_t High, uint32_t Low, uint8_t Signature1, uint8_t Signature2);

    // Waiting for the part and the fast writes (ReadyWait.cpp).
    bool WaitForPart(uint32_t BusyUs, const std::function<bool()>& StillBusy);
    bool WaitForWrite(uint32_t BusyUs, const std::function<bool()>& DataStillBusy);
    bool ReadyBusyPoll();
    bool FastChipErase();
    bool FastWriteFlash(uint32_t Start, int32_t Count);
    bool FastWriteFlashByte(uint32_t Address, uint8_t Value, uint8_t Selector);
    bool FastWritePage(uint32_t From, uint32_t To);
    bool FastWriteEEprom(uint32_t Start, int32_t Count);
    void FastWriteFuses(uint32_t Extended, uint32_t High, uint32_t Low);
    void SendInstruction(uint8_t B1, uint8_t B2, uint8_t B3, uint8_t B4);
    uint8_t QueryInstruction(uint8_t B1, uint8_t B2, uint8_t B3);
    void WritePage(uint32_t Address, uint16_t Word);

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

    uint32_t SpeedFactor_ = 1;
    bool PortOpen_ = false;
    std::string PortError_;
    uint32_t PortBase_ = LptBase;
    uint8_t DeviceIndex_ = DefaultDevice;
    uint8_t AbortRequest_ = 0;
    uint32_t PageWordIndex_ = 0;

    std::unique_ptr<TPortLibrary> Library_;
    TPortEntries Port_;

    bool FastMode_ = false;
    uint8_t DataCopy_ = 0; // what the data register was last written
    bool DataCopyKnown_ = false;
    bool FastPhasesKnown_ = false;
    uint32_t FastHighReads_ = 0;
    uint32_t FastLowReads_ = 0;
    // Time the engine has spent on the part: every port access counted at
    // the 1 us a parallel-port access takes, plus the sleeps. It is the
    // clock of the busy deadlines, on a real port and on a simulated one.
    uint64_t ElapsedUs_ = 0;
};
