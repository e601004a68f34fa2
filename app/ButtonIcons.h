#pragma once
// The 16 x 16 pictures shown on the push buttons, compiled into the program. A
// disabled button shows the greyed look that QIcon derives from the picture.

#include <QIcon>
#include <QString>

// The picture named `name` (e.g. "read", "abort"); a null icon for an unknown name.
QIcon ButtonIcon(const QString& name);
