#pragma once
// Plain arithmetic of the hex view: column positions, row counts, first-row
// clamping, hit testing and the texts of the cells. Nothing here paints or
// knows of widgets, so it is tested without a window.

#include <cstdint>
#include <string>
#include <vector>

enum TOffsetMode { omHex, omDec };
enum THexMode { hmHex, hmDec, hmBin };

inline constexpr int kHexViewLeftMarginPx = 3;
inline constexpr int kHexViewTopMarginPx = 2;
inline constexpr int kHexViewMaxBytesPerLine = 254;

// Pixel sizes of one cell of each column as measured in the column's font,
// before the heights are made equal.
struct HexViewCellSizes {
    int offsetWPx = 0;
    int offsetHPx = 0;
    int hexWPx = 0;
    int hexHPx = 0;
    int textWPx = 0;
    int textHPx = 0;
};

// The properties that decide where the columns go.
struct HexViewLayoutSettings {
    int bytesPerLine = 16;
    int hexGroup = 1;
    int hexGapPx = 4;   // -1: half the width of "M" in the text font
    int hexPosPx = -1;  // -1: hexGapPx
    int textPosPx = -1; // -1: hexGapPx
    bool offsetVisible = true;
    bool hexVisible = true;
    bool textVisible = true;
};

struct HexViewLayout {
    int bytesPerLine = 16;
    int offsetWPx = 0;
    int hexWPx = 0;
    int textWPx = 0;
    int rowHeightPx = 1;
    int rowCount = 0; // whole rows that fit; one more, cut off, is drawn
    int hexGapPx = 0; // the gap in force, -1 already resolved
    // x of the offset column, of the bpl hex cells, of the bpl text cells,
    // and the right end of the text column: 2 * bpl + 2 entries.
    std::vector<int> columnX;

    int rightEndPx() const { return columnX.back(); }
    // Rows used for caret and scrolling arithmetic: a view shorter than one
    // row still counts one, so nothing divides by zero.
    int usableRows() const { return rowCount < 1 ? 1 : rowCount; }
    int pageBytes() const { return bytesPerLine * (usableRows() - 1); }
};

// Texts whose size gives the cell sizes.
const char* HexViewOffsetSample(TOffsetMode mode);
const char* HexViewHexSample(THexMode mode);
inline const char* HexViewTextSample() {
    return "M";
}

HexViewLayout ComputeHexViewLayout(const HexViewLayoutSettings& settings,
                                   const HexViewCellSizes& measured, int clientHeightPx);

// Offset rounded down to a multiple of bytesPerLine.
int32_t HexViewRowStart(int32_t offset, int bytesPerLine);

// The first visible offset for a wish: the last page is kept as full as
// possible and the result is a row start, never negative.
int32_t HexViewClampFirstOffset(int32_t offset, int32_t size, int bytesPerLine, int rowCount);

// Where a click lands. moves is false when the point is left of the first
// hex cell; otherwise col is the caret column (1 .. 2 * bpl) and row the row
// counted from the first visible one.
struct HexViewHit {
    bool moves = false;
    int col = 0;
    int row = 0;
};
HexViewHit HexViewHitTest(const HexViewLayout& layout, int xPx, int yPx, int hScrollPx);

// Digits per byte and radix of the byte column.
int HexViewDigitsPerByte(THexMode mode);
int HexViewRadix(THexMode mode);
// Whether a typed character is a digit of the byte column in this mode, and
// its value (its value as a hexadecimal digit).
bool HexViewAcceptsDigit(THexMode mode, char c);
int HexViewDigitValue(char c);

// Cell texts. A label of a row past the end is twelve blanks, a byte past the
// end nine blanks.
inline const std::string kHexViewBlankLabel(12, ' ');
inline const std::string kHexViewBlankCell(9, ' ');
std::string HexViewOffsetLabel(int32_t rowOffset, int32_t size, TOffsetMode mode);
std::string HexViewByteText(uint8_t value, THexMode mode);
char HexViewByteChar(uint8_t value, bool allChars);
// The character a byte shows in the text column, as a Unicode code point: the
// bytes are read in the Western Windows code page, the single-byte character
// set the text fonts were chosen for (0x80 is the euro sign, 0x93 and 0x94
// quotation marks); its five unassigned bytes are the C1 control characters
// of the same value.
char16_t HexViewByteGlyph(uint8_t value, bool allChars);
// The other way round, for typed and pasted characters: the byte of a code
// point in that code page (the five C1 controls included),
// or -1 when the code page has no such character.
int HexViewGlyphByte(char16_t glyph);
