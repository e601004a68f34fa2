// Column positions, row counts, first-row clamping, hit testing and cell
// texts of the hex view, computed without a window.
#include "HexViewLayout.h"

#include <gtest/gtest.h>

namespace {

// Cell sizes of a small sans font: offset label 42 x 13, "AA" 14 x 13, "M" 8 x 13.
HexViewCellSizes Sizes() {
    return {42, 13, 14, 13, 8, 13};
}

HexViewLayout Layout(HexViewLayoutSettings s = {}, int clientH = 160) {
    return ComputeHexViewLayout(s, Sizes(), clientH);
}

TEST(HexViewLayoutTest, UngroupedRowPlacesEveryCellAfterAGap) {
    const HexViewLayout l = Layout();
    ASSERT_EQ(l.columnX.size(), 34u);
    EXPECT_EQ(l.columnX[0], 3);
    EXPECT_EQ(l.columnX[1], 3 + 42 + 4);
    for (int j = 1; j <= 16; ++j)
        EXPECT_EQ(l.columnX[j], 49 + (j - 1) * 18) << j;
    // The gap after byte 15 and then the text column's own distance.
    EXPECT_EQ(l.columnX[17], 49 + 16 * 18 + 4);
    for (int k = 17; k <= 33; ++k)
        EXPECT_EQ(l.columnX[k], 341 + (k - 17) * 8) << k;
    EXPECT_EQ(l.rightEndPx(), 341 + 16 * 8);
    EXPECT_EQ(l.rowHeightPx, 13);
    EXPECT_EQ(l.rowCount, (160 - 2) / 13);
}

TEST(HexViewLayoutTest, GroupsOfFourGetTheGapOnlyAfterTheirLastByte) {
    HexViewLayoutSettings s;
    s.hexGroup = 4;
    const HexViewLayout l = Layout(s);
    for (int j = 0; j < 15; ++j) {
        const int step = l.columnX[j + 2] - l.columnX[j + 1];
        EXPECT_EQ(step, (j % 4 == 3) ? 18 : 14) << "after byte " << j;
    }
    // After the gap of the last group comes the distance of the text column.
    EXPECT_EQ(l.columnX[17], 49 + 16 * 14 + 4 * 4 + 4);
}

TEST(HexViewLayoutTest, PositionsAndVisibilityMoveTheColumns) {
    HexViewLayoutSettings s;
    s.hexPosPx = 10;
    s.textPosPx = 20;
    HexViewLayout l = Layout(s);
    EXPECT_EQ(l.columnX[1], 3 + 42 + 10);
    EXPECT_EQ(l.columnX[17], l.columnX[1] + 16 * 18 + 20);

    s = {};
    s.offsetVisible = false;
    EXPECT_EQ(Layout(s).columnX[1], 3);

    s = {};
    s.hexVisible = false;
    l = Layout(s);
    // The hex column takes no room: the text column starts where it would have.
    for (int j = 1; j <= 16; ++j)
        EXPECT_EQ(l.columnX[j], 49);
    EXPECT_EQ(l.columnX[17], 49 + 4);

    s = {};
    s.textVisible = false;
    l = Layout(s);
    EXPECT_EQ(l.columnX[17], 49 + 16 * 18);
    EXPECT_EQ(l.rightEndPx(), l.columnX[17]);
}

TEST(HexViewLayoutTest, AutomaticGapIsHalfTheWidthOfM) {
    HexViewLayoutSettings s;
    s.hexGapPx = -1;
    HexViewCellSizes m = Sizes();
    m.textWPx = 9;
    const HexViewLayout l = ComputeHexViewLayout(s, m, 160);
    EXPECT_EQ(l.hexGapPx, 4);
    EXPECT_EQ(l.columnX[2] - l.columnX[1], 14 + 4);
}

TEST(HexViewLayoutTest, RowHeightIsTheTallestCellAndShortViewsHaveNoWholeRow) {
    HexViewCellSizes m = Sizes();
    m.offsetHPx = 15;
    m.textHPx = 12;
    EXPECT_EQ(ComputeHexViewLayout({}, m, 160).rowHeightPx, 15);
    m.textHPx = 17;
    EXPECT_EQ(ComputeHexViewLayout({}, m, 160).rowHeightPx, 17);

    const HexViewLayout shortView = Layout({}, 2 + 12);
    EXPECT_EQ(shortView.rowCount, 0);
    EXPECT_EQ(shortView.usableRows(), 1);
    EXPECT_EQ(shortView.pageBytes(), 0);
    EXPECT_EQ(Layout({}, 2 + 13).rowCount, 1);
}

TEST(HexViewLayoutTest, RowStartAndFirstOffsetClamping) {
    EXPECT_EQ(HexViewRowStart(0, 16), 0);
    EXPECT_EQ(HexViewRowStart(31, 16), 16);
    EXPECT_EQ(HexViewRowStart(32, 16), 32);
    EXPECT_EQ(HexViewRowStart(25, 10), 20);
    // 100 bytes, 4 rows of 16: the last page starts at the row holding byte 52.
    EXPECT_EQ(HexViewClampFirstOffset(90, 100, 16, 4), 48);
    EXPECT_EQ(HexViewClampFirstOffset(36, 100, 16, 4), 32);
    EXPECT_EQ(HexViewClampFirstOffset(37, 100, 16, 4), 48);
    EXPECT_EQ(HexViewClampFirstOffset(-5, 100, 16, 4), 0);
    // Data shorter than a page always starts at 0.
    EXPECT_EQ(HexViewClampFirstOffset(16, 20, 16, 4), 0);
    EXPECT_EQ(HexViewClampFirstOffset(0, 0, 16, 4), 0);
}

TEST(HexViewLayoutTest, HitTestAtCellEdges) {
    const HexViewLayout l = Layout();
    const int x9 = l.columnX[9]; // hex cell of byte 8
    // Less than half a text width (4) before byte 8's cell counts as byte 8.
    HexViewHit h = HexViewHitTest(l, x9 - 3, 5, 0);
    EXPECT_TRUE(h.moves);
    EXPECT_EQ(h.col, 9);
    h = HexViewHitTest(l, x9 - 5, 5, 0);
    EXPECT_EQ(h.col, 8);
    // Inside the offset column the caret stays where it is.
    EXPECT_FALSE(HexViewHitTest(l, 10, 5, 0).moves);
    // The horizontal scroll position shifts every point.
    EXPECT_EQ(HexViewHitTest(l, x9 - 3 - 100, 5, 100).col, 9);
    // Text cells.
    EXPECT_EQ(HexViewHitTest(l, l.columnX[20], 5, 0).col, 20);
}

TEST(HexViewLayoutTest, HitTestBetweenColumnsAndRightOfTextGoesToTheNextRow) {
    const HexViewLayout l = Layout();
    const int row2 = 2 + 2 * 13 + 1;
    // Between the end of the last hex cell and the text column.
    HexViewHit h = HexViewHitTest(l, l.columnX[16] + 14 + 1 - 4 + 0, row2, 0);
    // x' = x + 4 lands at columnX[16] + 15: beyond the last hex cell.
    EXPECT_EQ(h.col, 1);
    EXPECT_EQ(h.row, 3);
    h = HexViewHitTest(l, l.rightEndPx() + 30, row2, 0);
    EXPECT_EQ(h.col, 17);
    EXPECT_EQ(h.row, 3);
}

TEST(HexViewLayoutTest, HitTestRowsAreBoundedByTheView) {
    const HexViewLayout l = Layout();
    EXPECT_EQ(HexViewHitTest(l, 60, -40, 0).row, 0);
    EXPECT_EQ(HexViewHitTest(l, 60, 2 + 13 - 1, 0).row, 0);
    EXPECT_EQ(HexViewHitTest(l, 60, 2 + 13, 0).row, 1);
    EXPECT_EQ(HexViewHitTest(l, 60, 5000, 0).row, l.rowCount - 1);
    // A view shorter than a row still places the caret on row 0.
    EXPECT_EQ(HexViewHitTest(Layout({}, 10), 60, 5000, 0).row, 0);
}

TEST(HexViewLayoutTest, OffsetLabels) {
    EXPECT_EQ(HexViewOffsetLabel(0, 0, omHex), "000000:");
    EXPECT_EQ(HexViewOffsetLabel(0x10, 16, omHex), "000010:");
    EXPECT_EQ(HexViewOffsetLabel(0x1ABCDEF, 0x2000000, omHex), "1ABCDEF:");
    EXPECT_EQ(HexViewOffsetLabel(160, 200, omDec), "00000160:");
    // Past the end of the data: twelve blanks.
    EXPECT_EQ(HexViewOffsetLabel(32, 16, omHex), std::string(12, ' '));
}

TEST(HexViewLayoutTest, ByteTextsInEachMode) {
    EXPECT_EQ(HexViewByteText(0x0A, hmHex), "0A");
    EXPECT_EQ(HexViewByteText(0xFF, hmHex), "FF");
    EXPECT_EQ(HexViewByteText(7, hmDec), "007");
    EXPECT_EQ(HexViewByteText(255, hmDec), "255");
    EXPECT_EQ(HexViewByteText(0xA5, hmBin), "10100101");
    EXPECT_EQ(HexViewByteText(1, hmBin), "00000001");
    EXPECT_EQ(HexViewByteChar(0, false), '.');
    EXPECT_EQ(HexViewByteChar(31, false), '.');
    EXPECT_EQ(HexViewByteChar(32, false), ' ');
    EXPECT_EQ(HexViewByteChar(0xE9, false), char(0xE9));
    EXPECT_EQ(HexViewByteChar(5, true), char(5));
}

TEST(HexViewLayoutTest, TextColumnReadsTheWesternWindowsCodePage) {
    EXPECT_EQ(HexViewByteGlyph(0x41, false), u'A');
    EXPECT_EQ(HexViewByteGlyph(0x1F, false), u'.');
    EXPECT_EQ(HexViewByteGlyph(0x1F, true), char16_t(0x1F));
    EXPECT_EQ(HexViewByteGlyph(0x7F, false), char16_t(0x7F));
    EXPECT_EQ(HexViewByteGlyph(0x80, false), char16_t(0x20AC)); // euro sign
    EXPECT_EQ(HexViewByteGlyph(0x94, false), char16_t(0x201D)); // right double quotation mark
    EXPECT_EQ(HexViewByteGlyph(0x9F, false), char16_t(0x0178));
    EXPECT_EQ(HexViewByteGlyph(0x81, false), char16_t(0x81)); // unassigned: a C1 control
    EXPECT_EQ(HexViewByteGlyph(0xA0, false), char16_t(0xA0));
    EXPECT_EQ(HexViewByteGlyph(0xFF, false), char16_t(0xFF));
}

TEST(HexViewLayoutTest, CharactersMapBackToTheirBytes) {
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(HexViewGlyphByte(HexViewByteGlyph(uint8_t(b), true)), b) << b;
    EXPECT_EQ(HexViewGlyphByte(0x81), 0x81);
    EXPECT_EQ(HexViewGlyphByte(0x80), -1); // a control character the code page spends on the euro
    EXPECT_EQ(HexViewGlyphByte(0x0142), -1);
}

TEST(HexViewLayoutTest, DigitsAcceptedPerMode) {
    EXPECT_TRUE(HexViewAcceptsDigit(hmHex, 'f'));
    EXPECT_TRUE(HexViewAcceptsDigit(hmHex, 'C'));
    EXPECT_FALSE(HexViewAcceptsDigit(hmHex, 'G'));
    EXPECT_FALSE(HexViewAcceptsDigit(hmDec, 'A'));
    EXPECT_TRUE(HexViewAcceptsDigit(hmDec, '9'));
    EXPECT_FALSE(HexViewAcceptsDigit(hmBin, '2'));
    EXPECT_TRUE(HexViewAcceptsDigit(hmBin, '1'));
    EXPECT_EQ(HexViewDigitValue('b'), 11);
    EXPECT_EQ(HexViewDigitsPerByte(hmBin), 8);
    EXPECT_EQ(HexViewRadix(hmDec), 10);
}

} // namespace
