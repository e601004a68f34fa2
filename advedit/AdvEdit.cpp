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

#include <QProxyStyle>

#include <algorithm>
#include <limits>

namespace {

// How many changes the undo history keeps.
constexpr std::size_t kUndoDepth = 100;

// A password field shows one asterisk per character, whatever the style's
// own mask character is.
class TAsteriskStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* ret) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return '*';
        return QProxyStyle::styleHint(hint, option, widget, ret);
    }
};

} // namespace

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
    // The editor itself never cuts a text: the control's own limit stops the
    // user's input and leaves the program's writes whole.
    QLineEdit::setMaxLength(std::numeric_limits<int>::max());
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
    s.maxLength = m_maxLength;
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
    ApplyBox(box, r, TChange::Program);
    if (m_showURL) SetUrlLook(LooksLikeUrl(Text()));
}

void TAdvEdit::SetEditType(TAdvEditType type) {
    if (type == m_s.editType) return;
    m_s.editType = type;
    if (type == etPassword) {
        if (m_passwordStyle == nullptr) {
            m_passwordStyle = new TAsteriskStyle;
            m_passwordStyle->setParent(this);
        }
        setStyle(m_passwordStyle);
        setEchoMode(QLineEdit::Password);
        m_s.canUndo = false;
    } else {
        setEchoMode(QLineEdit::Normal);
        setStyle(nullptr);
    }
    const TValueKind kind = ValueKind(Text());
    if (type == etNumeric && kind != vkInteger)
        SetValueAsInteger(0);
    else if ((type == etFloat || type == etMoney) && (kind == vkHex || kind == vkOther))
        SetValueAsFloat(0);
    else if (type == etHex && (kind == vkFloat || kind == vkOther))
        SetValueAsInteger(0);
    ReapplyIfRefused();
}

void TAdvEdit::SetSigned(bool on) {
    m_s.isSigned = on;
    ReapplyIfRefused();
}

void TAdvEdit::ReapplyIfRefused() {
    if (!AcceptsValue(Text(), m_s, Separators())) SetText(Text());
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
    ApplyBox(box, r, TChange::Program);
}

void TAdvEdit::SetValueAsInteger(int32_t n) {
    TEditBox box = CurrentBox();
    TFilterResult r;
    WriteInteger(box, n, Settings(), Separators(), r);
    ApplyBox(box, r, TChange::Program);
}

void TAdvEdit::RegroupThousands() {
    TEditBox box = CurrentBox();
    ::RegroupThousands(box, Settings(), Separators());
    ApplyBox(box, TFilterResult{}, TChange::Program);
}

void TAdvEdit::SelectValue() {
    TEditBox box = CurrentBox();
    ::SelectValue(box, m_s, m_showURL);
    ApplyBox(box, TFilterResult{}, TChange::Program);
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

bool TAdvEdit::ApplyBox(TEditBox box, const TFilterResult& r, TChange change) {
    const TEditBox before = m_settled;
    const bool kept = Settle(box, before, Settings(), Separators(), change == TChange::User);
    if (!kept) box.modified = isModified();
    m_applying = true;
    if (box.text != QLineEdit::text()) {
        if (change == TChange::Program)
            QLineEdit::setText(box.text);
        else
            ReplaceShownText(box.text);
    }
    if (box.text != before.text) {
        if (change == TChange::Program) {
            m_undo.clear();
            m_redo.clear();
        } else if (change == TChange::User) {
            m_undo.push_back(before);
            if (m_undo.size() > kUndoDepth) m_undo.erase(m_undo.begin());
            m_redo.clear();
        }
    }
    if (box.anchor != box.caret)
        setSelection(box.anchor, box.caret - box.anchor);
    else
        setCursorPosition(box.caret);
    m_settled = box;
    m_applying = false;
    if (!(box.modified && m_loading)) setModified(box.modified);
    if (kept && r.modifiedMark) SetModifiedMark(*r.modifiedMark);
    return kept;
}

void TAdvEdit::SettleEditor() {
    if (m_applying) return;
    const TEditBox now = CurrentBox();
    if (now.text == m_settled.text && now.caret == m_settled.caret &&
        now.anchor == m_settled.anchor)
        return;
    ApplyBox(now, TFilterResult{}, TChange::User);
}

void TAdvEdit::StepHistory(std::vector<TEditBox>& from, std::vector<TEditBox>& to) {
    if (!m_s.canUndo || isReadOnly() || from.empty()) return;
    TEditBox box = from.back();
    from.pop_back();
    to.push_back(m_settled);
    box.modified = true;
    ApplyBox(box, TFilterResult{}, TChange::History);
    SetModifiedMark(true);
}

void TAdvEdit::Undo() {
    StepHistory(m_undo, m_redo);
}

void TAdvEdit::Redo() {
    StepHistory(m_redo, m_undo);
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
    if (!ApplyBox(box, r, TChange::User)) return;
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
        Undo();
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

    if (nav == TNavKey::Delete) {
        // Delete, and Ctrl+Delete up to the next word, within the value.
        DeleteForward(ctrl);
        return;
    }
    TEditBox box = CurrentBox();
    TFilterResult r;
    if (!BeforeNavKey(box, nav, shift, Settings(), Separators(), r)) {
        ApplyBox(box, r, TChange::User);
        return;
    }
    ApplyBox(box, r, TChange::User);
    QLineEdit::keyPressEvent(e);
    box = CurrentBox();
    AfterNavKey(box, nav, Settings(), Separators());
    ApplyBox(box, TFilterResult{}, TChange::User);
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
    // A password never leaves the field.
    if (m_s.editType == etPassword || !hasSelectedText()) return;
    if (OnClipboardCopy) {
        bool allow = true;
        OnClipboardCopy(this, SelectedValuePart(), allow);
        if (!allow) return;
    }
    copy();
}

void TAdvEdit::CutToClipboard() {
    if (m_s.editType == etPassword || !hasSelectedText()) return;
    if (OnClipboardCut) {
        bool allow = true;
        OnClipboardCut(this, SelectedValuePart(), allow);
        if (!allow) return;
    }
    copy();
    DeleteForward(false);
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
    ApplyBox(box, r, TChange::User);
}

void TAdvEdit::DeleteSelection() {
    if (hasSelectedText()) DeleteForward(false);
}

void TAdvEdit::DeleteForward(bool word) {
    if (isReadOnly()) return;
    TEditBox box = CurrentBox();
    if (word && !box.HasSelection()) SelectWordForward(box, m_s);
    TFilterResult r;
    if (!BeforeNavKey(box, TNavKey::Delete, false, Settings(), Separators(), r)) return;
    if (box.HasSelection()) {
        box.text.remove(box.SelStart(), box.SelLength());
        box.SetCaret(box.SelStart());
        box.modified = true;
    } else if (box.caret < box.text.size()) {
        box.text.remove(box.caret, 1);
        box.modified = true;
    }
    AfterNavKey(box, TNavKey::Delete, Settings(), Separators());
    ApplyBox(box, r, TChange::User);
}

QMenu* TAdvEdit::CreateContextMenu() {
    // The editor's entries, each running the control's own command, so that
    // none of them can leave the value's rules. The texts are the editor's
    // own, translated as the editor's.
    auto* menu = new QMenu(this);
    const bool selected = hasSelectedText();
    const bool writable = !isReadOnly();
    const bool secret = m_s.editType == etPassword;
    const QMimeData* clip = QApplication::clipboard()->mimeData();
    auto add = [this, menu](const char* text, QKeySequence::StandardKey key, bool enabled,
                            void (TAdvEdit::*command)()) {
        QString label = QLineEdit::tr(text);
        const QString shortcut = QKeySequence(key).toString(QKeySequence::NativeText);
        if (!shortcut.isEmpty()) label += QLatin1Char('\t') + shortcut;
        QAction* action = menu->addAction(label);
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this, command);
    };
    add("&Undo", QKeySequence::Undo, writable && UndoAvailable(), &TAdvEdit::Undo);
    add("&Redo", QKeySequence::Redo, writable && RedoAvailable(), &TAdvEdit::Redo);
    menu->addSeparator();
    add("Cu&t", QKeySequence::Cut, writable && selected && !secret, &TAdvEdit::CutToClipboard);
    add("&Copy", QKeySequence::Copy, selected && !secret, &TAdvEdit::CopyToClipboard);
    add("&Paste", QKeySequence::Paste, writable && clip != nullptr && clip->hasText(),
        &TAdvEdit::PasteFromClipboard);
    add("Delete", QKeySequence::UnknownKey, writable && selected, &TAdvEdit::DeleteSelection);
    menu->addSeparator();
    add("Select All", QKeySequence::SelectAll, !Text().isEmpty(), &TAdvEdit::SelectValue);
    return menu;
}

void TAdvEdit::contextMenuEvent(QContextMenuEvent* e) {
    QMenu* menu = CreateContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(e->globalPos());
}
