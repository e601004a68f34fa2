#include "AdvEditFilter.h"

#include "AdvEditRule.h"

#include <algorithm>
#include <cmath>

namespace {

bool Is(QChar c, char16_t code) {
    return c.unicode() == code;
}

bool IsEditingKey(QChar c) {
    return Is(c, AdvChar::Backspace) || Is(c, AdvChar::Tab) || Is(c, AdvChar::Return);
}

void SetMark(TEditBox& box, TFilterResult& r, bool on) {
    box.modified = on;
    r.modifiedMark = on;
}

int Clamp(int pos, const TEditBox& box) {
    return std::clamp(pos, 0, static_cast<int>(box.text.size()));
}

void ShowValue(TEditBox& box, const QString& value, const TAdvSettings& s) {
    box.text = s.prefix + value + s.suffix;
}

// The editor's own handling of a character it is given: OnKeyPress first,
// then insertion over the selection, deletion for Backspace, or a shortcut.
void PassOn(TEditBox& box, QChar c, const TAdvSettings& s, const TKeyContext& ctx,
            TFilterResult& r) {
    if (ctx.keyPress) {
        QChar k = c;
        if (!ctx.keyPress(k) || k.isNull()) return;
        c = k;
    }
    const int start = box.SelStart();
    const int length = box.SelLength();
    switch (c.unicode()) {
    case AdvChar::Backspace:
        if (length > 0) {
            box.text.remove(start, length);
            box.SetCaret(start);
            box.modified = true;
        } else if (start > 0) {
            box.text.remove(start - 1, 1);
            box.SetCaret(start - 1);
            box.modified = true;
        }
        return;
    case AdvChar::Copy:
    case AdvChar::Paste:
    case AdvChar::Cut:
    case AdvChar::Undo:
        r.shortcut = c.unicode();
        return;
    default:
        break;
    }
    if (c.unicode() < 32 || c.unicode() == 127) return;
    if (box.text.size() - length + 1 > s.maxLength) return;
    box.text.replace(start, length, c);
    box.SetCaret(start + 1);
    box.modified = true;
}

// The minus key of the number types: adds or removes the sign in front of
// the value instead of inserting the character.
void ToggleSign(TEditBox& box, const TAdvSettings& s, TFilterResult& r) {
    const int c0 = box.SelStart();
    const int s0 = box.SelLength();
    const int p = s.prefix.size();
    QString value = BoxValue(box, s);
    int caret;
    const int minus = value.indexOf(QLatin1Char('-'));
    if (minus >= 0) {
        value.remove(minus, 1);
        caret = c0 > p ? c0 - 1 : p;
    } else {
        value.prepend(QLatin1Char('-'));
        caret = c0 + 1;
    }
    ShowValue(box, value, s);
    caret = Clamp(caret, box);
    box.anchor = caret;
    box.caret = Clamp(caret + s0, box);
    SetMark(box, r, true);
}

void CaretBehindDecimal(TEditBox& box, const QString& value, const TAdvSettings& s,
                        const TAdvLocale& loc) {
    if (s.precision <= 0) return;
    const int d = value.indexOf(loc.decimal);
    box.SetCaret(d >= 0 ? s.prefix.size() + d + 1 : s.prefix.size());
}

enum class Step { End, Continue };

// Steps shared by the money and float types: separator spacing, a full
// fractional part, the leading zero, and the sign toggle.
Step MoneySteps3To6(TEditBox& box, QChar c, const QString& value, const TAdvSettings& s,
                    const TAdvLocale& loc, TFilterResult& r) {
    const int caret = box.SelStart();
    const int p = s.prefix.size();
    if ((c == loc.thousand || c == loc.decimal) && SeparatorTooClose(value, caret, s, loc)) {
        r.refused = true;
        return Step::End;
    }
    if (FractionFull(value, caret, s, loc) && !box.HasSelection()) {
        if (c == loc.decimal) {
            r.refused = true;
            return Step::End;
        }
        if (IsDigit(c)) {
            if (caret == p + value.size()) {
                r.refused = true;
                return Step::End;
            }
            box.Select(caret, 1);
        }
    }
    if (value.isEmpty() && caret == p && c == loc.decimal) {
        ShowValue(box, QStringLiteral("0") + loc.decimal, s);
        box.SetCaret(p + 2);
        SetMark(box, r, true);
        return Step::End;
    }
    if (c == QLatin1Char('-') && !box.HasSelection()) {
        ToggleSign(box, s, r);
        return Step::End;
    }
    return Step::Continue;
}

// Returns Step::End when the type's rule ends the handling, Continue when
// the after-steps follow.
Step TypeFilter(TEditBox& box, QChar c, const TAdvSettings& s, const TAdvLocale& loc,
                const TKeyContext& ctx, TFilterResult& r) {
    const QString value = BoxValue(box, s);
    const int p = s.prefix.size();
    auto refuse = [&r] {
        r.refused = true;
        return Step::Continue;
    };
    switch (s.editType) {
    case etHex:
        if (IsEditingKey(c) || c == QLatin1Char('-') || IsDigit(c) || IsHexLetter(c))
            PassOn(box, c, s, ctx, r);
        else
            return refuse();
        return Step::Continue;
    case etString:
    case etPassword:
        PassOn(box, c, s, ctx, r);
        return Step::Continue;
    case etAlphaNumeric:
        if (IsEditingKey(c) || IsDigit(c) || IsAsciiLetter(c))
            PassOn(box, c, s, ctx, r);
        else
            return refuse();
        return Step::Continue;
    case etUppercase:
        PassOn(box, c.toUpper(), s, ctx, r);
        return Step::Continue;
    case etLowerCase:
        PassOn(box, c.toLower(), s, ctx, r);
        return Step::Continue;
    case etMixedCase: {
        PassOn(box, c, s, ctx, r);
        // The rewrite keeps the text's length, so the caret the editor left is
        // still right (also after Backspace or a cancelled key).
        const int caret = box.caret;
        ShowValue(box, MixedCase(BoxValue(box, s)), s);
        box.SetCaret(Clamp(caret, box));
        return Step::Continue;
    }
    case etNumeric:
        if (c == QLatin1Char('-'))
            ToggleSign(box, s, r);
        else if (IsDigit(c) || IsEditingKey(c))
            PassOn(box, c, s, ctx, r);
        else if (ctx.ctrl && IsControlChar(c))
            PassOn(box, c, s, ctx, r);
        else
            return refuse();
        return Step::Continue;
    case etRange: {
        const bool separator =
            c == QLatin1Char(',') || c == QLatin1Char('-') || c == QLatin1Char(';');
        if (!separator && !IsDigit(c) && !IsEditingKey(c)) return refuse();
        if (separator) {
            auto isSep = [](QChar x) {
                return x == QLatin1Char(',') || x == QLatin1Char('-') || x == QLatin1Char(';');
            };
            const int before = box.SelStart() - 1;
            const int after = box.SelEnd();
            if (box.SelStart() <= p ||
                (before >= 0 && before < box.text.size() && isSep(box.text.at(before))) ||
                (after < box.text.size() && isSep(box.text.at(after)))) {
                r.refused = true;
                return Step::End;
            }
        }
        PassOn(box, c, s, ctx, r);
        return Step::Continue;
    }
    case etMoney: {
        if (c == loc.decimal && (value.contains(loc.decimal) || s.precision == 0)) {
            CaretBehindDecimal(box, value, s, loc);
            r.refused = true;
            return Step::End;
        }
        if (!IsEditingKey(c) && c != QLatin1Char('-') && !IsDigit(c) && c != loc.decimal)
            return refuse();
        if (MoneySteps3To6(box, c, value, s, loc, r) == Step::End) return Step::End;
        PassOn(box, c, s, ctx, r);
        const QString now = BoxValue(box, s);
        if (!now.isEmpty() && now != QLatin1String("-") && c != loc.decimal) {
            if (box.modified) SetMark(box, r, true);
            RegroupThousands(box, s, loc);
        }
        return Step::Continue;
    }
    case etFloat: {
        if (c == QLatin1Char(',') && loc.decimal != c && loc.thousand != c) {
            r.refused = true;
            return Step::End;
        }
        if (c == QLatin1Char('.') && loc.decimal != c && loc.thousand != c) {
            r.refused = true;
            return Step::End;
        }
        if (!IsEditingKey(c) && c != QLatin1Char(',') && c != QLatin1Char('-') &&
            c != QLatin1Char('.') && !IsDigit(c))
            return refuse();
        const QString selected = box.SelectedText();
        if (c == loc.decimal && !selected.contains(loc.decimal)) {
            if (value.contains(loc.decimal) || s.precision == 0) {
                CaretBehindDecimal(box, value, s, loc);
                r.refused = true;
                return Step::End;
            }
        }
        if (c == QLatin1Char(',') && value.contains(c) && !selected.contains(c) &&
            loc.thousand != c) {
            r.refused = true;
            return Step::End;
        }
        if (MoneySteps3To6(box, c, value, s, loc, r) == Step::End) return Step::End;
        PassOn(box, c, s, ctx, r);
        return Step::Continue;
    }
    }
    return Step::Continue;
}

} // namespace

QString BoxValue(const TEditBox& box, const TAdvSettings& s) {
    return ValueOfShown(box.text, s);
}

void WriteText(TEditBox& box, const QString& value, const TAdvSettings& s, const TAdvLocale& loc,
               TFilterResult& r) {
    const QString v = FormatForWrite(value, s, loc);
    ShowValue(box, v, s);
    box.SetCaret(s.prefix.size() + v.size());
    SetMark(box, r, false);
}

void WriteFloat(TEditBox& box, double x, const TAdvSettings& s, const TAdvLocale& loc,
                TFilterResult& r) {
    const QString v = ValueFromFloat(x, s, loc);
    if (!v.isNull()) {
        WriteText(box, v, s, loc, r);
        if (s.editType == etMoney) RegroupThousands(box, s, loc);
    }
    SetMark(box, r, true);
}

void WriteInteger(TEditBox& box, int32_t n, const TAdvSettings& s, const TAdvLocale& loc,
                  TFilterResult& r) {
    const QString v = ValueFromInteger(n, s);
    if (!v.isNull()) {
        WriteText(box, v, s, loc, r);
        if (s.editType == etMoney) RegroupThousands(box, s, loc);
    }
    SetMark(box, r, true);
}

void RegroupThousands(TEditBox& box, const TAdvSettings& s, const TAdvLocale& loc) {
    const QString value = BoxValue(box, s);
    const int oldLength = value.size();
    const int c0 = box.caret;
    if (value.isEmpty()) return;
    QString t = value;
    QString sign;
    if (t.startsWith(QLatin1Char('-'))) {
        sign = QStringLiteral("-");
        t.remove(0, 1);
    }
    const int d = t.indexOf(loc.decimal);
    const QString frac = d >= 0 ? t.mid(d, 255) : QString();
    // The separators move; the digits the user typed stay as typed, however
    // many there are (a round trip through a number would round them).
    QString g = d >= 0 ? t.left(d) : t;
    g.remove(loc.thousand);
    if (std::all_of(g.begin(), g.end(), IsDigit)) {
        while (g.size() > 1 && g.startsWith(QLatin1Char('0')))
            g.remove(0, 1);
        if (g.isEmpty()) g = QStringLiteral("0");
        if (s.autoThousandSeparator) {
            for (int i = g.size() - 3; i > 0; i -= 3)
                g.insert(i, loc.thousand);
        }
    } else {
        const double n = std::trunc(std::fabs(ValueAsFloatOf(value, s, loc)));
        g = s.autoThousandSeparator ? FormatGrouped(n, 2, loc) : FormatFixed(n, 2, loc);
        g = g.left(g.indexOf(loc.decimal));
    }
    const QString grouped = sign + g + frac;
    ShowValue(box, grouped, s);
    box.SetCaret(Clamp(c0 + grouped.size() - oldLength, box));
}

void SelectValue(TEditBox& box, const TAdvSettings& s, bool skipUrlScheme) {
    const QString value = BoxValue(box, s);
    const int p = s.prefix.size();
    int start = p;
    if (skipUrlScheme) {
        const int scheme = value.indexOf(QLatin1String("://"));
        const int mail = value.indexOf(QLatin1String("mailto:"));
        if (scheme >= 0)
            start = p + scheme + 3;
        else if (mail >= 0)
            start = p + mail + 7;
    }
    box.anchor = Clamp(start, box);
    box.caret = Clamp(p + value.size(), box);
}

TFilterResult FilterChar(TEditBox& box, QChar c, const TAdvSettings& s, const TAdvLocale& loc,
                         const TKeyContext& ctx) {
    TFilterResult r;
    const int p = s.prefix.size();
    if (Is(c, AdvChar::Return)) {
        if (ctx.keyPress) {
            QChar k = c;
            ctx.keyPress(k);
        }
        return r;
    }
    if (Is(c, AdvChar::Escape) && !s.canUndo) {
        PassOn(box, c, s, ctx, r);
        return r;
    }
    if (s.excelStyleDecimalSeparator && ctx.keypadDecimal && c == QLatin1Char('.')) c = loc.decimal;

    const QString value = BoxValue(box, s);
    const bool backspace = Is(c, AdvChar::Backspace);
    if (backspace && p > 0 && box.SelStart() <= p && !box.HasSelection()) {
        r.refused = true;
        return r;
    }
    if (s.lengthLimit > 0 && IntPartLength(value, loc) > s.lengthLimit && !box.HasSelection() &&
        box.SelStart() < DecimalPosition(value, s, loc) && !backspace && c != loc.decimal) {
        r.refused = true;
        return r;
    }
    if (backspace && s.lengthLimit > 0) {
        TEditBox after = box;
        if (after.HasSelection())
            after.text.remove(after.SelStart(), after.SelLength());
        else if (after.SelStart() > 0)
            after.text.remove(after.SelStart() - 1, 1);
        if (IntPartLength(BoxValue(after, s), loc) - 1 > s.lengthLimit) {
            r.refused = true;
            return r;
        }
    }
    if ((s.editType == etNumeric || s.editType == etFloat || s.editType == etMoney) &&
        !s.isSigned && c == QLatin1Char('-')) {
        r.refused = true;
        return r;
    }
    if (TypeFilter(box, c, s, loc, ctx, r) == Step::End) return r;

    if (s.tabOnFullLength && s.lengthLimit > 0) {
        const QString now = BoxValue(box, s);
        if (IntPartLength(now, loc) > s.lengthLimit && !box.HasSelection() &&
            box.caret == p + s.lengthLimit)
            r.requestTab = true;
    }
    if (box.modified) SetMark(box, r, true);
    return r;
}

bool BeforeNavKey(TEditBox& box, TNavKey key, bool shift, const TAdvSettings& s,
                  const TAdvLocale& loc, TFilterResult& r) {
    const int p = s.prefix.size();
    const QString value = BoxValue(box, s);
    const int valueEnd = p + value.size();
    const bool hasSuffix = !s.suffix.isEmpty();
    const bool hasPrefix = !s.prefix.isEmpty();
    if (key == TNavKey::Right && hasSuffix && box.SelEnd() >= valueEnd) return false;
    if (key == TNavKey::Delete && hasSuffix) {
        if (box.SelEnd() >= valueEnd && !box.HasSelection()) return false;
        SetMark(box, r, true);
    }
    if (key == TNavKey::Left && hasPrefix && box.SelEnd() <= p) return false;
    if (key == TNavKey::End && hasSuffix) {
        if (shift) {
            box.anchor = box.SelStart();
            box.caret = valueEnd;
        } else {
            box.SetCaret(valueEnd);
        }
        return false;
    }
    if (key == TNavKey::Home && hasPrefix) {
        if (shift) {
            box.anchor = valueEnd;
            box.caret = p;
        } else {
            box.SetCaret(p);
        }
        return false;
    }
    if (key == TNavKey::Delete && box.SelStart() >= p) {
        TEditBox after = box;
        if (after.HasSelection())
            after.text.remove(after.SelStart(), after.SelLength());
        else
            after.text.remove(after.SelStart(), 1);
        if (s.lengthLimit > 0 && IntPartLength(BoxValue(after, s), loc) - 1 > s.lengthLimit)
            return false;
        SetMark(box, r, true);
    }
    return true;
}

void AfterNavKey(TEditBox& box, TNavKey key, const TAdvSettings& s, const TAdvLocale& loc) {
    if (key == TNavKey::Delete && s.editType == etMoney) RegroupThousands(box, s, loc);
    const int p = s.prefix.size();
    if (p > 0 && box.caret < p) box.SetCaret(p);
}

void ProtectAffixes(TEditBox& box, const TAdvSettings& s) {
    const int p = s.prefix.size();
    const int valueEnd = p + BoxValue(box, s).size();
    if (p > 0 && box.SelStart() < p) {
        // Whichever way the selection was dragged into the prefix, the value
        // ends up selected as a whole.
        box.Select(p, valueEnd - p);
        return;
    }
    if (!s.suffix.isEmpty()) {
        box.caret = std::min(box.caret, valueEnd);
        box.anchor = std::min(box.anchor, valueEnd);
    }
}

TFilterResult PasteText(TEditBox& box, const QString& clip, const TAdvSettings& s,
                        const TAdvLocale& loc) {
    TFilterResult r;
    const int p = s.prefix.size();
    const QString value = BoxValue(box, s);
    const int start = std::clamp(box.SelStart() - p, 0, static_cast<int>(value.size()));
    const int length = std::clamp(box.SelEnd() - p, start, static_cast<int>(value.size())) - start;
    const bool hadSelection = box.HasSelection();
    // The pasted characters enter on the terms of typing.
    const std::optional<QString> entering = EnteringText(clip, s, loc);
    const QString pasted = entering.value_or(clip);
    QString candidate = value;
    candidate.replace(start, length, pasted);
    const qsizetype shownAfter = box.text.size() - value.size() + candidate.size();
    const bool tooLong = shownAfter > s.maxLength && shownAfter > box.text.size();
    const bool taken = entering && !tooLong && !PassesLengthLimit(value, candidate, s, loc);

    switch (taken ? s.editType : etRange) { // etRange: the text stays as it is
    case etString:
    case etPassword:
        WriteText(box, candidate, s, loc, r);
        break;
    case etNumeric:
        if (ValueKind(candidate, loc) == vkInteger) {
            WriteText(box, candidate, s, loc, r);
            SetMark(box, r, true);
        }
        break;
    case etFloat:
    case etMoney: {
        const TValueKind kind = ValueKind(candidate, loc);
        if ((kind == vkInteger || kind == vkFloat) &&
            !(s.precision == 0 && pasted.contains(loc.decimal))) {
            WriteText(box, candidate, s, loc, r);
            WriteFloat(box, ValueAsFloatOf(BoxValue(box, s), s, loc), s, loc, r);
            SetMark(box, r, true);
        }
        break;
    }
    case etUppercase:
        WriteText(box, candidate.toUpper(), s, loc, r);
        break;
    case etLowerCase:
        WriteText(box, candidate.toLower(), s, loc, r);
        break;
    case etMixedCase:
        WriteText(box, MixedCase(candidate), s, loc, r);
        break;
    case etAlphaNumeric:
        if (std::all_of(candidate.begin(), candidate.end(),
                        [](QChar c) { return IsDigit(c) || IsAsciiLetter(c); })) {
            WriteText(box, candidate, s, loc, r);
            SetMark(box, r, true);
        }
        break;
    case etRange:
    case etHex:
        break;
    }

    if (s.editType == etMoney && BoxValue(box, s).size() > 3) {
        SelectValue(box, s, false);
    } else if (hadSelection) {
        box.anchor = Clamp(p + start, box);
        box.caret = Clamp(p + start + pasted.size(), box);
    } else {
        box.SetCaret(Clamp(p + start + pasted.size(), box));
    }
    // A refused paste moves the caret as remembered, but never out of the value.
    const int valueEnd = static_cast<int>(box.text.size() - s.suffix.size());
    box.anchor = std::clamp(box.anchor, p, std::max(p, valueEnd));
    box.caret = std::clamp(box.caret, p, std::max(p, valueEnd));
    if (!taken) return r;
    switch (s.editType) {
    case etString:
    case etUppercase:
    case etMixedCase:
    case etLowerCase:
    case etPassword:
        SetMark(box, r, true);
        break;
    default:
        break;
    }
    return r;
}

TFilterResult LeaveField(TEditBox& box, const TAdvSettings& s, const TAdvLocale& loc) {
    TFilterResult r;
    const bool number = s.editType == etFloat || s.editType == etMoney;
    if (number && BoxValue(box, s).isEmpty()) WriteFloat(box, 0, s, loc, r);
    if (number && s.precision > 0)
        WriteFloat(box, ValueAsFloatOf(BoxValue(box, s), s, loc), s, loc, r);
    if (s.editType == etNumeric && BoxValue(box, s).isEmpty())
        WriteText(box, QStringLiteral("0"), s, loc, r);
    return r;
}
