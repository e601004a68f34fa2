#include "AdvEdit.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolTip>
#include <QUrl>

#include <algorithm>

namespace {

Qt::Alignment QtAlignment(TEditAlign a) {
    switch (a) {
    case eaRight:
        return Qt::AlignRight | Qt::AlignVCenter;
    case eaCenter:
        return Qt::AlignHCenter | Qt::AlignVCenter;
    default:
        return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

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
    setAlignment(QtAlignment(m_editAlign));
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

// ---- focus and colours --------------------------------------------------------------

void TAdvEdit::SetBackground(const QColor& c) {
    QPalette p = palette();
    p.setColor(QPalette::Base, m_transparent ? QColor(Qt::transparent) : c);
    setPalette(p);
    m_shownBackground = c;
}

QColor TAdvEdit::FontColor() const {
    return palette().color(QPalette::Active, QPalette::Text);
}

void TAdvEdit::SetFontColor(const QColor& color) {
    QPalette p = palette();
    p.setColor(QPalette::Active, QPalette::Text, color);
    p.setColor(QPalette::Inactive, QPalette::Text, color);
    setPalette(p);
}

void TAdvEdit::SetColor(const QColor& color) {
    m_color = color;
    m_normalColor = color;
    SetBackground(color);
}

void TAdvEdit::SetDisabledColor(const QColor& c) {
    m_disabledColor = c;
    if (!isEnabled() && !m_loading) SetBackground(c);
    update();
}

void TAdvEdit::SetTransparent(bool on) {
    if (on == m_transparent) return;
    m_transparent = on;
    SetBackground(m_shownBackground);
    update();
}

void TAdvEdit::focusInEvent(QFocusEvent* e) {
    QLineEdit::focusInEvent(e);
    if (m_loading) return;
    m_entryText = Text();
    if (!(m_errorState && m_showError)) {
        SetBackground(m_focusColor);
        // A font colour set by the program while unfocused becomes the normal
        // one; the colour of the modified mark never does.
        const QColor current = FontColor();
        if (current != m_normalFontColor &&
            !(m_showModified && isModified() && current == m_modifiedColor))
            m_normalFontColor = current;
        if (!(m_urlLook && m_showURL)) SetFontColor(m_focusFontColor);
    }
    if (m_focusLabel && m_label) {
        QFont f = m_label->font();
        f.setBold(true);
        m_label->setFont(f);
    }
    if (m_focusWidthInc > 0 && !m_alignSwitching) resize(width() + m_focusWidthInc, height());
    if (m_focusAlign != m_editAlign && m_focusAlign != eaDefault) {
        m_savedAlign = m_editAlign;
        m_alignSwitching = true;
        SetEditAlign(m_focusAlign);
        m_alignSwitching = false;
    }
    if (m_autoSelect) {
        SelectValue();
    } else if (m_s.editType == etFloat || m_s.editType == etMoney) {
        const int d = Text().indexOf(Separators().decimal);
        setCursorPosition(static_cast<int>(m_s.prefix.size()) + (d >= 0 ? d : 0));
    }
    update();
}

void TAdvEdit::focusOutEvent(QFocusEvent* e) {
    QLineEdit::focusOutEvent(e);
    if (m_loading) return;
    if (!(m_errorState && m_showError)) {
        SetBackground(m_normalColor);
        if (!(m_urlLook && m_showURL)) SetFontColor(m_normalFontColor);
    }
    if (m_focusLabel && m_label) {
        QFont f = m_label->font();
        f.setBold(false);
        m_label->setFont(f);
    }
    TEditBox box = CurrentBox();
    const TFilterResult r = LeaveField(box, Settings(), Separators());
    ApplyBox(box, r, false);
    if (OnValueValidate) {
        bool valid = true;
        OnValueValidate(this, Text(), valid);
    }
    if (!m_alignSwitching) {
        if (m_focusWidthInc > 0) resize(width() - m_focusWidthInc, height());
        if (m_savedAlign != m_editAlign && m_focusAlign != eaDefault) SetEditAlign(m_savedAlign);
    }
    update();
}

void TAdvEdit::changeEvent(QEvent* e) {
    QLineEdit::changeEvent(e);
    if (e->type() == QEvent::EnabledChange && !m_loading) {
        SetBackground(isEnabled() ? m_normalColor : m_disabledColor);
        if (m_label && !m_labelAlwaysEnabled) m_label->setEnabled(isEnabled());
    }
    if (e->type() == QEvent::FontChange) ApplyTextRect();
}

void TAdvEdit::SetEditAlign(TEditAlign a) {
    if (a == m_editAlign) return;
    StoreText();
    m_editAlign = a;
    setAlignment(QtAlignment(a));
}

QColor TAdvEdit::ParentColor() const {
    const QWidget* parent = parentWidget();
    if (parent == nullptr) return QApplication::palette().color(QPalette::Window);
    return parent->palette().color(parent->backgroundRole());
}

void TAdvEdit::ApplyTextRect() {
    if (m_flat)
        setTextMargins(0, 2, 0, 2);
    else
        setTextMargins(0, 0, 0, 0);
}

void TAdvEdit::SetFlat(bool on) {
    if (m_loading) {
        m_flat = on;
        return;
    }
    if (on == m_flat) return;
    m_flat = on;
    if (on) {
        m_preFlatColor = m_color;
        if (m_flatParentColor) {
            SetColor(ParentColor());
            m_focusColor = m_color;
        }
        setFrame(false);
    } else {
        SetColor(m_preFlatColor);
        setFrame(m_savedFrame);
    }
    ApplyTextRect();
    update();
}

// ---- link look ------------------------------------------------------------------------

void TAdvEdit::SetUrlLook(bool on) {
    m_urlLook = on;
    QFont f = font();
    f.setUnderline(on);
    setFont(f);
    SetFontColor(on ? m_urlColor : m_normalFontColor);
    if (on)
        setCursor(Qt::PointingHandCursor);
    else
        setCursor(Qt::IBeamCursor);
    update();
}

void TAdvEdit::UpdateUrlLook() {
    if (!m_showURL) return;
    const bool link = LooksLikeUrl(Text());
    if (link != m_urlLook) SetUrlLook(link);
}

void TAdvEdit::OpenUrl() {
    const QString value = Text();
    QUrl url;
    if (value.contains(QLatin1String("://")) ||
        value.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
        url = QUrl(value);
    else
        url = QUrl(QStringLiteral("mailto:") + value);
    QDesktopServices::openUrl(url);
}

// ---- mouse ------------------------------------------------------------------------------

void TAdvEdit::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && m_urlLook && hasFocus() && m_showURL) OpenUrl();
    if (e->button() == Qt::LeftButton && hasFocus() && hasSelectedText()) {
        // A press inside the selection may start a drag; the selection stays.
        const int index = cursorPositionAt(e->position().toPoint());
        if (index >= selectionStart() && index <= selectionEnd()) {
            m_dragPending = true;
            m_pressWithheld = true;
            return;
        }
    }
    QLineEdit::mousePressEvent(e);
}

void TAdvEdit::mouseMoveEvent(QMouseEvent* e) {
    if (m_dragPending && hasSelectedText() && m_oleDropSource) {
        m_draggingFromSelf = true;
        const Qt::DropAction result =
            StartDrag(new TSourceDataObject(selectedText()), Qt::CopyAction | Qt::MoveAction);
        m_draggingFromSelf = false;
        const bool ctrl = QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier;
        if (!ctrl && result != Qt::IgnoreAction && hasSelectedText()) {
            // The text has moved away.
            TEditBox box = CurrentBox();
            box.text.remove(box.SelStart(), box.SelLength());
            box.SetCaret(box.SelStart());
            ApplyBox(box, TFilterResult{}, true);
        }
        SetDropCaret(QPoint(-1, -1));
        m_dragPending = false;
        return;
    }
    // Any move ends the wait for a drag. The editor never saw the press, so
    // the moves of this click do not select either.
    m_dragPending = false;
    if (m_pressWithheld) return;
    QLineEdit::mouseMoveEvent(e);
}

void TAdvEdit::mouseReleaseEvent(QMouseEvent* e) {
    if (m_dragPending) {
        m_dragPending = false;
        setCursorPosition(cursorPositionAt(e->position().toPoint()));
    }
    m_pressWithheld = false;
    QLineEdit::mouseReleaseEvent(e);
    TEditBox box = CurrentBox();
    ProtectAffixes(box, m_s);
    ApplyBox(box, TFilterResult{}, false);
}

void TAdvEdit::enterEvent(QEnterEvent* e) {
    QLineEdit::enterEvent(e);
    if (m_autoFocus) setFocus(Qt::MouseFocusReason);
    if (isEnabled() && !m_mouseInside) {
        m_mouseInside = true;
        if (m_focusBorder) update();
    }
}

void TAdvEdit::leaveEvent(QEvent* e) {
    QLineEdit::leaveEvent(e);
    if (isEnabled() && m_mouseInside) {
        m_mouseInside = false;
        if (m_focusBorder) update();
    }
}

bool TAdvEdit::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip && m_hintShowLargeText) {
        const QString value = Text();
        if (fontMetrics().horizontalAdvance(value) > width()) {
            QToolTip::showText(mapToGlobal(QPoint(0, 0)), value, this);
            return true;
        }
    }
    return QLineEdit::event(e);
}

// ---- painting ------------------------------------------------------------------------------

QPoint TAdvEdit::CharPos(int index) const {
    QStyleOptionFrame opt;
    initStyleOption(&opt);
    QRect r = style()->subElementRect(QStyle::SE_LineEditContents, &opt, this);
    r = r.marginsRemoved(textMargins());
    r.adjust(2, 1, -2, -1); // the editor's own margins around its text
    const QFontMetrics fm(font());
    const QString shown = displayText();
    const int textWidth = fm.horizontalAdvance(shown);
    int x0 = r.x();
    if (m_editAlign == eaRight)
        x0 = r.x() + r.width() - textWidth;
    else if (m_editAlign == eaCenter)
        x0 = r.x() + (r.width() - textWidth) / 2;
    const int y = r.y() + (r.height() - fm.height() + 1) / 2;
    index = std::clamp(index, 0, static_cast<int>(shown.size()));
    return QPoint(x0 + fm.horizontalAdvance(shown.left(index)), y);
}

void TAdvEdit::DrawFocusBorder(QPainter& p, bool hot) const {
    const QRect r = rect();
    p.save();
    p.setBrush(Qt::NoBrush);
    if (hot) {
        const QPalette& pal = palette();
        p.setPen(pal.color(QPalette::Dark));
        p.drawLine(r.left(), r.top(), r.right(), r.top());
        p.drawLine(r.left(), r.top(), r.left(), r.bottom());
        p.setPen(pal.color(QPalette::Light));
        p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        p.drawLine(r.right(), r.top(), r.right(), r.bottom());
        p.setPen(pal.color(QPalette::Button));
        p.drawRect(r.adjusted(1, 1, -2, -2));
    } else {
        p.setPen(ParentColor());
        p.drawRect(r.adjusted(0, 0, -1, -1));
        p.drawRect(r.adjusted(1, 1, -2, -2));
    }
    p.restore();
}

void TAdvEdit::DrawErrorMarker(QPainter& p) const {
    const int valueLength = static_cast<int>(Text().size());
    const int shownLength = static_cast<int>(displayText().size());
    QPoint p1 = m_errorMarkerPos >= valueLength ? CharPos(shownLength) + QPoint(4, 0)
                                                : CharPos(m_errorMarkerPos);
    QPoint p2 = CharPos(m_errorMarkerPos + m_errorMarkerLen - 1);
    if (m_errorMarkerPos + m_errorMarkerLen >= valueLength)
        p2 = QPoint(CharPos(std::max(shownLength - 1, 0)).x() + 4, p1.y());
    const int h = QFontMetrics(font()).boundingRect(QStringLiteral("gh")).height() - 1;
    QPainterPath path;
    int x = p1.x();
    int d = 3;
    path.moveTo(x, p1.y() + h + 3);
    while (x <= p2.x()) {
        d = d == 3 ? 0 : 3;
        path.lineTo(x + 3, p2.y() + h + d);
        x += 3;
    }
    d = d == 3 ? 0 : 3;
    path.lineTo(x + 3, p2.y() + h + d);
    p.save();
    p.setPen(QPen(QColor(255, 0, 0), 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.restore();
}

void TAdvEdit::paintEvent(QPaintEvent* e) {
    QLineEdit::paintEvent(e);
    QPainter p(this);
    const bool hot = m_focusBorder && (m_mouseInside || hasFocus());
    if (m_flat) {
        if (m_focusBorder) {
            DrawFocusBorder(p, hot);
        } else {
            const int w = width(), h = height();
            p.setPen(QPen(m_flatLineColor, 1));
            if (m_softBorder)
                p.drawRect(0, 0, w - 1, h - 1);
            else
                p.drawLine(0, h - 1, w, h - 1);
        }
    } else if (hot) {
        DrawFocusBorder(p, true);
    }
    if (!hasFocus() && !m_emptyText.isEmpty() && Text().isEmpty()) {
        p.setFont(QApplication::font());
        p.setPen(QColor(128, 128, 128));
        p.drawText(QRect(2, 2, width() - 2, height() - 2), Qt::AlignLeft | Qt::AlignTop,
                   m_emptyText);
    }
    if (!hasFocus() && m_errorMarkerLen > 0) DrawErrorMarker(p);
    if (m_dropCaret.x() >= 0) {
        p.setPen(QPen(FontColor(), 1));
        p.drawLine(m_dropCaret.x(), m_dropCaret.y(), m_dropCaret.x(),
                   m_dropCaret.y() + fontMetrics().height() - 1);
    }
}

// ---- attached label ----------------------------------------------------------------------

QString TAdvEdit::LabelCaption() const {
    return m_label ? m_label->text() : QString();
}

void TAdvEdit::SetLabelCaption(const QString& caption) {
    if (!m_label) {
        m_label = new QLabel(parentWidget());
        m_label->setBuddy(this);
        m_label->setFont(m_labelFont);
        m_label->setEnabled(isEnabled() || m_labelAlwaysEnabled);
    }
    m_label->setText(caption);
    m_label->adjustSize();
    PlaceLabel();
}

void TAdvEdit::SetLabelPosition(TLabelPosition p) {
    m_labelPosition = p;
    PlaceLabel();
}

void TAdvEdit::SetLabelMargin(int px) {
    m_labelMargin = px;
    PlaceLabel();
}

void TAdvEdit::SetLabelFont(const QFont& f) {
    m_labelFont = f;
    if (m_label) {
        m_label->setFont(f);
        m_label->adjustSize();
    }
    PlaceLabel();
}

void TAdvEdit::SetLabelTransparent(bool on) {
    m_labelTransparent = on;
    PlaceLabel();
}

void TAdvEdit::SetLabelAlwaysEnabled(bool on) {
    m_labelAlwaysEnabled = on;
    if (on && m_label) m_label->setEnabled(true);
    update();
}

void TAdvEdit::PlaceLabel() {
    if (!m_label) return;
    m_label->setAutoFillBackground(!m_labelTransparent);
    QFont f = m_labelFont;
    if (m_focusLabel && hasFocus()) f.setBold(true);
    m_label->setFont(f);
    m_label->adjustSize();
    const int captionWidth = m_label->fontMetrics().horizontalAdvance(m_label->text());
    m_label->move(
        LabelTopLeft(m_labelPosition, geometry(), m_label->size(), captionWidth, m_labelMargin));
    m_label->setVisible(isVisibleTo(parentWidget()) || (parentWidget() == nullptr && isVisible()));
}

void TAdvEdit::setVisible(bool visible) {
    QLineEdit::setVisible(visible);
    if (m_label) m_label->setVisible(visible);
}

void TAdvEdit::moveEvent(QMoveEvent* e) {
    QLineEdit::moveEvent(e);
    PlaceLabel();
}

void TAdvEdit::resizeEvent(QResizeEvent* e) {
    QLineEdit::resizeEvent(e);
    PlaceLabel();
}

// ---- persistence -------------------------------------------------------------------------

void TAdvEdit::RestoreText() {
    if (!m_persistence.Enable()) return;
    const QString stored = ReadStoredText(m_persistence, objectName());
    if (stored != kNoStoredValue) QLineEdit::setText(stored);
}

void TAdvEdit::StoreText() {
    if (!m_persistence.Enable()) return;
    WriteStoredText(m_persistence, objectName(), m_s.prefix + Text() + m_s.suffix);
}

// ---- drag and drop -----------------------------------------------------------------------

void TAdvEdit::SetOleDropTarget(bool on) {
    if (on == OleDropTarget()) return;
    if (on)
        m_dropTarget = std::make_unique<TEditDropTarget>(this);
    else
        m_dropTarget.reset();
    setAcceptDrops(on);
}

Qt::DropAction TAdvEdit::StartDrag(QMimeData* data, Qt::DropActions allowed) {
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    TAEDropSource source;
    connect(drag, &QDrag::actionChanged, this, [&source](Qt::DropAction a) { source.Feedback(a); });
    const Qt::DropAction result = drag->exec(allowed, Qt::MoveAction);
    return source.Finish(result);
}

void TAdvEdit::SetDropCaret(const QPoint& pos) {
    if (pos == m_dropCaret) return;
    m_dropCaret = pos;
    update();
}

void TAdvEdit::dragEnterEvent(QDragEnterEvent* e) {
    if (!m_dropTarget) return e->ignore();
    const Qt::DropAction effect = m_dropTarget->DragEnter(e->mimeData(), e->modifiers());
    e->setDropAction(effect);
    if (effect == Qt::IgnoreAction)
        e->ignore();
    else
        e->accept();
}

void TAdvEdit::dragMoveEvent(QDragMoveEvent* e) {
    if (!m_dropTarget) return e->ignore();
    const Qt::DropAction effect = m_dropTarget->DragOver(e->position().toPoint(), e->modifiers());
    e->setDropAction(effect);
    if (effect == Qt::IgnoreAction)
        e->ignore();
    else
        e->accept();
}

void TAdvEdit::dragLeaveEvent(QDragLeaveEvent* e) {
    if (!m_dropTarget) return e->ignore();
    m_dropTarget->DragLeave();
    SetDropCaret(QPoint(-1, -1));
}

void TAdvEdit::dropEvent(QDropEvent* e) {
    if (!m_dropTarget) return e->ignore();
    m_dropDeclined = false;
    Qt::DropAction effect =
        m_dropTarget->Drop(e->position().toPoint(), e->mimeData(), e->modifiers());
    // Text dropped back onto its own selection stays where it is; reporting a
    // move would make the drag source delete it.
    if (m_dropDeclined) effect = Qt::IgnoreAction;
    e->setDropAction(effect);
    if (effect == Qt::IgnoreAction)
        e->ignore();
    else
        e->accept();
}

void TAdvEdit::InsertDroppedText(const QPoint& pt, QString text) {
    const int cr = text.indexOf(QLatin1Char('\r'));
    if (cr >= 0) text.truncate(cr);
    const int lf = text.indexOf(QLatin1Char('\n'));
    if (lf >= 0) text.truncate(lf);
    TEditBox box = CurrentBox();
    if (m_draggingFromSelf) {
        const int index = cursorPositionAt(pt);
        if (index >= box.SelStart() && index <= box.SelEnd()) {
            m_dropDeclined = true;
            return;
        }
        if (!(QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier)) {
            box.text.remove(box.SelStart(), box.SelLength());
            box.SetCaret(box.SelStart());
            ApplyBox(box, TFilterResult{}, true);
        }
    }
    SetDropCaret(QPoint(-1, -1));
    setCursorPosition(cursorPositionAt(pt));
    insert(text);
    update();
}

void TEditDropTarget::DropText(const QPoint& pt, const QString& text) {
    m_edit->InsertDroppedText(pt, text);
}

void TEditDropTarget::DragMoved(const QPoint& pt, bool&) {
    m_edit->SetDropCaret(m_edit->CharPos(m_edit->cursorPositionAt(pt)));
}
