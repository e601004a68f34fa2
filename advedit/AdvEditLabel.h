// Placement of the caption label attached to a formatted edit field.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

enum TLabelPosition {
    lpLeftTop,
    lpLeftCenter,
    lpLeftBottom,
    lpTopLeft,
    lpBottomLeft,
    lpLeftTopLeft,
    lpLeftCenterLeft,
    lpLeftBottomLeft,
    lpTopCenter,
    lpBottomCenter
};

// Top-left corner of the label in the parent's coordinates. `field` is the
// field's geometry in the parent, `label` the label's size, `captionWidthPx`
// the caption's pixel width and `marginPx` the gap between label and field.
// Centred positions use signed halves, so a label larger than its field is
// centred over it rather than thrown far away.
QPoint LabelTopLeft(TLabelPosition position, const QRect& field, const QSize& label,
                    int captionWidthPx, int marginPx);
