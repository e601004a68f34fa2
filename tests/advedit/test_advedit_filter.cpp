// The keystroke filter, navigation keys, paste and leaving the field, run on
// the plain editor model. Each typing row starts from a shown text with a
// caret (and optional selection), types a sequence and compares the result.
#include "AdvEditFilter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const TAdvLocale kDot{QLatin1Char('.'), QLatin1Char(',')};
const TAdvLocale kComma{QLatin1Char(','), QLatin1Char('.')};
const TAdvLocale kCommaBlank{QLatin1Char(','), QLatin1Char(' ')};

TAdvSettings Fuse() {
    TAdvSettings s;
    s.editType = etHex;
    s.prefix = "0x";
    s.lengthLimit = 2;
    return s;
}

TAdvSettings Of(TAdvEditType type, int precision = 0, bool isSigned = false) {
    TAdvSettings s;
    s.editType = type;
    s.precision = precision;
    s.isSigned = isSigned;
    return s;
}

TEditBox Box(const QString& text, int caret, int anchor = -1) {
    TEditBox b;
    b.text = text;
    b.caret = caret;
    b.anchor = anchor < 0 ? caret : anchor;
    return b;
}

// Types each character of `keys`; '\b' is Backspace.
TFilterResult Type(TEditBox& box, const QString& keys, const TAdvSettings& s, const TAdvLocale& loc,
                   bool ctrl = false) {
    TFilterResult last;
    TKeyContext ctx;
    ctx.ctrl = ctrl;
    for (QChar c : keys)
        last = FilterChar(box, c, s, loc, ctx);
    return last;
}

struct TypeRow {
    const char* name;
    TAdvSettings settings;
    TAdvLocale loc;
    const char* start;
    int caret;
    int anchor; // -1: nothing selected
    const char* keys;
    const char* shown;
    int caretAfter;
};

class TypingTest : public ::testing::TestWithParam<TypeRow> {};

TEST_P(TypingTest, GivesShownTextAndCaret) {
    const TypeRow& row = GetParam();
    TEditBox box = Box(QString::fromUtf8(row.start), row.caret, row.anchor);
    Type(box, QString::fromUtf8(row.keys), row.settings, row.loc);
    EXPECT_EQ(box.text, QString::fromUtf8(row.shown));
    EXPECT_EQ(box.caret, row.caretAfter);
}

TAdvSettings MoneyAuto() {
    TAdvSettings s = Of(etMoney, 2, true);
    return s;
}

TAdvSettings WithLimit(TAdvSettings s, int limit) {
    s.lengthLimit = limit;
    return s;
}

TAdvSettings WithSuffix(TAdvSettings s, const char* suffix) {
    s.suffix = suffix;
    return s;
}

TAdvSettings Excel(TAdvSettings s) {
    s.excelStyleDecimalSeparator = true;
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TypingTest,
    ::testing::Values(
        TypeRow{"FuseTwoDigits", Fuse(), kDot, "0x", 2, -1, "a5", "0xa5", 4},
        TypeRow{"FuseThirdDigitRefused", Fuse(), kDot, "0xFF", 4, -1, "1", "0xFF", 4},
        TypeRow{"FuseThirdDigitRefusedAtFront", Fuse(), kDot, "0xFF", 2, -1, "1", "0xFF", 2},
        TypeRow{"FuseOvertypeSelection", Fuse(), kDot, "0xFF", 4, 2, "1", "0x1", 3},
        TypeRow{"FuseBackspaceAtEnd", Fuse(), kDot, "0xFF", 4, -1, "\b", "0xF", 3},
        TypeRow{"FuseBackspaceAfterPrefixRefused", Fuse(), kDot, "0xFF", 2, -1, "\b", "0xFF", 2},
        TypeRow{"FuseBackspaceOverSelection", Fuse(), kDot, "0xFF", 2, 4, "\b", "0x", 2},
        TypeRow{"FuseNonHexRefused", Fuse(), kDot, "0x", 2, -1, "g.x ", "0x", 2},
        TypeRow{"FuseMinusTyped", Fuse(), kDot, "0x", 2, -1, "-5", "0x-5", 4},
        TypeRow{"RangeTyped", Of(etRange), kDot, "", 0, -1, "1-5,7;9", "1-5,7;9", 7},
        TypeRow{"RangeSeparatorAtStart", Of(etRange), kDot, "", 0, -1, ",1", "1", 1},
        TypeRow{"RangeDoubleSeparator", Of(etRange), kDot, "1", 1, -1, "-,", "1-", 2},
        TypeRow{"RangeSeparatorBeforeSeparator", Of(etRange), kDot, "1,2", 1, -1, ";", "1,2", 1},
        TypeRow{"RangeLetterRefused", Of(etRange), kDot, "1", 1, -1, "a", "1", 1},
        TypeRow{"MoneyGroupsWhileTyping", MoneyAuto(), kDot, "", 0, -1, "1234", "1,234", 5},
        TypeRow{"MoneyKeepsDigitsBeyondDoublePrecision", MoneyAuto(), kDot, "", 0, -1,
                "98765432109876543210", "98,765,432,109,876,543,210", 26},
        TypeRow{"MoneyGroupsCommaLocale", MoneyAuto(), kComma, "", 0, -1, "1234567", "1.234.567",
                9},
        TypeRow{"MoneyDecimalAgainJumps", MoneyAuto(), kDot, "12.5", 1, -1, ".", "12.5", 3},
        TypeRow{"MoneyFullFractionDigitAtEndRefused", MoneyAuto(), kDot, "1.25", 4, -1, "9", "1.25",
                4},
        TypeRow{"MoneyFullFractionOverwrites", MoneyAuto(), kDot, "1.25", 2, -1, "9", "1.95", 3},
        TypeRow{"MoneyMinusToggles", MoneyAuto(), kDot, "1,234", 2, -1, "-", "-1,234", 3},
        TypeRow{"MoneyMinusTwiceRemoves", MoneyAuto(), kDot, "1,234", 2, -1, "--", "1,234", 2},
        TypeRow{"MoneyLeadingZero", MoneyAuto(), kDot, "", 0, -1, ".", "0.", 2},
        TypeRow{"MoneyNoPrecisionRefusesDecimal", Of(etMoney), kDot, "12", 2, -1, ".", "12", 2},
        TypeRow{"MoneyUnsignedRefusesMinus", Of(etMoney, 2), kDot, "12", 2, -1, "-", "12", 2},
        TypeRow{"FloatLeadingZero", Of(etFloat, 2), kDot, "", 0, -1, ".", "0.", 2},
        TypeRow{"FloatNoPrecisionRefusesDecimal", Of(etFloat), kDot, "1", 1, -1, ".5", "15", 2},
        TypeRow{"FloatNoRegrouping", Of(etFloat, 2), kDot, "", 0, -1, "12345", "12345", 5},
        TypeRow{"FloatCommaRefusedForBlankThousands", Of(etFloat, 2), kCommaBlank, "1", 1, -1, ".",
                "1", 1},
        TypeRow{"FloatKeepsCommaLocaleDecimal", Of(etFloat, 2), kCommaBlank, "1", 1, -1, ",5",
                "1,5", 3},
        TypeRow{"FloatLengthGateLetsDecimalIn", WithLimit(Of(etFloat, 2), 2), kDot, "12", 2, -1,
                "3.4", "12.4", 4},
        TypeRow{"FloatBackspaceCannotJoinLongIntPart", WithLimit(Of(etFloat, 2), 2), kDot, "12.5",
                3, -1, "\b", "12.5", 3},
        TypeRow{"NumericUnsignedRefusesMinusAndLetters", Of(etNumeric), kDot, "1", 1, -1, "-a.",
                "1", 1},
        TypeRow{"NumericSignedToggles", Of(etNumeric, 0, true), kDot, "42", 2, -1, "-", "-42", 3},
        TypeRow{"NumericSignRemovedWhereverItStands", Of(etNumeric, 0, true), kDot, "4-2", 3, -1,
                "-", "42", 2},
        TypeRow{"UppercaseConverts", Of(etUppercase), kDot, "", 0, -1, "ab1", "AB1", 3},
        TypeRow{"LowercaseConverts", Of(etLowerCase), kDot, "", 0, -1, "AB1", "ab1", 3},
        TypeRow{"MixedCaseMc", Of(etMixedCase), kDot, "", 0, -1, "mcdonald", "McDonald", 8},
        TypeRow{"MixedCaseRoman", Of(etMixedCase), kDot, "", 0, -1, "henry ii", "Henry II", 8},
        TypeRow{"MixedCaseBackspaceKeepsCaret", Of(etMixedCase), kDot, "Abc", 2, -1, "\b", "Ac", 1},
        TypeRow{"AlphaNumericRefusesPunctuation", Of(etAlphaNumeric), kDot, "", 0, -1, "a-b 1",
                "ab1", 3},
        TypeRow{"StringWithSuffix", WithSuffix(Of(etString), "kg"), kDot, "kg", 0, -1, "12", "12kg",
                2},
        TypeRow{"KeypadDecimalWithoutExcelIsFullStop", Of(etFloat, 2), kComma, "1", 1, -1, ",",
                "1,", 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Filter, ExcelStyleKeypadDecimal) {
    const TAdvSettings s = Excel(Of(etFloat, 2));
    TEditBox box = Box("1", 1);
    TKeyContext keypad;
    keypad.keypadDecimal = true;
    FilterChar(box, QLatin1Char('.'), s, kCommaBlank, keypad);
    EXPECT_EQ(box.text, "1,");
    // The main full-stop key still types a full stop, which this locale refuses.
    TEditBox other = Box("1", 1);
    const TFilterResult r = FilterChar(other, QLatin1Char('.'), s, kCommaBlank, TKeyContext{});
    EXPECT_TRUE(r.refused);
    EXPECT_EQ(other.text, "1");
}

TEST(Filter, TypingSetsModifiedMarkAndRefusalDoesNot) {
    TEditBox box = Box("0xA5", 4, 2);
    TFilterResult r = Type(box, "3", Fuse(), kDot);
    ASSERT_TRUE(r.modifiedMark.has_value());
    EXPECT_TRUE(*r.modifiedMark);
    TEditBox clean = Box("0xA5", 4);
    r = Type(clean, "3", Fuse(), kDot);
    EXPECT_TRUE(r.refused);
    EXPECT_FALSE(r.modifiedMark.has_value());
}

TEST(Filter, ShortcutsOnlyWhereTheTypeLetsThemThrough) {
    for (char16_t code : {AdvChar::Copy, AdvChar::Paste, AdvChar::Cut, AdvChar::Undo}) {
        TEditBox hex = Box("0xA5", 2, 4);
        EXPECT_EQ(FilterChar(hex, QChar(code), Fuse(), kDot, TKeyContext{}).shortcut, 0);
        TEditBox str = Box("ab", 2);
        EXPECT_EQ(FilterChar(str, QChar(code), Of(etString), kDot, TKeyContext{}).shortcut, code);
        TEditBox num = Box("12", 2);
        EXPECT_EQ(FilterChar(num, QChar(code), Of(etNumeric), kDot, TKeyContext{}).shortcut, 0);
        TKeyContext ctrl;
        ctrl.ctrl = true;
        EXPECT_EQ(FilterChar(num, QChar(code), Of(etNumeric), kDot, ctrl).shortcut, code);
        EXPECT_EQ(num.text, "12");
    }
}

TEST(Filter, TabOnFullLengthRequestsFocusMove) {
    TAdvSettings s = Fuse();
    s.tabOnFullLength = true;
    TEditBox box = Box("0x", 2);
    EXPECT_FALSE(Type(box, "A", s, kDot).requestTab);
    EXPECT_TRUE(Type(box, "5", s, kDot).requestTab);
}

TEST(Filter, KeyPressSeesCharactersAndReturnAndMayCancel) {
    QString seen;
    TKeyContext ctx;
    ctx.keyPress = [&seen](QChar& c) {
        seen += c;
        if (c == QLatin1Char('x')) return false;
        if (c == QLatin1Char('a')) c = QLatin1Char('b');
        return true;
    };
    TEditBox box = Box("", 0);
    for (QChar c : QString("axc\r"))
        FilterChar(box, c, Of(etString), kDot, ctx);
    EXPECT_EQ(seen, "axc\r");
    EXPECT_EQ(box.text, "bc");
    // A refused character never reaches the event.
    seen.clear();
    TEditBox hex = Box("0x", 2);
    FilterChar(hex, QLatin1Char('z'), Fuse(), kDot, ctx);
    EXPECT_TRUE(seen.isEmpty());
}

TEST(Filter, MaxLengthOfTheEditorHolds) {
    TAdvSettings s = Of(etString);
    s.maxLength = 3;
    TEditBox box = Box("", 0);
    Type(box, "abcd", s, kDot);
    EXPECT_EQ(box.text, "abc");
}

TEST(Navigation, PrefixAndSuffixAreProtected) {
    TAdvSettings s = Of(etString);
    s.prefix = "$";
    s.suffix = "kg";
    TFilterResult r;
    TEditBox box = Box("$12kg", 1);
    EXPECT_FALSE(BeforeNavKey(box, TNavKey::Left, false, s, kDot, r));
    box = Box("$12kg", 3);
    EXPECT_FALSE(BeforeNavKey(box, TNavKey::Right, false, s, kDot, r));
    EXPECT_FALSE(BeforeNavKey(box, TNavKey::Delete, false, s, kDot, r));
    box = Box("$12kg", 2);
    EXPECT_FALSE(BeforeNavKey(box, TNavKey::End, false, s, kDot, r));
    EXPECT_EQ(box.caret, 3);
    EXPECT_FALSE(BeforeNavKey(box, TNavKey::Home, false, s, kDot, r));
    EXPECT_EQ(box.caret, 1);
    box = Box("$12kg", 2);
    EXPECT_FALSE(BeforeNavKey(box, TNavKey::Home, true, s, kDot, r));
    EXPECT_EQ(box.SelectedText(), "12"); // the whole value, caret at its start
    EXPECT_EQ(box.caret, 1);
    box = Box("$12kg", 2);
    EXPECT_FALSE(BeforeNavKey(box, TNavKey::End, true, s, kDot, r));
    EXPECT_EQ(box.SelectedText(), "2");
    box = Box("$12kg", 2);
    EXPECT_TRUE(BeforeNavKey(box, TNavKey::Right, false, s, kDot, r));
    EXPECT_TRUE(BeforeNavKey(box, TNavKey::Delete, false, s, kDot, r));
    EXPECT_TRUE(r.modifiedMark.value_or(false));
}

TEST(Navigation, DeleteCannotJoinAnOverlongIntegerPart) {
    TAdvSettings s = WithLimit(Of(etFloat, 2), 2);
    TFilterResult r;
    TEditBox box = Box("12.5", 2);
    EXPECT_FALSE(BeforeNavKey(box, TNavKey::Delete, false, s, kDot, r));
    box = Box("12.5", 3);
    EXPECT_TRUE(BeforeNavKey(box, TNavKey::Delete, false, s, kDot, r));
}

TEST(Navigation, CaretInsidePrefixMovesOut) {
    TEditBox box = Box("0xA5", 0);
    AfterNavKey(box, TNavKey::Other, Fuse(), kDot);
    EXPECT_EQ(box.caret, 2);
    box = Box("0xA5", 1);
    ProtectAffixes(box, Fuse());
    EXPECT_EQ(box.SelStart(), 2);
    EXPECT_EQ(box.SelectedText(), "A5");
    TAdvSettings s = WithSuffix(Of(etString), "kg");
    box = Box("12kg", 4, 1);
    ProtectAffixes(box, s);
    EXPECT_EQ(box.SelectedText(), "2");
    // A selection dragged from inside the prefix into the value selects the
    // whole value, as a caret inside the prefix does.
    TAdvSettings dollar = Of(etString);
    dollar.prefix = "$";
    box = Box("$12345", 3, 0);
    ProtectAffixes(box, dollar);
    EXPECT_EQ(box.SelectedText(), "12345");
}

TEST(Navigation, DeleteRegroupsMoney) {
    TAdvSettings s = MoneyAuto();
    TEditBox box = Box("123,4", 3); // as the editor leaves "1,234" after deleting the first comma
    AfterNavKey(box, TNavKey::Delete, s, kDot);
    EXPECT_EQ(box.text, "1,234");
}

struct PasteRow {
    const char* name;
    TAdvSettings settings;
    const char* start;
    int caret;
    int anchor;
    const char* clip;
    const char* shown;
};

class PasteTest : public ::testing::TestWithParam<PasteRow> {};

TEST_P(PasteTest, GivesShownText) {
    const PasteRow& row = GetParam();
    TEditBox box = Box(QString::fromUtf8(row.start), row.caret, row.anchor);
    PasteText(box, QString::fromUtf8(row.clip), row.settings, kDot);
    EXPECT_EQ(box.text, QString::fromUtf8(row.shown));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PasteTest,
    ::testing::Values(
        PasteRow{"AlphaNumericTaken", Of(etAlphaNumeric), "", 0, -1, "ab12", "ab12"},
        PasteRow{"AlphaNumericRefused", Of(etAlphaNumeric), "x", 1, -1, "a-b", "x"},
        PasteRow{"HexNeverChanges", Fuse(), "0xA5", 2, 4, "FF", "0xA5"},
        PasteRow{"RangeNeverChanges", Of(etRange), "1", 1, -1, "2", "1"},
        PasteRow{"NumericInteger", Of(etNumeric), "12", 1, -1, "34", "1342"},
        PasteRow{"NumericRefusesLetters", Of(etNumeric), "12", 2, -1, "a", "12"},
        PasteRow{"FloatReformats", Of(etFloat, 2), "1", 1, -1, "2.5", "12.50"},
        PasteRow{"FloatNoPrecisionRefusesDecimal", Of(etFloat), "1", 1, -1, "2.5", "1"},
        PasteRow{"MoneyRegroups", MoneyAuto(), "", 0, -1, "1234", "1,234.00"},
        PasteRow{"MoneyNoPrecisionKeepsSevenDigits", Of(etMoney), "", 0, -1, "1234567",
                 "1,234,567"},
        PasteRow{"UppercaseConverts", Of(etUppercase), "A", 1, -1, "bc", "ABC"},
        PasteRow{"MixedCaseConverts", Of(etMixedCase), "", 0, -1, "mcdonald", "McDonald"},
        PasteRow{"StringReplacesSelection", Of(etString), "abcd", 1, 3, "XY", "aXYd"},
        PasteRow{"StringTakesTheFirstLine", Of(etString), "", 0, -1, "ab\ncd", "ab"},
        PasteRow{"UnsignedNumericRefusesMinus", Of(etNumeric), "12", 2, -1, "-", "12"},
        PasteRow{"UnsignedMoneyRefusesMinus", Of(etMoney, 2), "", 0, -1, "-3.50", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Paste, CaretAndSelectionAfterward) {
    TEditBox box = Box("abcd", 1, 3);
    TFilterResult r = PasteText(box, "XYZ", Of(etString), kDot);
    EXPECT_EQ(box.SelectedText(), "XYZ");
    EXPECT_TRUE(r.modifiedMark.value_or(false));
    box = Box("ab", 1);
    PasteText(box, "XYZ", Of(etString), kDot);
    EXPECT_EQ(box.caret, 4);
    EXPECT_FALSE(box.HasSelection());
    // A refused paste still moves the caret as remembered, but never past
    // the end of the value into the suffix.
    TAdvSettings kg = WithSuffix(Of(etNumeric), "kg");
    kg.prefix = "$";
    box = Box("$12kg", 2);
    r = PasteText(box, "-x", kg, kDot);
    EXPECT_EQ(box.text, "$12kg");
    EXPECT_EQ(box.caret, 3);
    EXPECT_FALSE(r.modifiedMark.has_value());
}

TEST(LeaveField, NumbersGetAValue) {
    TEditBox box = Box("", 0);
    LeaveField(box, Of(etFloat, 2), kDot);
    EXPECT_EQ(box.text, "0.00");
    box = Box("3.1", 3);
    TFilterResult r = LeaveField(box, Of(etMoney, 2), kDot);
    EXPECT_EQ(box.text, "3.10");
    EXPECT_TRUE(r.modifiedMark.value_or(false));
    box = Box("", 0);
    LeaveField(box, Of(etNumeric), kDot);
    EXPECT_EQ(box.text, "0");
    box = Box("", 0);
    r = LeaveField(box, Fuse(), kDot);
    EXPECT_EQ(box.text, "");
    EXPECT_FALSE(r.modifiedMark.has_value());
}

TEST(Regroup, KeepsCaretDistanceFromEnd) {
    TAdvSettings s = MoneyAuto();
    TEditBox box = Box("1234567.89", 4);
    RegroupThousands(box, s, kDot);
    EXPECT_EQ(box.text, "1,234,567.89");
    EXPECT_EQ(box.caret, 6);
    s.autoThousandSeparator = false;
    RegroupThousands(box, s, kDot);
    EXPECT_EQ(box.text, "1234567.89");
    box = Box("-1234", 5);
    s.autoThousandSeparator = true;
    RegroupThousands(box, s, kDot);
    EXPECT_EQ(box.text, "-1,234");
}

TEST(WriteNumbers, MarkAndFormat) {
    TEditBox box = Box("", 0);
    TFilterResult r;
    WriteFloat(box, 1234.5, Of(etFloat, 2), kDot, r);
    EXPECT_EQ(box.text, "1234.50");
    EXPECT_TRUE(r.modifiedMark.value_or(false));
    WriteInteger(box, 1234567, Of(etMoney), kDot, r);
    EXPECT_EQ(box.text, "1,234,567");
    WriteText(box, "ff", Fuse(), kDot, r);
    EXPECT_EQ(box.text, "0xFF");
    EXPECT_FALSE(r.modifiedMark.value_or(true));
}

TEST(SelectValue, SkipsLinkSchemes) {
    TAdvSettings s = Of(etString);
    s.prefix = "<";
    TEditBox box = Box("<http://x.org", 0);
    SelectValue(box, s, true);
    EXPECT_EQ(box.SelectedText(), "x.org");
    box = Box("<mailto:a@b.c", 0);
    SelectValue(box, s, true);
    EXPECT_EQ(box.SelectedText(), "a@b.c");
    SelectValue(box, s, false);
    EXPECT_EQ(box.SelectedText(), "mailto:a@b.c");
}

} // namespace
