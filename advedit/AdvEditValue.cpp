#include "AdvEditValue.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

QChar AsciiUpperChar(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ? QChar(c.unicode() - 32) : c;
}

QChar AsciiLowerChar(QChar c) {
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ? QChar(c.unicode() + 32) : c;
}

// The conversions below must not depend on the C library's numeric locale
// (Qt switches it to the user's), so they go through <charconv>.
QString ToChars(double x, std::chars_format fmt, int precision) {
    char buf[512];
    auto res = std::to_chars(buf, buf + sizeof buf, x, fmt, precision);
    if (res.ec != std::errc()) return QStringLiteral("0");
    return QString::fromLatin1(buf, static_cast<int>(res.ptr - buf));
}

QString WithDecimal(QString text, const TAdvLocale& loc) {
    text.replace(QLatin1Char('.'), loc.decimal);
    return text;
}

int64_t TruncToInt64(double x) {
    if (!std::isfinite(x)) return 0;
    x = std::trunc(x);
    if (x >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
    if (x < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(x);
}

} // namespace

TAdvLocale TAdvLocale::From(const QLocale& locale) {
    TAdvLocale loc;
    const QString dec = locale.decimalPoint();
    const QString grp = locale.groupSeparator();
    if (!dec.isEmpty()) loc.decimal = dec.at(0);
    if (!grp.isEmpty()) loc.thousand = grp.at(0);
    return loc;
}

TValueKind ValueKind(const QString& text, const TAdvLocale& loc) {
    if (text.isEmpty()) return vkOther;
    bool isInt = true, isFloat = true, isHex = true;
    int minus = 0, decimals = 0, lastThousand = -1;
    for (int i = 1; i <= text.size(); ++i) {
        const QChar c = text.at(i - 1);
        const bool digit = IsDigit(c);
        const bool sign = c == QLatin1Char('-');
        if (sign) ++minus;
        if (c == loc.decimal) ++decimals;
        if (!digit && !sign) isInt = false;
        // The locale's own separators: a blank or an apostrophe groups the
        // thousands in some.
        if (!digit && !sign && c != loc.decimal && c != loc.thousand) isFloat = false;
        if (c == loc.thousand) {
            if (i - lastThousand < 3) isFloat = false;
            lastThousand = i;
        }
        if (!digit && !sign && !IsHexLetter(c)) isHex = false;
    }
    TValueKind kind = isInt ? vkInteger : isFloat ? vkFloat : isHex ? vkHex : vkOther;
    if (minus > 1 || decimals > 1) kind = vkOther;
    return kind;
}

double ValueToFloat(const QString& text, const TAdvLocale& loc) {
    QString t = text;
    t.remove(loc.thousand);
    t = t.trimmed();
    if (loc.decimal != QLatin1Char('.') && t.contains(QLatin1Char('.'))) return 0;
    t.replace(loc.decimal, QLatin1Char('.'));
    if (t.startsWith(QLatin1Char('+'))) t.remove(0, 1);
    bool anyDigit = false;
    for (QChar c : t) {
        if (IsDigit(c)) {
            anyDigit = true;
        } else if (c != QLatin1Char('-') && c != QLatin1Char('+') && c != QLatin1Char('.') &&
                   c != QLatin1Char('e') && c != QLatin1Char('E')) {
            return 0;
        }
    }
    if (!anyDigit) return 0;
    const std::string s = t.toStdString();
    double value = 0;
    auto res = std::from_chars(s.data(), s.data() + s.size(), value);
    if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return 0;
    return value;
}

int32_t HexToInt(const QString& text) {
    uint32_t result = 0, weight = 1;
    for (int i = text.size() - 1; i >= 0; --i) {
        const QChar c = text.at(i);
        uint32_t digit = 0;
        if (IsDigit(c))
            digit = c.unicode() - '0';
        else if (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
            digit = c.unicode() - 'A' + 10;
        else if (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
            digit = c.unicode() - 'a' + 10;
        result += weight * digit;
        weight *= 16;
    }
    return static_cast<int32_t>(result);
}

QString MixedCase(const QString& s) {
    QString r = s;
    const int n = s.size();
    bool capitalise = true;
    for (int i = 1; i <= n; ++i) {
        const QChar c = r.at(i - 1);
        if (c == QLatin1Char(' ') || c == QLatin1Char('\'') || c == QLatin1Char(',') ||
            c == QLatin1Char('-') || c == QLatin1Char('.')) {
            capitalise = true;
        } else if (capitalise) {
            r[i - 1] = AsciiUpperChar(s.at(i - 1));
            capitalise = false;
        } else {
            r[i - 1] = AsciiLowerChar(s.at(i - 1));
        }
        // Name particles: "Mc" at the start or after a blank capitalises the next
        // letter; a closing " I" or " II" stays upper case.
        if (i == 2 && r.left(2) == QLatin1String("Mc")) capitalise = true;
        if (i > 2 && r.indexOf(QLatin1String(" Mc")) == i - 3) capitalise = true;
        if (i > n - 3) {
            if (i >= 2 && r.mid(i - 2, 2) == QLatin1String(" I")) capitalise = true;
            if (i >= 3 && r.mid(i - 3, 3) == QLatin1String(" II")) capitalise = true;
        }
    }
    return r;
}

QString AsciiUpper(const QString& text) {
    QString r = text;
    for (QChar& c : r)
        c = AsciiUpperChar(c);
    return r;
}

QString FormatFixed(double x, int decimals, const TAdvLocale& loc) {
    if (decimals < 0) decimals = 0;
    if (decimals > 60) decimals = 60;
    return WithDecimal(ToChars(x, std::chars_format::fixed, decimals), loc);
}

QString FormatGrouped(double x, int decimals, const TAdvLocale& loc) {
    if (decimals < 0) decimals = 0;
    if (decimals > 60) decimals = 60;
    QString fixed = ToChars(x, std::chars_format::fixed, decimals);
    QString sign;
    if (fixed.startsWith(QLatin1Char('-'))) {
        sign = QStringLiteral("-");
        fixed.remove(0, 1);
    }
    const int dot = fixed.indexOf(QLatin1Char('.'));
    QString intPart = dot < 0 ? fixed : fixed.left(dot);
    const QString frac = dot < 0 ? QString() : loc.decimal + fixed.mid(dot + 1);
    for (int i = intPart.size() - 3; i > 0; i -= 3)
        intPart.insert(i, loc.thousand);
    return sign + intPart + frac;
}

QString FormatGeneral(double x, const TAdvLocale& loc) {
    // Fifteen significant digits, trailing zeros dropped: whole numbers up to
    // 15 digits stay plain integers instead of turning into an exponent form
    // that the number types would reject.
    return WithDecimal(ToChars(x, std::chars_format::general, 15), loc);
}

QString FormatHex(int64_t n, int digits) {
    if (n >= 0) return QString::number(static_cast<qulonglong>(n), 16).toUpper();
    uint64_t u = static_cast<uint64_t>(n);
    if (digits < 16) u &= (uint64_t{1} << (digits * 4)) - 1;
    return QString::number(static_cast<qulonglong>(u), 16)
        .toUpper()
        .rightJustified(digits, QLatin1Char('0'));
}

QString FormatForWrite(const QString& value, const TAdvSettings& s, const TAdvLocale& loc) {
    if (value.isEmpty()) return value;
    QString v = value;
    if (!AcceptsValue(v, s, loc)) {
        // Text types just lose what a line cannot hold; the others show 0.
        if (IsTextType(s.editType))
            v.removeIf(IsControlChar);
        else
            v = QStringLiteral("0");
    }
    if (s.precision > 0) {
        if (s.editType == etMoney)
            v = FormatGrouped(ValueToFloat(v, loc), s.precision, loc);
        else if (s.editType == etFloat)
            v = FormatFixed(ValueToFloat(v, loc), s.precision, loc);
    }
    if (s.editType == etHex) v = AsciiUpper(v);
    return v;
}

bool IsTextType(TAdvEditType type) {
    switch (type) {
    case etString:
    case etPassword:
    case etUppercase:
    case etLowerCase:
    case etMixedCase:
        return true;
    default:
        return false;
    }
}

bool AcceptsValue(const QString& value, const TAdvSettings& s, const TAdvLocale& loc) {
    if (value.isEmpty()) return true;
    if (std::any_of(value.begin(), value.end(), IsControlChar)) return false;
    const bool minus = value.contains(QLatin1Char('-'));
    const TValueKind kind = ValueKind(value, loc);
    switch (s.editType) {
    case etNumeric:
        return kind == vkInteger && (s.isSigned || !minus);
    case etFloat:
    case etMoney:
        return (kind == vkInteger || kind == vkFloat) && (s.isSigned || !minus);
    case etHex:
        return kind == vkInteger || kind == vkHex;
    case etAlphaNumeric:
        return std::all_of(value.begin(), value.end(),
                           [](QChar c) { return IsDigit(c) || IsAsciiLetter(c); });
    case etRange:
        return std::all_of(value.begin(), value.end(), [](QChar c) {
            return IsDigit(c) || c == QLatin1Char(',') || c == QLatin1Char('-') ||
                   c == QLatin1Char(';');
        });
    default:
        return true;
    }
}

QString ValueOfShown(const QString& shown, const TAdvSettings& s) {
    QString t = shown;
    if (!s.prefix.isEmpty() && t.startsWith(s.prefix)) t.remove(0, s.prefix.size());
    if (!s.suffix.isEmpty()) t.chop(s.suffix.size());
    return t;
}

double ValueAsFloatOf(const QString& value, const TAdvSettings& s, const TAdvLocale& loc) {
    if (value.isEmpty()) return 0;
    switch (s.editType) {
    case etNumeric:
    case etFloat:
        return ValueToFloat(value, loc);
    case etMoney: {
        QString t = value;
        t.remove(loc.thousand);
        if (t.endsWith(loc.decimal)) t.chop(1);
        if (t.isEmpty() || t == QLatin1String("-")) return 0;
        return ValueToFloat(t, loc);
    }
    case etHex:
        return HexToInt(value);
    default:
        return 0;
    }
}

QString ValueFromFloat(double x, const TAdvSettings& s, const TAdvLocale& loc) {
    switch (s.editType) {
    case etFloat:
        return s.precision < 0 ? FormatGeneral(x, loc) : FormatFixed(x, s.precision, loc);
    case etMoney:
        return s.precision < 1 ? FormatGeneral(x, loc) : FormatFixed(x, s.precision, loc);
    case etHex:
        return FormatHex(TruncToInt64(x), 16);
    case etNumeric:
        return QString::number(static_cast<qlonglong>(TruncToInt64(x)));
    default:
        return QString();
    }
}

QString ValueFromInteger(int32_t n, const TAdvSettings& s) {
    switch (s.editType) {
    case etNumeric:
    case etFloat:
    case etMoney:
        return QString::number(n);
    case etHex:
        return FormatHex(n, 8);
    default:
        return QString();
    }
}

int IntPartLength(const QString& text, const TAdvLocale& loc) {
    QString t = text;
    t.remove(loc.thousand);
    const int p = t.indexOf(loc.decimal);
    return p < 0 ? t.size() + 1 : p + 1;
}

int DecimalPosition(const QString& value, const TAdvSettings& s, const TAdvLocale& loc) {
    const int p = value.indexOf(loc.decimal);
    if (p >= 0) return p + 1 + s.prefix.size();
    return value.size() + s.prefix.size() + s.suffix.size() + 1;
}

bool FractionFull(const QString& value, int caret, const TAdvSettings& s, const TAdvLocale& loc) {
    const int b = caret - s.prefix.size();
    const int p = value.indexOf(loc.decimal) + 1;
    return s.precision > 0 && value.size() - b <= s.precision && p > 0 && b >= p &&
           value.size() - p >= s.precision;
}

bool SeparatorTooClose(const QString& value, int caret, const TAdvSettings& s,
                       const TAdvLocale& loc) {
    if (!value.contains(loc.thousand)) return false;
    int b = caret - s.prefix.size();
    int d = value.size();
    QString copy = value;
    while (copy.contains(loc.thousand)) {
        const int p = copy.indexOf(loc.thousand) + 1;
        const int dist = std::abs(p - b);
        if (dist < d) d = dist;
        if (dist < 3) return true;
        if (b > p) b -= p;
        copy.remove(0, p);
    }
    return d > 3;
}

bool LooksLikeUrl(const QString& value) {
    return value.contains(QLatin1String("://")) || value.indexOf(QLatin1Char('@')) >= 1;
}
