// The memory operations through a programmer that moves whole blocks
// itself (its firmware loads and writes the pages and waits for the part).
// The engine cuts the images into blocks the programmer takes, skips what
// an erased part already holds, and keeps the progress protocol: every word
// or byte of a block is stepped (and an abort honoured) before the block
// goes out, so an abort leaves the block it came in unwritten.
#include "AVRisp.h"

#include <algorithm>
#include <vector>

// Runs of Flash pages that hold something, each no longer than a block;
// words of a page outside [Start, Start + Count) go out erased, which
// programs nothing.
bool TAVRisp::BlockWriteFlash(uint32_t Start, int32_t Count) {
    TBlockProgrammer& programmer = *Link_->Blocks();
    const TAVRdesc& d = CurrentDevice();
    const uint32_t end = Start + static_cast<uint32_t>(Count);
    const uint32_t pageWords = d.Paged() ? d.PageWords : 1u;
    const uint32_t blockWords =
        std::max(pageWords, programmer.BlockBytes() / 2 / pageWords * pageWords);
    std::vector<uint8_t> run;
    uint32_t runStart = 0;
    auto flush = [&] {
        if (run.empty()) return true;
        const bool written = programmer.WriteFlashBlock(2 * runStart, run);
        run.clear();
        return written;
    };
    for (uint32_t from = Start; from < end;) {
        const uint32_t page = from - from % pageWords;
        const uint32_t to = std::min(end, page + pageWords);
        for (uint32_t a = from; a < to; ++a)
            if (!StepProgress()) return false;
        const bool blank = std::all_of(FlashBuffer.begin() + from, FlashBuffer.begin() + to,
                                       [](uint32_t w) { return static_cast<uint16_t>(w) == 0xFFFF; });
        if (blank || run.size() / 2 + pageWords > blockWords) {
            if (!flush()) return StopFailed(Link_->FailureText());
        }
        if (!blank) {
            if (run.empty()) runStart = page;
            for (uint32_t a = page; a < page + pageWords; ++a) {
                const auto word =
                    a >= from && a < to ? static_cast<uint16_t>(FlashBuffer[a]) : uint16_t{0xFFFF};
                run.push_back(static_cast<uint8_t>(word & 0xFF));
                run.push_back(static_cast<uint8_t>(word >> 8));
            }
        }
        PageWordIndex_ = to - page;
        from = to;
    }
    if (!flush()) return StopFailed(Link_->FailureText());
    return Finish("Done");
}

// Blocks of EEPROM. A block that would only erase is read first and left
// alone when the part already holds it erased.
bool TAVRisp::BlockWriteEEprom(uint32_t Start, int32_t Count) {
    TBlockProgrammer& programmer = *Link_->Blocks();
    const uint32_t end = Start + static_cast<uint32_t>(Count);
    const uint32_t block = std::max<uint32_t>(1, programmer.BlockBytes());
    std::vector<uint8_t> held;
    for (uint32_t from = Start; from < end;) {
        const uint32_t to = std::min(end, from + block);
        for (uint32_t a = from; a < to; ++a)
            if (!StepProgress()) return false;
        const std::span<const uint8_t> data(EEpromBuffer.data() + from, to - from);
        if (std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0xFF; })) {
            held.assign(data.size(), 0);
            if (!programmer.ReadEEpromBlock(from, held)) return StopFailed(Link_->FailureText());
            if (std::equal(held.begin(), held.end(), data.begin())) {
                from = to;
                continue;
            }
        }
        if (!programmer.WriteEEpromBlock(from, data)) return StopFailed(Link_->FailureText());
        from = to;
    }
    return Finish("Done");
}

// Flash words and EEPROM bytes in blocks.
bool TAVRisp::BlockReadFlash(uint32_t Start, int32_t Count, bool Verify) {
    TBlockProgrammer& programmer = *Link_->Blocks();
    std::vector<uint8_t> bytes;
    return ReadInChunks(true, Start, Count, std::max<uint32_t>(1, programmer.BlockBytes() / 2), Verify,
                        [&](uint32_t from, uint32_t to, std::vector<uint32_t>& held) {
                            bytes.assign(2 * (to - from), 0);
                            if (!programmer.ReadFlashBlock(2 * from, bytes)) return false;
                            for (std::size_t k = 0; k < held.size(); ++k)
                                held[k] = bytes[2 * k] | (uint32_t{bytes[2 * k + 1]} << 8);
                            return true;
                        });
}

bool TAVRisp::BlockReadEEprom(uint32_t Start, int32_t Count, bool Verify) {
    TBlockProgrammer& programmer = *Link_->Blocks();
    std::vector<uint8_t> bytes;
    return ReadInChunks(false, Start, Count, std::max<uint32_t>(1, programmer.BlockBytes()), Verify,
                        [&](uint32_t from, uint32_t to, std::vector<uint32_t>& held) {
                            bytes.assign(to - from, 0);
                            if (!programmer.ReadEEpromBlock(from, bytes)) return false;
                            std::copy(bytes.begin(), bytes.end(), held.begin());
                            return true;
                        });
}
