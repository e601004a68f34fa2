// The fuse and lock bit operations of the engine, in both modes. Every write
// is read back through the same instructions the identification reads with:
// a bit that did not take fails the write, and the status line names the
// byte, the bits and, where the layout knows, why. The lock bits are read
// and written with 58 00 and AC E0 on every part but those with the AT90S
// lock form; a verification that finds the part locked against reading
// says so instead of naming an address.
#include "AVRisp.h"

#include "EngineText.h"
#include "SerialInstructions.h"

using namespace serial;

namespace {

constexpr uint32_t FuseByteWaitMs = 50;
constexpr uint8_t OpWriteLock2 = 0xE0;
constexpr uint8_t OpReadLock1 = 0x58;
// Lock bits 1 and 2 both programmed (lock mode 3): the part answers no
// read of its memories.
constexpr uint8_t ReadLockMask = 0x03;

} // namespace

const TFuseLayout* TAVRisp::FuseLayout() const {
    return FuseLayoutOf(CurrentDevice());
}

bool TAVRisp::HasLockBits() const {
    return HasLockAccess(CurrentDevice());
}

// Parts without fuse bytes reachable by serial programming are sent
// nothing, so their instruction framing is kept.
uint8_t TAVRisp::ReadFuse(uint8_t Selector) {
    if (CurrentDevice().FuseKind == 0) return 0xFF;
    const uint8_t op = Selector == 1 ? OpReadFuseHigh : OpReadFuseLow;
    const uint8_t sel = Selector == 0 ? 0x00 : 0x08;
    return QueryInstruction(op, sel, 0x00);
}

// The normal mode: each byte of the instruction followed by 50 ms. The
// fuse is written with the last byte; reading waits out twice its longest
// time from then.
void TAVRisp::WriteFuse(uint32_t Value, uint8_t Selector) {
    if (CurrentDevice().FuseKind == 0 || Selector >= OpWriteFuseSelect.size()) return;
    SendByte(OpWriteFuse);
    Sleep(FuseByteWaitMs);
    SendByte(OpWriteFuseSelect[Selector]);
    Sleep(FuseByteWaitMs);
    SendByte(0x00);
    Sleep(FuseByteWaitMs);
    SendByte(LowByte(Value));
    NoteUnpolledWrite(CurrentDevice().FuseBusyUs);
    Sleep(FuseByteWaitMs);
}

bool TAVRisp::WriteFuses(uint32_t Extended, uint32_t High, uint32_t Low) {
    ReadBack_.clear();
    if (AVRfuse_ == 0) {
        ShowStatus(AVRversion_ + " has no fuse bytes", skError);
        return false;
    }
    const uint32_t values[3] = {Low, High, Extended};
    if (LinkOperations()) {
        if (!LinkWriteFuses(values)) return false;
    } else {
        for (uint8_t k = 0; k < AVRfuse_ && k < 3; ++k)
            WriteFuse(values[k], k);
        SettleBeforeReading();
    }
    const TFuseLayout* layout = FuseLayout();
    std::string missed;
    for (uint8_t k = 0; k < AVRfuse_ && k < 3; ++k) {
        TFuseReadBack check;
        check.Byte = k;
        check.Wanted = LowByte(values[k]);
        check.Read = ReadFuse(k);
        check.Compared = ComparedBits(layout, k);
        ReadBack_.push_back(check);
        if (const std::string text = ReadBackText(layout, check); !text.empty())
            missed += (missed.empty() ? "" : "; ") + text;
    }
    if (LinkFailed()) return StopFailed(Link_->FailureText());
    // The engine holds what the part now reads.
    AVRlfb_ = ReadBack_[0].Read;
    if (AVRfuse_ >= 2) AVRhfb_ = ReadBack_[1].Read;
    if (AVRfuse_ >= 3) AVRefb_ = ReadBack_[2].Read;
    if (!missed.empty()) {
        ShowStatus("Fuse NOT updated: " + missed, skError);
        return false;
    }
    ShowStatus("Fuse updated", skInformation);
    return true;
}

// Each fuse byte is one instruction, then a wait for the part: a fuse write
// cannot be data polled, so a part without the ready/busy instruction gets
// twice its longest time.
bool TAVRisp::LinkWriteFuses(const uint32_t (&Values)[3]) {
    EnsureFastPace();
    const TAVRdesc& d = CurrentDevice();
    for (uint8_t k = 0; k < AVRfuse_ && k < OpWriteFuseSelect.size(); ++k) {
        std::vector<TIspBytes> write{{OpWriteFuse, OpWriteFuseSelect[k], 0x00, LowByte(Values[k])}};
        if (!SendAndWait(write, d.FuseBusyUs, PollFor(nullptr, 0))) {
            ShowStatus(LinkFailed() ? Link_->FailureText()
                                    : "Fuse NOT updated: the part stayed busy writing the " +
                                          std::string(FuseByteName(k)) + " fuse byte",
                       skError);
            return false;
        }
    }
    return true;
}

// ----------------------------------------------------------- lock bits ----

bool TAVRisp::RefusedWithoutLockBits() {
    if (RefusedWithoutDevice()) return true;
    if (HasLockBits()) return false;
    ShowStatus(AVRversion_ + " has no lock bits this tool can read or write", skError);
    return true;
}

bool TAVRisp::ReadLockBits(uint8_t& Value) {
    if (RefusedWithoutLockBits()) return false;
    SettleBeforeReading();
    Value = QueryInstruction(OpReadLock1, 0x00, 0x00);
    if (LinkFailed()) return StopFailed(Link_->FailureText());
    ShowStatus("Lock bits read", skInformation);
    return true;
}

// Lock bits are only ever programmed (cleared); a chip erase sets them
// again. The write is waited for as a fuse write is, then read back.
bool TAVRisp::WriteLockBits(uint8_t Value) {
    ReadBack_.clear();
    if (RefusedWithoutLockBits()) return false;
    const TAVRdesc& d = CurrentDevice();
    if (LinkOperations()) {
        EnsureFastPace();
        std::vector<TIspBytes> write{{OpWriteFuse, OpWriteLock2, 0x00, Value}};
        if (!SendAndWait(write, d.FuseBusyUs, PollFor(nullptr, 0))) {
            ShowStatus(LinkFailed() ? Link_->FailureText()
                                    : "Lock bits NOT updated: the part stayed busy writing them",
                       skError);
            return false;
        }
    } else {
        SendInstruction(OpWriteFuse, OpWriteLock2, 0x00, Value);
        NoteUnpolledWrite(d.FuseBusyUs);
        Sleep(FuseByteWaitMs);
        SettleBeforeReading();
    }
    TFuseReadBack check;
    check.Byte = LockByte;
    check.Wanted = Value;
    check.Read = QueryInstruction(OpReadLock1, 0x00, 0x00);
    check.Compared = ComparedBits(FuseLayout(), LockByte);
    ReadBack_.push_back(check);
    if (LinkFailed()) return StopFailed(Link_->FailureText());
    if (const std::string text = ReadBackText(FuseLayout(), check); !text.empty()) {
        ShowStatus("Lock bits NOT updated: " + text, skError);
        return false;
    }
    ShowStatus("Lock bits updated", skInformation);
    return true;
}

// A verification that found a difference on a part whose lock bits forbid
// reading it: what it read was the lock's answer, not the memory.
bool TAVRisp::LockedAgainstReading(std::string& Text) {
    if (!HasLockBits() || LinkFailed()) return false;
    const uint8_t lock = QueryInstruction(OpReadLock1, 0x00, 0x00);
    if (LinkFailed() || (lock & ReadLockMask) != 0) return false;
    Text = "AVR device is locked (lock bits " + Hex2(lock) +
           "): it cannot be read back; a chip erase clears the lock";
    return true;
}
