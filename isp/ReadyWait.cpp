// Fast programming: after every write the engine waits as long as the part
// is busy and no longer. Parts with the ready/busy instruction are asked
// with it; the others are read back until the value written appears (data
// polling). A value the part also answers while busy cannot be polled and
// costs the part's longest busy time. A part still busy after twice its
// longest time has failed, and the operation ends as an aborted one does.
// What an erased part already holds is not written again.
#include "AVRisp.h"

#include "SerialInstructions.h"

#include <algorithm>

using namespace serial;

namespace {

constexpr uint8_t ErasedByte = 0xFF;
constexpr uint16_t ErasedWord = 0xFFFF;

uint32_t MsCovering(uint32_t Us) {
    return (Us + 999) / 1000;
}

} // namespace

bool TAVRisp::ReadyBusyPoll() {
    return (QueryInstruction(OpPoll1, OpPoll2, 0x00) & 0x01) != 0;
}

// Waits for a write the part has just begun. Without a poll the value
// cannot be polled: the part's longest busy time is waited. Otherwise the
// poll is repeated until it says ready; false when that takes more than
// twice the longest time.
bool TAVRisp::WaitForPart(uint32_t BusyUs, const std::function<bool()>& StillBusy) {
    if (!StillBusy) {
        Sleep(MsCovering(BusyUs));
        return true;
    }
    const uint64_t deadline = ElapsedUs_ + 2 * uint64_t{BusyUs};
    while (StillBusy())
        if (ElapsedUs_ >= deadline) return false;
    return true;
}

// Waits for a write the part has just begun, with the ready/busy instruction
// where the part has it, otherwise with the data poll given (none: the value
// written cannot be polled).
bool TAVRisp::WaitForWrite(uint32_t BusyUs, const std::function<bool()>& DataStillBusy) {
    if (CurrentDevice().Poll == TPollMethod::ReadyBusy)
        return WaitForPart(BusyUs, [this] { return ReadyBusyPoll(); });
    return WaitForPart(BusyUs, DataStillBusy);
}

// True when programming mode is on after the erase, as ChipErase judges it.
bool TAVRisp::FastChipErase() {
    EnsureFastPhases();
    const TAVRdesc& d = CurrentDevice();
    SendInstruction(OpChipErase1, OpChipErase2, 0x00, 0x00);
    if (d.EraseEndsAtReset) {
        // Releasing RESET ends the erase, finished or not, and nothing can
        // be asked before: give a slow part twice the longest time it is
        // allowed.
        Sleep(MsCovering(2 * d.EraseBusyUs));
        ResetPulse();
        return ProgrammingEnable() || AnswersWithoutEcho();
    }
    if (d.Poll == TPollMethod::ReadyBusy)
        return WaitForPart(d.EraseBusyUs, [this] { return ReadyBusyPoll(); });
    // An erase cannot be data polled: the longest time first, then the part
    // must answer with its maker's code again before twice that time.
    const uint64_t deadline = ElapsedUs_ + 2 * uint64_t{d.EraseBusyUs};
    Sleep(MsCovering(d.EraseBusyUs));
    while (ReadSignature(0) != AtmelManufacturerCode)
        if (ElapsedUs_ >= deadline) return false;
    return true;
}

// Byte-programmed parts. Programming only clears bits, so the erased value
// changes nothing and is not sent.
bool TAVRisp::FastWriteFlashByte(uint32_t Address, uint8_t Value, uint8_t Selector) {
    if (Value == ErasedByte) return true;
    const TAVRdesc& d = CurrentDevice();
    SendInstruction(Selector != LowByteSel ? OpWriteFlashHigh : OpWriteFlashLow, HighByte(Address),
                    LowByte(Address), Value);
    if (Value == d.FlashPollValue) return WaitForWrite(d.FlashBusyUs, {});
    return WaitForWrite(d.FlashBusyUs, [this, Address, Selector, &d] {
        return ReadFlashByte(Address, Selector) == d.FlashPollValue;
    });
}

// Writes the page holding words From to To, all of them loaded, and waits
// for it. A busy page reads the poll value everywhere, so any loaded byte
// that differs from it shows when the page is done.
bool TAVRisp::FastWritePage(uint32_t From, uint32_t To) {
    const TAVRdesc& d = CurrentDevice();
    const uint32_t page = To & ~(d.PageWords - 1u);
    SendInstruction(OpWritePage, HighByte(page), LowByte(page), HighByte(FlashBuffer[To]));
    std::function<bool()> stillBusy;
    for (uint32_t a = From; a <= To && !stillBusy; ++a) {
        for (const uint8_t selector : {LowByteSel, HighByteSel}) {
            const uint16_t word = static_cast<uint16_t>(FlashBuffer[a]);
            const uint8_t value = selector == LowByteSel ? LowByte(word) : HighByte(word);
            if (value == d.FlashPollValue) continue;
            stillBusy = [this, a, selector, &d] {
                return ReadFlashByte(a, selector) == d.FlashPollValue;
            };
            break;
        }
    }
    return WaitForWrite(d.FlashBusyUs, stillBusy);
}

// The loop of WriteFlash, with its progress already started. A page whose
// words are all erased is neither loaded nor written.
bool TAVRisp::FastWriteFlash(uint32_t Start, int32_t Count) {
    EnsureFastPhases();
    const TAVRdesc& d = CurrentDevice();
    const uint32_t end = Start + static_cast<uint32_t>(Count);
    const uint32_t pageWords = d.PageWords;
    bool blankPage = false;
    uint32_t pageFrom = Start;
    for (uint32_t a = Start; a < end; ++a) {
        if (!StepProgress()) return false;
        const uint16_t word = static_cast<uint16_t>(FlashBuffer[a]);
        if (pageWords == 0) {
            if (!FastWriteFlashByte(a, HighByte(word), HighByteSel) ||
                !FastWriteFlashByte(a, LowByte(word), LowByteSel))
                return StopAborted(ProgressPosition());
            continue;
        }
        if (a == Start || a % pageWords == 0) {
            pageFrom = a;
            PageWordIndex_ = a % pageWords;
            const uint32_t pageEnd = std::min(end, a - a % pageWords + pageWords);
            blankPage = true;
            for (uint32_t w = a; w < pageEnd && blankPage; ++w)
                blankPage = static_cast<uint16_t>(FlashBuffer[w]) == ErasedWord;
        }
        if (!blankPage) {
            LoadPageByte(PageWordIndex_, LowByte(word), LowByteSel);
            LoadPageByte(PageWordIndex_, HighByte(word), HighByteSel);
        }
        ++PageWordIndex_;
        const bool lastOfPage = (a + 1) % pageWords == 0 || a + 1 == end;
        if (lastOfPage && !blankPage && !FastWritePage(pageFrom, a))
            return StopAborted(ProgressPosition());
    }
    DoStop();
    ShowStatus("Done", skInformation);
    return true;
}

// The loop of WriteEEprom, with its progress already started. A byte to be
// erased is read first and left alone when it already is (after a chip
// erase it is, unless the part keeps its EEPROM through the erase).
bool TAVRisp::FastWriteEEprom(uint32_t Start, int32_t Count) {
    EnsureFastPhases();
    const TAVRdesc& d = CurrentDevice();
    const uint32_t end = Start + static_cast<uint32_t>(Count);
    for (uint32_t a = Start; a < end; ++a) {
        if (!StepProgress()) return false;
        const uint8_t value = EEpromBuffer[a];
        if (value == ErasedByte && ReadEEpromByte(a) == ErasedByte) continue;
        SendInstruction(OpWriteEEprom, HighByte(a), LowByte(a), value);
        std::function<bool()> stillBusy;
        if (value != d.EEpromPollErase && value != d.EEpromPollWrite)
            stillBusy = [this, a, &d] {
                const uint8_t read = ReadEEpromByte(a);
                return read == d.EEpromPollErase || read == d.EEpromPollWrite;
            };
        if (!WaitForWrite(d.EEpromBusyUs, stillBusy)) return StopAborted(ProgressPosition());
    }
    DoStop();
    ShowStatus("Done", skInformation);
    return true;
}

// WriteFuses for a part with fuse bytes: each fuse is one instruction, then
// a wait for the part; a fuse write cannot be data polled.
void TAVRisp::FastWriteFuses(uint32_t Extended, uint32_t High, uint32_t Low) {
    EnsureFastPhases();
    const TAVRdesc& d = CurrentDevice();
    const uint32_t values[] = {Low, High, Extended};
    for (uint8_t k = 0; k < AVRfuse_ && k < OpWriteFuseSelect.size(); ++k) {
        SendInstruction(OpWriteFuse, OpWriteFuseSelect[k], 0x00, LowByte(values[k]));
        if (!WaitForWrite(d.FuseBusyUs, {})) {
            StopAborted(k);
            return;
        }
    }
    ShowStatus("Fuse updated", skInformation);
}
