#include "AVRisp.h"

#include "EngineText.h"
#include "SerialInstructions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace serial;

namespace {

// Signature byte 1 of the AT90S1200, the part that gives no echo to
// programming enable and is recognised by its signature instead.
constexpr uint8_t NoEchoSignature1 = 0x90;

constexpr int IdentifyAttempts = 100;
// A link whose pace cannot go slower still gets this many attempts.
constexpr int FewestLinkAttempts = 3;
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

// Flash of more than 64 K words needs the extended address byte.
constexpr int32_t LargestPlainFlashBytes = 131072;

// Number of steps of an operation on [start, start + count) of a buffer of
// `capacity` entries: never past its end, never negative.
int32_t StepsWithin(int32_t start, int32_t count, std::size_t capacity) {
    if (start < 0 || count <= 0 || static_cast<std::size_t>(start) >= capacity) return 0;
    const std::size_t room = capacity - static_cast<std::size_t>(start);
    return static_cast<int32_t>(std::min<std::size_t>(room, static_cast<std::size_t>(count)));
}

} // namespace

TAVRisp::TAVRisp()
    : SleepHook([this](uint32_t ms) { Link_->Sleep(ms); }),
      Link_(std::make_unique<TPortLink>(std::string())), Port_(Link_->Port()) {
    Port_->SetWaiter([this](uint32_t ms) { Sleep(ms); });
    SelectDevice(DefaultDevice);
}

TAVRisp::~TAVRisp() {
    Port_ = nullptr;
    Link_.reset();
}

const std::string& TAVRisp::PortLibraryPath() const {
    static const std::string none;
    return Port_ != nullptr ? Port_->LibraryPath() : none;
}

void TAVRisp::SetFastMode(bool Value) {
    FastMode_ = Value;
    if (Port_ != nullptr) Port_->SetShadowed(Value);
}

// ------------------------------------------------------------- opening ----

bool TAVRisp::OpenPort() {
    if (PortOpen_) return ShowOpened();
    const char* setting = std::getenv(PortLibraryVariable);
    return OpenLink(std::make_unique<TPortLink>(setting != nullptr ? setting : ""));
}

bool TAVRisp::OpenPort(TPortEntries Entries) {
    if (PortOpen_) return ShowOpened();
    return OpenLink(std::make_unique<TPortLink>(std::move(Entries)));
}

// A link that is already open stays as it is; otherwise the new one takes
// its place and is asked to open. The link's failure text says why not.
bool TAVRisp::OpenLink(std::unique_ptr<TIspLink> NewLink) {
    StartProgress(0);
    if (!PortOpen_ && NewLink) {
        Port_ = nullptr;
        Link_ = std::move(NewLink);
        Port_ = Link_->Port();
        if (Port_ != nullptr) {
            Port_->SetWaiter([this](uint32_t ms) { Sleep(ms); });
            Port_->SetShadowed(FastMode_);
        }
        PortOpen_ = Link_->Open();
        PortError_ = PortOpen_ ? std::string() : Link_->FailureText();
    }
    return ShowOpened();
}

// Nothing read through the old link, nor its clock's deadlines, carries over.
bool TAVRisp::SwitchLink(std::unique_ptr<TIspLink> NewLink) {
    Link_->Close();
    PortOpen_ = false;
    FastPaceKnown_ = false;
    LoadedExtAddress_ = -1;
    BusyUntilUs_ = 0;
    SelectDevice(DefaultDevice);
    AVRlfb_ = 0;
    AVRhfb_ = 0;
    AVRsignature_ = {};
    if (NewLink) return OpenLink(std::move(NewLink));
    // None: the engine's first link, the parallel port's, not opened.
    Port_ = nullptr;
    Link_ = std::make_unique<TPortLink>(std::string());
    Port_ = Link_->Port();
    Port_->SetWaiter([this](uint32_t ms) { Sleep(ms); });
    Port_->SetShadowed(FastMode_);
    PortError_ = "no cable to open";
    StartProgress(0);
    return ShowOpened();
}

bool TAVRisp::ShowOpened() {
    if (PortOpen_)
        ShowStatus("ISP interface is ready", skInformation);
    else
        ShowStatus("ISP interface NOT initialised", skError);
    return PortOpen_;
}

// ------------------------------------------------ port lines and bytes ----

uint8_t TAVRisp::ReadPort(uint32_t Address) {
    return Port_ != nullptr ? Port_->ReadPort(Address) : 0;
}
void TAVRisp::WritePort(uint32_t Address, uint8_t Value) {
    if (Port_ != nullptr) Port_->WritePort(Address, Value);
}
void TAVRisp::SetSCK() {
    if (Port_ != nullptr) Port_->SetSCK();
}
void TAVRisp::ClearSCK() {
    if (Port_ != nullptr) Port_->ClearSCK();
}
void TAVRisp::SetRESET() {
    if (Port_ != nullptr) Port_->SetRESET();
}
void TAVRisp::ClearRESET() {
    if (Port_ != nullptr) Port_->ClearRESET();
}
void TAVRisp::SetMOSI() {
    if (Port_ != nullptr) Port_->SetMOSI();
}
void TAVRisp::ClearMOSI() {
    if (Port_ != nullptr) Port_->ClearMOSI();
}
void TAVRisp::SetUpperLines() {
    if (Port_ != nullptr) Port_->SetUpperLines();
}
void TAVRisp::ClearUpperLines() {
    if (Port_ != nullptr) Port_->ClearUpperLines();
}
bool TAVRisp::GetMISO() {
    return Port_ != nullptr && Port_->GetMISO();
}
void TAVRisp::Delay(uint32_t Count) {
    if (Port_ != nullptr) Port_->Delay(Count);
}
void TAVRisp::ClockPulse() {
    if (Port_ != nullptr) Port_->ClockPulse();
}
void TAVRisp::SendByte(uint8_t Value) {
    if (Port_ != nullptr) Port_->SendByte(Value);
}
uint8_t TAVRisp::ReceiveByte() {
    return Port_ != nullptr ? Port_->ReceiveByte() : 0;
}

// On the parallel port an instruction is bytes of the normal mode (which
// shift at the fast pace once it is known); another cable takes it whole.
void TAVRisp::SendInstruction(uint8_t B1, uint8_t B2, uint8_t B3, uint8_t B4) {
    if (Port_ != nullptr) {
        SendByte(B1);
        SendByte(B2);
        SendByte(B3);
        SendByte(B4);
        return;
    }
    TIspBytes in{};
    Exchange(TIspBytes{B1, B2, B3, B4}, in);
}

uint8_t TAVRisp::QueryInstruction(uint8_t B1, uint8_t B2, uint8_t B3) {
    if (Port_ != nullptr) {
        SendByte(B1);
        SendByte(B2);
        SendByte(B3);
        return ReceiveByte();
    }
    TIspBytes in{};
    Exchange(TIspBytes{B1, B2, B3, 0x00}, in);
    return in[3];
}

// ------------------------------------------------------ status protocol ----

void TAVRisp::ShowStatus(const std::string& Text, uint8_t Kind) {
    StatusText_ = Text;
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

// A link that failed (a cable pulled) ends the operation at its next step.
bool TAVRisp::StepProgress() {
    const bool update = DoUpdate();
    if (Progress_ != nullptr) Progress_->SetPosition(Progress_->Position() + 1);
    if (update && AbortRequest_ != 1) return !LinkFailed() || StopFailed(Link_->FailureText());
    return StopAborted(ProgressPosition());
}

int32_t TAVRisp::ProgressPosition() const {
    return Progress_ != nullptr ? Progress_->Position() : 0;
}

// The end of an operation that cannot go on: an abort, or a part that
// stayed busy too long.
bool TAVRisp::StopAborted(int32_t Position) {
    DoStop();
    ShowStatus("Operation aborted at address 0x" + Hex4(static_cast<uint32_t>(Position)), skError);
    return false;
}

// The end of an operation the cable or programmer failed: its own words.
bool TAVRisp::StopFailed(const std::string& Text) {
    DoStop();
    ShowStatus(Text, skError);
    return false;
}

// A verification found a difference, unless the cable failed under it or
// the part is locked against reading.
bool TAVRisp::StopMismatch(const std::string& Text) {
    if (LinkFailed()) return StopFailed(Link_->FailureText());
    std::string locked;
    MismatchFromLock_ = LockedAgainstReading(locked);
    ShowStatus(MismatchFromLock_ ? locked : Text, skError);
    DoStop();
    return false;
}

// The end of an operation that ran through: its final status, unless the
// link failed on the way (a cable pulled), which is then its outcome.
bool TAVRisp::Finish(const std::string& Text) {
    if (LinkFailed()) return StopFailed(Link_->FailureText());
    DoStop();
    ShowStatus(Text, skInformation);
    return true;
}

void TAVRisp::Abort() {
    AbortRequest_ = 1;
}

void TAVRisp::Sleep(uint32_t Milliseconds) {
    if (SleepHook) SleepHook(Milliseconds);
}

// -------------------------------------------------------------- session ----

const TAVRdesc& TAVRisp::CurrentDevice() const {
    return AVRDeviceTable[DeviceIndex_];
}

bool TAVRisp::NeedsExtendedAddress() const {
    return CurrentDevice().FlashSize > LargestPlainFlashBytes;
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
    LoadedExtAddress_ = -1;
    if (Port_ == nullptr) return Link_->ResetPulse();
    SetRESET();
    Sleep(ResetPulseMs);
    ClearRESET();
}

// On another cable the link's power-up and RESET pulse already waited for
// the part.
bool TAVRisp::ProgrammingEnable() {
    LoadedExtAddress_ = -1;
    if (Port_ == nullptr) return Link_->ProgrammingEnable();
    Sleep(FastMode() ? FastArmWaitMs : ProgEnableWaitMs);
    SendByte(OpProgEnable1);
    SendByte(OpProgEnable2);
    const uint8_t echo = ReceiveByte();
    SendByte(0x00);
    return echo == OpProgEnable2;
}

uint8_t TAVRisp::ReadSignature(uint8_t Index) {
    return QueryInstruction(OpReadSignature, 0x00, Index);
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
    if (Port_ != nullptr) {
        Port_->SetSpeedFactor(1);
        Port_->ForgetFastPhases();
    }
    FastPaceKnown_ = false;
    SelectDevice(DefaultDevice);
    AVRlfb_ = 0;
    AVRhfb_ = 0;
    AVRsignature_ = {};
    if (Port_ != nullptr) {
        LinesOff();
        PowerUpReset();
    } else {
        Link_->PowerUp();
    }

    for (int attempt = 1; attempt <= IdentifyAttempts && !LinkFailed(); ++attempt) {
        if (!StepProgress()) return false;
        const bool echo = ProgrammingEnable();
        bool answered = ReadSignature(0) == AtmelManufacturerCode;
        uint8_t s1 = 0;
        if (answered) {
            s1 = ReadSignature(1);
            if (!echo && s1 != NoEchoSignature1) answered = false;
        }
        if (answered && !LinkFailed()) {
            const uint8_t s2 = ReadSignature(2);
            AVRsignature_ = {AtmelManufacturerCode, s1, s2};
            const int row = FindDeviceRow(s1, s2);
            if (row >= 0) {
                SelectDevice(static_cast<uint8_t>(row));
                TBlockProgrammer* blocks = Link_->Blocks();
                if (blocks != nullptr && !blocks->SetPart(CurrentDevice())) break;
                if (FastMode()) FindFastPace();
                AVRlfb_ = ReadFuse(0);
                AVRhfb_ = ReadFuse(1);
                AVRefb_ = ReadFuse(2);
                if (LinkFailed()) break;
                ShowStatus("Atmel AVR Device found", skInformation);
            } else {
                ShowStatus("Atmel AVR Device NOT found", skError);
            }
            StartProgress(0);
            DoStop();
            return true;
        }
        const bool slower = Link_->SlowDown();
        if (Port_ == nullptr && !slower && attempt >= FewestLinkAttempts) break;
        if (attempt < IdentifyAttempts) ResetPulse();
    }
    SelectDevice(DefaultDevice);
    StartProgress(0);
    DoStop();
    ShowStatus(LinkFailed() ? Link_->FailureText() : "Atmel Device NOT found", skError);
    return false;
}

void TAVRisp::Release() {
    StartProgress(0);
    ShowStatus("AVR device released", skInformation);
    if (Port_ != nullptr) {
        Port_->SetSpeedFactor(1);
        Port_->ForgetFastPhases();
    }
    FastPaceKnown_ = false;
    SelectDevice(DefaultDevice);
    AVRlfb_ = 0;
    AVRhfb_ = 0;
    if (Port_ == nullptr) return Link_->Release();
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
// enters programming mode again, and whether its Flash then reads erased.
bool TAVRisp::ChipErase() {
    if (LinkOperations()) return LinkChipErase();
    SendInstruction(OpChipErase1, OpChipErase2, 0x00, 0x00);
    Sleep(EraseWaitMs);
    SetRESET();
    Sleep(ResetPulseMs);
    ClearRESET();
    bool entered = ProgrammingEnable();
    if (!entered) entered = AnswersWithoutEcho();
    Sleep(EraseWaitMs);
    return entered && ErasedAtSpots();
}

// An erase the part did not finish (cut short by RESET, or still running)
// leaves Flash that does not read erased: the first, a middle and the last
// word are read back.
bool TAVRisp::ErasedAtSpots() {
    const uint32_t last = static_cast<uint32_t>(FlashSize_ / 2) - 1;
    for (const uint32_t word : {0u, last / 2, last})
        if (ReadFlashWord(word) != 0xFFFF) return false;
    return true;
}

void TAVRisp::LoadExtendedAddress(uint32_t WordAddress) {
    if (!NeedsExtendedAddress()) return;
    const auto ext = static_cast<int32_t>((WordAddress >> 16) & 0xFF);
    if (ext == LoadedExtAddress_) return;
    SendInstruction(OpLoadExtendedAddress, 0x00, static_cast<uint8_t>(ext), 0x00);
    LoadedExtAddress_ = ext;
}

uint8_t TAVRisp::ReadFlashByte(uint32_t Address, uint8_t Selector) {
    LoadExtendedAddress(Address);
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
// fixed wait; anything else is polled until it reads back, and a byte that
// never does is a failed write.
bool TAVRisp::WriteFlashByte(uint32_t Address, uint8_t Value, uint8_t Selector) {
    if (Value == 0xFF) {
        Sleep(FlashSkipWaitMs);
        return true;
    }
    SendInstruction(Selector != LowByteSel ? OpWriteFlashHigh : OpWriteFlashLow, HighByte(Address),
                    LowByte(Address), Value);
    if (Value == 0x7F) {
        NoteUnpolledWrite(CurrentDevice().FlashBusyUs);
        Sleep(CurrentDevice().UnpolledWriteMs);
        return true;
    }
    for (int read = 0; read < FlashPollReads; ++read) {
        if (read > 0) Sleep(FlashPollWaitMs);
        if (ReadFlashByte(Address, Selector) == Value) return true;
    }
    return false;
}

// The high byte first; a byte that did not take ends the word.
bool TAVRisp::WriteFlashWord(uint32_t Address, uint16_t Word) {
    if (!WriteFlashByte(Address, HighByte(Word), HighByteSel)) return false;
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
    LoadExtendedAddress(page);
    SendInstruction(OpWritePage, HighByte(page), LowByte(page), HighByte(Word));
    NoteUnpolledWrite(CurrentDevice().FlashBusyUs);
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

// 10 ms covers the EEPROM write of the parts the normal mode was made for;
// a part whose datasheet gives it longer gets its own time.
void TAVRisp::WriteEEpromByte(uint32_t Address, uint8_t Value) {
    SendInstruction(OpWriteEEprom, HighByte(Address), LowByte(Address), Value);
    const uint32_t busyUs = CurrentDevice().EEpromBusyUs;
    NoteUnpolledWrite(busyUs);
    Sleep(std::max(EEpromWriteWaitMs, (busyUs + 999) / 1000));
}

// The normal mode's fixed waits suit a part within its datasheet; one
// slower than that may still be busy with the last write when they end.
// Reading starts only when twice the longest time of that write has passed,
// so that a verification finds the memory that differs, not a busy part.
void TAVRisp::NoteUnpolledWrite(uint32_t BusyUs) {
    BusyUntilUs_ = std::max(BusyUntilUs_, NowUs() + 2 * uint64_t{BusyUs});
}

void TAVRisp::SettleBeforeReading() {
    if (BusyUntilUs_ == 0) return;
    WaitUntil(BusyUntilUs_);
    BusyUntilUs_ = 0;
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
    const bool erased = ChipErase();
    if (!erased && LinkFailed()) ShowStatus(Link_->FailureText(), skError);
    return erased;
}

bool TAVRisp::WriteFlash(int32_t Start, int32_t Size) {
    if (RefusedWithoutDevice()) return false;
    ShowStatus("Writting data to Flash memory", skInformation);
    const int32_t n = StepsWithin(Start, Size / 2, FlashBufferWords);
    StartProgress(n);
    const auto from = static_cast<uint32_t>(std::max(Start, 0));
    if (LinkOperations())
        return Link_->Blocks() != nullptr ? BlockWriteFlash(from, n) : LinkWriteFlash(from, n);
    const bool paged = CurrentDevice().Paged();
    const uint32_t pageWords = CurrentDevice().PageWords;
    // A write that starts inside a page loads its words at their own places.
    if (paged && n > 0) PageWordIndex_ = from % pageWords;
    uint32_t a = from;
    for (int32_t k = 0; k < n; ++k, ++a) {
        if (!StepProgress()) return false;
        const uint16_t word = static_cast<uint16_t>(FlashBuffer[a]);
        if (paged)
            WriteFlashWordPaged(a, word);
        else if (!WriteFlashWord(a, word))
            return StopAborted(ProgressPosition());
    }
    // A write that ends inside a page still sends that page.
    if (paged && n > 0 && a % pageWords != 0)
        WritePage(a - 1, static_cast<uint16_t>(FlashBuffer[a - 1]));
    return Finish("Done");
}

bool TAVRisp::ReadFlash(int32_t Start, int32_t Size) {
    ShowStatus("Reading data from Flash memory", skInformation);
    const int32_t n = StepsWithin(Start, Size / 2, FlashBufferWords);
    StartProgress(n);
    const auto from = static_cast<uint32_t>(std::max(Start, 0));
    if (LinkOperations())
        return Link_->Blocks() != nullptr ? BlockReadFlash(from, n, false)
                                          : LinkReadFlash(from, n, false);
    SettleBeforeReading();
    uint32_t a = from;
    for (int32_t k = 0; k < n; ++k, ++a) {
        if (!StepProgress()) return false;
        FlashBuffer[a] = ReadFlashWord(a);
    }
    return Finish("Done");
}

// Runs from the highest word down, so the mismatch reported is the highest.
bool TAVRisp::VerifyFlash(int32_t Size) {
    MismatchFromLock_ = false;
    if (RefusedWithoutDevice()) return false;
    ShowStatus("Verifying data in Flash memory", skInformation);
    int32_t i = StepsWithin(0, Size / 2, FlashBufferWords);
    StartProgress(i);
    if (LinkOperations())
        return Link_->Blocks() != nullptr ? BlockReadFlash(0, i, true) : LinkReadFlash(0, i, true);
    SettleBeforeReading();
    while (i > 0) {
        --i;
        if (!StepProgress()) return false;
        const auto index = static_cast<uint32_t>(i);
        if (ReadFlashWord(index) != FlashBuffer[index]) {
            return StopMismatch("Flash error at word address 0x" + Hex4(index));
        }
    }
    return Finish("Flash is OK");
}

bool TAVRisp::WriteEEprom(int32_t Start, int32_t Count) {
    if (RefusedWithoutDevice()) return false;
    ShowStatus("Writting data to EEPROM memory", skInformation);
    const int32_t n = StepsWithin(Start, Count, EEpromBufferBytes);
    StartProgress(n);
    const auto from = static_cast<uint32_t>(std::max(Start, 0));
    if (LinkOperations())
        return Link_->Blocks() != nullptr ? BlockWriteEEprom(from, n) : LinkWriteEEprom(from, n);
    uint32_t a = from;
    for (int32_t k = 0; k < n; ++k, ++a) {
        if (!StepProgress()) return false;
        WriteEEpromByte(a, EEpromBuffer[a]);
    }
    return Finish("Done");
}

bool TAVRisp::ReadEEprom(int32_t Start, int32_t Count) {
    ShowStatus("Reading data from EEPROM memory", skInformation);
    const int32_t n = StepsWithin(Start, Count, EEpromBufferBytes);
    StartProgress(n);
    const auto from = static_cast<uint32_t>(std::max(Start, 0));
    if (LinkOperations())
        return Link_->Blocks() != nullptr ? BlockReadEEprom(from, n, false)
                                          : LinkReadEEprom(from, n, false);
    SettleBeforeReading();
    uint32_t a = from;
    for (int32_t k = 0; k < n; ++k, ++a) {
        if (!StepProgress()) return false;
        EEpromBuffer[a] = ReadEEpromByte(a);
    }
    return Finish("Done");
}

bool TAVRisp::VerifyEEprom(int32_t Count) {
    MismatchFromLock_ = false;
    if (RefusedWithoutDevice()) return false;
    ShowStatus("Verifying data in EEPROM memory", skInformation);
    int32_t j = StepsWithin(0, Count, EEpromBufferBytes);
    StartProgress(j);
    if (LinkOperations())
        return Link_->Blocks() != nullptr ? BlockReadEEprom(0, j, true) : LinkReadEEprom(0, j, true);
    SettleBeforeReading();
    while (j > 0) {
        --j;
        if (!StepProgress()) return false;
        const auto index = static_cast<uint32_t>(j);
        if (ReadEEpromByte(index) != EEpromBuffer[index]) {
            return StopMismatch("EEPROM error at byte address 0x" + Hex4(index));
        }
    }
    return Finish("EEPROM is OK");
}
