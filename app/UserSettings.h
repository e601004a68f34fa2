#pragma once
// The user's settings of the program, kept between runs (on Linux a per-user
// settings file): the "Fast programming" box and the cable in use.

#include <QSettings>

QSettings UserSettings();
