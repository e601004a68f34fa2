// The formatted edit control: construction, value, the editor model every
// change goes through, keyboard and clipboard.
#include "AdvEdit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>

#include <algorithm>
TAdvEdit::TAdvEdit(QWidget* parent) : QLineEdit(parent) {
    const QPalette app = QApplication::palette();
    m_color = app.color(QPalette::Active, QPalette::Base);
    m_normalColor = m_color;
    m_preFlatColor = m_color;
    m_focusColor = m_color;
    m_normalFontColor = app.color(QPalette::Active, QPalette::Text);
    m_focusFontColor = m_normalFontColor;
    m_modifiedColor = app.color(QPalette::Active, QPalette::Highlight);
    SetBackground(m_color);
    SetFontColor(m_normalFontColor);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_labelFont = QApplication::font();
    // Drops are taken only through the field's own drop target, which is off
    // until OleDropTarget is set.
    setAcceptDrops(false);
    connect(this, &QLineEdit::textChanged, this, [this] { OnTextChanged(); });
}

TAdvEdit::~TAdvEdit() {
    StoreText();
    delete m_label;
}

void TAdvEdit::BeginLoad() {
    m_loading = true;
}

void TAdvEdit::Loaded() {
    m_loading = false;
    m_normalColor = m_color;
    m_normalFontColor = FontColor();
    m_savedFrame = hasFrame();
    if (m_flat) {
        m_flat = false;
        SetFlat(true);
    }
    if (!isEnabled()) SetBackground(m_disabledColor);
    PlaceLabel();
    RestoreText();
}

TAdvSettings TAdvEdit::Settings() const {
    TAdvSettings s = m_s;
    s.maxLength = maxLength();
    return s;
}

// ---- value ------------------------------------------------------------------

QString TAdvEdit::Text() const {
    return ValueOfShown(QLineEdit::text(), m_s);
}

void TAdvEdit::SetText(const QString& value) {
    TEditBox box = CurrentBox();
    TFilterResult r;
    WriteText(box, value, Settings(), Separators(), r);
    ApplyBox(box, r, false);
    if (m_showURL) SetUrlLook(LooksLikeUrl(Text()));
}

void TAdvEdit::SetEditType(TAdvEditType type) {
    if (type == m_s.editType) return;
    m_s.editType = type;
    if (type == etPassword) {
        setEchoMode(QLineEdit::Password);
        m_s.canUndo = false;
    } else {
        setEchoMode(QLineEdit::Normal);
    }
    const TValueKind kind = ValueKind(Text());
    if (type == etNumeric && kind != vkInteger)
        SetValueAsInteger(0);
    else if ((type == etFloat || type == etMoney) && (kind == vkHex || kind == vkOther))
        SetValueAsFloat(0);
    else if (type == etHex && (kind == vkFloat || kind == vkOther))
        SetValueAsInteger(0);
}

void TAdvEdit::SetPrefix(const QString& prefix) {
    const QString v = Text();
    m_s.prefix = prefix;
    SetText(v);
}

void TAdvEdit::SetSuffix(const QString& suffix) {
    const QString v = Text();
    m_s.suffix = suffix;
    SetText(v);
}

void TAdvEdit::SetPrecision(int precision) {
    if (precision == m_s.precision) return;
    if (m_s.editType != etFloat && m_s.editType != etMoney) return;
    m_s.precision = precision;
    const TValueKind kind = ValueKind(Text());
    SetValueAsFloat(kind == vkHex || kind == vkOther ? 0.0 : ValueAsFloat());
}

void TAdvEdit::SetAutoThousandSeparator(bool on) {
    m_s.autoThousandSeparator = on;
    if (m_s.editType == etFloat || m_s.editType == etMoney) RegroupThousands();
}

void TAdvEdit::SetCanUndo(bool on) {
    if (on && m_s.editType == etPassword) return;
    if (on == m_s.canUndo) return;
    // The editor this stands for is re-created by the change; its text is
    // stored as at every re-creation.
    StoreText();
    m_s.canUndo = on;
}

void TAdvEdit::SetEmptyText(const QString& text) {
    m_emptyText = text;
    update();
}

double TAdvEdit::ValueAsFloat() const {
    return ValueAsFloatOf(Text(), m_s, Separators());
}

void TAdvEdit::SetValueAsFloat(double x) {
    TEditBox box = CurrentBox();
    TFilterResult r;
    WriteFloat(box, x, Settings(), Separators(), r);
    ApplyBox(box, r, false);
}

void TAdvEdit::SetValueAsInteger(int32_t n) {
    TEditBox box = CurrentBox();
    TFilterResult r;
    WriteInteger(box, n, Settings(), Separators(), r);
    ApplyBox(box, r, false);
}

void TAdvEdit::RegroupThousands() {
    TEditBox box = CurrentBox();
    ::RegroupThousands(box, Settings(), Separators());
    ApplyBox(box, TFilterResult{}, false);
}

void TAdvEdit::SelectValue() {
    TEditBox box = CurrentBox();
    ::SelectValue(box, m_s, m_showURL);
    ApplyBox(box, TFilterResult{}, false);
}

void TAdvEdit::SetModifiedMark(bool on) {
    if (on && m_loading) return;
    setModified(on);
    // The error colours win over the colour of the modified mark.
    if (m_errorState && m_showError) return;
    if (!m_loading && m_showModified) SetFontColor(on ? m_modifiedColor : m_normalFontColor);
}

void TAdvEdit::SetErrorState(bool on) {
    if (m_loading || on == m_errorState) return;
    m_errorState = on;
    if (!m_showError) return;
    if (on) {
        SetBackground(m_errorColor);
        SetFontColor(m_errorFontColor);
    } else if (hasFocus()) {
        SetBackground(m_focusColor);
        SetFontColor(m_focusFontColor);
    } else {
        SetBackground(m_normalColor);
        SetFontColor(m_normalFontColor);
    }
}

// ---- editor model -------------------------------------------------------------

TEditBox TAdvEdit::CurrentBox() const {
    TEditBox box;
    box.text = QLineEdit::text();
    box.caret = cursorPosition();
    box.anchor = box.caret;
    if (hasSelectedText()) {
        const int start = selectionStart();
        const int length = selectionLength();
        box.anchor = box.caret == start ? start + length : start;
    }
    box.modified = isModified();
    return box;
}

void TAdvEdit::ReplaceShownText(const QString& text) {
    const QString old = QLineEdit::text();
    int front = 0;
    while (front < old.size() && front < text.size() && old.at(front) == text.at(front))
        ++front;
    int back = 0;
    while (back < old.size() - front && back < text.size() - front &&
           old.at(old.size() - 1 - back) == text.at(text.size() - 1 - back))
        ++back;
    setSelection(front, static_cast<int>(old.size()) - front - back);
    insert(text.mid(front, text.size() - front - back));
}

void TAdvEdit::ApplyBox(const TEditBox& box, const TFilterResult& r, bool typed) {
    if (box.text != QLineEdit::text()) {
        if (typed) {
            ReplaceShownText(box.text);
        } else {
            QLineEdit::setText(box.text);
        }
    }
    const int size = static_cast<int>(QLineEdit::text().size());
    const int anchor = std::clamp(box.anchor, 0, size);
    const int caret = std::clamp(box.caret, 0, size);
    if (anchor != caret)
        setSelection(anchor, caret - anchor);
    else
        setCursorPosition(caret);
    if (!(box.modified && m_loading)) setModified(box.modified);
    if (r.modifiedMark) SetModifiedMark(*r.modifiedMark);
}

void TAdvEdit::OnTextChanged() {
    if (OnChange) OnChange(this);
    if (!m_loading && OnValueValidate) {
        bool valid = true;
        OnValueValidate(this, Text(), valid);
        if (m_showError) SetErrorState(!valid);
    }
    UpdateUrlLook();
    if (m_transparent) update();
}

// ---- keyboard -------------------------------------------------------------------

void TAdvEdit::RequestFocusNext() {
    QMetaObject::invokeMethod(
        this, [this] { focusNextChild(); }, Qt::QueuedConnection);
}

void TAdvEdit::ForwardKeyToParent(int key) {
    QWidget* parent = parentWidget();
    if (!m_passKeysToParent || parent == nullptr) return;
    QCoreApplication::postEvent(parent, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
    QCoreApplication::postEvent(parent, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier));
}

void TAdvEdit::HandleCharacter(QChar c, bool ctrl, bool keypad) {
    TEditBox box = CurrentBox();
    TKeyContext ctx;
    ctx.ctrl = ctrl;
    ctx.keypadDecimal = keypad;
    if (OnKeyPress) {
        ctx.keyPress = [this](QChar& k) {
            OnKeyPress(this, k);
            return !k.isNull();
        };
    }
    if (isReadOnly()) {
        // A read-only editor inserts nothing; only copying stays possible.
        if (c.unicode() == AdvChar::Copy) CopyToClipboard();
        return;
    }
    const TFilterResult r = FilterChar(box, c, Settings(), Separators(), ctx);
    ApplyBox(box, r, true);
    if (r.shortcut != 0) RunShortcut(r.shortcut);
    if (r.requestTab) RequestFocusNext();
}

void TAdvEdit::RunShortcut(char16_t code) {
    switch (code) {
    case AdvChar::Copy:
        CopyToClipboard();
        break;
    case AdvChar::Cut:
        CutToClipboard();
        break;
    case AdvChar::Paste:
        PasteFromClipboard();
        break;
    case AdvChar::Undo:
        undo();
        break;
    default:
        break;
    }
}

void TAdvEdit::keyPressEvent(QKeyEvent* e) {
    const int key = e->key();
    const Qt::KeyboardModifiers mods = e->modifiers();
    const bool shift = mods & Qt::ShiftModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    const bool isReturn = key == Qt::Key_Return || key == Qt::Key_Enter;
    e->accept();

    if (isReturn && m_returnIsTab) {
        if (isVisible()) RequestFocusNext();
        return;
    }
    if (key == Qt::Key_Escape) {
        if (m_s.canUndo) {
            SetText(m_entryText);
            SetFontColor(m_focusFontColor);
            SelectValue();
            SetModifiedMark(false);
            ForwardKeyToParent(Qt::Key_Escape);
        }
        // The Escape character itself then runs through the filter like any
        // other; where it is passed on, OnKeyPress sees it and nothing is
        // inserted.
        HandleCharacter(QChar(AdvChar::Escape), ctrl, false);
        if (!m_s.canUndo) e->ignore();
        return;
    }
    if (isReturn) {
        ForwardKeyToParent(key);
        HandleCharacter(QChar(AdvChar::Return), ctrl, false);
        return;
    }

    // Clipboard and undo keys become the editor's control characters, which
    // run through the filter like any other character. The other bindings of
    // the same commands (Ctrl+Insert, Shift+Insert, Shift+Delete) reach the
    // commands directly.
    const bool letterShortcut = ctrl && key >= Qt::Key_A && key <= Qt::Key_Z;
    if (e->matches(QKeySequence::Copy) && !letterShortcut) return CopyToClipboard();
    if (e->matches(QKeySequence::Paste) && !letterShortcut) return PasteFromClipboard();
    if (e->matches(QKeySequence::Cut) && !letterShortcut) return CutToClipboard();

    TNavKey nav = TNavKey::Other;
    switch (key) {
    case Qt::Key_Left:
        nav = TNavKey::Left;
        break;
    case Qt::Key_Right:
        nav = TNavKey::Right;
        break;
    case Qt::Key_Home:
        nav = TNavKey::Home;
        break;
    case Qt::Key_End:
        nav = TNavKey::End;
        break;
    case Qt::Key_Delete:
        nav = TNavKey::Delete;
        break;
    default:
        break;
    }
    QChar c;
    if (letterShortcut && !(mods & Qt::AltModifier))
        c = QChar(static_cast<char16_t>(key - Qt::Key_A + 1));
    else if (key == Qt::Key_Backspace)
        c = QChar(AdvChar::Backspace);
    else if (nav == TNavKey::Other && !e->text().isEmpty() && e->text().at(0).unicode() >= 32 &&
             e->text().at(0).unicode() != 127)
        c = e->text().at(0);

    if (!c.isNull()) {
        HandleCharacter(c, ctrl, mods & Qt::KeypadModifier);
        return;
    }
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
        QLineEdit::keyPressEvent(e);
        return;
    }

    TEditBox box = CurrentBox();
    TFilterResult r;
    if (!BeforeNavKey(box, nav, shift, Settings(), Separators(), r)) {
        ApplyBox(box, r, true);
        return;
    }
    ApplyBox(box, r, true);
    QLineEdit::keyPressEvent(e);
    box = CurrentBox();
    AfterNavKey(box, nav, Settings(), Separators());
    ApplyBox(box, TFilterResult{}, true);
}

void TAdvEdit::inputMethodEvent(QInputMethodEvent* e) {
    if (e->commitString().isEmpty()) return QLineEdit::inputMethodEvent(e);
    // Characters an input method commits are typed characters too: the
    // editor only gets the composition shown, each committed character goes
    // through the filter.
    QInputMethodEvent preedit(e->preeditString(), e->attributes());
    QLineEdit::inputMethodEvent(&preedit);
    for (const QChar c : e->commitString())
        HandleCharacter(c, false, false);
    e->accept();
}

// ---- clipboard --------------------------------------------------------------------

QString TAdvEdit::SelectedValuePart() const {
    if (!hasSelectedText()) return QString();
    return Text().mid(selectionStart() - static_cast<int>(m_s.prefix.size()), selectionLength());
}

void TAdvEdit::CopyToClipboard() {
    if (OnClipboardCopy) {
        bool allow = true;
        OnClipboardCopy(this, SelectedValuePart(), allow);
        if (!allow) return;
    }
    copy();
}

void TAdvEdit::CutToClipboard() {
    if (OnClipboardCut) {
        bool allow = true;
        OnClipboardCut(this, SelectedValuePart(), allow);
        if (!allow) return;
    }
    cut();
}

void TAdvEdit::PasteFromClipboard() {
    if (isReadOnly()) return;
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (data == nullptr || !data->hasText()) return;
    const QString clip = data->text();
    if (OnClipboardPaste) {
        bool allow = true;
        OnClipboardPaste(this, SelectedValuePart(), allow);
        if (!allow) return;
    }
    TEditBox box = CurrentBox();
    const TFilterResult r = PasteText(box, clip, Settings(), Separators());
    ApplyBox(box, r, true);
}

QMenu* TAdvEdit::CreateContextMenu() {
    QMenu* menu = createStandardContextMenu();
    // The standard entries carry their shortcut after a tab; that tells cut,
    // copy and paste apart in any language.
    const struct {
        QKeySequence::StandardKey key;
        void (TAdvEdit::*command)();
    } routes[] = {{QKeySequence::Cut, &TAdvEdit::CutToClipboard},
                  {QKeySequence::Copy, &TAdvEdit::CopyToClipboard},
                  {QKeySequence::Paste, &TAdvEdit::PasteFromClipboard}};
    for (QAction* action : menu->actions()) {
        const QString shortcut = action->text().section(QLatin1Char('\t'), 1);
        if (shortcut.isEmpty()) continue;
        for (const auto& route : routes) {
            if (QKeySequence(shortcut, QKeySequence::NativeText) != QKeySequence(route.key))
                continue;
            disconnect(action, &QAction::triggered, nullptr, nullptr);
            connect(action, &QAction::triggered, this, route.command);
        }
    }
    return menu;
}

void TAdvEdit::contextMenuEvent(QContextMenuEvent* e) {
    QMenu* menu = CreateContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(e->globalPos());
}
