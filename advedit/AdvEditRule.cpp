#include "AdvEditRule.h"

#include <algorithm>

namespace {

// Whether typing would let `c` in anywhere in a field of this type (the
// rules that depend on where the caret stands are left to the value check).
bool TypingAdmits(QChar c, const TAdvSettings& s, const TAdvLocale& loc) {
    if (IsControlChar(c)) return false;
    const bool minus = c == QLatin1Char('-');
    switch (s.editType) {
    case etHex:
        return IsDigit(c) || IsHexLetter(c) || minus;
    case etAlphaNumeric:
        return IsDigit(c) || IsAsciiLetter(c);
    case etNumeric:
        return IsDigit(c) || (minus && s.isSigned);
    case etRange:
        return IsDigit(c) || minus || c == QLatin1Char(',') || c == QLatin1Char(';');
    case etFloat:
    case etMoney:
        return IsDigit(c) || (minus && s.isSigned) || c == loc.thousand ||
               (c == loc.decimal && s.precision != 0);
    default:
        return true;
    }
}

} // namespace

bool IsShownForm(const QString& shown, const TAdvSettings& s, const TAdvLocale& loc) {
    if (shown.size() < s.prefix.size() + s.suffix.size()) return false;
    if (!shown.startsWith(s.prefix) || !shown.endsWith(s.suffix)) return false;
    return AcceptsValue(ValueOfShown(shown, s), s, loc);
}

bool Settle(TEditBox& box, const TEditBox& before, const TAdvSettings& s, const TAdvLocale& loc,
            bool typed) {
    bool kept = IsShownForm(box.text, s, loc);
    if (kept && typed && box.text.size() > s.maxLength && box.text.size() > before.text.size())
        kept = false;
    if (!kept) {
        box = before;
        if (!IsShownForm(box.text, s, loc)) {
            // Only a field whose settings changed under it gets here: keep
            // what of its value still counts as one.
            const QString value = ValueOfShown(box.text, s);
            box.text = s.prefix + (AcceptsValue(value, s, loc) ? value : QString()) + s.suffix;
        }
    }
    const int low = static_cast<int>(s.prefix.size());
    const int high = static_cast<int>(box.text.size() - s.suffix.size());
    box.anchor = std::clamp(box.anchor, low, high);
    box.caret = std::clamp(box.caret, low, high);
    return kept;
}

std::optional<QString> EnteringText(const QString& text, const TAdvSettings& s,
                                    const TAdvLocale& loc) {
    QString t = text;
    const auto lineEnd = std::find_if(t.begin(), t.end(), [](QChar c) {
        return c == QLatin1Char('\r') || c == QLatin1Char('\n');
    });
    t.truncate(static_cast<int>(lineEnd - t.begin()));
    if ((s.editType == etFloat || s.editType == etMoney) && loc.thousand.isSpace()) {
        for (QChar& c : t)
            if (c.isSpace()) c = loc.thousand;
    }
    if (s.editType == etUppercase) t = t.toUpper();
    if (s.editType == etLowerCase) t = t.toLower();
    for (const QChar c : t)
        if (!TypingAdmits(c, s, loc)) return std::nullopt;
    return t;
}

bool PassesLengthLimit(const QString& value, const QString& candidate, const TAdvSettings& s,
                       const TAdvLocale& loc) {
    if (s.lengthLimit <= 0) return false;
    const int now = IntPartLength(candidate, loc) - 1;
    return now > s.lengthLimit && now > IntPartLength(value, loc) - 1;
}

bool DropInto(TEditBox& box, int index, const QString& text, const TAdvSettings& s,
              const TAdvLocale& loc) {
    const QString value = BoxValue(box, s);
    const std::optional<QString> entering = EnteringText(text, s, loc);
    if (!entering || box.text.size() + entering->size() > s.maxLength) return false;
    const int at = std::clamp(index - static_cast<int>(s.prefix.size()), 0,
                              static_cast<int>(value.size()));
    QString candidate = value;
    candidate.insert(at, *entering);
    if (PassesLengthLimit(value, candidate, s, loc) || !AcceptsValue(candidate, s, loc))
        return false;
    box.text = s.prefix + candidate + s.suffix;
    box.SetCaret(static_cast<int>(s.prefix.size()) + at + static_cast<int>(entering->size()));
    box.modified = true;
    return true;
}

void SelectWordForward(TEditBox& box, const TAdvSettings& s) {
    const int end = static_cast<int>(box.text.size() - s.suffix.size());
    int pos = box.caret;
    while (pos < end && !box.text.at(pos).isSpace())
        ++pos;
    while (pos < end && box.text.at(pos).isSpace())
        ++pos;
    box.anchor = box.caret;
    box.caret = std::max(pos, box.caret);
}
