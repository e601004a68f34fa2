#pragma once
// The fonts of the two windows: a proportional font for the controls and a
// fixed-pitch font for the device labels and the information text, whose columns
// must line up. Sizes are in pixels; fontconfig picks the nearest installed face.

#include <QFont>

class TXHexEdit;

QFont WindowFont();
QFont FixedPitchFont(int pixelSize);
// Gives a hex view the window's font in all three columns, narrowed where the
// face standing in for MS Sans Serif is wider than it, until a whole row fits
// beside the view's vertical scroll bar (no horizontal bar, no clipped text).
void FitHexViewFont(TXHexEdit& view);
