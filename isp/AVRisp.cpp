#include "AVRisp.h"

#include "SerialInstructions.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace serial;

namespace {

// Signature byte 1 of the AT90S1200, the part that gives no echo to
// programming enable and is recognised by its signature instead.
constexpr uint8_t NoEchoSignature1 = 0x90;

constexpr int IdentifyAttempts = 100;
constexpr uint32_t SpeedFactorStep = 10;
constexpr int FlashPollReads = 1001;

// Waits in milliseconds.
constexpr uint32_t ProgEnableWaitMs = 50;
// Fast mode: the parts want 20 ms after RESET goes low before the first
// instruction.
constexpr uint32_t FastArmWaitMs = 25;
constexpr uint32_t ResetPulseMs = 1;
constexpr uint32_t PowerUpSettleMs = 30;
constexpr uint32_t ReleasePulseMs = 50;
constexpr uint32_t EraseWaitMs = 50;
constexpr uint32_t FlashSkipWaitMs = 1;
constexpr uint32_t FlashPollWaitMs = 1;
constexpr uint32_t PageWriteWaitMs = 100;
constexpr uint32_t EEpromWriteWaitMs = 10;
constexpr uint32_t FuseByteWaitMs = 50;

std::string Hex4(uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04X", value);
    return buf;
}

// Number of steps of an operation on [start, start + count) of a buffer of
// `capacity` entries: never past its end, never negative.
int32_t StepsWithin(int32_t start, int32_t count, std::size_t capacity) {
    if (start < 0 || count <= 0 || static_cast<std::size_t>(start) >= capacity) return 0;
    const std::size_t room = capacity - static_cast<std::size_t>(start);
    return static_cast<int32_t>(std::min<std::size_t>(room, static_cast<std::size_t>(count)));
}

} // namespace

TAVRisp::TAVRisp()
    : SleepHook([](uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }) {
    SelectDevice(DefaultDevice);
}

TAVRisp::~TAVRisp() {
    if (PortOpen_ && Port_.ShutdownWinIo) Port_.ShutdownWinIo();
    Port_ = {};
    Library_.reset();
}

const std::string& TAVRisp::PortLibraryPath() const {
    static const std::string none;
    return Library_ ? Library_->Path() : none;
}

// ---------------------------------------------------------------- port ----

bool TAVRisp::OpenPort() {
    if (PortOpen_) return OpenWith({}, {});
    auto library = std::make_unique<TPortLibrary>();
    TPortEntries entries;
    std::string failure;
    if (!library->Load(PortLibraryCandidates(std::getenv(PortLibraryVariable), ExecutableDir())))
        failure = "cannot load the port library: " + library->Error();
    else if (entries = library->Resolve(); !entries.Complete())
        failure = library->Path() + " is not a port library: an entry is missing";
    Library_ = std::move(library);
    return OpenWith(std::move(entries), std::move(failure));
}

bool TAVRisp::OpenPort(TPortEntries Entries) {
    if (PortOpen_) return OpenWith({}, {});
    Library_.reset();
    return OpenWith(std::move(Entries), "the port entries are incomplete");
}

// The common tail of both ways of opening: a port that is already open stays
// as it is; otherwise the entries are kept and the library asked for access.
// Failure says why, when the entries are not complete.
bool TAVRisp::OpenWith(TPortEntries Entries, std::string Failure) {
    StartProgress(0);
    if (!PortOpen_ && Entries.Complete()) {
        Port_ = std::move(Entries);
        PortOpen_ = Port_.InitializeWinIo() != 0;
        if (!PortOpen_) {
            const std::string library = Library_ ? Library_->Path() : "the port library";
            const std::string why = Port_.GetWinIoError ? Port_.GetWinIoError() : std::string();
            Failure = library + " refused port access" + (why.empty() ? "" : ": " + why);
            Port_ = {};
        }
    }
    PortError_ = PortOpen_ ? std::string() : std::move(Failure);
    if (PortOpen_)
        ShowStatus("ISP interface is ready", skInformation);
    else
        ShowStatus("ISP interface NOT initialised", skError);
    return PortOpen_;
}

uint8_t TAVRisp::ReadPort(uint32_t Address) {
    ++ElapsedUs_;
    if (!PortOpen_) return 0;
    uint32_t value = 0;
    if (Port_.GetPortVal(static_cast<uint16_t>(Address), &value, 1) == 0) return 0;
    return static_cast<uint8_t>(value & 0xFF);
}

void TAVRisp::WritePort(uint32_t Address, uint8_t Value) {
    ++ElapsedUs_;
    if (!PortOpen_) return;
    Port_.SetPortVal(static_cast<uint16_t>(Address), Value, 1);
    if (Address == PortBase_ + DataRegOffset) {
        DataCopy_ = Value;
        DataCopyKnown_ = true;
    }
}

void TAVRisp::SetDataBits(uint8_t Mask) {
    if (FastMode_) return WriteDataLines(static_cast<uint8_t>(DataLines() | Mask));
    const uint32_t reg = PortBase_ + DataRegOffset;
    WritePort(reg, static_cast<uint8_t>(ReadPort(reg) | Mask));
}

void TAVRisp::ClearDataBits(uint8_t Mask) {
    if (FastMode_) return WriteDataLines(static_cast<uint8_t>(DataLines() & ~Mask));
    const uint32_t reg = PortBase_ + DataRegOffset;
    WritePort(reg, static_cast<uint8_t>(ReadPort(reg) & ~Mask));
}

bool TAVRisp::GetMISO() {
    return (ReadPort(PortBase_ + StatusRegOffset) & (1u << MisoBit)) != 0;
}

// ---------------------------------------------------------- serial link ----

// The bit clock has no timer: one status read is its time unit, stretched
// by SpeedFactor for parts on a slow clock.
void TAVRisp::Delay(uint32_t Count) {
    const uint64_t reads = static_cast<uint64_t>(Count) * SpeedFactor_;
    const uint32_t reg = PortBase_ + StatusRegOffset;
    for (uint64_t i = 0; i < reads; ++i)
        ReadPort(reg);
}

void TAVRisp::ClockPulse() {
    Delay(1);
    SetSCK();
    Delay(2);
    ClearSCK();
    Delay(1);
}

void TAVRisp::SendByte(uint8_t Value) {
    if (FastMode_ && FastPhasesKnown_) return FastSendByte(Value);
    ClearSCK();
    ClearMOSI();
    for (unsigned mask = 0x80; mask != 0; mask >>= 1) {
        if ((Value & mask) != 0)
            SetMOSI();
        else
            ClearMOSI();
        ClockPulse();
    }
    ClearSCK();
    ClearMOSI();
}

// MISO is sampled while SCK is low, before the rising edge of the bit's
// pulse. MOSI stays low, so the part shifts in 0x00.
uint8_t TAVRisp::ReceiveByte() {
    if (FastMode_ && FastPhasesKnown_) return FastReceiveByte();
    unsigned result = 0;
    ClearSCK();
    for (unsigned mask = 0x80; mask != 0; mask >>= 1) {
        if (GetMISO()) result |= mask;
        ClockPulse();
    }
    ClearSCK();
    return static_cast<uint8_t>(result);
}

void TAVRisp::SendInstruction(uint8_t B1, uint8_t B2, uint8_t B3, uint8_t B4) {
    SendByte(B1);
    SendByte(B2);
    SendByte(B3);
    SendByte(B4);
}

uint8_t TAVRisp::QueryInstruction(uint8_t B1, uint8_t B2, uint8_t B3) {
    SendByte(B1);
    SendByte(B2);
    SendByte(B3);
    return ReceiveByte();
}

// ------------------------------------------------------ status protocol ----

void TAVRisp::ShowStatus(const std::string& Text, uint8_t Kind) {
    if (Status_ == nullptr) return;
    Status_->SetText(Text);
    Status_->SetTextColor(Kind == skInformation ? clNavy : clRed);
}

void TAVRisp::DoStart() {
    AbortRequest_ = 0;
    if (OnStartEvent) OnStartEvent(this);
}

void TAVRisp::DoStop() {
    AbortRequest_ = 0;
    if (OnStopEvent) OnStopEvent(this);
}

bool TAVRisp::DoUpdate() {
    return OnUpdateEvent ? OnUpdateEvent(this) : true;
}

void TAVRisp::StartProgress(int32_t Count) {
    if (Progress_ != nullptr) {
        Progress_->SetMax(Count);
        Progress_->SetPosition(Progress_->Min());
    }
    if (Count > 0) DoStart();
}

bool TAVRisp::StepProgress() {
    const bool update = DoUpdate();
    if (Progress_ != nullptr) Progress_->SetPosition(Progress_->Position() + 1);
    if (update && AbortRequest_ != 1) return true;
    return StopAborted(ProgressPosition());
}

int32_t TAVRisp::ProgressPosition() const {
    return Progress_ != nullptr ? Progress_->Position() : 0;
}

// The end of an operation that cannot go on: an abort, or in fast mode a
// part that stayed busy too long.
bool TAVRisp::StopAborted(int32_t Position) {
    DoStop();
    ShowStatus("Operation aborted at address 0x" + Hex4(static_cast<uint32_t>(Position)), skError);
    return false;
}

void TAVRisp::Abort() {
    AbortRequest_ = 1;
}

void TAVRisp::Sleep(uint32_t Milliseconds) {
    ElapsedUs_ += uint64_t{Milliseconds} * 1000;
    if (SleepHook) SleepHook(Milliseconds);
}

// -------------------------------------------------------------- session ----

const TAVRdesc& TAVRisp::CurrentDevice() const {
    return AVRDeviceTable[DeviceIndex_];
}

void TAVRisp::SelectDevice(uint8_t Row) {
    const TAVRdesc& d = AVRDeviceTable[Row];
    DeviceIndex_ = Row;
    AVRversion_ = std::string(d.Name);
    FlashSize_ = d.FlashSize;
    EEpromSize_ = d.EEpromSize;
    AVRfuse_ = d.FuseKind;
}

void TAVRisp::LinesOff() {
    ClearUpperLines();
    ClearRESET();
    ClearSCK();
    ClearMOSI();
}

void TAVRisp::PowerUpReset() {
    ClearUpperLines();
    ClearRESET();
    Sleep(ResetPulseMs);
    ClearSCK();
    ClearMOSI();
    SetRESET();
    Sleep(ResetPulseMs);
    ClearRESET();
    Sleep(PowerUpSettleMs);
    SetUpperLines();
}

// A positive RESET pulse with SCK low: the part starts counting instruction
// frames afresh, so one that lost a clock edge falls back into step.
void TAVRisp::ResetPulse() {
    SetRESET();
    Sleep(ResetPulseMs);
    ClearRESET();
}

bool TAVRisp::ProgrammingEnable() {
    Sleep(FastMode_ ? FastArmWaitMs : ProgEnableWaitMs);
    SendByte(OpProgEnable1);
    SendByte(OpProgEnable2);
    const uint8_t echo = ReceiveByte();
    SendByte(0x00);
    return echo == OpProgEnable2;
}

uint8_t TAVRisp::ReadSignature(uint8_t Index) {
    return QueryInstruction(OpReadSignature, 0x00, Index);
}

// Parts without fuse bytes reachable by serial programming are sent
// nothing, so their instruction framing is kept.
uint8_t TAVRisp::ReadFuse(uint8_t Selector) {
    if (CurrentDevice().FuseKind == 0) return 0xFF;
    const uint8_t op = Selector == 1 ? OpReadFuseHigh : OpReadFuseLow;
    const uint8_t sel = Selector == 0 ? 0x00 : 0x08;
    return QueryInstruction(op, sel, 0x00);
}

// The AT90S1200 never echoes programming enable; it is in programming mode
// all the same when it answers with its signature.
bool TAVRisp::AnswersWithoutEcho() {
    if (ReadSignature(0) != AtmelManufacturerCode) return false;
    return ReadSignature(1) == NoEchoSignature1;
}

bool TAVRisp::Identify() {
    StartProgress(IdentifyAttempts);
    ShowStatus("Looking for Atmel device", skInformation);
    SpeedFactor_ = 1;
    FastPhasesKnown_ = false;
    SelectDevice(DefaultDevice);
    AVRlfb_ = 0;
    AVRhfb_ = 0;
    AVRsignature_ = {};
    LinesOff();
    PowerUpReset();

    for (int attempt = 1; attempt <= IdentifyAttempts; ++attempt) {
        if (!StepProgress()) return false;
        const bool echo = ProgrammingEnable();
        bool answered = ReadSignature(0) == AtmelManufacturerCode;
        uint8_t s1 = 0;
        if (answered) {
            s1 = ReadSignature(1);
            if (!echo && s1 != NoEchoSignature1) answered = false;
        }
        if (answered) {
            const uint8_t s2 = ReadSignature(2);
            AVRsignature_ = {AtmelManufacturerCode, s1, s2};
            const int row = FindDeviceRow(s1, s2);
            if (row >= 0) {
                SelectDevice(static_cast<uint8_t>(row));
                if (FastMode_) FindFastPhases(s1, s2);
                AVRlfb_ = ReadFuse(0);
                AVRhfb_ = ReadFuse(1);
                AVRefb_ = ReadFuse(2);
                ShowStatus("Atmel AVR Device found", skInformation);
            } else {
                ShowStatus("Atmel AVR Device NOT found", skError);
            }
            StartProgress(0);
            DoStop();
            return true;
        }
        SpeedFactor_ += SpeedFactorStep;
        if (attempt < IdentifyAttempts) ResetPulse();
    }
    StartProgress(0);
    DoStop();
    ShowStatus("Atmel Device NOT found", skError);
    return false;
}

void TAVRisp::Release() {
    StartProgress(0);
    ShowStatus("AVR device released", skInformation);
    SpeedFactor_ = 1;
    FastPhasesKnown_ = false;
    SelectDevice(DefaultDevice);
    AVRlfb_ = 0;
    AVRhfb_ = 0;
    SetUpperLines();
    SetSCK();
    SetMOSI();
    SetRESET();
    Sleep(ReleasePulseMs);
    ClearRESET();
    Sleep(ReleasePulseMs);
    SetRESET();
}

// ------------------------------------------------------- memory steps ----

// The erase ends by releasing RESET; the part is judged by whether it
// enters programming mode again.
bool TAVRisp::ChipErase() {
    if (FastOperations()) return FastChipErase();
    SendInstruction(OpChipErase1, OpChipErase2, 0x00, 0x00);
    Sleep(EraseWaitMs);
    SetRESET();
    Sleep(ResetPulseMs);
    ClearRESET();
    bool entered = ProgrammingEnable();
    if (!entered) entered = AnswersWithoutEcho();
    Sleep(EraseWaitMs);
    return entered;
}

uint8_t TAVRisp::ReadFlashByte(uint32_t Address, uint8_t Selector) {
    return QueryInstruction(Selector != LowByteSel ? OpReadFlashHigh : OpReadFlashLow,
                            HighByte(Address), LowByte(Address));
}

uint16_t TAVRisp::ReadFlashWord(uint32_t Address) {
    const uint8_t h = ReadFlashByte(Address, HighByteSel);
    const uint8_t l = ReadFlashByte(Address, LowByteSel);
    return static_cast<uint16_t>(h * 256 + l);
}

// Byte-programmed parts: 0xFF is the erased value and is skipped; 0x7F is
// what those parts answer while busy, so it cannot be polled and gets a
// fixed wait; anything else is polled until it reads back.
bool TAVRisp::WriteFlashByte(uint32_t Address, uint8_t Value, uint8_t Selector) {
    if (Value == 0xFF) {
        Sleep(FlashSkipWaitMs);
        return true;
    }
    SendInstruction(Selector != LowByteSel ? OpWriteFlashHigh : OpWriteFlashLow, HighByte(Address),
                    LowByte(Address), Value);
    if (Value == 0x7F) {
        Sleep(CurrentDevice().UnpolledWriteMs);
        return true;
    }
    for (int read = 0; read < FlashPollReads; ++read) {
        if (read > 0) Sleep(FlashPollWaitMs);
        if (ReadFlashByte(Address, Selector) == Value) return true;
    }
    return false;
}

bool TAVRisp::WriteFlashWord(uint32_t Address, uint16_t Word) {
    WriteFlashByte(Address, HighByte(Word), HighByteSel);
    return WriteFlashByte(Address, LowByte(Word), LowByteSel);
}

// Page sizes are powers of two, so the word in the page is the address
// modulo the page size, and the page address clears those bits.
void TAVRisp::LoadPageByte(uint32_t Index, uint8_t Value, uint8_t Selector) {
    const uint32_t inPage = CurrentDevice().PageWords - 1u;
    SendInstruction(Selector != LowByteSel ? OpWriteFlashHigh : OpWriteFlashLow, 0x00,
                    static_cast<uint8_t>(Index & inPage), Value);
}

void TAVRisp::WritePage(uint32_t Address, uint16_t Word) {
    const uint32_t page = Address & ~(CurrentDevice().PageWords - 1u);
    SendInstruction(OpWritePage, HighByte(page), LowByte(page), HighByte(Word));
    Sleep(PageWriteWaitMs);
}

// The page reaches the Flash when its last word has been loaded.
void TAVRisp::WriteFlashWordPaged(uint32_t Address, uint16_t Word) {
    const uint32_t pageWords = CurrentDevice().PageWords;
    if (Address % pageWords == 0) PageWordIndex_ = 0;
    LoadPageByte(PageWordIndex_, LowByte(Word), LowByteSel);
    LoadPageByte(PageWordIndex_, HighByte(Word), HighByteSel);
    ++PageWordIndex_;
    if ((Address + 1) % pageWords == 0) WritePage(Address, Word);
}

uint8_t TAVRisp::ReadEEpromByte(uint32_t Address) {
    return QueryInstruction(OpReadEEprom, HighByte(Address), LowByte(Address));
}

void TAVRisp::WriteEEpromByte(uint32_t Address, uint8_t Value) {
    SendInstruction(OpWriteEEprom, HighByte(Address), LowByte(Address), Value);
    Sleep(EEpromWriteWaitMs);
}

void TAVRisp::WriteFuse(uint32_t Value, uint8_t Selector) {
    if (CurrentDevice().FuseKind == 0 || Selector >= OpWriteFuseSelect.size()) return;
    SendByte(OpWriteFuse);
    Sleep(FuseByteWaitMs);
    SendByte(OpWriteFuseSelect[Selector]);
    Sleep(FuseByteWaitMs);
    SendByte(0x00);
    Sleep(FuseByteWaitMs);
    SendByte(LowByte(Value));
    Sleep(FuseByteWaitMs);
}

// ----------------------------------------------------------- operations ----

// Erasing, writing and verifying need a part of the catalogue: with no part
// selected the sizes are zero, and an erase would wipe a part the tool cannot
// program while a verification over nothing would pass.
bool TAVRisp::RefusedWithoutDevice() {
    if (FlashSize_ > 0) return false;
    ShowStatus("Atmel AVR Device NOT found", skError);
    return true;
}

bool TAVRisp::EraseDevice() {
    if (RefusedWithoutDevice()) return false;
    ShowStatus("Clear AVR memory", skInformation);
    return ChipErase();
}

bool TAVRisp::WriteFlash(int32_t Start, int32_t Size) {
    if (RefusedWithoutDevice()) return false;
    ShowStatus("Writting data to Flash memory", skInformation);
    const int32_t n = StepsWithin(Start, Size / 2, FlashBufferWords);
    StartProgress(n);
    if (FastOperations()) return FastWriteFlash(static_cast<uint32_t>(std::max(Start, 0)), n);
    const bool paged = CurrentDevice().Paged();
    const uint32_t pageWords = CurrentDevice().PageWords;
    // A write that starts inside a page loads its words at their own places.
    if (paged && n > 0) PageWordIndex_ = static_cast<uint32_t>(Start) % pageWords;
    uint32_t a = static_cast<uint32_t>(std::max(Start, 0));
    for (int32_t k = 0; k < n; ++k, ++a) {
        if (!StepProgress()) return false;
        const uint16_t word = static_cast<uint16_t>(FlashBuffer[a]);
        if (paged)
            WriteFlashWordPaged(a, word);
        else
            WriteFlashWord(a, word);
    }
    // A write that ends inside a page still sends that page.
    if (paged && n > 0 && a % pageWords != 0)
        WritePage(a - 1, static_cast<uint16_t>(FlashBuffer[a - 1]));
    DoStop();
    ShowStatus("Done", skInformation);
    return true;
}

bool TAVRisp::ReadFlash(int32_t Start, int32_t Size) {
    ShowStatus("Reading data from Flash memory", skInformation);
    const int32_t n = StepsWithin(Start, Size / 2, FlashBufferWords);
    StartProgress(n);
    uint32_t a = static_cast<uint32_t>(std::max(Start, 0));
    for (int32_t k = 0; k < n; ++k, ++a) {
        if (!StepProgress()) return false;
        FlashBuffer[a] = ReadFlashWord(a);
    }
    DoStop();
    ShowStatus("Done", skInformation);
    return true;
}

// Runs from the highest word down, so the mismatch reported is the highest.
bool TAVRisp::VerifyFlash(int32_t Size) {
    if (RefusedWithoutDevice()) return false;
    ShowStatus("Verifying data in Flash memory", skInformation);
    int32_t i = StepsWithin(0, Size / 2, FlashBufferWords);
    StartProgress(i);
    while (i > 0) {
        --i;
        if (!StepProgress()) return false;
        const auto index = static_cast<uint32_t>(i);
        if (ReadFlashWord(index) != FlashBuffer[index]) {
            ShowStatus("Flash error at word address 0x" + Hex4(index), skError);
            DoStop();
            return false;
        }
    }
    DoStop();
    ShowStatus("Flash is OK", skInformation);
    return true;
}

bool TAVRisp::WriteEEprom(int32_t Start, int32_t Count) {
    if (RefusedWithoutDevice()) return false;
    ShowStatus("Writting data to EEPROM memory", skInformation);
    const int32_t n = StepsWithin(Start, Count, EEpromBufferBytes);
    StartProgress(n);
    if (FastOperations()) return FastWriteEEprom(static_cast<uint32_t>(std::max(Start, 0)), n);
    uint32_t a = static_cast<uint32_t>(std::max(Start, 0));
    for (int32_t k = 0; k < n; ++k, ++a) {
        if (!StepProgress()) return false;
        WriteEEpromByte(a, EEpromBuffer[a]);
    }
    DoStop();
    ShowStatus("Done", skInformation);
    return true;
}

bool TAVRisp::ReadEEprom(int32_t Start, int32_t Count) {
    ShowStatus("Reading data from EEPROM memory", skInformation);
    const int32_t n = StepsWithin(Start, Count, EEpromBufferBytes);
    StartProgress(n);
    uint32_t a = static_cast<uint32_t>(std::max(Start, 0));
    for (int32_t k = 0; k < n; ++k, ++a) {
        if (!StepProgress()) return false;
        EEpromBuffer[a] = ReadEEpromByte(a);
    }
    DoStop();
    ShowStatus("Done", skInformation);
    return true;
}

bool TAVRisp::VerifyEEprom(int32_t Count) {
    if (RefusedWithoutDevice()) return false;
    ShowStatus("Verifying data in EEPROM memory", skInformation);
    int32_t j = StepsWithin(0, Count, EEpromBufferBytes);
    StartProgress(j);
    while (j > 0) {
        --j;
        if (!StepProgress()) return false;
        const auto index = static_cast<uint32_t>(j);
        if (ReadEEpromByte(index) != EEpromBuffer[index]) {
            ShowStatus("EEPROM error at byte address 0x" + Hex4(index), skError);
            DoStop();
            return false;
        }
    }
    DoStop();
    ShowStatus("EEPROM is OK", skInformation);
    return true;
}

void TAVRisp::WriteFuses(uint32_t Extended, uint32_t High, uint32_t Low) {
    if (AVRfuse_ == 0) return;
    if (FastOperations()) return FastWriteFuses(Extended, High, Low);
    WriteFuse(Low, 0);
    if (AVRfuse_ >= 2) WriteFuse(High, 1);
    if (AVRfuse_ >= 3) WriteFuse(Extended, 2);
    ShowStatus("Fuse updated", skInformation);
}
