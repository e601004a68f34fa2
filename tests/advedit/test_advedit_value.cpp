// Value rules of the formatted edit control, table-driven, for a full-stop
// locale (decimal ".", thousands ",") and a comma locale (decimal ",",
// thousands ".").
#include "AdvEditValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

const TAdvLocale kDot{QLatin1Char('.'), QLatin1Char(',')};
const TAdvLocale kComma{QLatin1Char(','), QLatin1Char('.')};

struct KindRow {
    const char* name;
    const char* text;
    bool commaLocale;
    TValueKind kind;
};

class ValueKindTest : public ::testing::TestWithParam<KindRow> {};

TEST_P(ValueKindTest, Classifies) {
    const KindRow& row = GetParam();
    EXPECT_EQ(ValueKind(QString::fromUtf8(row.text), row.commaLocale ? kComma : kDot), row.kind);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ValueKindTest,
    ::testing::Values(
        KindRow{"Digits", "12", false, vkInteger},
        KindRow{"MinusAnywhere", "12-", false, vkInteger}, KindRow{"MinusHex", "-A", false, vkHex},
        KindRow{"LowerHex", "ff", false, vkHex}, KindRow{"ThousandsComma", "1,234", false, vkFloat},
        KindRow{"ThousandAtSecondPlace", "1,23", false, vkFloat},
        KindRow{"ThousandInFirstPlace", ",123", false, vkOther},
        KindRow{"ThousandsTooClose", "1,2,3", false, vkOther},
        KindRow{"TwoMinus", "1--2", false, vkOther}, KindRow{"Empty", "", false, vkOther},
        KindRow{"TwoDecimals", "1.2.3", false, vkOther},
        KindRow{"DecimalAtEnd", "12.", false, vkFloat},
        KindRow{"InvalidAtStart", "x12", false, vkOther},
        KindRow{"InvalidAtEnd", "12x", false, vkOther},
        KindRow{"HexWithDecimalIsOther", "A.5", false, vkOther},
        KindRow{"CommaLocaleGrouped", "1.234,5", true, vkFloat},
        KindRow{"CommaLocaleDecimal", "1,5", true, vkFloat},
        KindRow{"CommaLocaleTwoDecimals", "1,2,3", true, vkOther},
        KindRow{"CommaLocaleThousandFirst", ".5", true, vkOther},
        KindRow{"CommaLocaleFullStopsSpaced", "1.234.567", true, vkFloat}),
    [](const auto& info) { return std::string(info.param.name); });

struct FloatRow {
    const char* name;
    const char* text;
    bool commaLocale;
    double value;
};

class ValueToFloatTest : public ::testing::TestWithParam<FloatRow> {};

TEST_P(ValueToFloatTest, Converts) {
    const FloatRow& row = GetParam();
    EXPECT_DOUBLE_EQ(ValueToFloat(QString::fromUtf8(row.text), row.commaLocale ? kComma : kDot),
                     row.value);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ValueToFloatTest,
    ::testing::Values(
        FloatRow{"Grouped", "1,234.5", false, 1234.5}, FloatRow{"Negative", "-3.25", false, -3.25},
        FloatRow{"Exponent", "1e3", false, 1000}, FloatRow{"Blanks", " 7 ", false, 7},
        FloatRow{"PlusSign", "+2", false, 2}, FloatRow{"Letters", "abc", false, 0},
        FloatRow{"TwoDecimals", "1.2.3", false, 0}, FloatRow{"Infinity", "inf", false, 0},
        FloatRow{"HexFloat", "0x1p3", false, 0}, FloatRow{"TrailingGarbage", "12kg", false, 0},
        FloatRow{"Empty", "", false, 0}, FloatRow{"CommaLocaleGrouped", "1.234,5", true, 1234.5},
        FloatRow{"CommaLocaleFullStopIsThousands", "1.5", true, 15},
        FloatRow{"CommaLocaleDecimal", "-0,25", true, -0.25}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HexToInt, DigitsLettersAndOtherCharacters) {
    EXPECT_EQ(HexToInt("FF"), 255);
    EXPECT_EQ(HexToInt("ff"), 255);
    EXPECT_EQ(HexToInt("a5"), 0xA5);
    EXPECT_EQ(HexToInt("-A"), 10); // the minus sign counts as a 0 digit
    EXPECT_EQ(HexToInt("G1"), 1);
    EXPECT_EQ(HexToInt(""), 0);
}

TEST(HexToInt, WrapsAtThirtyTwoBits) {
    EXPECT_EQ(HexToInt("FFFFFFFF"), -1);
    EXPECT_EQ(HexToInt("100000000"), 0);
    EXPECT_EQ(HexToInt("123456789"), 0x23456789);
}

struct CaseRow {
    const char* name;
    const char* in;
    const char* out;
};

class MixedCaseTest : public ::testing::TestWithParam<CaseRow> {};

TEST_P(MixedCaseTest, Capitalises) {
    EXPECT_EQ(MixedCase(QString::fromUtf8(GetParam().in)), QString::fromUtf8(GetParam().out));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MixedCaseTest,
    ::testing::Values(CaseRow{"Mc", "mcdonald", "McDonald"},
                      CaseRow{"RomanTwo", "henry ii", "Henry II"},
                      CaseRow{"RomanOne", "henry i", "Henry I"},
                      CaseRow{"ApostropheAndMinus", "o'neil-smith", "O'Neil-Smith"},
                      CaseRow{"UpperInput", "JOHN SMITH", "John Smith"},
                      CaseRow{"McAfterBlank", "ian mcbride", "Ian McBride"},
                      CaseRow{"RomanRuleOnlyNearEnd", "ian ivanhoe smith", "Ian Ivanhoe Smith"},
                      CaseRow{"FullStopAndComma", "a.b,c", "A.B,C"}, CaseRow{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct WriteRow {
    const char* name;
    TAdvEditType type;
    int precision;
    bool commaLocale;
    const char* in;
    const char* shown;
    bool isSigned;
};

class FormatForWriteTest : public ::testing::TestWithParam<WriteRow> {};

TEST_P(FormatForWriteTest, ChecksAndFormats) {
    const WriteRow& row = GetParam();
    TAdvSettings s;
    s.editType = row.type;
    s.precision = row.precision;
    s.isSigned = row.isSigned;
    EXPECT_EQ(FormatForWrite(QString::fromUtf8(row.in), s, row.commaLocale ? kComma : kDot),
              QString::fromUtf8(row.shown));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FormatForWriteTest,
    ::testing::Values(WriteRow{"HexUpperCased", etHex, 0, false, "ff", "FF", true},
                      WriteRow{"HexFuseByte", etHex, 0, false, "A5", "A5", true},
                      WriteRow{"HexRejectsFloat", etHex, 0, false, "1.5", "0", true},
                      WriteRow{"HexEmptyStaysEmpty", etHex, 0, false, "", "", true},
                      WriteRow{"HexKeepsMinus", etHex, 0, false, "-A", "-A", true},
                      WriteRow{"HexRejectsLetterAtEnd", etHex, 0, false, "A5G", "0", true},
                      WriteRow{"NumericRejectsFloat", etNumeric, 0, false, "1.5", "0", true},
                      WriteRow{"NumericTakesInteger", etNumeric, 0, false, "-42", "-42", true},
                      WriteRow{"FloatDecimals", etFloat, 2, false, "1234.5", "1234.50", true},
                      WriteRow{"FloatRoundsHalf", etFloat, 1, false, "0.25", "0.2", true},
                      WriteRow{"FloatRejectsText", etFloat, 2, false, "abc", "0.00", true},
                      WriteRow{"FloatNoPrecisionKeeps", etFloat, 0, false, "1,234.5", "1,234.5", true},
                      WriteRow{"MoneyGrouped", etMoney, 2, false, "1234567.5", "1,234,567.50", true},
                      WriteRow{"MoneyCommaLocale", etMoney, 2, true, "1234,5", "1.234,50", true},
                      WriteRow{"MoneyNegative", etMoney, 2, false, "-1234", "-1,234.00", true},
                      WriteRow{"FloatCommaLocale", etFloat, 3, true, "2,5", "2,500", true},
                      WriteRow{"StringUnchecked", etString, 0, false, "any 1.5 x", "any 1.5 x", true},
                      WriteRow{"RangeUnchecked", etRange, 0, false, "1-5,7", "1-5,7", true},
                      WriteRow{"UnsignedNumericRefusesMinus", etNumeric, 0, false, "-42", "0", false},
                      WriteRow{"UnsignedMoneyRefusesMinus", etMoney, 2, false, "-1234", "0.00", false},
                      WriteRow{"StringLosesControlCharacters", etString, 0, false, "a\tb\nc", "abc",
                               false},
                      WriteRow{"AlphaNumericRefusesPunctuation", etAlphaNumeric, 0, false, "a-b", "0",
                               false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ValueOfShown, StripsPrefixOnlyWhenPresentAndSuffixAlways) {
    TAdvSettings s;
    s.prefix = "0x";
    EXPECT_EQ(ValueOfShown("0xA5", s), "A5");
    EXPECT_EQ(ValueOfShown("A5", s), "A5");
    EXPECT_EQ(ValueOfShown("0x", s), "");
    s.prefix.clear();
    s.suffix = "kg";
    EXPECT_EQ(ValueOfShown("12kg", s), "12");
    EXPECT_EQ(ValueOfShown("12 g", s), "12"); // last two characters go whatever they are
}

TEST(ValueAsFloatOf, ByEditType) {
    TAdvSettings s;
    s.editType = etHex;
    EXPECT_DOUBLE_EQ(ValueAsFloatOf("A5", s, kDot), 165);
    EXPECT_DOUBLE_EQ(ValueAsFloatOf("", s, kDot), 0);
    s.editType = etMoney;
    EXPECT_DOUBLE_EQ(ValueAsFloatOf("1,234.", s, kDot), 1234);
    EXPECT_DOUBLE_EQ(ValueAsFloatOf("-", s, kDot), 0);
    EXPECT_DOUBLE_EQ(ValueAsFloatOf("1.234,5", s, kComma), 1234.5);
    s.editType = etFloat;
    EXPECT_DOUBLE_EQ(ValueAsFloatOf("2.5", s, kDot), 2.5);
    s.editType = etString;
    EXPECT_DOUBLE_EQ(ValueAsFloatOf("2.5", s, kDot), 0);
}

TEST(ValueFromNumbers, WritesByEditType) {
    TAdvSettings s;
    s.editType = etHex;
    EXPECT_EQ(ValueFromInteger(0xA5, s), "A5");
    EXPECT_EQ(ValueFromInteger(-1, s), "FFFFFFFF");
    EXPECT_EQ(ValueFromFloat(-1, s, kDot), "FFFFFFFFFFFFFFFF");
    EXPECT_EQ(ValueFromFloat(255.9, s, kDot), "FF");
    s.editType = etNumeric;
    EXPECT_EQ(ValueFromFloat(12.9, s, kDot), "12");
    EXPECT_EQ(ValueFromFloat(-12.9, s, kDot), "-12");
    EXPECT_EQ(ValueFromFloat(std::nan(""), s, kDot), "0");
    EXPECT_EQ(ValueFromFloat(1e300, s, kDot), "9223372036854775807");
    s.editType = etFloat;
    s.precision = -1;
    EXPECT_EQ(ValueFromFloat(1234.5, s, kDot), "1234.5");
    EXPECT_EQ(ValueFromFloat(1234.5, s, kComma), "1234,5");
    s.precision = 2;
    EXPECT_EQ(ValueFromFloat(1234.5, s, kDot), "1234.50");
    s.editType = etString;
    EXPECT_TRUE(ValueFromFloat(1, s, kDot).isNull());
    EXPECT_TRUE(ValueFromInteger(1, s).isNull());
}

TEST(PositionTests, IntPartLengthAndDecimalPosition) {
    EXPECT_EQ(IntPartLength("1,234.56", kDot), 5);
    EXPECT_EQ(IntPartLength("FF", kDot), 3);
    EXPECT_EQ(IntPartLength("", kDot), 1);
    EXPECT_EQ(IntPartLength("1.234,5", kComma), 5);
    TAdvSettings s;
    s.prefix = "$";
    s.suffix = "kg";
    EXPECT_EQ(DecimalPosition("12.5", s, kDot), 4);
    EXPECT_EQ(DecimalPosition("125", s, kDot), 7);
}

TEST(PositionTests, FractionFull) {
    TAdvSettings s;
    s.precision = 2;
    s.prefix = "$";
    EXPECT_TRUE(FractionFull("1.25", 4, s, kDot));  // caret after the decimal point
    EXPECT_TRUE(FractionFull("1.25", 5, s, kDot));  // caret at the end
    EXPECT_FALSE(FractionFull("1.25", 2, s, kDot)); // caret before the point
    EXPECT_FALSE(FractionFull("1.2", 5, s, kDot));  // one decimal only
    EXPECT_FALSE(FractionFull("125", 4, s, kDot));
    s.precision = 0;
    EXPECT_FALSE(FractionFull("1.25", 5, s, kDot));
}

TEST(PositionTests, SeparatorTooClose) {
    TAdvSettings s;
    EXPECT_FALSE(SeparatorTooClose("1234", 2, s, kDot));   // no separator yet
    EXPECT_FALSE(SeparatorTooClose("1,234", 5, s, kDot));  // exactly three after it
    EXPECT_TRUE(SeparatorTooClose("1,234", 3, s, kDot));   // one after it
    EXPECT_TRUE(SeparatorTooClose("1,234", 1, s, kDot));   // right before it
    EXPECT_TRUE(SeparatorTooClose("1,23456", 7, s, kDot)); // too far from it
}

TEST(LooksLikeUrl, SchemeOrAtAfterFirstPlace) {
    EXPECT_TRUE(LooksLikeUrl("http://example.org"));
    EXPECT_TRUE(LooksLikeUrl("me@example.org"));
    EXPECT_FALSE(LooksLikeUrl("@example.org"));
    EXPECT_FALSE(LooksLikeUrl("example.org"));
}

TEST(Formatting, GroupedAndGeneral) {
    EXPECT_EQ(FormatGrouped(1234567.891, 2, kDot), "1,234,567.89");
    EXPECT_EQ(FormatGrouped(-999, 0, kDot), "-999");
    EXPECT_EQ(FormatGrouped(1000, 1, kComma), "1.000,0");
    EXPECT_EQ(FormatGeneral(0.5, kComma), "0,5");
    EXPECT_EQ(FormatGeneral(1234567, kDot), "1234567");
    EXPECT_EQ(FormatGeneral(1234.5678, kDot), "1234.5678");
    EXPECT_EQ(FormatHex(0, 8), "0");
}

} // namespace
