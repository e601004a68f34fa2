#include "HexViewCore.h"

#include <algorithm>
#include <cstring>

bool HexViewCore::InsertMode = false;
int32_t HexViewCore::SharedMaxUndo = 25;

HexViewCore::HexViewCore(HexViewHost& host)
    : host_(host), layout_(ComputeHexViewLayout({}, {}, 0)),
      history_(std::make_unique<THistory>(SharedMaxUndo, *this)) {
    history_->OnChange = [this](bool u, bool r) { host_.UndoRedoChanged(u, r); };
}

HexViewCore::~HexViewCore() = default;

// ---------------------------------------------------------------- buffer

void HexViewCore::SetLastOffset(int32_t lastOffset) {
    lastOffset = std::max(lastOffset, -1);
    if (lastOffset >= Capacity()) bytes_.resize(size_t(lastOffset) + 1, 0);
    size_ = lastOffset + 1;
    host_.SizeChanged();
}

void HexViewCore::SetByte(int32_t offset, uint8_t value) {
    if (offset >= 0 && offset < size_) bytes_[size_t(offset)] = value;
}

void HexViewCore::MoveBytes(int32_t first, int32_t last, int32_t to) {
    // The block must lie in the buffer (it may be empty, first = last + 1).
    if (first < 0 || to < 0 || last >= size_ || last < first - 1) return;
    const int32_t count = last - first + 1;
    SetLastOffset(to + count - 1);
    if (count > 0) std::memmove(bytes_.data() + to, bytes_.data() + first, size_t(count));
}

void HexViewCore::DeleteBytes(int32_t first, int32_t last) {
    if (last < size_) MoveBytes(last + 1, size_ - 1, first);
}

// ---------------------------------------------------------------- layout

void HexViewCore::ApplyLayout(const HexViewLayout& layout, int clientWidthPx, int clientHeightPx) {
    // The caret keeps its byte and its column, whatever the new rows.
    const int32_t keep = CaretOffset();
    const bool inText = !CaretInHexColumn();
    layout_ = layout;
    clientWidthPx_ = clientWidthPx;
    clientHeightPx_ = clientHeightPx;
    CaretCol = inText ? layout_.bytesPerLine + 1 : 1;
    CaretRow = 0;
    FirstOffset = ClampFirstOffset(RowStart(FirstOffset));
    HScrollPx = std::clamp(HScrollPx, 0, HScrollMaxPx());
    GotoOffset(keep);
    host_.Repaint();
}

int32_t HexViewCore::RowStart(int32_t offset) const {
    return HexViewRowStart(offset, layout_.bytesPerLine);
}

int32_t HexViewCore::ClampFirstOffset(int32_t offset) const {
    return HexViewClampFirstOffset(offset, size_, layout_.bytesPerLine, layout_.usableRows());
}

// ---------------------------------------------------------------- caret

int32_t HexViewCore::CaretOffset() const {
    const int bpl = layout_.bytesPerLine;
    int32_t o = FirstOffset + CaretRow * bpl + CaretCol - 1;
    if (CaretCol > bpl) o -= bpl;
    return o;
}

void HexViewCore::GotoOffset(int32_t a) {
    const int bpl = layout_.bytesPerLine;
    const int rows = layout_.usableRows();
    a = std::clamp(a, 0, size_);
    bool scrolled = false;
    if (a < FirstOffset || int64_t(a) >= int64_t(FirstOffset) + int64_t(rows) * bpl) {
        const int32_t d = a < FirstOffset ? RowStart(a) : ClampFirstOffset(a + bpl - rows * bpl);
        FirstOffset = ClampFirstOffset(d);
        // A view of one row, clamped to the row after the last byte, would
        // leave a byte of the last row out of view.
        if (a < FirstOffset) FirstOffset = RowStart(a);
        scrolled = true;
    }
    const int32_t rel = a - FirstOffset;
    int col = rel % bpl + 1;
    if (!CaretInHexColumn()) col += bpl;
    PlaceCaret(col, rel / bpl);

    const int x = layout_.columnX[size_t(CaretCol)];
    int h = HScrollPx;
    if (x < h) {
        h = x - layout_.hexWPx;
        scrolled = true;
    }
    if (h + clientWidthPx_ < x + layout_.hexWPx) {
        h = x + layout_.hexWPx - clientWidthPx_;
        scrolled = true;
    }
    HScrollPx = std::clamp(h, 0, HScrollMaxPx());
    if (scrolled) DrawRows();
}

void HexViewCore::PlaceCaret(int col, int row) {
    const int bpl = layout_.bytesPerLine;
    const int rows = layout_.usableRows();
    const bool inText = col > bpl;
    int64_t off = int64_t(FirstOffset) + int64_t(row) * bpl + col - 1 - (inText ? bpl : 0);
    if (off > size_) {
        // Past the end: the cell after the last byte.
        const int32_t e = size_ % (bpl * rows);
        row = e / bpl;
        col = e % bpl + 1 + (inText ? bpl : 0);
        if (size_ > bpl * rows) row = rows - 1;
    }
    if (!inText && !HexVisible) col += bpl;
    if (inText && !TextVisible) col -= bpl;
    CaretCol = col;
    CaretRow = row;
    host_.CaretPlaced(CaretOffset());
}

void HexViewCore::HitTest(int xPx, int yPx) {
    DigitCount = 0;
    const HexViewHit hit = HexViewHitTest(layout_, xPx, yPx, HScrollPx);
    if (!hit.moves) return;
    CaretCol = hit.col;
    CaretRow = hit.row;
    GotoOffset(CaretOffset());
}

void HexViewCore::DrawRows() {
    host_.Repaint();
    PlaceCaret(CaretCol, CaretRow);
}

// ---------------------------------------------------------------- selection

void HexViewCore::SetSelection(bool active) {
    host_.SelectionSet(active, SelStart, SelEnd);
    SelActive = active;
}

void HexViewCore::ClampSelection() {
    if (!SelActive) return;
    const bool forward = SelStart <= SelEnd;
    NormaliseSelection();
    if (SelEnd < SelStart) {
        // Nothing of it is left in the data.
        SelStart = SelEnd = std::min(SelStart, size_);
        SetSelection(false);
    } else if (!forward) {
        std::swap(SelStart, SelEnd);
    }
}

void HexViewCore::NormaliseSelection() {
    if (SelEnd < SelStart) std::swap(SelStart, SelEnd);
    if (SelStart < 0) SelStart = 0;
    if (SelEnd > size_ - 1) SelEnd = size_ - 1;
}

bool HexViewCore::IsSelected(int32_t offset) const {
    if (!SelActive) return false;
    const auto [lo, hi] = std::minmax(SelStart, SelEnd);
    return offset >= lo && offset <= hi;
}

// ---------------------------------------------------------------- keys

bool HexViewCore::KeyDown(HexKey key, HexMods mods) {
    bool handled = false;
    switch (mods) {
    case HexMods::None:
        KeyPlain(key, handled);
        break;
    case HexMods::Shift:
        KeyShift(key, handled);
        break;
    case HexMods::Ctrl:
        KeyCtrl(key, handled);
        break;
    case HexMods::Other:
        break;
    }
    return handled;
}

void HexViewCore::KeyPlain(HexKey key, bool& handled) {
    const int bpl = layout_.bytesPerLine;
    handled = true;
    switch (key) {
    case HexKey::Backspace:
        DigitCount = 0;
        if (SelActive) {
            DeleteSelected();
        } else if (CaretOffset() >= 1) {
            GotoOffset(CaretOffset() - 1);
            DeleteSelected();
        }
        break;
    case HexKey::Tab:
        DigitCount = 0;
        CaretCol += CaretInHexColumn() ? bpl : -bpl;
        GotoOffset(CaretOffset());
        break;
    case HexKey::Enter:
    case HexKey::Right:
        DigitCount = 0;
        GotoOffset(CaretOffset() + 1);
        break;
    case HexKey::PageUp:
        DigitCount = 0;
        PageUp(true);
        break;
    case HexKey::PageDown:
        DigitCount = 0;
        PageDown(true);
        break;
    case HexKey::Home:
        DigitCount = 0;
        GotoOffset(RowStart(CaretOffset()));
        break;
    case HexKey::End:
        DigitCount = 0;
        GotoOffset(RowStart(CaretOffset()) + bpl - 1);
        break;
    case HexKey::Left:
        DigitCount = 0;
        GotoOffset(CaretOffset() - 1);
        break;
    case HexKey::Up:
        DigitCount = 0;
        GotoOffset(CaretOffset() - bpl);
        break;
    case HexKey::Down:
        DigitCount = 0;
        GotoOffset(CaretOffset() + bpl);
        break;
    case HexKey::Insert:
        DigitCount = 0;
        InsertMode = !InsertMode;
        host_.InputModeChanged(InsertMode);
        break;
    case HexKey::Delete:
        DigitCount = 0;
        DeleteSelected();
        break;
    case HexKey::Z:
    case HexKey::Y:
    case HexKey::Other:
        handled = false;
        return;
    }
    if (SelActive) {
        SetSelection(false);
        DrawRows();
    }
}

template <class Move> void HexViewCore::ExtendBackward(Move move) {
    if (!SelActive) {
        SelAnchor = CaretOffset();
        SelStart = SelAnchor - 1;
        SetSelection(true);
    }
    move();
    const int32_t c = CaretOffset();
    SelEnd = c > SelAnchor ? c - 1 : c;
    if (c == SelAnchor) SetSelection(false);
    DrawRows();
}

template <class Move> void HexViewCore::ExtendForward(Move move) {
    if (!SelActive) {
        SelAnchor = CaretOffset();
        SelStart = SelAnchor;
        SetSelection(true);
    }
    move();
    const int32_t c = CaretOffset();
    SelEnd = c < SelAnchor ? c : c - 1;
    if (c == SelAnchor) SetSelection(false);
    DrawRows();
}

void HexViewCore::KeyShift(HexKey key, bool& handled) {
    const int bpl = layout_.bytesPerLine;
    handled = true;
    switch (key) {
    case HexKey::PageUp:
        ExtendBackward([&] { PageUp(false); });
        break;
    case HexKey::Home:
        ExtendBackward([&] { GotoOffset(RowStart(CaretOffset())); });
        break;
    case HexKey::Left:
        ExtendBackward([&] { GotoOffset(CaretOffset() - 1); });
        break;
    case HexKey::Up:
        ExtendBackward([&] { GotoOffset(CaretOffset() - bpl); });
        break;
    case HexKey::PageDown:
        ExtendForward([&] { PageDown(false); });
        break;
    case HexKey::End:
        ExtendForward([&] { GotoOffset(RowStart(CaretOffset()) + bpl - 1); });
        break;
    case HexKey::Right:
        ExtendForward([&] { GotoOffset(CaretOffset() + 1); });
        break;
    case HexKey::Down:
        ExtendForward([&] { GotoOffset(CaretOffset() + bpl); });
        break;
    case HexKey::Insert:
        PasteFromClipboard();
        break;
    default:
        handled = false;
        break;
    }
}

void HexViewCore::KeyCtrl(HexKey key, bool& handled) {
    handled = true;
    switch (key) {
    case HexKey::Home:
        GotoOffset(0);
        break;
    case HexKey::End:
        GotoOffset(size_);
        break;
    case HexKey::Insert:
        CopyToClipboard();
        break;
    case HexKey::Z:
        Undo();
        break;
    case HexKey::Y:
        Redo();
        break;
    default:
        handled = false;
        break;
    }
}

void HexViewCore::Char(uint8_t ch) {
    if (CaretInHexColumn()) {
        if (HexViewAcceptsDigit(HexMode, char(ch)))
            TypeValue(uint8_t(HexViewDigitValue(char(ch))));
        else
            host_.Beep();
        return;
    }
    if (ch < 32) return;
    TypeValue(ch);
    GotoOffset(CaretOffset() + 1);
    DigitCount = 0;
}

// ---------------------------------------------------------------- mouse

void HexViewCore::MousePress(int xPx, int yPx, bool leftButton) {
    HitTest(xPx, yPx);
    if (!leftButton) return;
    HitTest(xPx, yPx);
    mouseSelecting_ = true;
    SetSelection(false);
    SelAnchor = SelStart = SelEnd = CaretOffset();
    DrawRows();
}

void HexViewCore::MouseMove(int xPx, int yPx) {
    if (!mouseSelecting_) return;
    AutoScrollUp = yPx < 0;
    AutoScrollDown = yPx >= clientHeightPx_;
    HitTest(xPx, yPx);
    MouseSelectionRule();
    DrawRows();
}

void HexViewCore::MouseRelease(bool leftButton) {
    if (leftButton) mouseSelecting_ = false;
}

void HexViewCore::MouseSelectionRule() {
    const int32_t c = CaretOffset();
    if (SelActive) {
        if (SelAnchor < c)
            SelEnd = c - 1;
        else if (c < SelAnchor)
            SelEnd = c;
        else
            SetSelection(false);
    } else if (SelAnchor < c) {
        SetSelection(true);
        SelStart = SelAnchor;
        SelEnd = c - 1;
    } else if (c < SelAnchor) {
        SetSelection(true);
        SelStart = SelAnchor - 1;
        SelEnd = c;
    }
}

void HexViewCore::TimerTick() {
    if (!mouseSelecting_) return;
    if (AutoScrollUp) LineUp();
    if (AutoScrollDown) LineDown();
    MouseSelectionRule();
    DrawRows();
}

void HexViewCore::FocusGained() {
    GotoOffset(CaretOffset());
}

// ---------------------------------------------------------------- scrolling

void HexViewCore::LineUp() {
    const int bpl = layout_.bytesPerLine;
    if (FirstOffset <= 0) {
        FirstOffset = 0;
        CaretCol = CaretInHexColumn() ? 1 : bpl + 1;
    } else {
        FirstOffset = ClampFirstOffset(FirstOffset - bpl);
    }
    DrawRows();
}

void HexViewCore::LineDown() {
    FirstOffset = ClampFirstOffset(std::min(FirstOffset + layout_.bytesPerLine, size_ - 1));
    DrawRows();
}

void HexViewCore::PageUp(bool redraw) {
    if (FirstOffset != 0)
        FirstOffset = ClampFirstOffset(FirstOffset - layout_.pageBytes());
    else
        GotoOffset(0);
    if (redraw) DrawRows();
}

void HexViewCore::PageDown(bool redraw) {
    if (CaretOffset() + layout_.pageBytes() < size_)
        FirstOffset = ClampFirstOffset(FirstOffset + layout_.pageBytes());
    else
        GotoOffset(size_);
    if (redraw) DrawRows();
}

void HexViewCore::ThumbTrack(int32_t position) {
    FirstOffset = ClampFirstOffset(position);
    DrawRows();
}

int HexViewCore::HScrollMaxPx() const {
    return std::max(0, layout_.rightEndPx() - clientWidthPx_);
}

void HexViewCore::SetHScroll(int px) {
    HScrollPx = std::clamp(px, 0, HScrollMaxPx());
    DrawRows();
}

// ---------------------------------------------------------------- editing

void HexViewCore::InsertGap(int32_t at, int32_t count) {
    MoveBytes(at, size_ - 1, at + count);
}

// Removes the selected bytes; the selection is normalised and not empty.
void HexViewCore::RemoveSelection() {
    SetSelection(false);
    DeleteBytes(SelStart, SelEnd);
    GotoOffset(SelStart);
}

void HexViewCore::TypeValue(uint8_t v) {
    if (ReadOnly) return;
    const bool wasModified = Modified;
    int32_t a = std::min(CaretOffset(), size_);
    if (DigitCount != 0 && a < size_) {
        const int n = bytes_[size_t(a)] * HexViewRadix(HexMode) + v;
        if (n >= 256) {
            // The byte and the caret stay; the byte is finished.
            DigitCount = 0;
            host_.Beep();
        } else {
            history_->RecordOverwrite(a, uint8_t(n), wasModified, bytes_[size_t(a)]);
            bytes_[size_t(a)] = uint8_t(n);
            if (++DigitCount >= HexViewDigitsPerByte(HexMode)) {
                DigitCount = 0;
                GotoOffset(CaretOffset() + 1);
            }
        }
    } else {
        // A selection that lies past the end of the data selects nothing.
        if (SelActive) ClampSelection();
        if (SelActive) {
            NormaliseSelection();
            history_->RecordReplace(&v, 0, 1, SelStart, SelEnd - SelStart + 1, true, wasModified);
            RemoveSelection();
            InsertGap(SelStart, 1);
            GotoOffset(SelStart);
            a = CaretOffset();
        } else if (InsertMode || a == size_) {
            history_->RecordReplace(&v, 0, 1, a, 0, false, wasModified);
            InsertGap(a, 1);
        } else {
            history_->RecordOverwrite(a, v, wasModified, bytes_[size_t(a)]);
        }
        bytes_[size_t(a)] = v;
        DigitCount = 1;
    }
    Modified = true;
    DrawRows();
}

void HexViewCore::DeleteSelected() {
    if (ReadOnly) return;
    const bool wasModified = Modified;
    Modified = true;
    if (SelActive) {
        NormaliseSelection();
        if (SelEnd >= SelStart) {
            history_->RecordReplace(nullptr, 0, 0, SelStart, SelEnd - SelStart + 1, true,
                                    wasModified);
            DeleteBytes(SelStart, SelEnd);
        }
        GotoOffset(SelStart);
    } else {
        const int32_t a = CaretOffset();
        if (a < size_) {
            history_->RecordReplace(nullptr, 0, 0, a, 1, false, wasModified);
            DeleteBytes(a, a);
        }
    }
    SetSelection(false);
    DrawRows();
}

void HexViewCore::CutToClipboard() {
    if (ReadOnly) return;
    NormaliseSelection();
    if (SelEnd < SelStart) return; // nothing there to cut
    const bool wasModified = Modified;
    Modified = true;
    history_->RecordReplace(nullptr, 0, 0, SelStart, SelEnd - SelStart + 1, SelActive, wasModified);
    CopyToClipboard();
    RemoveSelection();
    DrawRows();
}

void HexViewCore::CopyToClipboard() {
    // The range as it stands, also without an active selection (then the
    // offset of the last click), read without changing the selection.
    const int32_t lo = std::max(0, std::min(SelStart, SelEnd));
    const int32_t hi = std::min(size_ - 1, std::max(SelStart, SelEnd));
    // Nothing to copy: what the user had on the clipboard stays there.
    if (hi < lo) return;
    host_.BusyCursor(true);
    const uint8_t* first = bytes_.data() + lo;
    host_.PutOnClipboard(HexViewClipboardText(first, hi - lo + 1, CaretInHexColumn()),
                         HexViewEncodeBlock(first, hi - lo + 1));
    host_.BusyCursor(false);
}

void HexViewCore::PasteFromClipboard() {
    if (ReadOnly) return;
    std::vector<uint8_t> data;
    if (!HexViewDecodeClipboard(host_.ClipboardContent(), data)) return;
    const auto n = int32_t(data.size());
    // An empty block or text pastes nothing and records nothing.
    if (n == 0) return;
    const bool wasModified = Modified;
    Modified = true;
    NormaliseSelection();
    int32_t at;
    if (SelActive && SelEnd >= SelStart) {
        at = SelStart;
        history_->RecordReplace(data.data(), 0, n, at, SelEnd - SelStart + 1, true, wasModified);
        DeleteBytes(SelStart, SelEnd);
    } else {
        at = std::min(CaretOffset(), size_);
        history_->RecordReplace(data.data(), 0, n, at, 0, false, wasModified);
    }
    InsertGap(at, n);
    std::memcpy(bytes_.data() + at, data.data(), size_t(n));
    GotoOffset(at + n);
    SelStart = at;
    SelEnd = at + n - 1;
    SetSelection(true);
    DrawRows();
}

void HexViewCore::Undo() {
    history_->Undo();
    EndAfterHistoryStep();
}

void HexViewCore::Redo() {
    history_->Redo();
    EndAfterHistoryStep();
}

// The bytes under the selection and the byte being typed are not the ones
// they were: both end.
void HexViewCore::EndAfterHistoryStep() {
    DigitCount = 0;
    if (SelActive) SetSelection(false);
    DrawRows();
}

// ---------------------------------------------------------------- new content

void HexViewCore::NewData(int32_t lastOffset) {
    SetLastOffset(lastOffset);
    FinishNewContent();
}

void HexViewCore::LoadData(const uint8_t* bytes, int32_t n) {
    SetLastOffset(n - 1);
    if (n > 0) std::memcpy(bytes_.data(), bytes, size_t(n));
    FinishNewContent();
}

void HexViewCore::FinishNewContent() {
    FirstOffset = 0;
    HScrollPx = 0;
    CaretCol = 1;
    CaretRow = 0;
    DigitCount = 0;
    GotoOffset(0);
    // Steps recorded against the old data must not be replayed on the new.
    history_->SetCapacity(history_->Capacity());
    history_->UpdateState();
    // What still lies in the new data stays selected.
    ClampSelection();
    SetSelection(SelActive);
    DrawRows();
}
