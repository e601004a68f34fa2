// Text drag and drop of the formatted edit control, driven with QDropEvent
// and QMimeData on the offscreen platform. The drag loop itself is replaced
// by a field that delivers its drag straight to a chosen target.
#include "AdvEdDD.h"
#include "AdvEdit.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Delivers a drop to another field at a given point, in place of the
// platform's drag loop.
Qt::DropAction DropOnto(TAdvEdit* target, const QPoint& at, const QMimeData* data,
                        Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, mods);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return Qt::IgnoreAction;
    QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, mods);
    QApplication::sendEvent(target, &move);
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, mods);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
}

class DraggingEdit : public TAdvEdit {
public:
    using TAdvEdit::TAdvEdit;
    TAdvEdit* target = nullptr;
    QPoint at;
    QString dragged;

protected:
    Qt::DropAction StartDrag(QMimeData* data, Qt::DropActions) override {
        std::unique_ptr<QMimeData> owned(data);
        dragged = TEnumFormats(data).Text();
        EXPECT_TRUE(DraggingFromSelf());
        return target ? DropOnto(target, at, data) : Qt::IgnoreAction;
    }
};

class DragDrop : public ::testing::Test {
protected:
    void SetUp() override {
        window.resize(300, 100);
        source = new DraggingEdit(&window);
        source->setGeometry(10, 10, 280, 24);
        dest = new TAdvEdit(&window);
        dest->setGeometry(10, 50, 280, 24);
        for (TAdvEdit* e : {static_cast<TAdvEdit*>(source), dest}) {
            e->SetOleDropSource(true);
            e->SetOleDropTarget(true);
        }
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        source->setFocus();
        QApplication::processEvents();
    }

    // Point in the middle of character `index` of a field's shown text.
    static QPoint At(TAdvEdit* e, int index) {
        const QPoint a = e->CharPos(index), b = e->CharPos(index + 1);
        return QPoint((a.x() + b.x()) / 2, a.y() + 4);
    }
    // Point at the boundary before character `index`.
    static QPoint Before(TAdvEdit* e, int index) { return e->CharPos(index) + QPoint(0, 4); }

    // Presses inside the selection and moves: starts the field's drag.
    void Drag(int pressIndex) {
        QTest::mousePress(source, Qt::LeftButton, {}, At(source, pressIndex));
        EXPECT_TRUE(source->DragPending());
        QMouseEvent move(QEvent::MouseMove, QPointF(At(source, pressIndex) + QPoint(5, 0)),
                         source->mapToGlobal(QPointF(At(source, pressIndex))), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(source, &move);
        EXPECT_FALSE(source->DragPending());
    }

    QWidget window;
    DraggingEdit* source = nullptr;
    TAdvEdit* dest = nullptr;
};

TEST_F(DragDrop, MoveBetweenTwoFields) {
    source->SetText("hello world");
    dest->SetText("ab");
    source->setSelection(6, 5);
    source->target = dest;
    source->at = Before(dest, 1);
    Drag(7);
    EXPECT_EQ(source->dragged, "world");
    EXPECT_EQ(dest->Text(), "aworldb");
    EXPECT_EQ(source->Text(), "hello ");
    EXPECT_EQ(dest->DropCaret(), QPoint(-1, -1));
}

TEST_F(DragDrop, MoveInsideOneField) {
    source->SetText("one two");
    source->setSelection(0, 3);
    source->target = source;
    source->at = Before(source, 7);
    Drag(1);
    EXPECT_EQ(source->Text(), " twoone");
}

TEST_F(DragDrop, DropWithCtrlIsACopy) {
    source->SetText("one two");
    source->setSelection(0, 3);
    QMimeData data;
    data.setText("one");
    const Qt::DropAction effect = DropOnto(source, Before(source, 7), &data, Qt::ControlModifier);
    EXPECT_EQ(effect, Qt::CopyAction);
    EXPECT_EQ(source->Text(), "one twoone");
}

TEST_F(DragDrop, DroppingOntoOwnSelectionDoesNothing) {
    source->SetText("one two");
    source->setSelection(4, 3);
    source->target = source;
    source->at = At(source, 5);
    Drag(5);
    EXPECT_EQ(source->Text(), "one two");
}

TEST_F(DragDrop, OnlyTheFirstLineIsInserted) {
    dest->SetText("");
    QMimeData data;
    data.setText("first\r\nsecond");
    EXPECT_EQ(DropOnto(dest, QPoint(5, 10), &data), Qt::MoveAction);
    EXPECT_EQ(dest->Text(), "first");
    data.setText("up\ndown");
    DropOnto(dest, QPoint(200, 10), &data);
    EXPECT_EQ(dest->Text(), "firstup");
}

TEST_F(DragDrop, DropsEnterOnTheTermsOfTyping) {
    dest->SetEditType(etHex);
    dest->SetPrefix("0x");
    dest->SetText("A5");
    QMimeData data;
    data.setText("xyz");
    EXPECT_EQ(DropOnto(dest, QPoint(250, 10), &data), Qt::IgnoreAction);
    EXPECT_EQ(dest->ShownText(), "0xA5");
    data.setText("c");
    DropOnto(dest, Before(dest, 1), &data); // onto the prefix: lands in the value
    EXPECT_EQ(dest->ShownText(), "0xcA5");
    dest->setReadOnly(true);
    DropOnto(dest, QPoint(250, 10), &data);
    EXPECT_EQ(dest->ShownText(), "0xcA5");
}

TEST_F(DragDrop, FilesAcceptedButIgnoredOtherDataRefused) {
    dest->SetText("keep");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/a.hex")});
    EXPECT_EQ(DropOnto(dest, QPoint(5, 10), &files), Qt::MoveAction);
    EXPECT_EQ(dest->Text(), "keep");
    QMimeData image;
    image.setData("image/png", QByteArray("x"));
    EXPECT_EQ(DropOnto(dest, QPoint(5, 10), &image), Qt::IgnoreAction);
    EXPECT_EQ(dest->Text(), "keep");
}

TEST_F(DragDrop, DropCaretFollowsAndLeaves) {
    dest->SetText("abcdef");
    QMimeData data;
    data.setText("x");
    QDragEnterEvent enter(Before(dest, 2), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(dest, &enter);
    QDragMoveEvent move(Before(dest, 2), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                        Qt::NoModifier);
    QApplication::sendEvent(dest, &move);
    EXPECT_EQ(dest->DropCaret(), dest->CharPos(2));
    QDragMoveEvent far(QPoint(270, 10), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                       Qt::NoModifier);
    QApplication::sendEvent(dest, &far);
    EXPECT_EQ(dest->DropCaret(), dest->CharPos(6)); // past the end: after the last character
    QDragLeaveEvent leave;
    QApplication::sendEvent(dest, &leave);
    EXPECT_EQ(dest->DropCaret(), QPoint(-1, -1));
    // In a field scrolled to the end of a long text, positions are where the
    // text is drawn.
    dest->SetText(QString(200, QLatin1Char('W')));
    dest->end(false);
    dest->grab();
    EXPECT_GT(dest->CharPos(200).x(), dest->width() / 2);
    EXPECT_LT(dest->CharPos(200).x(), dest->width());
}

TEST_F(DragDrop, PressAndReleaseWithoutMovePlacesCaret) {
    source->SetText("hello world");
    source->setSelection(0, 11);
    QTest::mousePress(source, Qt::LeftButton, {}, Before(source, 3));
    EXPECT_TRUE(source->DragPending());
    EXPECT_EQ(source->selectedText(), "hello world");
    QTest::mouseRelease(source, Qt::LeftButton, {}, Before(source, 3));
    EXPECT_FALSE(source->DragPending());
    EXPECT_FALSE(source->hasSelectedText());
    EXPECT_EQ(source->cursorPosition(), 3);
}

TEST_F(DragDrop, MoveWithoutDragSourceEndsThePendingDragAndKeepsTheSelection) {
    source->SetOleDropSource(false);
    source->SetText("hello world");
    source->setSelection(0, 11);
    QTest::mousePress(source, Qt::LeftButton, {}, Before(source, 3));
    EXPECT_TRUE(source->DragPending());
    QMouseEvent move(QEvent::MouseMove, QPointF(Before(source, 6)),
                     source->mapToGlobal(QPointF(Before(source, 6))), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(source, &move);
    EXPECT_FALSE(source->DragPending());
    QTest::mouseRelease(source, Qt::LeftButton, {}, Before(source, 6));
    EXPECT_EQ(source->selectedText(), "hello world");
}

TEST_F(DragDrop, TargetSwitchedOffTakesNothing) {
    dest->SetOleDropTarget(false);
    EXPECT_FALSE(dest->acceptDrops());
    dest->SetText("ab");
    QMimeData data;
    data.setText("zz");
    DropOnto(dest, QPoint(5, 10), &data);
    EXPECT_EQ(dest->Text(), "ab");
}

TEST_F(DragDrop, FieldWithoutDropTargetTakesNothingFromTheStart) {
    TAdvEdit fresh(&window);
    fresh.setGeometry(10, 80, 280, 24);
    fresh.SetEditType(etHex);
    fresh.show();
    EXPECT_FALSE(fresh.acceptDrops());
    fresh.SetText("A5");
    QMimeData data;
    data.setText("zz");
    DropOnto(&fresh, QPoint(5, 10), &data);
    EXPECT_EQ(fresh.Text(), "A5");
}

TEST(SourceData, ServesEightBitAndUtf16Only) {
    TSourceDataObject data(QStringLiteral("A\u00e9"));
    EXPECT_EQ(data.formats(), TSourceEnumFormatEtc::Formats());
    EXPECT_EQ(data.formats().size(), 2);
    EXPECT_EQ(data.text(), QStringLiteral("A\u00e9"));
    const QByteArray utf16 = data.data("text/plain;charset=utf-16");
    ASSERT_EQ(utf16.size(), 4);
    EXPECT_EQ(static_cast<unsigned char>(utf16[0]), 'A');
    EXPECT_EQ(static_cast<unsigned char>(utf16[2]), 0xE9);
    EXPECT_TRUE(data.data("text/html").isEmpty());
    EXPECT_FALSE(data.hasFormat("text/html"));
    EXPECT_EQ(TEnumFormats(&data).Text(), QStringLiteral("A\u00e9"));
}

TEST(DropSourceFeedback, LastNoneEndsAsCancel) {
    TAEDropSource source;
    source.Feedback(Qt::MoveAction);
    EXPECT_EQ(source.Finish(Qt::MoveAction), Qt::MoveAction);
    source.Feedback(Qt::IgnoreAction);
    EXPECT_TRUE(source.LastWasNone());
    EXPECT_EQ(source.Finish(Qt::MoveAction), Qt::IgnoreAction);
    EXPECT_EQ(DropEffect(true, Qt::ControlModifier), Qt::CopyAction);
    EXPECT_EQ(DropEffect(false, Qt::ControlModifier), Qt::IgnoreAction);
}

} // namespace
