#include "ControlsEnabled.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>

namespace {

// Only the window's own panels and group boxes are walked into; the controls
// (hex views, fuse fields, buttons) are switched as whole controls.
bool IsContainer(const QWidget* w) {
    return w->metaObject() == &QFrame::staticMetaObject || qobject_cast<const QGroupBox*>(w);
}

bool IsLabel(const QWidget* w) {
    return qobject_cast<const QLabel*>(w) != nullptr;
}

bool HoldsLabel(const QWidget* container) {
    for (const QObject* child : container->children()) {
        const auto* w = qobject_cast<const QWidget*>(child);
        if (w && !w->isWindow() && (IsLabel(w) || (IsContainer(w) && HoldsLabel(w)))) return true;
    }
    return false;
}

} // namespace

void SetControlsEnabled(QWidget* control, bool enabled) {
    if (IsLabel(control)) return;
    const bool container = IsContainer(control);
    if (!container || !HoldsLabel(control))
        control->setEnabled(enabled);
    else
        control->setEnabled(true);
    if (!container) return;
    for (QObject* child : control->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (w && !w->isWindow()) SetControlsEnabled(w, enabled);
    }
}
