// The hex view as a widget on Qt's offscreen platform: painting through
// DrawCell, clicks and drags, scroll bars, keys, focus and properties.
#include "XHexEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <map>

namespace {

struct PaintedCell {
    QString text;
    QColor pen;
    QColor background;
};

// Records every cell of the frames it paints, keyed by (column, row).
class RecordingView : public TXHexEdit {
public:
    std::map<std::pair<int, int>, PaintedCell> cells;
    int beeps = 0;

    void DrawCell(int Column, int Row, QPainter& Canvas, const QString& Text, int CellW,
                  int CellH) override {
        cells[{Column, Row}] = {Text, Canvas.pen().color(), Canvas.background().color()};
        TXHexEdit::DrawCell(Column, Row, Canvas, Text, CellW, CellH);
    }
    void Beep() override { ++beeps; }
    const PaintedCell& Cell(int col, int row) { return cells.at({col, row}); }
    void Paint() {
        cells.clear();
        viewport()->repaint();
    }
};

// The program's settings for both of its views.
void ProgramSettings(TXHexEdit& v) {
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(11);
    v.SetHexFont(f);
    v.SetTextFont(f);
    v.SetOffsetFont(f);
    v.SetHighLightColor(QColor(0x00, 0x00, 0x80));
    v.SetHighLightTextColor(Qt::white);
    v.SetBorder(true);
    v.resize(521, 177);
}

class XHexWidgetTest : public ::testing::Test {
protected:
    void SetUp() override {
        HexViewCore::InsertMode = false;
        ProgramSettings(view);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    void Fill(int n) {
        view.SetLastOffset(n - 1);
        for (int i = 0; i < n; ++i)
            view.SetByte(i, uint8_t(i));
        view.DrawRows();
    }
    QPoint HexCellPoint(int byteInRow, int row) {
        const HexViewLayout& l = view.Core().Layout();
        return {l.columnX[size_t(byteInRow + 1)] + 2 - view.Core().HScrollPx,
                2 + row * l.rowHeightPx + l.rowHeightPx / 2};
    }
    void SendMouse(QEvent::Type type, QPoint pos, Qt::MouseButtons buttons) {
        QMouseEvent e(type, pos, view.viewport()->mapToGlobal(pos), Qt::LeftButton, buttons,
                      Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &e);
    }

    RecordingView view;
};

TEST_F(XHexWidgetTest, EmptyViewPaintsOnlyTheFirstLabel) {
    view.SetLastOffset(-1);
    view.Paint();
    EXPECT_EQ(view.Cell(0, 0).text, QStringLiteral("000000:"));
    EXPECT_EQ(view.Cell(1, 0).text, QString(9, ' '));
    EXPECT_EQ(view.Cell(17, 0).text, QString(9, ' '));
    EXPECT_EQ(view.Cell(0, 1).text, QString(12, ' '));
}

TEST_F(XHexWidgetTest, PaintedFrameShowsRowsLabelsAndColours) {
    Fill(16);
    view.SetByte(1, 0x41);
    view.SetByte(2, 0xE9);
    view.SetHexColor(Qt::darkGreen);
    view.Paint();
    const int rows = view.Core().Layout().rowCount;
    ASSERT_GE(rows, 5);
    EXPECT_EQ(view.Cell(0, 0).text, QStringLiteral("000000:"));
    EXPECT_EQ(view.Cell(1, 0).text, QStringLiteral("00"));
    EXPECT_EQ(view.Cell(2, 0).text, QStringLiteral("41"));
    EXPECT_EQ(view.Cell(17, 0).text, QStringLiteral("."));
    EXPECT_EQ(view.Cell(18, 0).text, QStringLiteral("A"));
    EXPECT_EQ(view.Cell(19, 0).text, QString(QChar(0xE9)));
    EXPECT_EQ(view.Cell(16, 0).text, QStringLiteral("0F"));
    EXPECT_EQ(view.Cell(2, 0).pen, QColor(Qt::darkGreen));
    EXPECT_EQ(view.Cell(2, 0).background, QColor(Qt::white));
    // The row that starts at the end still has its label; later ones do not.
    EXPECT_EQ(view.Cell(0, 1).text, QStringLiteral("000010:"));
    EXPECT_EQ(view.Cell(1, 1).text, QString(9, ' '));
    EXPECT_EQ(view.Cell(0, 2).text, QString(12, ' '));
    // RowCount + 1 rows are painted, the last one cut off.
    EXPECT_TRUE(view.cells.count({0, rows}));
    EXPECT_FALSE(view.cells.count({0, rows + 1}));

    view.SetTextAllChars(true);
    view.Paint();
    EXPECT_EQ(view.Cell(17, 0).text, QString(QChar(0)));
    view.SetHexMode(hmBin);
    view.Paint();
    EXPECT_EQ(view.Cell(2, 0).text, QStringLiteral("01000001"));
    view.SetOffsetMode(omDec);
    view.Paint();
    EXPECT_EQ(view.Cell(0, 1).text, QStringLiteral("00000016:"));
}

TEST_F(XHexWidgetTest, SelectedCellsUseTheHighlightColours) {
    Fill(64);
    view.Core().GotoOffset(3);
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    view.Paint();
    for (int col : {4, 5, 20, 21}) {
        EXPECT_EQ(view.Cell(col, 0).background, QColor(0, 0, 0x80)) << col;
        EXPECT_EQ(view.Cell(col, 0).pen, QColor(Qt::white)) << col;
    }
    EXPECT_EQ(view.Cell(3, 0).background, QColor(Qt::white));
    EXPECT_EQ(view.Cell(6, 0).background, QColor(Qt::white));
}

TEST_F(XHexWidgetTest, ScreenshotShowsTheSelectionUnderASelectedByte) {
    Fill(256);
    const QPoint p = HexCellPoint(5, 2);
    SendMouse(QEvent::MouseButtonPress, p, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, HexCellPoint(9, 2), Qt::LeftButton);
    SendMouse(QEvent::MouseButtonRelease, HexCellPoint(9, 2), Qt::NoButton);
    ASSERT_TRUE(view.Core().SelActive);
    const QImage shot = view.grab().toImage();
    shot.save(QStringLiteral("xhex_selection.png"));
    ASSERT_EQ(shot.size(), QSize(521, 177));
    // A pixel inside the cell of byte 0x26 (row 2, byte 6), left of its digits'
    // ink, and the gap after it: both navy.
    const QPoint inView = view.viewport()->mapTo(&view, HexCellPoint(6, 2));
    const HexViewLayout& l = view.Core().Layout();
    int navy = 0;
    for (int x = inView.x() - 2; x < inView.x() - 2 + l.hexWPx + 4; ++x)
        if (shot.pixelColor(x, inView.y()) == QColor(0, 0, 0x80)) ++navy;
    EXPECT_GT(navy, (l.hexWPx + 4) / 2);
    // An unselected byte of the same row is on white.
    const QPoint plain = view.viewport()->mapTo(&view, HexCellPoint(12, 2));
    EXPECT_EQ(shot.pixelColor(plain.x() - 1, plain.y()), QColor(Qt::white));
}

TEST_F(XHexWidgetTest, CharactersStayInsideTheirCells) {
    // Wide, tall and unassigned characters, each followed by a blank one; the
    // row below lies past the end of the data.
    const uint8_t wide[8] = {0x81, 'W', 'g', 0xC2, '@', 0x9D, 'j', 0xC5};
    Fill(16);
    for (int k = 0; k < 8; ++k) {
        view.SetByte(2 * k, wide[k]);
        view.SetByte(2 * k + 1, ' ');
    }
    view.SetTextAllChars(true);
    const QImage shot = view.grab().toImage();
    shot.save(QStringLiteral("xhex_cells.png"));
    const HexViewLayout& l = view.Core().Layout();
    auto blank = [&](int x0, int x1, int y0, int y1) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                if (shot.pixelColor(view.viewport()->mapTo(&view, QPoint(x, y))) != Qt::white)
                    return false;
        return true;
    };
    const int top = 2, rowH = l.rowHeightPx;
    for (int k = 0; k < 8; ++k) {
        const size_t col = size_t(17 + 2 * k + 1);
        EXPECT_TRUE(blank(l.columnX[col], l.columnX[col + 1], top, top + rowH)) << k;
    }
    EXPECT_TRUE(blank(l.columnX[17], l.rightEndPx(), top + rowH, top + 2 * rowH));
}

TEST_F(XHexWidgetTest, ClicksPlaceTheCaret) {
    Fill(64);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, HexCellPoint(7, 1));
    EXPECT_EQ(view.CaretOffset(), 23);
    EXPECT_FALSE(view.Core().SelActive);
    EXPECT_EQ(view.Core().SelStart, 23);
    EXPECT_EQ(view.Core().SelEnd, 23);
    EXPECT_TRUE(view.hasFocus());
    // Right button: the caret moves too, no selection starts.
    QTest::mouseClick(view.viewport(), Qt::RightButton, {}, HexCellPoint(2, 0));
    EXPECT_EQ(view.CaretOffset(), 2);
}

TEST_F(XHexWidgetTest, DragBelowTheWindowScrollsAndSelects) {
    Fill(16 * 40);
    SendMouse(QEvent::MouseButtonPress, HexCellPoint(0, 0), Qt::LeftButton);
    SendMouse(QEvent::MouseMove, QPoint(HexCellPoint(0, 0).x(), view.viewport()->height() + 20),
              Qt::LeftButton);
    const int32_t first = view.Core().FirstOffset;
    QTest::qWait(260);
    EXPECT_GT(view.Core().FirstOffset, first);
    EXPECT_EQ(view.Core().FirstOffset % 16, 0);
    EXPECT_TRUE(view.Core().SelActive);
    EXPECT_EQ(view.Core().SelEnd, view.CaretOffset() - 1);
    EXPECT_EQ(view.verticalScrollBar()->value(), view.Core().FirstOffset);
    SendMouse(QEvent::MouseButtonRelease, HexCellPoint(0, 0), Qt::NoButton);
    const int32_t stopped = view.Core().FirstOffset;
    QTest::qWait(120);
    EXPECT_EQ(view.Core().FirstOffset, stopped);
}

TEST_F(XHexWidgetTest, VerticalScrollBarActions) {
    Fill(16 * 100);
    QScrollBar* v = view.verticalScrollBar();
    const int page = view.Core().Layout().pageBytes();
    v->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(view.Core().FirstOffset, 16);
    v->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(view.Core().FirstOffset, 16 + page);
    EXPECT_EQ(v->value(), 16 + page);
    v->triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(view.Core().FirstOffset, page);
    v->setSliderPosition(803);
    v->triggerAction(QAbstractSlider::SliderMove);
    EXPECT_EQ(view.Core().FirstOffset, 800);
    v->triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(view.Core().FirstOffset, 800);
    EXPECT_EQ(v->value(), 800);
}

TEST_F(XHexWidgetTest, HorizontalBarMovesTheViewOnRelease) {
    Fill(64);
    view.resize(200, 177);
    QApplication::processEvents();
    QScrollBar* h = view.horizontalScrollBar();
    ASSERT_GT(h->maximum(), 0);
    h->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(view.Core().HScrollPx, 10);
    view.Paint();
    // Cells are painted at unscrolled positions on a shifted canvas.
    EXPECT_EQ(view.Cell(1, 0).text, QStringLiteral("00"));
    h->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(view.Core().HScrollPx, view.Core().HScrollMaxPx());
}

TEST_F(XHexWidgetTest, KeysReachTheTables) {
    Fill(64);
    view.setFocus();
    view.Core().GotoOffset(5);
    QTest::keyClick(&view, Qt::Key_Tab);
    EXPECT_FALSE(view.Core().CaretInHexColumn());
    EXPECT_EQ(view.CaretOffset(), 5);
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(view.CaretOffset(), 64);
    QTest::keyClick(&view, Qt::Key_Left, Qt::ShiftModifier | Qt::AltModifier);
    EXPECT_EQ(view.CaretOffset(), 64);
    // Keys the tables do not name neither move the caret nor scroll.
    view.resize(300, 60);
    QApplication::processEvents();
    const int32_t first = view.Core().FirstOffset;
    const int h = view.Core().HScrollPx;
    ASSERT_GT(first, 0);
    ASSERT_GT(h, 0);
    QTest::keyClick(&view, Qt::Key_Up, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_Left, Qt::AltModifier);
    EXPECT_EQ(view.CaretOffset(), 64);
    EXPECT_EQ(view.Core().FirstOffset, first);
    EXPECT_EQ(view.Core().HScrollPx, h);
    QTest::keyClick(&view, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(view.CaretOffset(), 0);
    QTest::keyClick(&view, Qt::Key_Tab);
    view.SetReadOnly(true);
    QTest::keyClick(&view, 'g');
    EXPECT_EQ(view.beeps, 1);
    QTest::keyClick(&view, 'A');
    EXPECT_EQ(view.beeps, 1);
}

TEST_F(XHexWidgetTest, TextGoesInAndOutInTheCodePageTheTextColumnShows) {
    Fill(8);
    view.setFocus();
    view.Core().GotoOffset(2);
    QTest::keyClick(&view, Qt::Key_Tab);
    for (const char16_t c : {char16_t(0x20AC), char16_t(0x0142)}) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(QChar(c)));
        QApplication::sendEvent(&view, &press);
    }
    EXPECT_EQ(view.ByteAt(2), 0x80);
    EXPECT_EQ(view.ByteAt(3), '?');
    view.Core().SelStart = 2;
    view.Core().SelEnd = 2;
    view.CopyToClipboard();
    EXPECT_EQ(QApplication::clipboard()->text(), QString(QChar(0x20AC)));
    QApplication::clipboard()->setText(QString(QChar(0x201C)) + QChar(0x0142));
    view.Core().GotoOffset(6);
    view.PasteFromClipboard();
    EXPECT_EQ(view.ByteAt(6), 0x93);
    EXPECT_EQ(view.ByteAt(7), '?');
}

TEST_F(XHexWidgetTest, TabLeavesTheViewWhenItIsNotWanted) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* first = new TXHexEdit;
    // The state of the history reaches a handler assigned after construction.
    std::vector<std::pair<bool, bool>> notes;
    first->OnUndoRedo = [&](TXHexEdit*, bool u, bool r) { notes.emplace_back(u, r); };
    auto* second = new TXHexEdit;
    layout->addWidget(first);
    layout->addWidget(second);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(notes, (std::vector<std::pair<bool, bool>>{{false, false}}));
    first->SetWantTab(false);
    first->setFocus();
    QTest::keyClick(first, Qt::Key_Tab);
    EXPECT_TRUE(second->hasFocus());
    // With no other control to take the focus, Tab does nothing at all.
    view.SetWantTab(false);
    view.activateWindow();
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Tab);
    EXPECT_TRUE(view.Core().CaretInHexColumn());
}

TEST_F(XHexWidgetTest, FocusRaisesEventsAndEnablesPaste) {
    QWidget other;
    other.show();
    int got = 0, lost = 0, paste = 0;
    view.OnGetFocus = [&](TXHexEdit* s) { got += s == &view; };
    view.OnKillFocus = [&](TXHexEdit*) { ++lost; };
    view.OnPasteEnable = [&](TXHexEdit*) { ++paste; };
    QApplication::clipboard()->setText(QStringLiteral("abc"));
    view.activateWindow();
    view.setFocus();
    QApplication::processEvents();
    EXPECT_EQ(got, 1);
    EXPECT_EQ(paste, 1);
    EXPECT_TRUE(view.PasteItem()->isEnabled());
    const int before = lost;
    view.clearFocus();
    EXPECT_EQ(lost, before + 1);
}

TEST_F(XHexWidgetTest, DrawRowsRaisesMoveCaretAndSelectionEventsCarryTheRange) {
    Fill(32);
    std::vector<int> moves;
    std::vector<std::tuple<bool, int, int>> sels;
    view.OnMoveCaret = [&](TXHexEdit*, int o) { moves.push_back(o); };
    view.OnChangeSelection = [&](TXHexEdit*, bool a, int s, int e) { sels.emplace_back(a, s, e); };
    view.Core().GotoOffset(7);
    moves.clear();
    view.DrawRows();
    EXPECT_EQ(moves, std::vector<int>{7});
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Right, Qt::ShiftModifier);
    ASSERT_FALSE(sels.empty());
    EXPECT_EQ(sels.front(), std::make_tuple(true, 7, 0));
    EXPECT_TRUE(view.CutItem()->isEnabled());
    EXPECT_TRUE(view.CopyItem()->isEnabled());
    EXPECT_TRUE(view.DeleteItem()->isEnabled());
    QTest::keyClick(&view, Qt::Key_Right);
    EXPECT_FALSE(view.CopyItem()->isEnabled());
}

TEST_F(XHexWidgetTest, PropertiesIgnoreValuesOutOfRange) {
    view.SetBytesPerLine(0);
    view.SetBytesPerLine(255);
    EXPECT_EQ(view.BytesPerLine(), 16);
    view.SetHexGroup(0);
    EXPECT_EQ(view.HexGroup(), 1);
    view.SetOffsetMode(7);
    EXPECT_EQ(view.OffsetMode(), omHex);
    view.SetHexMode(-3);
    EXPECT_EQ(view.HexMode(), hmHex);
    view.SetTextVisible(false);
    view.SetHexVisible(false);
    EXPECT_TRUE(view.TextVisible());
    EXPECT_FALSE(view.HexVisible());
    view.SetTextVisible(false);
    EXPECT_TRUE(view.HexVisible());
    view.SetHexGap(-1);
    const int m = QFontMetrics(view.TextFont()).horizontalAdvance(QLatin1Char('M'));
    EXPECT_EQ(view.HexGap(), m / 2);
}

TEST_F(XHexWidgetTest, GapsTakeEveryShortIntValue) {
    Fill(40);
    view.SetHexGap(-2);
    view.SetHexPos(-5);
    view.SetTextPos(-128);
    EXPECT_EQ(view.HexGap(), -2);
    EXPECT_EQ(view.HexPos(), -5);
    EXPECT_EQ(view.TextPos(), -128);
    view.SetHexGap(-129);
    view.SetHexPos(128);
    view.SetTextPos(-200);
    EXPECT_EQ(view.HexGap(), -2);
    EXPECT_EQ(view.HexPos(), -5);
    EXPECT_EQ(view.TextPos(), -128);
    const auto& x = view.Core().Layout().columnX;
    EXPECT_EQ(x[2] - x[1], view.Core().Layout().hexWPx - 2);
    view.Paint();
    EXPECT_EQ(view.Cell(1, 0).text, QStringLiteral("00"));
}

TEST_F(XHexWidgetTest, BytesPerLineKeepsTheCaretOffsetAndRelaysTheRows) {
    Fill(200);
    view.Core().GotoOffset(77);
    view.SetBytesPerLine(10);
    EXPECT_EQ(view.CaretOffset(), 77);
    EXPECT_EQ(view.Core().Layout().columnX.size(), 22u);
    view.Paint();
    EXPECT_EQ(view.Cell(0, 1).text, QStringLiteral("00000A:"));
    EXPECT_EQ(view.Cell(11, 0).text, QStringLiteral("."));
}

TEST_F(XHexWidgetTest, MaxUndoIsSharedAndAcceptsFiveTo4999) {
    view.SetMaxUndo(4);
    view.SetMaxUndo(5000);
    EXPECT_EQ(TXHexEdit::MaxUndo(), 25);
    view.SetMaxUndo(40);
    TXHexEdit later;
    EXPECT_EQ(later.MaxUndo(), 40);
    EXPECT_EQ(later.History().Capacity(), 40);
    view.SetMaxUndo(25);
}

TEST_F(XHexWidgetTest, ScrollBarsCanBeSwitchedOff) {
    Fill(16 * 100);
    view.SetVertScrollBar(false);
    view.SetHorzScrollBar(false);
    QApplication::processEvents();
    EXPECT_FALSE(view.verticalScrollBar()->isVisible());
    EXPECT_FALSE(view.horizontalScrollBar()->isVisible());
    view.SetVertScrollBar(true);
    QApplication::processEvents();
    EXPECT_TRUE(view.verticalScrollBar()->isVisible());
}

} // namespace
