#pragma once
// What the main window says about fuse bytes: each fuse field's tooltip
// decodes the value it holds with the part's layout, and Set Fuse lists the
// bits it changes and asks before a change that ends in-circuit programming.

#include "Dialogs.h"
#include "FuseLayout.h"

#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class TAVRisp;

// A fuse field's text as a number, the way the field's value is written: "$"
// followed by hexadecimal digits. Nothing when the text is not such a number.
std::optional<unsigned> FuseFieldValue(const QString& text);

// The three fuse fields read as bytes; Invalid names the first field that
// holds no such number, as the window's error message says it.
struct TFuseFieldValues {
    std::array<uint8_t, 3> Bytes{};
    QString Invalid;
};
TFuseFieldValues ReadFuseFields(const std::array<QString, 3>& texts);

// The tooltip of the field of fuse byte `byte` (FuseLow .. FuseExtended)
// holding `text`: the byte and its named bits; empty without a part.
QString FuseFieldTip(const TAVRisp& engine, int byte, const QString& text);

// The changes writing `values` makes to the bytes the part holds, one line
// each ("high: EESAVE 1 -> 0"), and the changes that will not take.
QString FuseChangeList(const TAVRisp& engine, const std::array<uint8_t, 3>& values);

// The changes of writing `values` that end in-circuit programming.
std::vector<TFuseWarning> FuseLockouts(const TAVRisp& engine, const std::array<uint8_t, 3>& values);

// Asks about one such change: a warning that names the bit and how the part
// comes back, No being the default. True for Yes.
bool ConfirmLockout(TDialogs& dialogs, QWidget* parent, const TFuseWarning& lockout);
