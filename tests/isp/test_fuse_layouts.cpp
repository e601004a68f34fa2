// The fuse layouts compiled into the engine: each family's factory bytes
// decoded bit by bit as the datasheets name them, and the checks the build
// runs on a layouts text and on its byte counts against the catalogue.
#include "FuseLayout.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TFactoryDecode {
    const char* Family;
    const char* Low;
    const char* High;     // nullptr: no such byte
    const char* Extended; // nullptr: no such byte
};

// A family without published factory values decodes nothing ("").
const TFactoryDecode FactoryDecodes[] = {
    {"ATmega48", "CKDIV8=0 CKOUT=1 SUT=10 CKSEL=0010",
     "RSTDISBL=1 DWEN=1 SPIEN=0 WDTON=1 EESAVE=1 BODLEVEL=111", "SELFPRGEN=1"},
    {"ATmega88/168", "CKDIV8=0 CKOUT=1 SUT=10 CKSEL=0010",
     "RSTDISBL=1 DWEN=1 SPIEN=0 WDTON=1 EESAVE=1 BODLEVEL=111", "BOOTSZ=00 BOOTRST=1"},
    {"ATmega328", "CKDIV8=0 CKOUT=1 SUT=10 CKSEL=0010",
     "RSTDISBL=1 DWEN=1 SPIEN=0 WDTON=1 EESAVE=1 BOOTSZ=00 BOOTRST=1", "BODLEVEL=111"},
    {"ATmega8", "BODLEVEL=1 BODEN=1 SUT=10 CKSEL=0001",
     "RSTDISBL=1 WDTON=1 SPIEN=0 CKOPT=1 EESAVE=1 BOOTSZ=00 BOOTRST=1", nullptr},
    {"ATmega16/32", "BODLEVEL=1 BODEN=1 SUT=10 CKSEL=0001",
     "OCDEN=1 JTAGEN=0 SPIEN=0 CKOPT=1 EESAVE=1 BOOTSZ=00 BOOTRST=1", nullptr},
    {"ATmega64/128", "BODLEVEL=1 BODEN=1 SUT=10 CKSEL=0001",
     "OCDEN=1 JTAGEN=0 SPIEN=0 CKOPT=1 EESAVE=1 BOOTSZ=00 BOOTRST=1", "M103C=0 WDTON=1"},
    {"ATmega8515", "BODLEVEL=1 BODEN=1 SUT=10 CKSEL=0001",
     "S8515C=1 WDTON=1 SPIEN=0 CKOPT=1 EESAVE=1 BOOTSZ=00 BOOTRST=1", nullptr},
    {"ATmega8535", "BODLEVEL=1 BODEN=1 SUT=10 CKSEL=0001",
     "S8535C=1 WDTON=1 SPIEN=0 CKOPT=1 EESAVE=1 BOOTSZ=00 BOOTRST=1", nullptr},
    {"ATmega162", "CKDIV8=0 CKOUT=1 SUT=10 CKSEL=0010",
     "OCDEN=1 JTAGEN=0 SPIEN=0 WDTON=1 EESAVE=1 BOOTSZ=00 BOOTRST=1", "M161C=1 BODLEVEL=111"},
    {"ATmega164/324/644/1284/640/1280/1281/2560/2561", "CKDIV8=0 CKOUT=1 SUT=10 CKSEL=0010",
     "OCDEN=1 JTAGEN=0 SPIEN=0 WDTON=1 EESAVE=1 BOOTSZ=00 BOOTRST=1", "BODLEVEL=111"},
    {"ATmega16U4/32U4", "", "", ""},
    {"ATtiny25/45/85", "CKDIV8=0 CKOUT=1 SUT=10 CKSEL=0010",
     "RSTDISBL=1 DWEN=1 SPIEN=0 WDTON=1 EESAVE=1 BODLEVEL=111", "SELFPRGEN=1"},
    {"ATtiny24/44/84", "CKDIV8=0 CKOUT=1 SUT=10 CKSEL=0010",
     "RSTDISBL=1 DWEN=1 SPIEN=0 WDTON=1 EESAVE=1 BODLEVEL=111", "SELFPRGEN=1"},
    {"ATtiny261/461/861", "CKDIV8=0 CKOUT=1 SUT=10 CKSEL=0010",
     "RSTDISBL=1 DWEN=1 SPIEN=0 WDTON=1 EESAVE=1 BODLEVEL=111", "SELFPRGEN=1"},
    {"ATtiny2313/4313", "CKDIV8=0 CKOUT=1 SUT=10 CKSEL=0100",
     "DWEN=1 EESAVE=1 SPIEN=0 WDTON=1 BODLEVEL=111 RSTDISBL=1", "SELFPRGEN=1"},
    {"ATtiny13", "SPIEN=0 EESAVE=1 WDTON=1 CKDIV8=0 SUT=10 CKSEL=10",
     "SELFPRGEN=1 DWEN=1 BODLEVEL=11 RSTDISBL=1", nullptr},
};

class FactoryFuses : public ::testing::TestWithParam<TFactoryDecode> {};

// Decoded as delivered; and a part as delivered runs from its internal
// oscillator, so the guard never calls the factory clock a lockout.
TEST_P(FactoryFuses, DecodeAsTheDatasheetNamesThem) {
    const TFactoryDecode& row = GetParam();
    const TFuseLayout* layout = nullptr;
    for (const TFuseLayout& l : CompiledFuseLayouts().Families)
        if (l.Family == row.Family) layout = &l;
    ASSERT_NE(layout, nullptr) << row.Family;
    const char* const want[3] = {row.Low, row.High, row.Extended};
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(std::string(FuseByteName(k)));
        const TFuseByteLayout& b = layout->Bytes[k];
        ASSERT_EQ(b.Present, want[k] != nullptr);
        if (!b.Present) continue;
        ASSERT_EQ(b.Factory.has_value(), *want[k] != 0);
        if (b.Factory) {
            EXPECT_EQ(DecodeFuseByte(b, *b.Factory), want[k]);
        }
    }
    ASSERT_FALSE(layout->Parts.empty());
    const TFuseField* cksel = layout->Bytes[FuseLow].Find("CKSEL");
    if (cksel != nullptr && layout->Bytes[FuseLow].Factory) {
        EXPECT_TRUE((layout->InternalClocks >> cksel->ValueIn(*layout->Bytes[FuseLow].Factory)) &
                    1u);
    }
}

INSTANTIATE_TEST_SUITE_P(EachFamily, FactoryFuses, ::testing::ValuesIn(FactoryDecodes));

TEST(FuseLayouts, EveryFamilyHasAFactoryRow) {
    EXPECT_EQ(CompiledFuseLayouts().Families.size(), std::size(FactoryDecodes));
}

// A faulty text is refused whole, naming the line at fault; a layout whose
// byte count is not the catalogue row's stops the build likewise.
TEST(FuseLayouts, FaultsNameTheirLine) {
    const std::string good = "family F\n"
                             "low 62 A B C2..0 CKSEL3..1\n"
                             "lock - - - - - - LB2 LB1\n"
                             "clock internal 010 external 000\n"
                             "part 1E 90 07 T13\n";
    TFuseLayouts l;
    std::string error;
    ASSERT_TRUE(ParseFuseLayouts(good, l, error)) << error;
    ASSERT_EQ(l.Families.size(), 1u);
    EXPECT_EQ(DecodeFuseByte(l.Families[0].Bytes[FuseLow], 0x62), "A=0 B=1 C=100 CKSEL=010");
    EXPECT_EQ(l.Families[0].InternalClocks, 1u << 2);

    const std::pair<std::string, std::string> faults[] = {
        {"low 62 A B C D E F G H\n", "line 1: \"low\" before the first family line"},
        {"family F\nlow 62 A B\npart 1E 90 07 X\n", "line 2: low: the bits run to 2 places, not 8"},
        {"family F\nlow 6Z A B C D E F G H\n", "line 2: factory value \"6Z\""},
        {"family F\nhigh DF A B C D E F G H\n", "line 2: \"high\" out of order"},
        {"family F\nlow 62 A B C0..2 D E F\n", "line 2: low: bit run \"C0..2\""},
        {"family F\nlow 62 A A C D E F G H\npart 1E 90 07 X\n",
         "line 1: family \"F\" names \"A\" twice"},
        {"family F\nlow 62 A B C D E F G H\n", "line 1: family \"F\" has no part"},
        {"family F\nlow 62 A B C D E F G H\nclock internal 01 external 00\n",
         "line 3: a clock line needs a CKSEL field"},
        {good + "oldlock 1E 90 07 Again\n", "line 6: the signature of Again is given again (T13)"},
        {good + "part 1E 90\n", "line 6: a part is three signature bytes and a name"},
        {good + "bits 1\n", "line 6: unknown line \"bits\""},
    };
    for (const auto& [text, want] : faults) {
        EXPECT_FALSE(ParseFuseLayouts(text, l, error)) << text;
        EXPECT_EQ(error.rfind(want, 0), 0u) << error;
        EXPECT_TRUE(l.Families.empty());
    }

    ASSERT_TRUE(ParseFuseLayouts(good, l, error));
    std::vector<TAVRdesc> rows(2);
    rows[1].Name = "ATtiny13";
    rows[1].Signature0 = 0x1E;
    rows[1].Signature1 = 0x90;
    rows[1].Signature2 = 0x07;
    rows[1].FuseForm = TFuseForm::Standard;
    rows[1].FuseKind = 2;
    EXPECT_FALSE(CheckLayoutsAgainstCatalogue(l, rows, error));
    EXPECT_EQ(error,
              "line 5 (T13): the catalogue row ATtiny13 has 2 fuse bytes, the layout of F has 1");
    rows[1].FuseKind = 1;
    EXPECT_TRUE(CheckLayoutsAgainstCatalogue(l, rows, error)) << error;
}

} // namespace
