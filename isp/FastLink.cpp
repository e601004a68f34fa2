// The serial link of fast programming. The engine owns the data register,
// so it keeps a copy of what it last wrote there and changes a line with one
// write instead of a read and a write, and none when the line is already at
// its level. A bit is then two writes (SCK falling together with the next
// MOSI level, SCK rising) with as many status reads between them as the part
// needs to see each SCK phase; the shortest such phases are found once, when
// the part is identified.
#include "AVRisp.h"

#include "SerialInstructions.h"

using namespace serial;

namespace {

constexpr uint8_t SckLine = 1u << SckBit;
constexpr uint8_t MosiLine = 1u << MosiBit;

} // namespace

// The data register as the engine last wrote it; read from the port only
// when the engine has not written it yet.
uint8_t TAVRisp::DataLines() {
    if (!DataCopyKnown_) {
        DataCopy_ = ReadPort(PortBase_ + DataRegOffset);
        DataCopyKnown_ = PortOpen_;
    }
    return DataCopy_;
}

void TAVRisp::WriteDataLines(uint8_t Value) {
    if (DataCopyKnown_ && Value == DataCopy_) return;
    WritePort(PortBase_ + DataRegOffset, Value);
}

void TAVRisp::StatusReads(uint32_t Count) {
    const uint32_t reg = PortBase_ + StatusRegOffset;
    for (uint32_t i = 0; i < Count; ++i)
        ReadPort(reg);
}

// SCK low for 1 + FastLowReads_ accesses, high for 1 + FastHighReads_; the
// part samples MOSI at the rising edge. Ends with SCK and MOSI low.
void TAVRisp::FastSendByte(uint8_t Value) {
    for (unsigned mask = 0x80; mask != 0; mask >>= 1) {
        const uint8_t low = static_cast<uint8_t>(DataLines() & ~SckLine);
        WriteDataLines((Value & mask) != 0 ? (low | MosiLine) : (low & ~MosiLine));
        StatusReads(FastLowReads_);
        WriteDataLines(DataLines() | SckLine);
        StatusReads(FastHighReads_);
    }
    WriteDataLines(static_cast<uint8_t>(DataLines() & ~(SckLine | MosiLine)));
}

// MISO is sampled by the last status read of each low phase, after the part
// has shifted its next bit out on the falling edge. MOSI stays low.
uint8_t TAVRisp::FastReceiveByte() {
    const uint32_t status = PortBase_ + StatusRegOffset;
    const uint32_t lowReads = FastLowReads_ > 0 ? FastLowReads_ - 1 : 0;
    unsigned result = 0;
    for (unsigned mask = 0x80; mask != 0; mask >>= 1) {
        WriteDataLines(static_cast<uint8_t>(DataLines() & ~(SckLine | MosiLine)));
        StatusReads(lowReads);
        if ((ReadPort(status) & (1u << MisoBit)) != 0) result |= mask;
        WriteDataLines(DataLines() | SckLine);
        StatusReads(FastHighReads_);
    }
    WriteDataLines(static_cast<uint8_t>(DataLines() & ~SckLine));
    return static_cast<uint8_t>(result);
}

// Enters programming mode afresh with the given phases and checks that the
// part answers with its whole signature: a part that missed or doubled an
// edge answers out of step.
bool TAVRisp::AnswersWithPhases(uint32_t High, uint32_t Low, uint8_t Signature1,
                                uint8_t Signature2) {
    FastHighReads_ = High;
    FastLowReads_ = Low;
    FastPhasesKnown_ = true;
    ResetPulse();
    ProgrammingEnable();
    return ReadSignature(0) == AtmelManufacturerCode && ReadSignature(1) == Signature1 &&
           ReadSignature(2) == Signature2;
}

// The shortest SCK phases the identified part answers to: first the
// shortest equal phases, then the low and the high phase each shortened on
// its own (some parts want a longer high than low phase). The bits at the
// SpeedFactor pace bound the search: their phases are at most this long.
// Each probe starts programming mode again, so the part ends in step with
// the phases kept; should it not answer to them after all, the engine goes
// back to the SpeedFactor pace.
void TAVRisp::FindFastPhases(uint8_t Signature1, uint8_t Signature2) {
    const uint32_t longest = 2 * SpeedFactor_ + 3;
    auto shortest = [&](uint32_t good, auto answers) {
        uint32_t bad = 0; // candidates below `bad` are known to fail
        while (bad < good) {
            const uint32_t mid = bad + (good - bad) / 2;
            if (answers(mid))
                good = mid;
            else
                bad = mid + 1;
        }
        return good;
    };
    const uint32_t both = shortest(longest, [&](uint32_t n) {
        return AnswersWithPhases(n, n, Signature1, Signature2);
    });
    const uint32_t low = shortest(both, [&](uint32_t n) {
        return AnswersWithPhases(both, n, Signature1, Signature2);
    });
    const uint32_t high = shortest(both, [&](uint32_t n) {
        return AnswersWithPhases(n, low, Signature1, Signature2);
    });
    if (AnswersWithPhases(high, low, Signature1, Signature2)) return;
    FastPhasesKnown_ = false;
    ResetPulse();
    ProgrammingEnable();
}

// For a part identified before fast mode was switched on: its phases are
// found before the first fast write, between operations, where starting
// programming mode again loses nothing.
void TAVRisp::EnsureFastPhases() {
    if (FastPhasesKnown_ || DeviceIndex_ == DefaultDevice) return;
    const TAVRdesc& d = CurrentDevice();
    FindFastPhases(d.Signature1, d.Signature2);
}
