// Value rules of the formatted edit control: how a value text is classified,
// converted to numbers, formatted and checked before it is shown. Everything
// here is plain code over strings, settings and the locale's separators, so
// that it can be tested without a widget.
#pragma once

#include <QChar>
#include <QLocale>
#include <QString>

#include <cstdint>

enum TAdvEditType {
    etString,
    etNumeric,
    etFloat,
    etUppercase,
    etMixedCase,
    etLowerCase,
    etPassword,
    etMoney,
    etRange,
    etHex,
    etAlphaNumeric
};

enum TValueKind { vkInteger, vkFloat, vkHex, vkOther };

// Character classes of the value rules; ASCII only, as the types are.
inline bool IsDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}
inline bool IsHexLetter(QChar c) {
    return (c >= QLatin1Char('A') && c <= QLatin1Char('F')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
}
inline bool IsAsciiLetter(QChar c) {
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
}
// Characters an editor line never holds: line ends, tabs and the rest of
// the control codes.
inline bool IsControlChar(QChar c) {
    return c.unicode() < 32 || c.unicode() == 127;
}

// The two separators of the user's locale, one character each.
struct TAdvLocale {
    QChar decimal = QLatin1Char('.');
    QChar thousand = QLatin1Char(',');

    static TAdvLocale From(const QLocale& locale);
};

// The settings of a field that the value rules and the keystroke filter read.
struct TAdvSettings {
    TAdvEditType editType = etString;
    QString prefix;
    QString suffix;
    int lengthLimit = 0;
    int precision = 0;
    bool isSigned = false;
    bool autoThousandSeparator = true;
    bool tabOnFullLength = false;
    bool excelStyleDecimalSeparator = false;
    bool canUndo = true;
    int maxLength = 32767; // the editor's own limit on the shown text
};

// Classifies a value text (integer, float with locale separators, hex, other).
TValueKind ValueKind(const QString& text, const TAdvLocale& loc);

// Locale text-to-number conversion after removing thousand separators; 0 on
// any malformed text.
double ValueToFloat(const QString& text, const TAdvLocale& loc);

// Hex digits to a 32-bit value, from the last character; characters that are
// not hex digits count as 0; overflow wraps.
int32_t HexToInt(const QString& text);

// Capitalises the first letter of each word (after space, apostrophe, comma,
// minus sign, full stop), keeps "Mc" prefixes and trailing Roman "I"/"II".
QString MixedCase(const QString& text);

// ASCII-only case changes (A to Z).
QString AsciiUpper(const QString& text);

// Number formatting with the locale separators.
// Fixed decimals, no thousand separators ("%.Nf").
QString FormatFixed(double x, int decimals, const TAdvLocale& loc);
// Fixed decimals with thousand separators in the integer part ("%.Nn").
QString FormatGrouped(double x, int decimals, const TAdvLocale& loc);
// Shortest general form ("%g").
QString FormatGeneral(double x, const TAdvLocale& loc);
// Upper-case hex without leading zeros; negative numbers as their
// two's complement of `digits` hex digits (8 or 16).
QString FormatHex(int64_t n, int digits);

// The value a Text write shows (type check, decimals, upper-case hex), without
// prefix and suffix: always one the type takes. An empty value stays empty.
QString FormatForWrite(const QString& value, const TAdvSettings& s, const TAdvLocale& loc);

// Whether the edit type takes `value`: the value kind its Text writer checks,
// no minus sign where the type is unsigned, only the characters typing can
// enter, and no control characters. An empty value is always taken.
bool AcceptsValue(const QString& value, const TAdvSettings& s, const TAdvLocale& loc);
// The types whose value is free text (string, password and the case types).
bool IsTextType(TAdvEditType type);

// Reading Text: the shown text without prefix (when it starts with it) and
// without as many trailing characters as the suffix has.
QString ValueOfShown(const QString& shown, const TAdvSettings& s);

// Numeric read of a value by edit type.
double ValueAsFloatOf(const QString& value, const TAdvSettings& s, const TAdvLocale& loc);

// The value text a ValueAsFloat write hands to the Text writer, or nothing
// (a null string) for types that ignore the write. The money type still
// needs its thousands regrouped afterwards.
QString ValueFromFloat(double x, const TAdvSettings& s, const TAdvLocale& loc);
// The same for a ValueAsInteger write.
QString ValueFromInteger(int32_t n, const TAdvSettings& s);

// Position tests of the keystroke filter. Positions are those of the shown
// text; `caret` is 0-based.
int IntPartLength(const QString& text, const TAdvLocale& loc);
int DecimalPosition(const QString& value, const TAdvSettings& s, const TAdvLocale& loc);
bool FractionFull(const QString& value, int caret, const TAdvSettings& s, const TAdvLocale& loc);
bool SeparatorTooClose(const QString& value, int caret, const TAdvSettings& s,
                       const TAdvLocale& loc);

// Whether a value looks like a link: contains "://" or "@" at position 2 or later.
bool LooksLikeUrl(const QString& value);
