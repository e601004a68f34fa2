// The formatted edit control under the mouse: clicks, and text dragged out
// of the field or dropped onto it.
#include "AdvEdit.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>

#include <algorithm>

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
    m_mouseSelecting = e->button() == Qt::LeftButton;
    QLineEdit::mousePressEvent(e);
}

void TAdvEdit::mouseMoveEvent(QMouseEvent* e) {
    // A password field lets nothing be dragged out of it.
    if (m_dragPending && hasSelectedText() && m_oleDropSource && m_s.editType != etPassword) {
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
            ApplyBox(box, TFilterResult{}, TChange::User);
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
    m_mouseSelecting = false;
    QLineEdit::mouseReleaseEvent(e); // a middle-button paste goes in here
    TEditBox box = CurrentBox();
    ProtectAffixes(box, m_s);
    ApplyBox(box, TFilterResult{}, TChange::User);
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
    // A read-only field takes no drops.
    if (!m_dropTarget || isReadOnly()) return e->ignore();
    const Qt::DropAction effect = m_dropTarget->DragEnter(e->mimeData(), e->modifiers());
    e->setDropAction(effect);
    if (effect == Qt::IgnoreAction)
        e->ignore();
    else
        e->accept();
}

void TAdvEdit::dragMoveEvent(QDragMoveEvent* e) {
    // A read-only field takes no drops.
    if (!m_dropTarget || isReadOnly()) return e->ignore();
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
    // A read-only field takes no drops.
    if (!m_dropTarget || isReadOnly()) return e->ignore();
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

void TAdvEdit::InsertDroppedText(const QPoint& pt, const QString& text) {
    TEditBox box = CurrentBox();
    int index = cursorPositionAt(pt);
    if (m_draggingFromSelf) {
        if (index >= box.SelStart() && index <= box.SelEnd()) {
            m_dropDeclined = true;
            return;
        }
        if (!(QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier)) {
            // A move inside the field: the selection leaves first.
            if (index > box.SelEnd()) index -= box.SelLength();
            box.text.remove(box.SelStart(), box.SelLength());
            box.SetCaret(box.SelStart());
        }
    }
    SetDropCaret(QPoint(-1, -1));
    // Dropped text enters on the terms of typing, into the value only. What
    // does not go in is reported as no drop, so that a moving source keeps it.
    if (!DropInto(box, index, text, Settings(), Separators()) ||
        !ApplyBox(box, TFilterResult{}, TChange::User)) {
        m_dropDeclined = true;
        return;
    }
    update();
}

void TEditDropTarget::DropText(const QPoint& pt, const QString& text) {
    m_edit->InsertDroppedText(pt, text);
}

void TEditDropTarget::DragMoved(const QPoint& pt, bool&) {
    // The drop caret shows where the text would go: never inside the prefix
    // or the suffix.
    const int low = static_cast<int>(m_edit->Prefix().size());
    const int high = low + static_cast<int>(m_edit->Text().size());
    m_edit->SetDropCaret(m_edit->CharPos(std::clamp(m_edit->cursorPositionAt(pt), low, high)));
}
