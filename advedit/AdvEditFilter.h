// Keystroke filter of the formatted edit control, over a plain model of the
// single-line editor (shown text, anchor and caret, modified flag). The widget
// copies its editor into a TEditBox, runs one of these functions and copies
// the result back; tests run them directly.
#pragma once

#include "AdvEditValue.h"

#include <QString>

#include <functional>
#include <optional>

// The editor as the filter sees it. `caret` is where the text cursor stands,
// `anchor` the other end of the selection (equal to caret when nothing is
// selected). Positions are 0-based in the shown text.
struct TEditBox {
    QString text;
    int anchor = 0;
    int caret = 0;
    bool modified = false;

    int SelStart() const { return anchor < caret ? anchor : caret; }
    int SelLength() const { return anchor < caret ? caret - anchor : anchor - caret; }
    int SelEnd() const { return SelStart() + SelLength(); }
    bool HasSelection() const { return anchor != caret; }
    QString SelectedText() const { return text.mid(SelStart(), SelLength()); }
    void SetCaret(int pos) { anchor = caret = pos; }
    void Select(int start, int length) {
        anchor = start;
        caret = start + length;
    }
};

// Character codes the filter deals with.
namespace AdvChar {
constexpr char16_t Copy = 3, Backspace = 8, Tab = 9, Return = 13, Paste = 22, Cut = 24, Undo = 26,
                   Escape = 27;
}

// What the widget must do after a filtered keystroke.
struct TFilterResult {
    bool refused = false;             // dropped: nothing inserted, no event
    char16_t shortcut = 0;            // an editor shortcut to run (copy, paste, cut, undo)
    std::optional<bool> modifiedMark; // last set (true) or clear (false) of the modified mark
    bool requestTab = false;          // move the focus to the next control
};

struct TKeyContext {
    bool ctrl = false;          // a Ctrl key is held down
    bool keypadDecimal = false; // the character came from the keypad's decimal key
    // Sees each character passed on to the editor; may change it or return
    // false to cancel it.
    std::function<bool(QChar&)> keyPress;
};

// Value text of a box, and the Text writer applied to a box (checks and
// formats, clears the modified mark).
QString BoxValue(const TEditBox& box, const TAdvSettings& s);
void WriteText(TEditBox& box, const QString& value, const TAdvSettings& s, const TAdvLocale& loc,
               TFilterResult& r);
// ValueAsFloat and ValueAsInteger writes on a box (set the modified mark).
void WriteFloat(TEditBox& box, double x, const TAdvSettings& s, const TAdvLocale& loc,
                TFilterResult& r);
void WriteInteger(TEditBox& box, int32_t n, const TAdvSettings& s, const TAdvLocale& loc,
                  TFilterResult& r);

// Regroups the integer part of the value with thousand separators (or strips
// them), keeping the caret at the same distance from the end of the value.
void RegroupThousands(TEditBox& box, const TAdvSettings& s, const TAdvLocale& loc);

// Selects the value; with `skipUrlScheme`, the part after "://" or "mailto:".
void SelectValue(TEditBox& box, const TAdvSettings& s, bool skipUrlScheme);

// One typed character through every step of the filter, the editor's own
// insertion included.
TFilterResult FilterChar(TEditBox& box, QChar c, const TAdvSettings& s, const TAdvLocale& loc,
                         const TKeyContext& ctx);

// Navigation keys. BeforeNavKey decides whether the editor gets the key (true)
// or it is dropped (false, the box may have been changed). AfterNavKey runs
// once the editor has handled it.
enum class TNavKey { Left, Right, Home, End, Delete, Other };
bool BeforeNavKey(TEditBox& box, TNavKey key, bool shift, const TAdvSettings& s,
                  const TAdvLocale& loc, TFilterResult& r);
void AfterNavKey(TEditBox& box, TNavKey key, const TAdvSettings& s, const TAdvLocale& loc);

// Keeps the caret and selection out of the prefix and suffix after a mouse
// release.
void ProtectAffixes(TEditBox& box, const TAdvSettings& s);

// Paste of `clip` once the paste event allowed it.
TFilterResult PasteText(TEditBox& box, const QString& clip, const TAdvSettings& s,
                        const TAdvLocale& loc);

// The value side of losing the focus (empty numbers become 0, decimals are
// re-formatted).
TFilterResult LeaveField(TEditBox& box, const TAdvSettings& s, const TAdvLocale& loc);
