// The hex view as a widget: events in, the core's requests out, the context
// menu, properties and files. Layout, painting and printing are in
// XHexEditPaint.cpp.
#include "XHexEdit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPalette>
#include <QSaveFile>
#include <QScrollBar>

#include <algorithm>
#include <cstring>

namespace {

// Text goes in and out in the code page the text column shows: a character
// it has no byte for becomes "?".
uint8_t ByteOfChar(QChar c) {
    const int b = HexViewGlyphByte(c.unicode());
    return uint8_t(b < 0 ? '?' : b);
}

std::string BytesOfText(const QString& text) {
    std::string bytes;
    bytes.reserve(size_t(text.size()));
    for (const QChar c : text)
        bytes += char(ByteOfChar(c));
    return bytes;
}

QString TextOfBytes(const std::string& bytes) {
    QString text;
    text.reserve(qsizetype(bytes.size()));
    for (const char b : bytes)
        text += QChar(HexViewByteGlyph(uint8_t(b), true));
    return text;
}

HexKey KeyOf(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Backspace:
        return HexKey::Backspace;
    case Qt::Key_Tab:
        return HexKey::Tab;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return HexKey::Enter;
    case Qt::Key_PageUp:
        return HexKey::PageUp;
    case Qt::Key_PageDown:
        return HexKey::PageDown;
    case Qt::Key_Home:
        return HexKey::Home;
    case Qt::Key_End:
        return HexKey::End;
    case Qt::Key_Left:
        return HexKey::Left;
    case Qt::Key_Right:
        return HexKey::Right;
    case Qt::Key_Up:
        return HexKey::Up;
    case Qt::Key_Down:
        return HexKey::Down;
    case Qt::Key_Insert:
        return HexKey::Insert;
    case Qt::Key_Delete:
        return HexKey::Delete;
    case Qt::Key_Z:
        return HexKey::Z;
    case Qt::Key_Y:
        return HexKey::Y;
    default:
        return HexKey::Other;
    }
}

HexMods ModsOf(Qt::KeyboardModifiers m) {
    m &= Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if (m == Qt::NoModifier) return HexMods::None;
    if (m == Qt::ShiftModifier) return HexMods::Shift;
    if (m == Qt::ControlModifier) return HexMods::Ctrl;
    return HexMods::Other;
}

} // namespace

TXHexEdit::TXHexEdit(QWidget* parent) : QAbstractScrollArea(parent), core_(*this) {
    resize(100, 100);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    // The rows paint every pixel of the client area: nothing under it needs
    // painting first.
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    hexFont_ = textFont_ = offsetFont_ = font();
    const QPalette pal = palette();
    highLightColor_ = pal.color(QPalette::Active, QPalette::Highlight);
    highLightTextColor_ = pal.color(QPalette::Active, QPalette::HighlightedText);

    autoScrollTimer_.setInterval(50);
    connect(&autoScrollTimer_, &QTimer::timeout, this, [this] { core_.TimerTick(); });

    verticalScrollBar()->setRange(0, 0);
    horizontalScrollBar()->setRange(0, 0);
    horizontalScrollBar()->setTracking(false);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &TXHexEdit::OnVerticalAction);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &TXHexEdit::OnHorizontalValue);

    BuildMenu();
    RebuildCellTexts();
    UpdateFrame();
    ComputeLayout();
    // Nothing to undo, redo or cut yet; the events follow when the window
    // comes into being, when their handlers are assigned.
    for (QAction* a : {undoItem_, redoItem_, cutItem_, copyItem_, deleteItem_})
        a->setEnabled(false);
}

TXHexEdit::~TXHexEdit() = default;

// ------------------------------------------------------------ main window

void TXHexEdit::SetLastOffset(int LastOffset) {
    core_.SetLastOffset(LastOffset);
    // Bytes that went cannot stay selected.
    core_.ClampSelection();
}

void TXHexEdit::SetByte(int Offset, uint8_t Value) {
    core_.SetByte(Offset, Value);
}

void TXHexEdit::DrawRows() {
    core_.DrawRows();
}

// ------------------------------------------------------------ host

void TXHexEdit::Repaint() {
    SyncScrollBars();
    viewport()->update();
}

void TXHexEdit::CaretPlaced(int32_t offset) {
    if (hasFocus()) viewport()->update();
    if (OnMoveCaret) OnMoveCaret(this, offset);
}

void TXHexEdit::SelectionSet(bool active, int32_t selStart, int32_t selEnd) {
    if (OnChangeSelection) OnChangeSelection(this, active, selStart, selEnd);
    cutItem_->setEnabled(active);
    copyItem_->setEnabled(active);
    deleteItem_->setEnabled(active);
}

void TXHexEdit::SizeChanged() {
    if (!updatingScrollBars_) SyncScrollBars();
}

void TXHexEdit::Beep() {
    QApplication::beep();
}

void TXHexEdit::InputModeChanged(bool insert) {
    if (OnChangeInputMode) OnChangeInputMode(this, insert);
}

void TXHexEdit::UndoRedoChanged(bool canUndo, bool canRedo) {
    undoItem_->setEnabled(canUndo);
    redoItem_->setEnabled(canRedo);
    if (OnUndoRedo) OnUndoRedo(this, canUndo, canRedo);
}

void TXHexEdit::PutOnClipboard(const std::string& text, const std::vector<uint8_t>& block) {
    auto* data = new QMimeData;
    data->setText(TextOfBytes(text));
    data->setData(QString::fromLatin1(kHexTextMimeType),
                  QByteArray(reinterpret_cast<const char*>(block.data()), qsizetype(block.size())));
    QApplication::clipboard()->setMimeData(data);
    pasteItem_->setEnabled(true);
    if (OnPasteEnable) OnPasteEnable(this);
}

HexClipboardContent TXHexEdit::ClipboardContent() {
    HexClipboardContent c;
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (!data) return c;
    const QString hexType = QString::fromLatin1(kHexTextMimeType);
    if (data->hasFormat(hexType)) {
        const QByteArray b = data->data(hexType);
        c.hasBlock = true;
        c.block.assign(b.begin(), b.end());
    }
    if (data->hasText()) {
        c.hasText = true;
        c.text = BytesOfText(data->text());
    }
    return c;
}

void TXHexEdit::BusyCursor(bool on) {
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

// ------------------------------------------------------------ input

bool TXHexEdit::event(QEvent* e) {
    if (e->type() == QEvent::KeyPress && wantTab_) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() == Qt::Key_Tab && ModsOf(k->modifiers()) == HexMods::None) {
            keyPressEvent(k);
            return true;
        }
    }
    if (e->type() == QEvent::Paint) {
        // The scroll area paints its corner; the frame is the view's own.
        const bool done = QAbstractScrollArea::event(e);
        PaintFrame();
        return done;
    }
    if (e->type() == QEvent::Show && !windowCreated_) {
        windowCreated_ = true;
        core_.History().UpdateState();
        core_.SetSelection(core_.SelActive);
    }
    if (e->type() == QEvent::WindowActivate) {
        show();
        if (OnActivate) OnActivate(this);
    }
    return QAbstractScrollArea::event(e);
}

void TXHexEdit::keyPressEvent(QKeyEvent* e) {
    const HexMods mods = ModsOf(e->modifiers());
    // Tab that the view does not want is the window's, even when no other
    // control takes the focus.
    const bool tab = e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab;
    if (tab && !wantTab_) {
        e->ignore();
        return;
    }
    if (core_.KeyDown(KeyOf(e->key()), mods)) {
        e->accept();
        return;
    }
    // Characters reach the character handler unless Alt or Meta is held.
    // Keys the tables do not name do nothing here (the scroll area would
    // scroll on some of them); the window may still use them.
    const QString text = e->text();
    if (mods == HexMods::Other || text.isEmpty()) {
        e->ignore();
        return;
    }
    for (const QChar c : text)
        if (c.unicode() != 127) core_.Char(ByteOfChar(c));
    e->accept();
}

void TXHexEdit::mousePressEvent(QMouseEvent* e) {
    setFocus(Qt::MouseFocusReason);
    const bool left = e->button() == Qt::LeftButton;
    const QPoint pt = e->position().toPoint();
    core_.MousePress(pt.x(), pt.y(), left);
    if (left) {
        caretShown_ = false;
        autoScrollTimer_.start();
    }
    viewport()->update();
}

void TXHexEdit::mouseMoveEvent(QMouseEvent* e) {
    const QPoint pt = e->position().toPoint();
    core_.MouseMove(pt.x(), pt.y());
}

void TXHexEdit::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return;
    core_.MouseRelease(true);
    autoScrollTimer_.stop();
    caretShown_ = true;
    viewport()->update();
}

void TXHexEdit::focusInEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusInEvent(e);
    caretShown_ = true;
    core_.FocusGained();
    viewport()->update();
    if (OnGetFocus) OnGetFocus(this);
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (data && (data->hasText() || data->hasFormat(QString::fromLatin1(kHexTextMimeType)))) {
        pasteItem_->setEnabled(true);
        if (OnPasteEnable) OnPasteEnable(this);
    }
}

void TXHexEdit::focusOutEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusOutEvent(e);
    viewport()->update();
    if (OnKillFocus) OnKillFocus(this);
}

void TXHexEdit::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    if (updatingScrollBars_) {
        // A bar came or went while the view set its ranges: lay out afterwards.
        QMetaObject::invokeMethod(
            this, [this] { ComputeLayout(); }, Qt::QueuedConnection);
        return;
    }
    ComputeLayout();
}

void TXHexEdit::contextMenuEvent(QContextMenuEvent* e) {
    menu_->exec(e->globalPos());
}

void TXHexEdit::OnVerticalAction(int action) {
    QScrollBar* v = verticalScrollBar();
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
        core_.LineUp();
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        core_.LineDown();
        break;
    case QAbstractSlider::SliderPageStepSub:
        core_.PageUp(true);
        break;
    case QAbstractSlider::SliderPageStepAdd:
        core_.PageDown(true);
        break;
    case QAbstractSlider::SliderMove:
        core_.ThumbTrack(v->sliderPosition());
        break;
    default:
        break;
    }
    // The view decides where the thumb stands.
    if (!v->isSliderDown()) v->setSliderPosition(core_.FirstOffset);
}

void TXHexEdit::OnHorizontalValue(int value) {
    if (updatingScrollBars_) return;
    core_.SetHScroll(value);
}

void TXHexEdit::scrollContentsBy(int, int) {
    // The rows are painted from the view's own positions; nothing to shift.
}

// ------------------------------------------------------------ menu

void TXHexEdit::BuildMenu() {
    menu_ = new QMenu(this);
    auto item = [this](const char* caption, auto slot) {
        QAction* a = menu_->addAction(QString::fromLatin1(caption));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    undoItem_ = item("Undo", [this] { Undo(); });
    redoItem_ = item("Redo", [this] { Redo(); });
    menu_->addSeparator();
    cutItem_ = item("Cut", [this] { CutToClipboard(); });
    copyItem_ = item("Copy", [this] { CopyToClipboard(); });
    pasteItem_ = item("Paste", [this] { PasteFromClipboard(); });
    deleteItem_ = item("Delete", [this] { DeleteSelected(); });
    menu_->addSeparator();
    bytesPerLineItem_ = item("Bytes per Line", [this] {
        const int b = BytesPerLine();
        SetBytesPerLine(b == 2 ? 4 : b == 4 ? 8 : b == 8 ? 16 : 2);
    });
    menu_->addSeparator();
    newItem_ = item("New", [this] { NewData(QStringLiteral("Untitled"), 0); });
    openItem_ = item("Open", [this] { OpenCommand(); });
    saveItem_ = item("Save", [this] { SaveCommand(); });
    saveAsItem_ = item("SaveAs", [this] { SaveAsCommand(); });
    menu_->addSeparator();
    printItem_ = item("Print", [this] { PrintData(); });
    menu_->addSeparator();
    closeItem_ = item("Close", [this] {
        if (OnClose) OnClose(this);
    });
}

// Each switch shows or hides its own items only; a new view shows them all.
#define HEXVIEW_MENU_SWITCH(Name, field, ...)                                                      \
    void TXHexEdit::Set##Name(bool v) {                                                            \
        field = v;                                                                                 \
        for (QAction * a : {__VA_ARGS__})                                                          \
            a->setVisible(v);                                                                      \
    }
HEXVIEW_MENU_SWITCH(MenuUndoRedo, menuUndoRedo_, undoItem_, redoItem_)
HEXVIEW_MENU_SWITCH(MenuCutCopyPaste, menuCutCopyPaste_, cutItem_, copyItem_, pasteItem_)
HEXVIEW_MENU_SWITCH(MenuDelete, menuDelete_, deleteItem_)
HEXVIEW_MENU_SWITCH(MenuBytesPerLine, menuBytesPerLine_, bytesPerLineItem_)
HEXVIEW_MENU_SWITCH(MenuNew, menuNew_, newItem_)
HEXVIEW_MENU_SWITCH(MenuOpen, menuOpen_, openItem_)
HEXVIEW_MENU_SWITCH(MenuSave, menuSave_, saveItem_)
HEXVIEW_MENU_SWITCH(MenuSaveAs, menuSaveAs_, saveAsItem_)
HEXVIEW_MENU_SWITCH(MenuPrint, menuPrint_, printItem_)
HEXVIEW_MENU_SWITCH(MenuClose, menuClose_, closeItem_)
#undef HEXVIEW_MENU_SWITCH

// ------------------------------------------------------------ properties

void TXHexEdit::SetBytesPerLine(int v) {
    if (v < 1 || v > kHexViewMaxBytesPerLine) return;
    settings_.bytesPerLine = v;
    // The core takes the new width even before the view has a client area.
    const QSize client = viewport()->size();
    core_.ApplyLayout(MeasuredLayout(client), client.width(), client.height());
    ComputeLayout();
}

void TXHexEdit::SetOffsetMode(int v) {
    offsetMode_ = v == omDec ? omDec : omHex;
    ComputeLayout();
}

void TXHexEdit::SetHexMode(int v) {
    core_.HexMode = (v == hmDec || v == hmBin) ? THexMode(v) : hmHex;
    RebuildCellTexts();
    ComputeLayout();
}

void TXHexEdit::SetHexGroup(int v) {
    if (v < 1 || v > 255) return;
    settings_.hexGroup = v;
    ComputeLayout();
}

void TXHexEdit::SetHexGap(int v) {
    if (v < -128 || v > 127) return;
    settings_.hexGapPx = v;
    ComputeLayout();
}

void TXHexEdit::SetHexPos(int v) {
    if (v < -128 || v > 127) return;
    settings_.hexPosPx = v;
    ComputeLayout();
}

void TXHexEdit::SetTextPos(int v) {
    if (v < -128 || v > 127) return;
    settings_.textPosPx = v;
    ComputeLayout();
}

void TXHexEdit::SetOffsetVisible(bool v) {
    settings_.offsetVisible = v;
    ComputeLayout();
}

void TXHexEdit::SetHexVisible(bool v) {
    settings_.hexVisible = core_.HexVisible = v;
    if (!v) settings_.textVisible = core_.TextVisible = true;
    ComputeLayout();
}

void TXHexEdit::SetTextVisible(bool v) {
    settings_.textVisible = core_.TextVisible = v;
    if (!v) settings_.hexVisible = core_.HexVisible = true;
    ComputeLayout();
}

void TXHexEdit::SetTextAllChars(bool v) {
    textAllChars_ = v;
    RebuildCellTexts();
    viewport()->update();
}

void TXHexEdit::SetHexFont(const QFont& f) {
    hexFont_ = f;
    RebuildCellTexts();
    ComputeLayout();
}

void TXHexEdit::SetTextFont(const QFont& f) {
    textFont_ = f;
    RebuildCellTexts();
    ComputeLayout();
}

void TXHexEdit::SetOffsetFont(const QFont& f) {
    offsetFont_ = f;
    labelGlyphs_.clear();
    ComputeLayout();
}

void TXHexEdit::SetHexColor(const QColor& c) {
    hexColor_ = c;
    viewport()->update();
}

void TXHexEdit::SetOffsetColor(const QColor& c) {
    offsetColor_ = c;
    viewport()->update();
}

void TXHexEdit::SetTextColor(const QColor& c) {
    textColor_ = c;
    viewport()->update();
}

void TXHexEdit::SetBGColor(const QColor& c) {
    bgColor_ = c;
    viewport()->update();
}

void TXHexEdit::SetHighLightColor(const QColor& c) {
    highLightColor_ = c;
    viewport()->update();
}

void TXHexEdit::SetHighLightTextColor(const QColor& c) {
    highLightTextColor_ = c;
    viewport()->update();
}

void TXHexEdit::SetMaxUndo(int v) {
    if (v < 5 || v > 4999) return;
    HexViewCore::SharedMaxUndo = v;
    core_.History().SetCapacity(v);
}

void TXHexEdit::UpdateFrame() {
    // A plain box of the frame's width keeps the scroll bars and the rows
    // inside it; the view paints the box's lines itself (PaintFrame).
    const int m = FrameWidthPx();
    setFrameStyle(m > 0 ? QFrame::Box | QFrame::Plain : QFrame::NoFrame);
    setLineWidth(m);
    setVerticalScrollBarPolicy(vertScrollBar_ ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(horzScrollBar_ ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    update();
}

void TXHexEdit::SetBevelKind(TBevelKind v) {
    bevelKind_ = v == bkFlat ? bkFlat : bkNone;
    UpdateFrame();
    ComputeLayout();
}

void TXHexEdit::SetBorder(bool v) {
    border_ = v;
    UpdateFrame();
    ComputeLayout();
}

void TXHexEdit::SetClientEdge(bool v) {
    clientEdge_ = v;
    UpdateFrame();
    ComputeLayout();
}

void TXHexEdit::SetVertScrollBar(bool v) {
    vertScrollBar_ = v;
    UpdateFrame();
    ComputeLayout();
}

void TXHexEdit::SetHorzScrollBar(bool v) {
    horzScrollBar_ = v;
    UpdateFrame();
    ComputeLayout();
}

// ------------------------------------------------------------ files

void TXHexEdit::SetFileName(const QString& Name) {
    if (Name.isEmpty())
        NewData(QStringLiteral("Untitled"), 0);
    else
        LoadFromFile(Name);
}

void TXHexEdit::NewData(const QString& Name, int LastOffset) {
    fileName_ = Name;
    core_.NewData(LastOffset);
    ComputeLayout();
}

bool TXHexEdit::LoadFromFile(const QString& Name) {
    BusyCursor(true);
    // Read everything first, so that a file that cannot be read leaves the
    // view as it was.
    QFile file(Name);
    QByteArray bytes;
    bool ok = file.open(QIODevice::ReadOnly) && file.size() < qint64(INT32_MAX);
    if (ok) {
        bytes = file.readAll();
        ok = file.error() == QFileDevice::NoError && bytes.size() == file.size();
    }
    if (!ok) {
        BusyCursor(false);
        return false;
    }
    fileName_ = Name;
    core_.LoadData(reinterpret_cast<const uint8_t*>(bytes.constData()), int32_t(bytes.size()));
    ComputeLayout();
    BusyCursor(false);
    return true;
}

bool TXHexEdit::SaveToFile(const QString& Name) {
    const QString name = Name.isEmpty() ? fileName_ : Name;
    if (name.isEmpty()) return false;
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly)) return false;
    const qint64 n = core_.Size();
    if (n > 0 && file.write(reinterpret_cast<const char*>(core_.Data()), n) != n) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) return false;
    fileName_ = name;
    return true;
}

QString TXHexEdit::AskOpenFileName() {
    return QFileDialog::getOpenFileName(this);
}

QString TXHexEdit::AskSaveFileName(const QString& Start) {
    return QFileDialog::getSaveFileName(this, QString(), Start);
}

void TXHexEdit::OpenCommand() {
    const QString name = AskOpenFileName();
    if (!name.isEmpty()) LoadFromFile(name);
}

void TXHexEdit::SaveCommand() {
    // A view that never had a name asks for one, as one named "Untitled" does.
    if (!fileName_.isEmpty() && fileName_ != QLatin1String("Untitled")) {
        SaveToFile(QString());
        return;
    }
    const QString name = AskSaveFileName(QString());
    if (!name.isEmpty()) SaveToFile(name);
}

void TXHexEdit::SaveAsCommand() {
    const QString start = fileName_ == QLatin1String("Untitled") ? QString() : fileName_;
    const QString name = AskSaveFileName(start);
    if (!name.isEmpty()) SaveToFile(name);
}
