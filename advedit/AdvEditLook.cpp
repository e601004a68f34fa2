// The formatted edit control's look: colours by focus, modified, error and
// enabled state, alignment, flat style, link look and painting.
#include "AdvEdit.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolTip>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

// From the left of the editor's cursor rectangle to the cursor line.
constexpr int kCursorRectInset = 5;

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

// Relative luminance of a colour, and the contrast ratio of two colours
// (1 for equal colours, 21 for black on white).
double Luminance(const QColor& c) {
    auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
           0.0722 * channel(c.blueF());
}

double Contrast(const QColor& a, const QColor& b) {
    const double la = Luminance(a), lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast at which ordinary text reads well.
constexpr double kLegibleContrast = 4.5;

} // namespace

// ---- focus and colours --------------------------------------------------------------

void TAdvEdit::SetBackground(const QColor& c) {
    QPalette p = palette();
    p.setColor(QPalette::Base, m_transparent ? QColor(Qt::transparent) : c);
    p.setColor(QPalette::Disabled, QPalette::Text, DisabledFontColor());
    setPalette(p);
    m_shownBackground = c;
}

QColor TAdvEdit::DisabledFontColor() const {
    const QPalette& window = this->window()->palette();
    const QColor grey = window.color(QPalette::Disabled, QPalette::WindowText);
    const QColor ink = window.color(QPalette::Active, QPalette::WindowText);
    // A style's grey text can all but vanish on the disabled background:
    // move it toward the window text until it reads well.
    QColor shown = grey;
    for (int step = 1; step <= 20 && Contrast(shown, m_disabledColor) < kLegibleContrast; ++step) {
        const double t = step / 20.0;
        shown = QColor::fromRgbF(static_cast<float>(grey.redF() + (ink.redF() - grey.redF()) * t),
                                 static_cast<float>(grey.greenF() + (ink.greenF() - grey.greenF()) * t),
                                 static_cast<float>(grey.blueF() + (ink.blueF() - grey.blueF()) * t));
    }
    return shown;
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
    } else {
        // Nothing selected, whatever selection the editor's own focus handling
        // made.
        TEditBox box = CurrentBox();
        const int p = static_cast<int>(m_s.prefix.size());
        const QString value = Text();
        if (m_s.editType == etFloat || m_s.editType == etMoney) {
            const int d = value.indexOf(Separators().decimal);
            box.SetCaret(p + (d >= 0 ? d : 0));
        } else if (box.HasSelection()) {
            box.SetCaret(p + static_cast<int>(value.size()));
        }
        ApplyBox(box, TFilterResult{}, TChange::User);
    }
    update();
}

void TAdvEdit::focusOutEvent(QFocusEvent* e) {
    QLineEdit::focusOutEvent(e);
    m_mouseSelecting = false;
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
    ApplyBox(box, r, TChange::Program);
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

bool TAdvEdit::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip && m_hintShowLargeText) {
        const QString value = Text();
        if (fontMetrics().horizontalAdvance(value) > width()) {
            QToolTip::showText(mapToGlobal(QPoint(0, 0)), value, this);
            return true;
        }
    }
    const bool result = QLineEdit::event(e);
    // Whatever the editor did with the event, the control's rule holds after
    // it. While a mouse button selects, the release settles the selection.
    if (!m_mouseSelecting) SettleEditor();
    return result;
}

// ---- painting ------------------------------------------------------------------------------

QPoint TAdvEdit::CharPos(int index) const {
    const QFontMetrics fm(font());
    const QString shown = displayText();
    index = std::clamp(index, 0, static_cast<int>(shown.size()));
    QStyleOptionFrame opt;
    initStyleOption(&opt);
    QRect r = style()->subElementRect(QStyle::SE_LineEditContents, &opt, this);
    r = r.marginsRemoved(textMargins());
    r.adjust(2, 1, -2, -1); // the editor's own margins around its text
    const int textWidth = fm.horizontalAdvance(shown);
    const int y = r.y() + (r.height() - fm.height() + 1) / 2;
    if (textWidth + 1 > r.width()) {
        // A text wider than the field scrolls: the editor's cursor shows where
        // it stands, and the character lies its distance from the cursor.
        const int cursor = cursorPosition();
        const int cursorX = cursorRect().x() + kCursorRectInset;
        return QPoint(cursorX + fm.horizontalAdvance(shown.left(index)) -
                          fm.horizontalAdvance(shown.left(cursor)),
                      y);
    }
    int x0 = r.x();
    if (m_editAlign == eaRight)
        x0 = r.x() + r.width() - textWidth;
    else if (m_editAlign == eaCenter)
        x0 = r.x() + (r.width() - textWidth) / 2;
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
