#include "AdvEditLabel.h"

QPoint LabelTopLeft(TLabelPosition position, const QRect& field, const QSize& label,
                    int captionWidthPx, int marginPx) {
    const int l = field.x(), t = field.y(), w = field.width(), h = field.height();
    const int lw = label.width(), lh = label.height();
    const int m = marginPx;
    const int middle = t + (h - lh) / 2;
    const int centre = l + (w - lw) / 2;
    switch (position) {
    case lpLeftTop:
        return {l - captionWidthPx - m, t};
    case lpLeftCenter:
        return {l - captionWidthPx - m, middle};
    case lpLeftBottom:
        return {l - captionWidthPx - m, t + h - lh};
    case lpTopLeft:
        return {l, t - lh - m};
    case lpBottomLeft:
        return {l, t + h + m};
    case lpLeftTopLeft:
        return {l - m, t};
    case lpLeftCenterLeft:
        return {l - m, middle};
    case lpLeftBottomLeft:
        return {l - m, t + h - lh};
    case lpTopCenter:
        return {centre, t - lh - m};
    case lpBottomCenter:
        return {centre, t + h + m};
    }
    return {l, t};
}
