#pragma once
// The hex view without its widget: the byte buffer, caret, selection, first
// visible row, key tables, mouse selection, scrolling and editing. The
// widget feeds it events and paints from its state; everything it needs of
// the screen or the clipboard goes through HexViewHost.

#include "HexViewClipboard.h"
#include "HexViewLayout.h"
#include "undoredo.h"

#include <cstdint>
#include <memory>
#include <vector>

// The keys of the key tables and the modifier sets that count.
enum class HexKey {
    Backspace,
    Tab,
    Enter,
    PageUp,
    PageDown,
    Home,
    End,
    Left,
    Right,
    Up,
    Down,
    Insert,
    Delete,
    Z,
    Y,
    Other
};
enum class HexMods { None, Shift, Ctrl, Other };

// What the view asks of its surroundings. Every call has a do-nothing default.
class HexViewHost {
public:
    virtual ~HexViewHost() = default;
    virtual void Repaint() {}
    virtual void CaretPlaced(int32_t /*offset*/) {}
    virtual void SelectionSet(bool /*active*/, int32_t /*selStart*/, int32_t /*selEnd*/) {}
    virtual void SizeChanged() {}
    virtual void Beep() {}
    virtual void InputModeChanged(bool /*insert*/) {}
    virtual void UndoRedoChanged(bool /*canUndo*/, bool /*canRedo*/) {}
    virtual void PutOnClipboard(const std::string& /*text*/,
                                const std::vector<uint8_t>& /*block*/) {}
    virtual HexClipboardContent ClipboardContent() { return {}; }
    virtual void BusyCursor(bool /*on*/) {}
};

class HexViewCore : public THistoryOwner {
public:
    explicit HexViewCore(HexViewHost& host);
    ~HexViewCore() override;

    // Shared by every hex view of the program.
    static bool InsertMode;
    static int32_t SharedMaxUndo;

    // --- buffer ---
    int32_t Size() const override { return size_; }
    uint8_t* Data() override { return bytes_.data(); }
    const uint8_t* Data() const { return bytes_.data(); }
    int32_t Capacity() const { return int32_t(bytes_.size()); }
    uint8_t ByteAt(int32_t offset) const { return bytes_[size_t(offset)]; }
    void SetLastOffset(int32_t lastOffset);
    void SetByte(int32_t offset, uint8_t value);
    void MoveBytes(int32_t first, int32_t last, int32_t to) override;
    void DeleteBytes(int32_t first, int32_t last);

    // --- layout ---
    const HexViewLayout& Layout() const { return layout_; }
    int BytesPerLine() const { return layout_.bytesPerLine; }
    // Takes a freshly computed layout (a new row width, a new size) and the
    // client size; the first row stays valid and the caret on its byte.
    void ApplyLayout(const HexViewLayout& layout, int clientWidthPx, int clientHeightPx);
    int32_t RowStart(int32_t offset) const;
    int32_t ClampFirstOffset(int32_t offset) const;

    // --- caret ---
    int32_t CaretOffset() const;
    bool CaretInHexColumn() const { return CaretCol <= layout_.bytesPerLine; }
    void GotoOffset(int32_t offset) override;
    void PlaceCaret(int col, int row);
    void HitTest(int xPx, int yPx);
    // Re-places the caret on its cell and repaints (what a redraw does).
    void DrawRows();

    // --- selection ---
    void SetSelection(bool active);
    void NormaliseSelection();
    // Cuts an active selection down to the data, keeping its direction; one
    // that lies wholly past the end ends.
    void ClampSelection();
    bool IsSelected(int32_t offset) const;

    // --- input ---
    bool KeyDown(HexKey key, HexMods mods); // true when a table had the key
    void Char(uint8_t ch);
    void MousePress(int xPx, int yPx, bool leftButton);
    void MouseMove(int xPx, int yPx);
    void MouseRelease(bool leftButton);
    void TimerTick();
    void FocusGained();
    bool MouseSelecting() const { return mouseSelecting_; }

    // --- scrolling ---
    void LineUp();
    void LineDown();
    void PageUp(bool redraw);
    void PageDown(bool redraw);
    void ThumbTrack(int32_t position);
    int HScrollMaxPx() const;
    void SetHScroll(int px); // kept within 0 .. HScrollMaxPx, then repaints

    // --- editing ---
    void TypeValue(uint8_t v);
    void DeleteSelected();
    void CutToClipboard();
    void CopyToClipboard();
    void PasteFromClipboard();
    void Undo();
    void Redo();
    THistory& History() { return *history_; }

    // --- new content ---
    // Starts new data of lastOffset + 1 bytes, keeping what the buffer held
    // there, or takes the n bytes of a file. Either way the view goes back to
    // the first byte and the steps recorded against the old data are dropped.
    void NewData(int32_t lastOffset);
    void LoadData(const uint8_t* bytes, int32_t n);

    // Settings the core consults.
    THexMode HexMode = hmHex;
    bool HexVisible = true;
    bool TextVisible = true;
    bool ReadOnly = false;

    // Caret and selection state.
    int CaretCol = 1;
    int CaretRow = 0;
    int DigitCount = 0;
    bool SelActive = false;
    int32_t SelStart = 0;
    int32_t SelEnd = 0;
    int32_t SelAnchor = 0;
    bool Modified = false;
    int32_t FirstOffset = 0;
    int HScrollPx = 0;
    bool AutoScrollUp = false;
    bool AutoScrollDown = false;

private:
    void KeyPlain(HexKey key, bool& handled);
    void KeyShift(HexKey key, bool& handled);
    void KeyCtrl(HexKey key, bool& handled);
    template <class Move> void ExtendBackward(Move move);
    template <class Move> void ExtendForward(Move move);
    void MouseSelectionRule();
    void RemoveSelection();
    void InsertGap(int32_t at, int32_t count);
    void FinishNewContent();
    void EndAfterHistoryStep();

    HexViewHost& host_;
    std::vector<uint8_t> bytes_;
    int32_t size_ = 0;
    HexViewLayout layout_;
    int clientWidthPx_ = 0;
    int clientHeightPx_ = 0;
    bool mouseSelecting_ = false;
    std::unique_ptr<THistory> history_;
};
