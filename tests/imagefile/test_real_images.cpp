// Images built with the AVR toolchain (see tests/data/make-images): objcopy's
// CR LF files with a start address record, srec_cat's LF files with extended
// linear address records, the raw binaries of the same programs, and a sparse
// image of a 256 KB part.
#include "MemoryImage.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <vector>

using namespace imagefile;
using imagefile_test::DataFile;
using imagefile_test::ReadBytes;
using imagefile_test::TempDir;

namespace {

struct Part {
    std::size_t flashSize;
    std::size_t eepromSize;
};
constexpr Part kMega16{16384, 512};
constexpr Part kS2313{2048, 128};

using FlashWords = std::array<std::uint32_t, 65536>;

// The raw image bytes behind the first n words.
std::vector<std::uint8_t> Bytes(const FlashWords& f, std::size_t n) {
    std::vector<std::uint8_t> v;
    for (std::size_t i = 0; i < n; ++i) {
        v.push_back(static_cast<std::uint8_t>(f[i]));
        v.push_back(static_cast<std::uint8_t>(f[i] >> 8));
    }
    return v;
}

FlashWords LoadFlash(std::string_view name, Part part, TLoadOutcome* outcome = nullptr) {
    FlashWords f;
    f.fill(0x12345678);
    const auto r = LoadFlashImage(DataFile(name), part.flashSize, f);
    EXPECT_EQ(r.result, TLoadResult::lrLoaded) << name << ": " << r.detail;
    if (outcome) *outcome = r;
    return f;
}

} // namespace

TEST(RealImages, HexFilesOfBothToolsMatchTheBinary) {
    const auto binary = ReadBytes(DataFile("blink_m16.bin"));
    ASSERT_GT(binary.size(), 100u);
    for (const char* name : {"blink_m16.hex", "blink_m16_lf.hex", "blink_m16.bin"}) {
        TLoadOutcome r;
        const FlashWords f = LoadFlash(name, kMega16, &r);
        const auto bytes = Bytes(f, kMega16.flashSize / 2);
        EXPECT_TRUE(std::equal(binary.begin(), binary.end(), bytes.begin())) << name;
        EXPECT_TRUE(std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(binary.size()),
                                bytes.end(), [](std::uint8_t b) { return b == 0xFF; }))
            << name;
        EXPECT_EQ(f[kMega16.flashSize / 2], 0x12345678u);
        if (r.hexFormat) {
            EXPECT_EQ(r.highest, binary.size() - 1) << name;
        }
    }
}

TEST(RealImages, BootSectionImageWithStartAddress) {
    const std::string text = imagefile_test::ReadText(DataFile("boot_m16.hex"));
    ASSERT_NE(text.find(":0400000300003800C1\r\n"), std::string::npos);
    TLoadOutcome r;
    const FlashWords f = LoadFlash("boot_m16.hex", kMega16, &r);
    // The start address record stores nothing: the reset vector stays erased.
    for (std::size_t i = 0; i < 0x3800 / 2; ++i)
        ASSERT_EQ(f[i], 0xFFFFu) << i;
    EXPECT_EQ(f[0x3800 / 2], 0xEF8Fu); // ldi r24, 0xFF
    ASSERT_TRUE(r.highest.has_value());
    EXPECT_GT(*r.highest, 0x3800u);
    EXPECT_LT(*r.highest, kMega16.flashSize);
    // On a part with less Flash the same file is too long.
    FlashWords small;
    EXPECT_EQ(LoadFlashImage(DataFile("boot_m16.hex"), kS2313.flashSize, small).result,
              TLoadResult::lrHexError);
}

TEST(RealImages, ByteProgrammedPartAndOddBinary) {
    const FlashWords hex = LoadFlash("count_2313.hex", kS2313);
    const FlashWords lf = LoadFlash("count_2313_lf.hex", kS2313);
    TLoadOutcome r;
    const FlashWords bin = LoadFlash("count_2313.bin", kS2313, &r);
    const auto file = ReadBytes(DataFile("count_2313.bin"));
    ASSERT_EQ(file.size() % 2, 1u);
    const std::size_t whole = file.size() / 2;
    EXPECT_EQ(r.fileBytes, file.size());
    for (std::size_t i = 0; i < whole; ++i) {
        EXPECT_EQ(hex[i], bin[i]) << i;
        EXPECT_EQ(lf[i], bin[i]) << i;
    }
    // The trailing byte of the binary is kept as the low byte of one more word.
    EXPECT_EQ(hex[whole], 0xFFFFu);
    EXPECT_EQ(bin[whole], 0xFF00u | file.back());
}

TEST(RealImages, EEpromImages) {
    std::array<std::uint8_t, 2048> fromHex{}, fromBin{};
    const auto h = LoadEEpromImage(DataFile("blink_m16_ee.hex"), kMega16.eepromSize, fromHex);
    const auto b = LoadEEpromImage(DataFile("blink_m16_ee.bin"), kMega16.eepromSize, fromBin);
    ASSERT_EQ(h.result, TLoadResult::lrLoaded) << h.detail;
    ASSERT_EQ(b.result, TLoadResult::lrLoaded);
    EXPECT_EQ(fromHex, fromBin);
    const std::string text(fromHex.begin(), fromHex.begin() + 18);
    EXPECT_EQ(text, "Quillon test image");
    EXPECT_EQ(fromHex[kMega16.eepromSize - 1], 0xFF);
}

TEST(RealImages, LoadSaveLoadKeepsEveryImage) {
    TempDir dir;
    const struct {
        const char* name;
        Part part;
    } images[] = {{"blink_m16.hex", kMega16},
                  {"blink_m16_lf.hex", kMega16},
                  {"boot_m16.hex", kMega16},
                  {"count_2313.hex", kS2313},
                  {"count_2313.bin", kS2313}};
    for (const auto& img : images) {
        const FlashWords first = LoadFlash(img.name, img.part);
        for (const char* out : {"out.hex", "out.bin"}) {
            ASSERT_TRUE(SaveFlashImage(dir / out, img.part.flashSize, first).saved);
            FlashWords again;
            ASSERT_EQ(LoadFlashImage(dir / out, img.part.flashSize, again).result,
                      TLoadResult::lrLoaded);
            EXPECT_TRUE(
                std::equal(first.begin(), first.begin() + img.part.flashSize / 2, again.begin()))
                << img.name << " through " << out;
        }
        // The binary save is the memory's full byte image.
        EXPECT_EQ(ReadBytes(dir / "out.bin"), Bytes(first, img.part.flashSize / 2));
    }
}

// 256 KB of Flash: the extended linear address records place the text at
// the start, across the 128 KB line and at the very end; a save writes one
// such record before each 64 KB it reaches and loads back the same image.
TEST(RealImages, SparseImageOfA256KPart) {
    constexpr std::size_t flashSize = 262144;
    const auto runOf = [](std::string_view text, std::size_t from, std::size_t to) {
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = from; i < to; ++i)
            bytes.push_back(static_cast<std::uint8_t>(text[(i - from) % text.size()]));
        return bytes;
    };
    std::vector<std::uint8_t> expected(flashSize, 0xFF);
    for (const auto& [text, from, to] :
         {std::tuple{"Quillon: the first bytes of 256 KB. ", 0x0u, 0x40u},
          std::tuple{"across the 128 KB line ", 0x1FFE0u, 0x20020u},
          std::tuple{"the last bytes of 256 KB ", 0x3FFC0u, 0x40000u}}) {
        const auto run = runOf(text, from, to);
        std::copy(run.begin(), run.end(), expected.begin() + from);
    }
    std::vector<std::uint32_t> flash(flashSize / 2, 0x12345678);
    const auto r = LoadFlashImage(DataFile("far_m2560.hex"), flashSize, flash);
    ASSERT_EQ(r.result, TLoadResult::lrLoaded) << r.detail;
    EXPECT_EQ(r.highest, flashSize - 1);
    EXPECT_EQ(r.fileBytes, 0x40u + 0x40u + 0x40u);
    EXPECT_EQ(FlashImageBytes(flash, flashSize), expected);
    std::vector<std::uint32_t> half(flashSize / 4);
    EXPECT_EQ(LoadFlashImage(DataFile("far_m2560.hex"), flashSize / 2, half).result,
              TLoadResult::lrHexError)
        << "too long for 128 KB";

    TempDir dir;
    ASSERT_TRUE(SaveFlashImage(dir / "out.hex", flashSize, flash).saved);
    const std::string text = imagefile_test::ReadText(dir / "out.hex");
    for (const char* record : {":020000040001F9", ":020000040002F8", ":020000040003F7"})
        EXPECT_NE(text.find(record), std::string::npos) << record;
    std::vector<std::uint32_t> again(flashSize / 2);
    ASSERT_EQ(LoadFlashImage(dir / "out.hex", flashSize, again).result, TLoadResult::lrLoaded);
    EXPECT_EQ(again, flash);
}
