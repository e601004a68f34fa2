#include "HexViewLayout.h"

#include <algorithm>
#include <cstdio>

const char* HexViewOffsetSample(TOffsetMode mode) {
    return mode == omDec ? "00000000:" : "AAAAAA:";
}

const char* HexViewHexSample(THexMode mode) {
    switch (mode) {
    case hmDec:
        return "000";
    case hmBin:
        return "00000000";
    case hmHex:
        break;
    }
    return "AA";
}

HexViewLayout ComputeHexViewLayout(const HexViewLayoutSettings& s, const HexViewCellSizes& m,
                                   int clientHeightPx) {
    HexViewLayout l;
    const int bpl = std::clamp(s.bytesPerLine, 1, kHexViewMaxBytesPerLine);
    l.bytesPerLine = bpl;
    l.offsetWPx = m.offsetWPx;
    l.hexWPx = m.hexWPx;
    l.textWPx = m.textWPx;

    // The offset and hex cells share the larger height; the text cell decides
    // when it is the tallest.
    int h = std::max(m.offsetHPx, m.hexHPx);
    if (m.textHPx > h) h = m.textHPx;
    l.rowHeightPx = std::max(1, h);

    l.hexGapPx = s.hexGapPx == -1 ? m.textWPx / 2 : s.hexGapPx;
    l.rowCount = std::max(0, (clientHeightPx - kHexViewTopMarginPx) / l.rowHeightPx);

    auto& x = l.columnX;
    x.assign(2 * bpl + 2, 0);
    x[0] = kHexViewLeftMarginPx;
    int pos = kHexViewLeftMarginPx;
    if (s.offsetVisible) pos += m.offsetWPx + (s.hexPosPx != -1 ? s.hexPosPx : l.hexGapPx);
    x[1] = pos;

    const int group = std::max(1, s.hexGroup);
    int g = 1;
    for (int j = 0; j < bpl; ++j) {
        if (!s.hexVisible) {
            x[j + 2] = x[j + 1];
        } else if (g == group) {
            x[j + 2] = x[j + 1] + m.hexWPx + l.hexGapPx;
            g = 1;
        } else {
            x[j + 2] = x[j + 1] + m.hexWPx;
            ++g;
        }
    }
    if (s.textVisible) x[bpl + 1] += s.textPosPx != -1 ? s.textPosPx : l.hexGapPx;
    for (int k = bpl + 2; k <= 2 * bpl + 1; ++k)
        x[k] = x[k - 1] + (s.textVisible ? m.textWPx : 0);
    return l;
}

int32_t HexViewRowStart(int32_t offset, int bytesPerLine) {
    int32_t q = offset / bytesPerLine;
    if (offset % bytesPerLine != 0 && offset < 0) --q;
    return q * bytesPerLine;
}

int32_t HexViewClampFirstOffset(int32_t offset, int32_t size, int bytesPerLine, int rowCount) {
    const int64_t bpl = bytesPerLine;
    int64_t o = offset;
    if (o > int64_t(size) - bpl * rowCount) o = int64_t(size) - bpl * (rowCount - 1);
    if (o < 0) o = 0;
    return HexViewRowStart(int32_t(o), bytesPerLine);
}

HexViewHit HexViewHitTest(const HexViewLayout& l, int xPx, int yPx, int hScrollPx) {
    const int bpl = l.bytesPerLine;
    const auto& cx = l.columnX;
    const int x = xPx + l.textWPx / 2 + hScrollPx;
    const int y = std::max(yPx, kHexViewTopMarginPx);

    int col = 0;
    while (col < 2 * bpl && x >= cx[col + 1])
        ++col;

    int count = 0;
    const int rows = l.usableRows();
    while (count < rows && kHexViewTopMarginPx + count * l.rowHeightPx <= y)
        ++count;

    HexViewHit hit;
    if (col == 0) return hit;
    if (x >= cx[bpl] + l.hexWPx && x < cx[bpl + 1]) {
        col = 1;
        ++count;
    } else if (x >= cx[2 * bpl] + l.textWPx) {
        col = bpl + 1;
        ++count;
    }
    hit.moves = true;
    hit.col = col;
    hit.row = std::max(count, 1) - 1;
    return hit;
}

int HexViewDigitsPerByte(THexMode mode) {
    return mode == hmDec ? 3 : mode == hmBin ? 8 : 2;
}

int HexViewRadix(THexMode mode) {
    return mode == hmDec ? 10 : mode == hmBin ? 2 : 16;
}

bool HexViewAcceptsDigit(THexMode mode, char c) {
    switch (mode) {
    case hmDec:
        return c >= '0' && c <= '9';
    case hmBin:
        return c == '0' || c == '1';
    case hmHex:
        break;
    }
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int HexViewDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

std::string HexViewOffsetLabel(int32_t rowOffset, int32_t size, TOffsetMode mode) {
    if (rowOffset > size) return kHexViewBlankLabel;
    char buf[24];
    if (mode == omDec)
        std::snprintf(buf, sizeof buf, "%08d:", int(rowOffset));
    else
        std::snprintf(buf, sizeof buf, "%06X:", unsigned(rowOffset));
    return buf;
}

std::string HexViewByteText(uint8_t v, THexMode mode) {
    char buf[12];
    switch (mode) {
    case hmDec:
        std::snprintf(buf, sizeof buf, "%03u", unsigned(v));
        return buf;
    case hmBin:
        for (int b = 0; b < 8; ++b)
            buf[b] = (v & (0x80 >> b)) ? '1' : '0';
        return std::string(buf, 8);
    case hmHex:
        break;
    }
    std::snprintf(buf, sizeof buf, "%02X", unsigned(v));
    return buf;
}

char HexViewByteChar(uint8_t v, bool allChars) {
    return (v < 32 && !allChars) ? '.' : char(v);
}

namespace {
// Bytes 0x80 to 0x9F of Windows-1252; the others equal their Latin-1 code points.
// The five bytes the code page leaves unassigned are its C1 control characters.
constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
} // namespace

char16_t HexViewByteGlyph(uint8_t v, bool allChars) {
    const auto c = static_cast<uint8_t>(HexViewByteChar(v, allChars));
    return c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : char16_t(c);
}

int HexViewGlyphByte(char16_t g) {
    if (g < 0x80 || (g >= 0xA0 && g <= 0xFF)) return g;
    for (int i = 0; i < 32; ++i) {
        if (kHigh[i] == g) return 0x80 + i;
    }
    return -1;
}
