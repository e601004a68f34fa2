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
