// The memory operations over the link's whole instructions: the fast mode
// on the parallel port, and every cable that has no normal mode (the fuse
// and lock writes are in FuseOperations.cpp).
// After every write the engine waits as long as the part is busy and no
// longer: parts with the ready/busy instruction are asked with it, the
// others are read back until the value written appears. A value the part
// also answers while busy cannot be polled and costs twice the part's
// longest busy time. Every poll's echo is checked, so a part out of step
// never looks ready. A part still busy after twice its longest time has
// failed, and the operation ends as an aborted one does. Instructions go to
// the link in batches (a page of loads and its write, a block of reads),
// and what an erased part already holds is not written again.
#include "AVRisp.h"
#include "EngineText.h"

#include "SerialInstructions.h"

#include <algorithm>

using namespace serial;

namespace {

constexpr uint8_t ErasedByte = 0xFF;
constexpr uint16_t ErasedWord = 0xFFFF;
// Words read in one batch, and EEPROM bytes looked at before they are
// written; a multiple of every page size, so that batches never cross the
// 64 K-word boundary of the extended address.
constexpr uint32_t ReadBatchWords = 128;
constexpr uint32_t EEpromBatchBytes = 64;

TIspBytes ReadFlashInstruction(uint32_t Word, uint8_t Selector) {
    return {Selector != LowByteSel ? OpReadFlashHigh : OpReadFlashLow, HighByte(Word), LowByte(Word),
            0x00};
}

TIspBytes ReadEEpromInstruction(uint32_t Address) {
    return {OpReadEEprom, HighByte(Address), LowByte(Address), 0x00};
}

} // namespace

bool TAVRisp::Exchange(std::span<const TIspBytes> Out, std::span<TIspBytes> In) {
    return Link_->Transfer(Out, In);
}

// During bytes 2 and 3 the part shifts out the bytes it took in one byte
// earlier; a link that hands back only the answer cannot show them.
bool TAVRisp::EchoOk(const TIspBytes& Out, const TIspBytes& In) const {
    return !Link_->FullDuplex() || (In[1] == Out[0] && In[2] == Out[1]);
}

void TAVRisp::WaitUntil(uint64_t DeadlineUs) {
    const uint64_t now = NowUs();
    if (now < DeadlineUs) Sleep(static_cast<uint32_t>((DeadlineUs - now + 999) / 1000));
}

// A write failed: the cable said why, or the part stayed busy too long.
bool TAVRisp::StopWriteFailed() {
    if (LinkFailed()) return StopFailed(Link_->FailureText());
    return StopAborted(ProgressPosition());
}

TAVRisp::TWritePoll TAVRisp::PollFor(const TIspBytes* Read, uint8_t Expect) const {
    TWritePoll poll;
    if (CurrentDevice().Poll == TPollMethod::ReadyBusy) {
        poll.Usable = poll.ReadyBusy = true;
        poll.Poll = {OpPoll1, OpPoll2, 0x00, 0x00};
    } else if (Read != nullptr) {
        poll.Usable = true;
        poll.Poll = *Read;
        poll.Expect = Expect;
    }
    return poll;
}

bool TAVRisp::PollDone(const TWritePoll& Poll, const TIspBytes& In) const {
    const bool done = Poll.ReadyBusy ? (In[3] & 0x01) == 0 : In[3] == Poll.Expect;
    return done && EchoOk(Poll.Poll, In);
}

// Waits for a write that ended at `StartUs`, polling as `Poll` says; false
// when the part is still busy after twice its longest time, or the link
// failed.
bool TAVRisp::WaitForWrite(uint64_t StartUs, uint32_t BusyUs, const TWritePoll& Poll) {
    const uint64_t deadline = StartUs + 2 * uint64_t{BusyUs};
    if (!Poll.Usable) {
        WaitUntil(deadline);
        return true;
    }
    for (;;) {
        TIspBytes in{};
        if (!Exchange(Poll.Poll, in)) return false;
        if (PollDone(Poll, in)) return true;
        if (NowUs() >= deadline) return false;
    }
}

// How many polls cover a write's longest busy time, with a little to spare,
// at the measured time of one instruction.
std::size_t TAVRisp::CoveringPolls(uint32_t BusyUs) const {
    return (BusyUs + BusyUs / 20) / InstructionUs_ + 2;
}

// Sends a write (its instructions in `Batch`) and waits for it. On a link
// that pays for each transfer, the polls that cover the part's longest busy
// time go in the same batch, so a write usually costs one transfer; polls
// follow one by one only when none of those showed the part done.
bool TAVRisp::SendAndWait(std::vector<TIspBytes>& Batch, uint32_t BusyUs, const TWritePoll& Poll) {
    const std::size_t written = Batch.size();
    std::size_t covering = 0;
    if (Poll.Usable && InstructionUs_ > 0) {
        covering = CoveringPolls(BusyUs);
        Batch.insert(Batch.end(), covering, Poll.Poll);
    }
    std::vector<TIspBytes> answers(Batch.size());
    if (!Exchange(Batch, answers)) return false;
    const uint64_t end = NowUs();
    for (std::size_t i = written; i < answers.size(); ++i)
        if (PollDone(Poll, answers[i])) return true;
    const uint64_t pollsUs = uint64_t{covering} * InstructionUs_;
    return WaitForWrite(end > pollsUs ? end - pollsUs : 0, BusyUs, Poll);
}

// One instruction's time at the pace in use, on a link that pays for each
// transfer: two batches of harmless reads of different lengths, timed.
void TAVRisp::MeasureInstructionTime() {
    InstructionUs_ = 0;
    if (Link_->TransferOverheadUs() < 100) return;
    constexpr std::size_t shortBatch = 8, longBatch = 40;
    const std::vector<TIspBytes> reads(longBatch, TIspBytes{OpReadSignature, 0x00, 0x00, 0x00});
    std::vector<TIspBytes> answers(longBatch);
    const uint64_t t0 = NowUs();
    if (!Exchange({reads.data(), shortBatch}, {answers.data(), shortBatch})) return;
    const uint64_t t1 = NowUs();
    if (!Exchange(reads, answers)) return;
    const uint64_t t2 = NowUs();
    const uint64_t extra = (t2 - t1) > (t1 - t0) ? (t2 - t1) - (t1 - t0) : 0;
    InstructionUs_ = static_cast<uint32_t>(std::max<uint64_t>(1, extra / (longBatch - shortBatch)));
}

// ----------------------------------------------------------------- pace ----

// The fastest bit clock the part follows, with a margin, confirmed by many
// more reads; a part that does not confirm it keeps the pace it answered to
// at identification. Programming mode is entered afresh before each probe,
// and once more at the end unless the last probe left it in step.
void TAVRisp::FindFastPace() {
    const std::array<uint8_t, 3> signature = AVRsignature_;
    bool inStep = false;
    auto readsRight = [&](int rounds) {
        ResetPulse();
        ProgrammingEnable();
        std::vector<TIspBytes> out, in;
        for (int r = 0; r < rounds; ++r)
            for (uint8_t k = 0; k < 3; ++k)
                out.push_back({OpReadSignature, 0x00, k, 0x00});
        in.resize(out.size());
        inStep = Exchange(out, in);
        for (std::size_t i = 0; i < in.size() && inStep; ++i)
            inStep = in[i][3] == signature[i % 3];
        return inStep;
    };
    Link_->SpeedUp([&] { return readsRight(1); }, [&] { return readsRight(PaceConfirmReads / 3); });
    FastPaceKnown_ = true;
    if (!inStep && !LinkFailed()) {
        ResetPulse();
        ProgrammingEnable();
    }
    MeasureInstructionTime();
}

// For a part identified before fast mode was switched on: its pace is found
// before the first fast operation, where starting programming mode again
// loses nothing.
void TAVRisp::EnsureFastPace() {
    if (FastPaceKnown_ || DeviceIndex_ == DefaultDevice) return;
    FindFastPace();
}

// ---------------------------------------------------------------- erase ----

// True when programming mode is on after the erase and the Flash reads
// erased where it is looked at.
bool TAVRisp::LinkChipErase() {
    EnsureFastPace();
    const TAVRdesc& d = CurrentDevice();
    std::vector<TIspBytes> erase{{OpChipErase1, OpChipErase2, 0x00, 0x00}};
    bool done = false;
    if (d.Poll == TPollMethod::ReadyBusy && !d.EraseEndsAtReset) {
        done = SendAndWait(erase, d.EraseBusyUs, PollFor(nullptr, 0));
    } else if (TIspBytes in{}; Exchange(erase.front(), in)) {
        const uint64_t start = NowUs();
        if (d.EraseEndsAtReset) {
            // Releasing RESET ends the erase, finished or not, and nothing
            // can be asked before: a slow part gets twice its longest time.
            WaitUntil(start + 2 * uint64_t{d.EraseBusyUs});
            ResetPulse();
            done = ProgrammingEnable() || AnswersWithoutEcho();
        } else {
            // An erase cannot be data polled: the longest time first, then
            // the part must answer with its maker's code before twice that.
            static constexpr TIspBytes signature{OpReadSignature, 0x00, 0x00, 0x00};
            WaitUntil(start + d.EraseBusyUs);
            done = WaitForWrite(start, d.EraseBusyUs, PollFor(&signature, AtmelManufacturerCode));
        }
    }
    return done && !LinkFailed() && ErasedAtSpots() && !LinkFailed();
}

// ---------------------------------------------------------------- Flash ----

void TAVRisp::AppendExtendedAddress(std::vector<TIspBytes>& Batch, uint32_t WordAddress) {
    if (!NeedsExtendedAddress()) return;
    const auto ext = static_cast<int32_t>((WordAddress >> 16) & 0xFF);
    if (ext == LoadedExtAddress_) return;
    Batch.push_back({OpLoadExtendedAddress, 0x00, static_cast<uint8_t>(ext), 0x00});
    LoadedExtAddress_ = ext;
}

// The loop of WriteFlash, its progress started. Each page is one batch: the
// loads of its words in the range, then its write; a page with nothing but
// erased words in the range is neither loaded nor written. The words of a
// page are stepped before it is sent, so an abort leaves the page it came
// in unwritten.
bool TAVRisp::LinkWriteFlash(uint32_t Start, int32_t Count) {
    EnsureFastPace();
    const TAVRdesc& d = CurrentDevice();
    if (!d.Paged()) return LinkWriteFlashBytes(Start, Count);
    const uint32_t end = Start + static_cast<uint32_t>(Count);
    const uint32_t pageWords = d.PageWords;
    std::vector<TIspBytes> batch;
    for (uint32_t from = Start; from < end;) {
        const uint32_t page = from - from % pageWords;
        const uint32_t to = std::min(end, page + pageWords);
        for (uint32_t a = from; a < to; ++a)
            if (!StepProgress()) return false;
        PageWordIndex_ = to - page;
        const bool blank = std::all_of(FlashBuffer.begin() + from, FlashBuffer.begin() + to,
                                       [](uint32_t w) { return static_cast<uint16_t>(w) == ErasedWord; });
        if (!blank) {
            batch.clear();
            // The poll reads back a byte the part does not answer while busy.
            bool pollable = false;
            TIspBytes read{};
            uint8_t expect = 0;
            for (uint32_t a = from; a < to; ++a) {
                const auto word = static_cast<uint16_t>(FlashBuffer[a]);
                const auto index = static_cast<uint8_t>(a - page);
                for (const uint8_t sel : {LowByteSel, HighByteSel}) {
                    const uint8_t value = sel == LowByteSel ? LowByte(word) : HighByte(word);
                    batch.push_back(
                        {sel == LowByteSel ? OpWriteFlashLow : OpWriteFlashHigh, 0x00, index, value});
                    if (!pollable && value != d.FlashPollValue) {
                        pollable = true;
                        read = ReadFlashInstruction(a, sel);
                        expect = value;
                    }
                }
            }
            AppendExtendedAddress(batch, page);
            batch.push_back({OpWritePage, HighByte(page), LowByte(page), HighByte(FlashBuffer[to - 1])});
            if (!SendAndWait(batch, d.FlashBusyUs, PollFor(pollable ? &read : nullptr, expect)))
                return StopWriteFailed();
        }
        from = to;
    }
    return Finish("Done");
}

// Byte-programmed parts: each byte is written and waited for on its own.
// Programming only clears bits, so the erased value is not sent.
bool TAVRisp::LinkWriteFlashBytes(uint32_t Start, int32_t Count) {
    const TAVRdesc& d = CurrentDevice();
    const uint32_t end = Start + static_cast<uint32_t>(Count);
    for (uint32_t a = Start; a < end; ++a) {
        if (!StepProgress()) return false;
        const auto word = static_cast<uint16_t>(FlashBuffer[a]);
        for (const uint8_t sel : {HighByteSel, LowByteSel}) {
            const uint8_t value = sel == LowByteSel ? LowByte(word) : HighByte(word);
            if (value == ErasedByte) continue;
            std::vector<TIspBytes> write{
                {sel == LowByteSel ? OpWriteFlashLow : OpWriteFlashHigh, HighByte(a), LowByte(a), value}};
            const TIspBytes read = ReadFlashInstruction(a, sel);
            if (!SendAndWait(write, d.FlashBusyUs,
                             PollFor(value == d.FlashPollValue ? nullptr : &read, value)))
                return StopWriteFailed();
        }
    }
    return Finish("Done");
}

// The memory's entries [Start, Start + Count) a chunk at a time, the
// progress started: each entry of a chunk is stepped before the chunk is
// read. A read fills the buffer from the lowest chunk up; a verification
// runs from the highest chunk down, and from the top of each, so the
// difference it reports is the highest.
bool TAVRisp::ReadInChunks(bool Flash, uint32_t Start, int32_t Count, uint32_t Chunk, bool Verify,
                           const TChunkReader& ReadChunk) {
    const uint32_t end = Start + static_cast<uint32_t>(Count);
    std::vector<uint32_t> held;
    uint32_t from = Start;
    uint32_t to = end;
    while (Verify ? to > Start : from < end) {
        if (Verify)
            from = std::max(Start, (to - 1) - (to - 1) % Chunk);
        else
            to = std::min(end, from - from % Chunk + Chunk);
        for (uint32_t a = from; a < to; ++a)
            if (!StepProgress()) return false;
        held.assign(to - from, 0);
        if (!ReadChunk(from, to, held)) return StopFailed(Link_->FailureText());
        for (uint32_t k = to - from; k-- > 0;) {
            const uint32_t a = from + k;
            const uint32_t wanted = Flash ? FlashBuffer[a] : EEpromBuffer[a];
            if (!Verify) {
                if (Flash)
                    FlashBuffer[a] = held[k];
                else
                    EEpromBuffer[a] = static_cast<uint8_t>(held[k]);
            } else if (held[k] != wanted) {
                return StopMismatch(Flash ? "Flash error at word address 0x" + Hex4(a)
                                          : "EEPROM error at byte address 0x" + Hex4(a));
            }
        }
        if (Verify)
            to = from;
        else
            from = to;
    }
    if (!Verify) return Finish("Done");
    return Finish(Flash ? "Flash is OK" : "EEPROM is OK");
}

// Flash words in batches of reads (the high byte first, as the normal mode).
bool TAVRisp::LinkReadFlash(uint32_t Start, int32_t Count, bool Verify) {
    EnsureFastPace();
    std::vector<TIspBytes> batch, answers;
    return ReadInChunks(true, Start, Count, ReadBatchWords, Verify,
                        [&](uint32_t from, uint32_t to, std::vector<uint32_t>& held) {
                            batch.clear();
                            AppendExtendedAddress(batch, from);
                            const std::size_t first = batch.size();
                            for (uint32_t a = from; a < to; ++a) {
                                batch.push_back(ReadFlashInstruction(a, HighByteSel));
                                batch.push_back(ReadFlashInstruction(a, LowByteSel));
                            }
                            answers.resize(batch.size());
                            if (!Exchange(batch, answers)) return false;
                            for (std::size_t k = 0; k < held.size(); ++k)
                                held[k] = (uint32_t{answers[first + 2 * k][3]} << 8) |
                                          answers[first + 2 * k + 1][3];
                            return true;
                        });
}

// --------------------------------------------------------------- EEPROM ----

// The loop of WriteEEprom, its progress started. The bytes are read in
// batches first; a byte that already holds its value is left alone (after
// a chip erase an erased byte does, unless the part keeps its EEPROM).
bool TAVRisp::LinkWriteEEprom(uint32_t Start, int32_t Count) {
    EnsureFastPace();
    const TAVRdesc& d = CurrentDevice();
    const uint32_t end = Start + static_cast<uint32_t>(Count);
    std::vector<TIspBytes> batch, held;
    std::vector<TQueuedWrite> queued;
    for (uint32_t from = Start; from < end;) {
        const uint32_t to = std::min(end, from + EEpromBatchBytes);
        batch.clear();
        for (uint32_t a = from; a < to; ++a)
            batch.push_back(ReadEEpromInstruction(a));
        held.resize(batch.size());
        if (!Exchange(batch, held)) return StopWriteFailed();
        queued.clear();
        for (uint32_t a = from; a < to; ++a) {
            if (!StepProgress()) return false;
            const uint8_t value = EEpromBuffer[a];
            const std::size_t i = a - from;
            if (EchoOk(batch[i], held[i]) && held[i][3] == value) continue;
            const bool unpollable = value == d.EEpromPollErase || value == d.EEpromPollWrite;
            queued.push_back({{OpWriteEEprom, HighByte(a), LowByte(a), value}, batch[i],
                              PollFor(unpollable ? nullptr : &batch[i], value)});
            // Where each transfer costs a round trip the writes of a batch go
            // out together, each followed by its covering polls.
            if (InstructionUs_ == 0 && !SendQueuedWrites(queued, d.EEpromBusyUs)) return StopWriteFailed();
        }
        if (!SendQueuedWrites(queued, d.EEpromBusyUs)) return StopWriteFailed();
        from = to;
    }
    return Finish("Done");
}

// Sends queued single writes and waits for each. One transfer carries as
// many of them as can be polled, each followed by the polls that cover its
// busy time. A part slower than that (a write whose polls never showed it
// done) ignored some of the writes after it and took others: once that
// write is done, the locations still to come are read back, those that hold
// their value are left alone, and the rest go out one by one.
bool TAVRisp::SendQueuedWrites(std::vector<TQueuedWrite>& Queued, uint32_t BusyUs) {
    std::size_t next = 0;
    bool oneByOne = InstructionUs_ == 0;
    while (next < Queued.size()) {
        if (oneByOne || !Queued[next].Poll.Usable) {
            std::vector<TIspBytes> write{Queued[next].Write};
            if (!SendAndWait(write, BusyUs, Queued[next].Poll)) return false;
            ++next;
            continue;
        }
        const std::size_t first = next;
        const std::size_t covering = CoveringPolls(BusyUs);
        std::vector<TIspBytes> batch;
        std::vector<std::size_t> starts; // where each write's polls begin in the batch
        for (; next < Queued.size() && Queued[next].Poll.Usable; ++next) {
            batch.push_back(Queued[next].Write);
            starts.push_back(batch.size());
            batch.insert(batch.end(), covering, Queued[next].Poll.Poll);
        }
        std::vector<TIspBytes> answers(batch.size());
        if (!Exchange(batch, answers)) return false;
        const uint64_t end = NowUs();
        for (std::size_t k = 0; k < starts.size(); ++k) {
            const TWritePoll& poll = Queued[first + k].Poll;
            bool done = false;
            for (std::size_t i = starts[k]; i < starts[k] + covering && !done; ++i)
                done = PollDone(poll, answers[i]);
            if (done) continue;
            // It began at least its own polls' time ago (and perhaps much
            // longer): the deadline taken from there never comes too early.
            const uint64_t since = uint64_t{InstructionUs_} * covering;
            if (!WaitForWrite(end > since ? end - since : 0, BusyUs, poll)) return false;
            next = first + k + 1;
            oneByOne = true;
            std::vector<TIspBytes> reads, held;
            for (std::size_t j = next; j < Queued.size(); ++j)
                reads.push_back(Queued[j].Read);
            held.resize(reads.size());
            if (!Exchange(reads, held)) return false;
            std::vector<TQueuedWrite> rest;
            for (std::size_t j = next; j < Queued.size(); ++j)
                if (!EchoOk(reads[j - next], held[j - next]) ||
                    held[j - next][3] != Queued[j].Write[3])
                    rest.push_back(Queued[j]);
            Queued.resize(next);
            Queued.insert(Queued.end(), rest.begin(), rest.end());
            break;
        }
    }
    Queued.clear();
    return true;
}

bool TAVRisp::LinkReadEEprom(uint32_t Start, int32_t Count, bool Verify) {
    EnsureFastPace();
    std::vector<TIspBytes> batch, answers;
    return ReadInChunks(false, Start, Count, EEpromBatchBytes, Verify,
                        [&](uint32_t from, uint32_t to, std::vector<uint32_t>& held) {
                            batch.clear();
                            for (uint32_t a = from; a < to; ++a)
                                batch.push_back(ReadEEpromInstruction(a));
                            answers.resize(batch.size());
                            if (!Exchange(batch, answers)) return false;
                            for (std::size_t k = 0; k < held.size(); ++k)
                                held[k] = answers[k][3];
                            return true;
                        });
}
