// A small programmer on the link seam (isp/IspLink.h) for a link the engine
// does not drive yet: identification, chip erase, page writes with the
// loads and the write-page instruction in one batch, batched reads, fuses,
// each write waited for with the ready/busy poll before twice the part's
// longest time. Used by the cable tests and the cable benchmark.
#pragma once

#include "AVRDeviceTable.h"
#include "IspLink.h"

#include <algorithm>
#include <array>
#include <span>
#include <cstdint>
#include <vector>

namespace harness {

class LinkDriver {
public:
    explicit LinkDriver(TIspLink& link) : link_(link) {}

    // Power-up, programming enable, the signature; the part's catalogue
    // row, or null when no known part answered.
    const TAVRdesc* Identify() {
        link_.PowerUp();
        if (!link_.ProgrammingEnable()) return nullptr;
        const auto sig = Query({{0x30, 0, 0, 0}, {0x30, 0, 1, 0}, {0x30, 0, 2, 0}});
        if (sig.size() != 3 || sig[0] != AtmelManufacturerCode) return nullptr;
        const int row = FindDeviceRow(sig[1], sig[2]);
        part_ = row > 0 ? &AVRDeviceTable[static_cast<std::size_t>(row)] : nullptr;
        return part_;
    }

    // Programming mode entered afresh and the whole signature read back
    // right: the probe of the link's SpeedUp.
    bool Answers() {
        link_.ResetPulse();
        if (part_ == nullptr || !link_.ProgrammingEnable()) return false;
        const auto sig = Query({{0x30, 0, 0, 0}, {0x30, 0, 1, 0}, {0x30, 0, 2, 0}});
        return sig == std::vector<uint8_t>{AtmelManufacturerCode, part_->Signature1, part_->Signature2};
    }
    bool Confirms() {
        for (int i = 0; i < PaceConfirmReads; ++i)
            if (Query({{0x30, 0, 1, 0}}) != std::vector<uint8_t>{part_->Signature1}) return false;
        return true;
    }

    bool Erase() { return Send({0xAC, 0x80, 0, 0}) && WaitReady(part_->EraseBusyUs); }

    // Writes `image` (image byte order) from address 0; pages that are all
    // 0xFF are left as the erase left them.
    bool WriteFlash(const std::vector<uint8_t>& image) {
        const uint32_t pageBytes = 2u * part_->PageWords;
        for (uint32_t page = 0; page < image.size(); page += pageBytes) {
            const auto from = image.begin() + page;
            const auto to = image.begin() + std::min<std::size_t>(image.size(), page + pageBytes);
            if (std::all_of(from, to, [](uint8_t b) { return b == 0xFF; })) continue;
            std::vector<TIspBytes> batch;
            for (uint32_t w = 0; 2 * w < static_cast<uint32_t>(to - from); ++w) {
                batch.push_back({0x40, 0, static_cast<uint8_t>(w), from[2 * w]});
                batch.push_back({0x48, 0, static_cast<uint8_t>(w), from[2 * w + 1]});
            }
            const uint32_t word = page / 2;
            batch.push_back({0x4C, static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word), 0});
            std::vector<TIspBytes> in(batch.size());
            if (!link_.Transfer(batch, in) || !WaitReady(part_->FlashBusyUs)) return false;
        }
        return true;
    }

    // Reads `bytes` bytes of Flash from address 0, in batches.
    bool ReadFlash(std::size_t bytes, std::vector<uint8_t>& out) {
        std::vector<TIspBytes> batch;
        for (uint32_t a = 0; a < bytes; ++a)
            batch.push_back({static_cast<uint8_t>(a % 2 ? 0x28 : 0x20), static_cast<uint8_t>(a >> 9),
                             static_cast<uint8_t>(a >> 1), 0});
        out = Query(batch);
        return out.size() == bytes;
    }

    bool WriteFuse(unsigned k, uint8_t value) {
        static constexpr uint8_t select[3] = {0xA0, 0xA8, 0xA4};
        return Send({0xAC, select[k], 0, value}) && WaitReady(part_->FuseBusyUs);
    }
    int ReadFuse(unsigned k) {
        static constexpr TIspBytes read[3] = {{0x50, 0, 0, 0}, {0x58, 0x08, 0, 0}, {0x50, 0x08, 0, 0}};
        const auto v = Query({read[k]});
        return v.size() == 1 ? v[0] : -1;
    }

    // Polls until the part is ready; false after twice `busyUs` on the
    // link's clock, or when the link failed.
    bool WaitReady(uint32_t busyUs) {
        const uint64_t deadline = link_.NowUs() + 2ull * busyUs;
        for (;;) {
            const auto v = Query({{0xF0, 0, 0, 0}});
            if (v.size() == 1 && (v[0] & 1) == 0) return true;
            if (v.empty() || link_.NowUs() >= deadline) return false;
        }
    }

private:
    bool Send(const TIspBytes& out) {
        TIspBytes in{};
        return link_.Transfer({&out, 1}, {&in, 1});
    }
    // The fourth byte answered to each instruction; empty when the link failed.
    std::vector<uint8_t> Query(const std::vector<TIspBytes>& out) {
        std::vector<TIspBytes> in(out.size());
        if (!link_.Transfer(out, in)) return {};
        std::vector<uint8_t> answers;
        for (const TIspBytes& b : in)
            answers.push_back(b[3]);
        return answers;
    }

    TIspLink& link_;
    const TAVRdesc* part_ = nullptr;
};

} // namespace harness
