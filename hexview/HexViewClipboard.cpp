#include "HexViewClipboard.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

std::vector<uint8_t> HexViewEncodeBlock(const uint8_t* bytes, int32_t n) {
    if (n < 0) n = 0;
    const auto count = uint32_t(n);
    std::vector<uint8_t> block(size_t(n) + 5, 0);
    for (int i = 0; i < 4; ++i)
        block[size_t(i)] = uint8_t(count >> (8 * i));
    std::copy(bytes, bytes + n, block.begin() + 4);
    return block;
}

std::string HexViewClipboardText(const uint8_t* bytes, int32_t n, bool fromHexColumn) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(size_t(std::max(n, 0)) * (fromHexColumn ? 3 : 1));
    for (int32_t i = 0; i < n; ++i) {
        const uint8_t b = bytes[i];
        if (fromHexColumn) {
            text += digits[b >> 4];
            text += digits[b & 15];
            text += ' ';
        } else {
            text += b < 32 ? '.' : char(b);
        }
    }
    return text;
}

bool HexViewDecodeClipboard(const HexClipboardContent& c, std::vector<uint8_t>& bytes) {
    bytes.clear();
    // A block too short to hold its count is not ours; the text may still be.
    if (c.hasBlock && c.block.size() >= 4) {
        uint32_t count = 0;
        for (int i = 0; i < 4; ++i)
            count |= uint32_t(c.block[size_t(i)]) << (8 * i);
        const size_t present = c.block.size() - 4;
        const size_t take = std::min<size_t>({count, present, size_t(INT32_MAX / 2)});
        bytes.assign(c.block.begin() + 4, c.block.begin() + 4 + std::ptrdiff_t(take));
        return true;
    }
    if (c.hasText) {
        const size_t end = c.text.find('\0');
        const std::string_view t(c.text.data(), end == std::string::npos ? c.text.size() : end);
        bytes.assign(t.begin(), t.end());
        return true;
    }
    return false;
}
