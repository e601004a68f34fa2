// The one rule of the formatted edit control, and the checks for text that
// arrives in one piece (paste, drop). After every input the shown text is
// prefix + value + suffix, the value is one the edit type takes, and the
// caret and selection lie within the value. The widget ends every change of
// its editor with Settle; the checks here are plain code over the editor
// model so that tests can run them directly.
#pragma once

#include "AdvEditFilter.h"

#include <optional>

// Whether a shown text is the prefix, a value the type takes, and the suffix.
bool IsShownForm(const QString& shown, const TAdvSettings& s, const TAdvLocale& loc);

// Brings the editor back under the rule after a change that started from
// `before`. A box whose text breaks the rule, or (for the user's own input,
// `typed`) grows past the length limit of the editor, goes back to `before`.
// Caret and selection are then kept within the value. Returns false when the
// change was refused.
bool Settle(TEditBox& box, const TEditBox& before, const TAdvSettings& s, const TAdvLocale& loc,
            bool typed);

// Text that arrives in one piece, as the type takes it: the part before its
// first line end, case-converted for the case types, with blanks read as the
// thousand separator where the locale groups with a blank. Nothing when it
// holds a character that typing would refuse.
std::optional<QString> EnteringText(const QString& text, const TAdvSettings& s,
                                    const TAdvLocale& loc);

// Whether replacing `value` by `candidate` lengthens an integer part that has
// reached `LengthLimit`, which typing refuses.
bool PassesLengthLimit(const QString& value, const QString& candidate, const TAdvSettings& s,
                       const TAdvLocale& loc);

// Text dropped at character `index` of the shown text (moved into the value).
// It goes in on the terms of typing; returns false when it is refused.
bool DropInto(TEditBox& box, int index, const QString& text, const TAdvSettings& s,
              const TAdvLocale& loc);

// The span a word deletion forward removes: from the caret to the start of
// the next word, never past the end of the value. Selects it in `box`.
void SelectWordForward(TEditBox& box, const TAdvSettings& s);
