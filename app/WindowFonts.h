#pragma once
// The fonts of the two windows: a proportional font for the controls and a
// fixed-pitch font for the device labels and the information text, whose columns
// must line up. Sizes are in pixels; fontconfig picks the nearest installed face.

#include <QFont>

QFont WindowFont();
QFont FixedPitchFont(int pixelSize);
