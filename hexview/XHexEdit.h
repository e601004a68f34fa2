#pragma once
// TXHexEdit: a self-drawn hex view and small hex editor. Rows show the
// offset, the bytes as numbers and the bytes as characters. The arithmetic
// lives in HexViewCore and HexViewLayout; this class turns Qt events into
// calls of the core and paints its state through DrawCell.

#include "HexViewCore.h"
#include "HexViewGlyphs.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QString>
#include <QTimer>

#include <functional>

class QAction;
class QMenu;
class QPrinter;

// The toolkit's bevel around a control: none, or flat (a shadow line with a
// face-coloured line inside it).
enum TBevelKind { bkNone, bkFlat };

class TXHexEdit;
using TEventUndoRedo = std::function<void(TXHexEdit* Sender, bool bEnableUndo, bool bEnableRedo)>;
using TEventChangeSelection =
    std::function<void(TXHexEdit* Sender, bool Sel, int StartSel, int EndSel)>;
using TEventMoveCaret = std::function<void(TXHexEdit* Sender, int offset)>;
using TEventChangeInputMode = std::function<void(TXHexEdit* Sender, bool bIns)>;
using TEventGetFocus = std::function<void(TXHexEdit* Sender)>;
using TEventKillFocus = std::function<void(TXHexEdit* Sender)>;
using TEventActivate = std::function<void(TXHexEdit* Sender)>;

class TXHexEdit : public QAbstractScrollArea, protected HexViewHost {
    Q_OBJECT
public:
    explicit TXHexEdit(QWidget* parent = nullptr);
    ~TXHexEdit() override;

    // --- what the main window uses ---
    // Makes the buffer hold offsets 0 .. LastOffset (-1: empty).
    void SetLastOffset(int LastOffset);
    // Stores a byte inside 0 .. Size-1; no redraw, no history, ReadOnly aside.
    void SetByte(int Offset, uint8_t Value);
    // Redraws every visible row and places the caret again.
    void DrawRows();

    // --- state ---
    int Size() const { return core_.Size(); }
    uint8_t ByteAt(int offset) const { return core_.ByteAt(offset); }
    int CaretOffset() const { return core_.CaretOffset(); }
    bool Modified() const { return core_.Modified; }
    HexViewCore& Core() { return core_; }
    const HexViewCore& Core() const { return core_; }
    THistory& History() { return core_.History(); }

    // --- operations ---
    void ComputeLayout();
    void GotoOffset(int Offset) { core_.GotoOffset(Offset); }
    void SetSelection(bool Active) { core_.SetSelection(Active); }
    void TypeValue(uint8_t V) { core_.TypeValue(V); }
    void DeleteSelected() { core_.DeleteSelected(); }
    void CutToClipboard() { core_.CutToClipboard(); }
    void CopyToClipboard() { core_.CopyToClipboard(); }
    void PasteFromClipboard() { core_.PasteFromClipboard(); }
    void Undo() { core_.Undo(); }
    void Redo() { core_.Redo(); }

    // The canvas of a cell: Column 0 is the offset, 1 .. bpl the bytes,
    // bpl+1 .. 2*bpl their characters. The painter carries the font, the
    // text colour (pen) and the background colour (background brush). When
    // the rows call it, the default draws the glyphs of a cell that fits
    // together with those of the rest of its column, after the column's
    // last cell; whatever a cell shows stays inside it.
    virtual void DrawCell(int Column, int Row, QPainter& Canvas, const QString& Text, int CellW,
                          int CellH);

    // --- properties ---
    int BytesPerLine() const { return settings_.bytesPerLine; }
    void SetBytesPerLine(int v);
    TOffsetMode OffsetMode() const { return offsetMode_; }
    void SetOffsetMode(int v);
    THexMode HexMode() const { return core_.HexMode; }
    void SetHexMode(int v);
    int HexGroup() const { return settings_.hexGroup; }
    void SetHexGroup(int v);
    int HexGap() const { return settings_.hexGapPx; }
    void SetHexGap(int v);
    int HexPos() const { return settings_.hexPosPx; }
    void SetHexPos(int v);
    int TextPos() const { return settings_.textPosPx; }
    void SetTextPos(int v);
    bool OffsetVisible() const { return settings_.offsetVisible; }
    void SetOffsetVisible(bool v);
    bool HexVisible() const { return settings_.hexVisible; }
    void SetHexVisible(bool v);
    bool TextVisible() const { return settings_.textVisible; }
    void SetTextVisible(bool v);
    bool TextAllChars() const { return textAllChars_; }
    void SetTextAllChars(bool v);
    QFont HexFont() const { return hexFont_; }
    void SetHexFont(const QFont& f);
    QFont TextFont() const { return textFont_; }
    void SetTextFont(const QFont& f);
    QFont OffsetFont() const { return offsetFont_; }
    void SetOffsetFont(const QFont& f);
    QColor HexColor() const { return hexColor_; }
    void SetHexColor(const QColor& c);
    QColor OffsetColor() const { return offsetColor_; }
    void SetOffsetColor(const QColor& c);
    QColor TextColor() const { return textColor_; }
    void SetTextColor(const QColor& c);
    QColor BGColor() const { return bgColor_; }
    void SetBGColor(const QColor& c);
    QColor HighLightColor() const { return highLightColor_; }
    void SetHighLightColor(const QColor& c);
    QColor HighLightTextColor() const { return highLightTextColor_; }
    void SetHighLightTextColor(const QColor& c);
    bool ReadOnly() const { return core_.ReadOnly; }
    void SetReadOnly(bool v) { core_.ReadOnly = v; }
    bool WantTab() const { return wantTab_; }
    void SetWantTab(bool v) { wantTab_ = v; }
    static int MaxUndo() { return HexViewCore::SharedMaxUndo; }
    void SetMaxUndo(int v);
    bool Border() const { return border_; }
    void SetBorder(bool v);
    bool ClientEdge() const { return clientEdge_; }
    void SetClientEdge(bool v);
    TBevelKind BevelKind() const { return bevelKind_; }
    void SetBevelKind(TBevelKind v);
    // Pixels of border, client edge and bevel on each side.
    int FrameWidthPx() const;
    // Whether a whole row fits beside the vertical scroll bar, so that no
    // horizontal bar appears once the data is longer than the view.
    bool RowFits() const;
    bool VertScrollBar() const { return vertScrollBar_; }
    void SetVertScrollBar(bool v);
    bool HorzScrollBar() const { return horzScrollBar_; }
    void SetHorzScrollBar(bool v);
    static bool InsertMode() { return HexViewCore::InsertMode; }
    // Setting a name loads that file; an empty name starts new data, named
    // "Untitled".
    QString FileName() const { return fileName_; }
    void SetFileName(const QString& Name);

    // --- data and files ---
    // Starts new data: the buffer holds offsets 0 .. LastOffset.
    void NewData(const QString& Name, int LastOffset);
    // Replaces the data with a file's bytes; False (view unchanged) when the
    // file cannot be read.
    bool LoadFromFile(const QString& Name);
    // Writes bytes 0 .. Size-1; an empty Name means FileName. A successful
    // save under another name makes it the FileName.
    bool SaveToFile(const QString& Name);
    // Asks for the printer and range, then prints.
    void PrintData();
    // Prints on a printer already set up: the selected rows, or everything.
    void PrintRows(QPrinter& Printer, bool SelectionOnly);
    // The commands of the context menu that ask the user first.
    void OpenCommand();
    void SaveCommand();
    void SaveAsCommand();

    // Context-menu switches.
    bool MenuUndoRedo() const { return menuUndoRedo_; }
    void SetMenuUndoRedo(bool v);
    bool MenuCutCopyPaste() const { return menuCutCopyPaste_; }
    void SetMenuCutCopyPaste(bool v);
    bool MenuDelete() const { return menuDelete_; }
    void SetMenuDelete(bool v);
    bool MenuBytesPerLine() const { return menuBytesPerLine_; }
    void SetMenuBytesPerLine(bool v);
    bool MenuNew() const { return menuNew_; }
    void SetMenuNew(bool v);
    bool MenuOpen() const { return menuOpen_; }
    void SetMenuOpen(bool v);
    bool MenuSave() const { return menuSave_; }
    void SetMenuSave(bool v);
    bool MenuSaveAs() const { return menuSaveAs_; }
    void SetMenuSaveAs(bool v);
    bool MenuPrint() const { return menuPrint_; }
    void SetMenuPrint(bool v);
    bool MenuClose() const { return menuClose_; }
    void SetMenuClose(bool v);

    // The context menu and its items, in menu order.
    QMenu* ContextMenu() const { return menu_; }
    QAction* UndoItem() const { return undoItem_; }
    QAction* RedoItem() const { return redoItem_; }
    QAction* CutItem() const { return cutItem_; }
    QAction* CopyItem() const { return copyItem_; }
    QAction* PasteItem() const { return pasteItem_; }
    QAction* DeleteItem() const { return deleteItem_; }
    QAction* BytesPerLineItem() const { return bytesPerLineItem_; }
    QAction* NewItem() const { return newItem_; }
    QAction* OpenItem() const { return openItem_; }
    QAction* SaveItem() const { return saveItem_; }
    QAction* SaveAsItem() const { return saveAsItem_; }
    QAction* PrintItem() const { return printItem_; }
    QAction* CloseItem() const { return closeItem_; }

    // --- events ---
    TEventUndoRedo OnUndoRedo;
    TEventChangeSelection OnChangeSelection;
    TEventMoveCaret OnMoveCaret;
    TEventChangeInputMode OnChangeInputMode;
    TEventGetFocus OnGetFocus;
    TEventKillFocus OnKillFocus;
    TEventActivate OnActivate;
    TEventActivate OnPasteEnable;
    TEventActivate OnClose;

protected:
    // Dialogs, replaceable so that the commands can run without a user.
    // An empty name means the dialog was cancelled.
    virtual QString AskOpenFileName();
    virtual QString AskSaveFileName(const QString& Start);
    // Sets the printer up; False when cancelled. Selection says whether the
    // selected range is to be printed, on entry whether it is offered first.
    virtual bool AskPrinter(QPrinter& Printer, bool& Selection);

    // Qt events.
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;

    // What the core asks of the widget.
    void Repaint() override;
    void CaretPlaced(int32_t offset) override;
    void SelectionSet(bool active, int32_t selStart, int32_t selEnd) override;
    void SizeChanged() override;
    void Beep() override;
    void InputModeChanged(bool insert) override;
    void UndoRedoChanged(bool canUndo, bool canRedo) override;
    void PutOnClipboard(const std::string& text, const std::vector<uint8_t>& block) override;
    HexClipboardContent ClipboardContent() override;
    void BusyCursor(bool on) override;

private:
    HexViewLayout MeasuredLayout(QSize client) const;
    void BuildMenu();
    void UpdateFrame();
    void PaintFrame();
    void SyncScrollBars();
    void OnVerticalAction(int action);
    void OnHorizontalValue(int value);
    void RebuildCellTexts();
    void PaintRows(QPainter& p);
    void FlushRow(QPainter& p, int r);

    HexViewCore core_;
    HexViewLayoutSettings settings_;
    TOffsetMode offsetMode_ = omHex;
    bool textAllChars_ = false;
    QFont hexFont_, textFont_, offsetFont_;
    QColor hexColor_{Qt::black}, offsetColor_{Qt::black}, textColor_{Qt::black};
    QColor bgColor_{Qt::white};
    QColor highLightColor_, highLightTextColor_;
    bool wantTab_ = true;
    QString fileName_;
    bool border_ = false;
    bool clientEdge_ = false;
    TBevelKind bevelKind_ = bkNone;
    bool vertScrollBar_ = true;
    bool horzScrollBar_ = true;
    bool menuUndoRedo_ = false, menuCutCopyPaste_ = false, menuDelete_ = false,
         menuBytesPerLine_ = false, menuNew_ = false, menuOpen_ = false, menuSave_ = false,
         menuSaveAs_ = false, menuPrint_ = false, menuClose_ = false;

    bool updatingScrollBars_ = false; // the control itself moves its bars
    bool windowCreated_ = false;      // shown once: the creation events went out
    bool caretShown_ = true;
    QTimer autoScrollTimer_;
    // Cell texts of every byte value, as strings and as glyphs in their fonts.
    QString hexTexts_[256];
    QString charTexts_[256];
    QString blankText_;
    HexCellGlyphs hexGlyphs_[256];
    HexCellGlyphs charGlyphs_[256];
    const HexCellGlyphs blankGlyphs_; // blank cells draw no glyph
    QHash<QString, HexCellGlyphs> labelGlyphs_;
    // The text DrawCell is being handed by the rows and its glyphs; the
    // colour the whole client area was filled with for this frame.
    const QString* pendingText_ = nullptr;
    const HexCellGlyphs* pendingGlyphs_ = nullptr;
    QColor paintedBackground_;
    HexGlyphBatch batch_;    // glyphs that fit their cells
    HexGlyphBatch rowBatch_; // glyphs as wide as their cells but taller than the row

    QMenu* menu_ = nullptr;
    QAction *undoItem_ = nullptr, *redoItem_ = nullptr, *cutItem_ = nullptr, *copyItem_ = nullptr,
            *pasteItem_ = nullptr, *deleteItem_ = nullptr, *bytesPerLineItem_ = nullptr,
            *newItem_ = nullptr, *openItem_ = nullptr, *saveItem_ = nullptr, *saveAsItem_ = nullptr,
            *printItem_ = nullptr, *closeItem_ = nullptr;
};
