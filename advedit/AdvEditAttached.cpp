// What the formatted edit control keeps beside its text: the attached label
// and the stored text between runs.
#include "AdvEdit.h"

#include <QLabel>
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
    // A stored text the field would not show itself (another prefix, a value
    // its type refuses) counts as none.
    if (stored == kNoStoredValue || !IsShownForm(stored, m_s, Separators())) return;
    TEditBox box = CurrentBox();
    box.text = stored;
    box.SetCaret(static_cast<int>(stored.size() - m_s.suffix.size()));
    ApplyBox(box, TFilterResult{}, TChange::Program);
}

bool TAdvEdit::StoreText() {
    if (!m_persistence.Enable()) return true;
    const std::optional<QString> failure =
        WriteStoredText(m_persistence, objectName(), m_s.prefix + Text() + m_s.suffix);
    if (!failure) return true;
    if (OnStoreError)
        OnStoreError(this, *failure);
    else
        qWarning("%s", qPrintable(*failure));
    return false;
}
