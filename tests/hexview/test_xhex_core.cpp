// The hex view's buffer, caret, key tables, mouse selection and scrolling,
// driven through its core without a window.
#include "HexViewCore.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace {

struct RecordingHost : HexViewHost {
    int repaints = 0;
    int beeps = 0;
    std::vector<int32_t> carets;
    std::vector<std::tuple<bool, int32_t, int32_t>> selections;
    std::vector<bool> inputModes;
    void Repaint() override { ++repaints; }
    void CaretPlaced(int32_t offset) override { carets.push_back(offset); }
    void SelectionSet(bool a, int32_t s, int32_t e) override { selections.emplace_back(a, s, e); }
    void Beep() override { ++beeps; }
    void InputModeChanged(bool ins) override { inputModes.push_back(ins); }
};

// 16 bytes a line; cells of 42/14/8 pixels, rows of 13 pixels; a client
// area of 500 x 160 pixels holds 12 whole rows.
HexViewLayout MakeLayout(int bpl = 16, int clientH = 160, HexViewLayoutSettings s = {}) {
    s.bytesPerLine = bpl;
    return ComputeHexViewLayout(s, {42, 13, 14, 13, 8, 13}, clientH);
}

class HexViewCoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        HexViewCore::InsertMode = false;
        core.ApplyLayout(MakeLayout(), 500, 160);
    }
    void Fill(int n) {
        core.SetLastOffset(n - 1);
        for (int i = 0; i < n; ++i)
            core.SetByte(i, uint8_t(i));
    }
    void Key(HexKey k, HexMods m = HexMods::None) { core.KeyDown(k, m); }
    void Shift(HexKey k) { core.KeyDown(k, HexMods::Shift); }
    // Selected offsets, in ascending order.
    std::vector<int32_t> Selected() const {
        std::vector<int32_t> v;
        for (int32_t i = 0; i < core.Size(); ++i)
            if (core.IsSelected(i)) v.push_back(i);
        return v;
    }
    std::vector<int32_t> Range(int32_t a, int32_t b) const {
        std::vector<int32_t> v;
        for (int32_t i = a; i <= b; ++i)
            v.push_back(i);
        return v;
    }

    RecordingHost host;
    HexViewCore core{host};
};

TEST_F(HexViewCoreTest, BufferGrowsWithZerosAndNeverShrinks) {
    EXPECT_EQ(core.Size(), 0);
    core.SetLastOffset(199);
    EXPECT_EQ(core.Size(), 200);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(core.ByteAt(i), 0);
    for (int i = 0; i < 200; ++i)
        core.SetByte(i, uint8_t(i + 1));
    core.SetLastOffset(99);
    EXPECT_EQ(core.Size(), 100);
    EXPECT_EQ(core.Capacity(), 200);
    core.SetLastOffset(199);
    EXPECT_EQ(core.ByteAt(150), 151); // the old bytes come back
    core.SetLastOffset(249);
    EXPECT_EQ(core.ByteAt(199), 200);
    EXPECT_EQ(core.ByteAt(200), 0); // new by growth
    core.SetLastOffset(-1);
    EXPECT_EQ(core.Size(), 0);
}

TEST_F(HexViewCoreTest, SetByteStaysInsideTheData) {
    Fill(16);
    core.SetByte(16, 0xEE);
    core.SetByte(-1, 0xEE);
    core.SetLastOffset(16);
    EXPECT_EQ(core.ByteAt(16), 0);
    core.SetByte(3, 0x77);
    EXPECT_EQ(core.ByteAt(3), 0x77);
}

TEST_F(HexViewCoreTest, MoveBytesOpensAndClosesGapsLikeAPlainVector) {
    // Random gaps and removals checked against std::vector.
    unsigned seed = 12345;
    auto rnd = [&](int n) {
        seed = seed * 1103515245u + 12345u;
        return int((seed >> 16) % unsigned(n));
    };
    Fill(40);
    std::vector<uint8_t> ref(40);
    for (int i = 0; i < 40; ++i)
        ref[size_t(i)] = uint8_t(i);
    for (int step = 0; step < 300; ++step) {
        const int size = core.Size();
        if (rnd(2) == 0 || size < 2) {
            const int at = rnd(size + 1), n = 1 + rnd(5);
            core.MoveBytes(at, size - 1, at + n);
            for (int i = 0; i < n; ++i)
                core.SetByte(at + i, uint8_t(200 + step));
            ref.insert(ref.begin() + at, size_t(n), uint8_t(200 + step));
        } else {
            const int a = rnd(size), b = std::min(size - 1, a + rnd(4));
            core.DeleteBytes(a, b);
            ref.erase(ref.begin() + a, ref.begin() + b + 1);
        }
        ASSERT_EQ(core.Size(), int(ref.size())) << step;
        ASSERT_TRUE(std::equal(ref.begin(), ref.end(), core.Data())) << step;
    }
    // A block that does not lie in the buffer is refused.
    const int size = core.Size();
    core.MoveBytes(size - 2, size + 5, 0);
    EXPECT_EQ(core.Size(), size);
}

TEST_F(HexViewCoreTest, MovesStopAtTheEndOfTheData) {
    Fill(10);
    core.GotoOffset(10);
    EXPECT_EQ(core.CaretOffset(), 10);
    Key(HexKey::Right);
    EXPECT_EQ(core.CaretOffset(), 10);
    Key(HexKey::Enter);
    EXPECT_EQ(core.CaretOffset(), 10);
    Key(HexKey::Down);
    EXPECT_EQ(core.CaretOffset(), 10);
    core.GotoOffset(3);
    Key(HexKey::End, HexMods::Ctrl);
    EXPECT_EQ(core.CaretOffset(), 10);
    Key(HexKey::Home, HexMods::Ctrl);
    EXPECT_EQ(core.CaretOffset(), 0);
    Key(HexKey::Left);
    Key(HexKey::Up);
    EXPECT_EQ(core.CaretOffset(), 0);
    EXPECT_EQ(host.carets.back(), 0);
}

TEST_F(HexViewCoreTest, PlainNavigationKeys) {
    Fill(1000);
    core.GotoOffset(37);
    Key(HexKey::Home);
    EXPECT_EQ(core.CaretOffset(), 32);
    Key(HexKey::End);
    EXPECT_EQ(core.CaretOffset(), 47);
    Key(HexKey::Down);
    EXPECT_EQ(core.CaretOffset(), 63);
    Key(HexKey::Up);
    Key(HexKey::Left);
    EXPECT_EQ(core.CaretOffset(), 46);
    Key(HexKey::Right);
    Key(HexKey::Enter);
    EXPECT_EQ(core.CaretOffset(), 48);
    // Tab switches to the text column at the same offset and back.
    Key(HexKey::Tab);
    EXPECT_FALSE(core.CaretInHexColumn());
    EXPECT_EQ(core.CaretOffset(), 48);
    EXPECT_EQ(core.CaretCol, 17);
    Key(HexKey::Tab);
    EXPECT_TRUE(core.CaretInHexColumn());
    EXPECT_EQ(core.CaretOffset(), 48);
}

TEST_F(HexViewCoreTest, GotoOffsetScrollsTheTargetOntoTheLastRow) {
    Fill(1000);
    const HexViewLayout& l = core.Layout();
    ASSERT_EQ(l.rowCount, 12);
    core.GotoOffset(500);
    // 500 lands on the last visible row.
    EXPECT_EQ(core.FirstOffset, 500 / 16 * 16 - 11 * 16);
    EXPECT_EQ(core.CaretRow, 11);
    EXPECT_EQ(core.CaretOffset(), 500);
    // Going above the view puts the target on the first row.
    core.GotoOffset(100);
    EXPECT_EQ(core.FirstOffset, 96);
    EXPECT_EQ(core.CaretRow, 0);
    EXPECT_EQ(core.CaretCol, 5);
    // The end of the data: the last page is as full as possible.
    core.GotoOffset(5000);
    EXPECT_EQ(core.CaretOffset(), 1000);
    EXPECT_EQ(core.FirstOffset, (1000 - 16 * 11) / 16 * 16);
}

TEST_F(HexViewCoreTest, GotoOffsetScrollsHorizontallyToKeepTheCellInView) {
    Fill(64);
    core.ApplyLayout(MakeLayout(), 200, 160); // narrower than the row
    core.CaretCol = 17;                       // text column
    core.GotoOffset(15);
    // The cell's right edge would want 275; the bar stops at its maximum.
    EXPECT_EQ(core.HScrollMaxPx(), core.Layout().rightEndPx() - 200);
    EXPECT_EQ(core.HScrollPx, core.HScrollMaxPx());
    core.CaretCol = 1;
    core.GotoOffset(0);
    // Left of the view: the cell comes in with one hex cell to spare.
    EXPECT_EQ(core.HScrollPx, core.Layout().columnX[1] - 14);
    core.SetHScroll(-40);
    EXPECT_EQ(core.HScrollPx, 0);
}

TEST_F(HexViewCoreTest, ShiftLeftTwiceThenRightTwiceEndsTheSelection) {
    Fill(64);
    core.GotoOffset(5);
    Shift(HexKey::Left);
    Shift(HexKey::Left);
    EXPECT_EQ(core.SelAnchor, 5);
    EXPECT_EQ(core.SelStart, 4);
    EXPECT_EQ(core.SelEnd, 3);
    EXPECT_EQ(Selected(), Range(3, 4));
    Shift(HexKey::Right);
    EXPECT_TRUE(core.SelActive);
    Shift(HexKey::Right);
    EXPECT_EQ(core.CaretOffset(), 5);
    EXPECT_FALSE(core.SelActive);
    EXPECT_EQ(std::get<0>(host.selections.back()), false);
}

TEST_F(HexViewCoreTest, ShiftRightSelectsTheByteUnderTheCaret) {
    Fill(64);
    core.GotoOffset(5);
    Shift(HexKey::Right);
    EXPECT_EQ(core.SelStart, 5);
    EXPECT_EQ(core.SelEnd, 5);
    EXPECT_EQ(core.CaretOffset(), 6);
    EXPECT_EQ(Selected(), Range(5, 5));
}

TEST_F(HexViewCoreTest, SelectionExtendsAcrossTheAnchor) {
    Fill(64);
    core.GotoOffset(20);
    Shift(HexKey::Left);
    EXPECT_EQ(core.SelAnchor, 20);
    EXPECT_EQ(core.SelStart, 19);
    EXPECT_EQ(core.SelEnd, 19);
    Shift(HexKey::Down);
    EXPECT_EQ(core.CaretOffset(), 35);
    EXPECT_EQ(core.SelStart, 19);
    EXPECT_EQ(core.SelEnd, 34);
    EXPECT_EQ(Selected(), Range(19, 34));

    // Forward selection anchored at 10, then back across it and forth again.
    core.KeyDown(HexKey::Left, HexMods::None);
    core.GotoOffset(10);
    Shift(HexKey::Left);
    Shift(HexKey::Left);
    EXPECT_EQ(Selected(), Range(8, 9));
    Shift(HexKey::Right);
    Shift(HexKey::Right);
    EXPECT_FALSE(core.SelActive);
}

TEST_F(HexViewCoreTest, ShiftPagesHomeEndAndUpExtendTheSelection) {
    Fill(1000);
    core.GotoOffset(40);
    Shift(HexKey::End);
    EXPECT_EQ(core.CaretOffset(), 47);
    EXPECT_EQ(Selected(), Range(40, 46));
    Shift(HexKey::Home);
    EXPECT_EQ(core.CaretOffset(), 32);
    EXPECT_EQ(core.SelStart, 40);
    EXPECT_EQ(core.SelEnd, 32);
    Shift(HexKey::Up);
    EXPECT_EQ(core.SelEnd, 16);
    EXPECT_EQ(core.DigitCount, 0);

    core.KeyDown(HexKey::Right, HexMods::None);
    EXPECT_FALSE(core.SelActive);
    const int32_t before = core.CaretOffset();
    Shift(HexKey::PageDown);
    EXPECT_EQ(core.CaretOffset(), before + 11 * 16);
    EXPECT_EQ(core.SelStart, before);
    EXPECT_EQ(core.SelEnd, before + 11 * 16 - 1);
    Shift(HexKey::PageUp);
    EXPECT_EQ(core.CaretOffset(), before);
    EXPECT_FALSE(core.SelActive);
}

TEST_F(HexViewCoreTest, ShiftMovesKeepTheTypedDigitCount) {
    Fill(64);
    core.GotoOffset(4);
    core.DigitCount = 1;
    Shift(HexKey::Right);
    EXPECT_EQ(core.DigitCount, 1);
    core.KeyDown(HexKey::Right, HexMods::None);
    EXPECT_EQ(core.DigitCount, 0);
}

TEST_F(HexViewCoreTest, EveryPlainKeyEndsASelection) {
    for (HexKey k :
         {HexKey::Tab, HexKey::Enter, HexKey::PageUp, HexKey::PageDown, HexKey::Home, HexKey::End,
          HexKey::Left, HexKey::Right, HexKey::Up, HexKey::Down, HexKey::Insert}) {
        core.ReadOnly = true;
        Fill(300);
        core.GotoOffset(40);
        Shift(HexKey::Right);
        ASSERT_TRUE(core.SelActive);
        Key(k);
        EXPECT_FALSE(core.SelActive) << int(k);
    }
    HexViewCore::InsertMode = false;
}

TEST_F(HexViewCoreTest, OtherModifierSetsAndUnknownKeysDoNothing) {
    Fill(64);
    core.GotoOffset(5);
    EXPECT_FALSE(core.KeyDown(HexKey::Right, HexMods::Other));
    EXPECT_FALSE(core.KeyDown(HexKey::Left, HexMods::Ctrl));
    EXPECT_FALSE(core.KeyDown(HexKey::Other, HexMods::None));
    EXPECT_FALSE(core.KeyDown(HexKey::Z, HexMods::None));
    EXPECT_EQ(core.CaretOffset(), 5);
    EXPECT_FALSE(core.SelActive);
}

TEST_F(HexViewCoreTest, InsertKeyTogglesTheSharedModeForEveryView) {
    RecordingHost otherHost;
    HexViewCore other(otherHost);
    Key(HexKey::Insert);
    EXPECT_TRUE(HexViewCore::InsertMode);
    EXPECT_EQ(host.inputModes, std::vector<bool>{true});
    other.KeyDown(HexKey::Insert, HexMods::None);
    EXPECT_FALSE(HexViewCore::InsertMode);
}

TEST_F(HexViewCoreTest, CharactersInTheByteColumnFollowTheMode) {
    Fill(8);
    core.ReadOnly = true; // only the dispatch matters here
    core.Char('G');
    EXPECT_EQ(host.beeps, 1);
    core.Char('a');
    core.Char(9);
    EXPECT_EQ(host.beeps, 2);
    core.HexMode = hmDec;
    core.Char('A');
    EXPECT_EQ(host.beeps, 3);
    core.HexMode = hmBin;
    core.Char('2');
    EXPECT_EQ(host.beeps, 4);
    core.Char('1');
    EXPECT_EQ(host.beeps, 4);
}

TEST_F(HexViewCoreTest, CharactersInTheTextColumnMoveOnEvenWhenReadOnly) {
    Fill(8);
    core.ReadOnly = true;
    core.CaretCol = 17;
    core.GotoOffset(2);
    core.Char('x');
    EXPECT_EQ(core.CaretOffset(), 3);
    EXPECT_EQ(core.ByteAt(2), 2);
    core.Char(10); // below 32: ignored
    EXPECT_EQ(core.CaretOffset(), 3);
    EXPECT_EQ(host.beeps, 0);
}

TEST_F(HexViewCoreTest, ClickAndReleaseOnOneSpotSelectsNothing) {
    Fill(64);
    const auto& cx = core.Layout().columnX;
    core.MousePress(cx[8] + 2, 2 + 13 + 3, true);
    core.MouseRelease(true);
    EXPECT_EQ(core.CaretOffset(), 23);
    EXPECT_FALSE(core.SelActive);
    EXPECT_EQ(core.SelStart, 23);
    EXPECT_EQ(core.SelEnd, 23);
    // A click in the offset column does not move the caret.
    core.MousePress(10, 2 + 2 * 13 + 3, true);
    EXPECT_EQ(core.CaretOffset(), 23);
    // Right of the text column of row 2: the first text cell of row 3.
    core.MousePress(core.Layout().rightEndPx() + 20, 2 + 2 * 13 + 3, false);
    EXPECT_EQ(core.CaretOffset(), 48);
    EXPECT_FALSE(core.CaretInHexColumn());
}

TEST_F(HexViewCoreTest, DraggingSelectsForwardAndBackwardFromTheAnchor) {
    Fill(64);
    const auto& cx = core.Layout().columnX;
    const int y = 2 + 13 + 3;
    core.MousePress(cx[5] + 2, y, true); // offset 20
    core.MouseMove(cx[9] + 2, y);        // offset 24
    EXPECT_TRUE(core.SelActive);
    EXPECT_EQ(Selected(), Range(20, 23));
    core.MouseMove(cx[2] + 2, y); // offset 17, back across the anchor
    EXPECT_EQ(core.SelStart, 20);
    EXPECT_EQ(core.SelEnd, 17);
    core.MouseMove(cx[5] + 2, y); // back to the anchor
    EXPECT_FALSE(core.SelActive);
    core.MouseMove(cx[3] + 2, y); // before the anchor from scratch
    EXPECT_EQ(core.SelStart, 19);
    EXPECT_EQ(core.SelEnd, 18);
    core.MouseRelease(true);
    EXPECT_FALSE(core.MouseSelecting());
    // Moves after the release change nothing.
    core.MouseMove(cx[12] + 2, y);
    EXPECT_EQ(core.SelEnd, 18);
}

TEST_F(HexViewCoreTest, HoldingTheButtonBelowTheViewScrollsEveryTick) {
    Fill(16 * 20);
    const auto& cx = core.Layout().columnX;
    core.MousePress(cx[1] + 2, 5, true);
    core.MouseMove(cx[1] + 2, 200); // below the 160-pixel client area
    EXPECT_TRUE(core.AutoScrollDown);
    EXPECT_EQ(core.FirstOffset, 0);
    core.TimerTick();
    EXPECT_EQ(core.FirstOffset, 16);
    EXPECT_EQ(core.SelEnd, core.CaretOffset() - 1);
    for (int i = 0; i < 20; ++i)
        core.TimerTick();
    // Scrolling stops once the end of the data is in view.
    EXPECT_EQ(core.FirstOffset, (16 * 20 - 16 * 11));
    EXPECT_EQ(Selected(), Range(0, core.CaretOffset() - 1));
    core.MouseMove(cx[1] + 2, -5);
    EXPECT_TRUE(core.AutoScrollUp);
    core.TimerTick();
    EXPECT_EQ(core.FirstOffset, 16 * 20 - 16 * 12);
    core.MouseRelease(true);
    const int32_t first = core.FirstOffset;
    core.TimerTick();
    EXPECT_EQ(core.FirstOffset, first);
}

TEST_F(HexViewCoreTest, LineAndPageScrollingKeepTheCaretOnItsCell) {
    Fill(1000);
    core.GotoOffset(20); // row 1, col 5
    core.LineDown();
    EXPECT_EQ(core.FirstOffset, 16);
    EXPECT_EQ(core.CaretOffset(), 36);
    core.LineUp();
    EXPECT_EQ(core.FirstOffset, 0);
    core.LineUp(); // already at the top: caret to the start of its row
    EXPECT_EQ(core.CaretCol, 1);
    EXPECT_EQ(core.CaretOffset(), 16);
    core.PageDown(true);
    EXPECT_EQ(core.FirstOffset, 11 * 16);
    core.PageUp(true);
    EXPECT_EQ(core.FirstOffset, 0);
    core.PageUp(true); // at the top: caret to offset 0
    EXPECT_EQ(core.CaretOffset(), 0);
    core.ThumbTrack(503);
    EXPECT_EQ(core.FirstOffset, 496);
    core.ThumbTrack(99999);
    EXPECT_EQ(core.FirstOffset, (1000 - 11 * 16) / 16 * 16);
    core.PageDown(true); // a page from the caret's offset is still inside
    EXPECT_EQ(core.FirstOffset, (1000 - 11 * 16) / 16 * 16);
    core.GotoOffset(900);
    core.PageDown(true); // the page would pass the end: caret to the end
    EXPECT_EQ(core.CaretOffset(), 1000);
}

TEST_F(HexViewCoreTest, ScrollingPastTheLastByteBringsTheCaretBackToTheEnd) {
    Fill(20);
    core.GotoOffset(19); // row 1
    core.ThumbTrack(16); // data smaller than a page: stays at 0
    EXPECT_EQ(core.FirstOffset, 0);
    // A cell beyond the data puts the caret on the end position.
    core.PlaceCaret(10, 3);
    EXPECT_EQ(core.CaretOffset(), 20);
    EXPECT_EQ(core.CaretRow, 1);
    EXPECT_EQ(core.CaretCol, 5);
}

TEST_F(HexViewCoreTest, ViewShorterThanOneRowStillPlacesTheCaret) {
    Fill(100);
    core.ApplyLayout(MakeLayout(16, 10), 500, 10);
    ASSERT_EQ(core.Layout().rowCount, 0);
    core.GotoOffset(100);
    EXPECT_EQ(core.CaretOffset(), 100);
    core.GotoOffset(37);
    EXPECT_EQ(core.CaretOffset(), 37);
    EXPECT_EQ(core.CaretRow, 0);
    core.PageDown(true);
    core.LineDown();
    core.PlaceCaret(30, 5);
    EXPECT_LE(core.CaretOffset(), 100);
    core.MousePress(100, 100, true);
    core.MouseMove(100, 300);
    core.TimerTick();
    EXPECT_LE(core.CaretOffset(), 100);
}

TEST_F(HexViewCoreTest, HiddenColumnNeverHoldsTheCaret) {
    Fill(64);
    HexViewLayoutSettings s;
    s.hexVisible = false;
    core.HexVisible = false;
    core.ApplyLayout(MakeLayout(16, 160, s), 500, 160);
    core.GotoOffset(5);
    EXPECT_FALSE(core.CaretInHexColumn());
    Key(HexKey::Tab);
    EXPECT_FALSE(core.CaretInHexColumn());
    EXPECT_EQ(core.CaretOffset(), 5);
    core.MousePress(core.Layout().columnX[1] + 1, 5, true);
    EXPECT_FALSE(core.CaretInHexColumn());
}

TEST_F(HexViewCoreTest, NewRowWidthKeepsTheCaretOffset) {
    Fill(300);
    core.CaretCol = 17;
    core.GotoOffset(123);
    core.ApplyLayout(MakeLayout(8), 500, 160);
    EXPECT_EQ(core.CaretOffset(), 123);
    EXPECT_FALSE(core.CaretInHexColumn());
    EXPECT_EQ(core.FirstOffset % 8, 0);
    core.ApplyLayout(MakeLayout(5), 500, 160);
    EXPECT_EQ(core.CaretOffset(), 123);
    EXPECT_EQ(core.CaretCol, 5 + 123 % 5 + 1);
}

} // namespace
