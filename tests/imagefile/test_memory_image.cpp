// Loads and saves of the Flash and EEPROM images, as the window and the
// command line use them.
#include "ImageFileName.h"
#include "MemoryImage.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <array>

#include <sys/resource.h>

using namespace imagefile;
using imagefile_test::ReadBytes;
using imagefile_test::ReadText;
using imagefile_test::TempDir;
using imagefile_test::WriteFile;

namespace {

// The engine's buffers at their full capacity.
struct Buffers {
    Buffers() {
        flash.fill(0x0000ABCD);
        eeprom.fill(0x5C);
    }
    std::array<std::uint32_t, 65536> flash{};
    std::array<std::uint8_t, 2048> eeprom{};
};

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed = 3) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(i * 31 + seed + i / 256);
    return v;
}

std::uint32_t Word(const std::vector<std::uint8_t>& bytes, std::size_t i) {
    return bytes[2 * i] | static_cast<std::uint32_t>(bytes[2 * i + 1]) << 8;
}

constexpr std::size_t kFlash = 2048; // AT90S2313
constexpr std::size_t kEEprom = 128;

} // namespace

TEST(ImageFileName, HexExtensionInAnyCase) {
    EXPECT_TRUE(IsHexFileName("/a/b/firmware.hex"));
    EXPECT_TRUE(IsHexFileName("FIRMWARE.HEX"));
    EXPECT_TRUE(IsHexFileName("x.HeX"));
    EXPECT_TRUE(IsHexFileName("/dir/.hex"));
    EXPECT_TRUE(IsHexFileName("a.bin.hex"));
    EXPECT_FALSE(IsHexFileName("a.hex.bin"));
    EXPECT_FALSE(IsHexFileName("/dir.hex/firmware"));
    EXPECT_FALSE(IsHexFileName("firmware.hexx"));
    EXPECT_FALSE(IsHexFileName("firmwarehex"));
    EXPECT_FALSE(IsHexFileName(""));
    EXPECT_EQ(FileExtension("/dir.d/name"), "");
    EXPECT_EQ(FileExtension("/dir/name.tar.GZ"), ".GZ");
    EXPECT_EQ(FileExtension("name."), ".");
}

TEST(FlashImage, BinaryLengthsAroundTheMemorySize) {
    TempDir dir;
    const auto content = Pattern(kFlash + 2);
    struct Case {
        std::size_t length;
        TLoadResult result;
        std::size_t taken;
    };
    for (const Case c : {Case{0, TLoadResult::lrLoaded, 0}, Case{3, TLoadResult::lrLoaded, 3},
                         Case{kFlash - 1, TLoadResult::lrLoaded, kFlash - 1},
                         Case{kFlash, TLoadResult::lrLoaded, kFlash},
                         Case{kFlash + 1, TLoadResult::lrTooLong, kFlash},
                         Case{kFlash + 2, TLoadResult::lrTooLong, kFlash}}) {
        const auto file = dir / "flash.bin";
        WriteFile(file, std::vector<std::uint8_t>(content.begin(), content.begin() + c.length));
        Buffers b;
        const auto r = LoadFlashImage(file, kFlash, b.flash);
        EXPECT_EQ(r.result, c.result) << c.length;
        EXPECT_TRUE(r.imageChanged);
        EXPECT_TRUE(r.Accepted());
        EXPECT_FALSE(r.hexFormat);
        EXPECT_EQ(r.fileBytes, c.taken);
        EXPECT_EQ(r.message, c.result == TLoadResult::lrTooLong ? "Flash file too long" : "");
        for (std::size_t i = 0; i < kFlash / 2; ++i) {
            std::uint32_t expected = 0xFFFF;
            if (2 * i + 1 < c.taken)
                expected = Word(content, i);
            else if (2 * i < c.taken)
                expected = 0xFF00u | content[2 * i]; // odd last byte
            ASSERT_EQ(b.flash[i], expected) << "length " << c.length << " word " << i;
        }
        EXPECT_EQ(b.flash[kFlash / 2], 0x0000ABCDu); // beyond the memory: untouched
    }
}

TEST(FlashImage, ShorterImageAfterALongerOneLeavesNoTrace) {
    TempDir dir;
    Buffers b;
    WriteFile(dir / "long.bin", Pattern(kFlash));
    WriteFile(dir / "short.bin", Pattern(10, 99));
    ASSERT_TRUE(LoadFlashImage(dir / "long.bin", kFlash, b.flash).Accepted());
    ASSERT_TRUE(LoadFlashImage(dir / "short.bin", kFlash, b.flash).Accepted());
    const auto shortImage = Pattern(10, 99);
    EXPECT_EQ(b.flash[4], Word(shortImage, 4));
    for (std::size_t i = 5; i < kFlash / 2; ++i)
        ASSERT_EQ(b.flash[i], 0xFFFFu) << i;
}

TEST(EEpromImage, BinaryLengthsAroundTheMemorySize) {
    TempDir dir;
    const auto content = Pattern(kEEprom + 1);
    for (const std::size_t length : {std::size_t{0}, kEEprom - 1, kEEprom, kEEprom + 1}) {
        WriteFile(dir / "ee.bin",
                  std::vector<std::uint8_t>(content.begin(), content.begin() + length));
        Buffers b;
        const auto r = LoadEEpromImage(dir / "ee.bin", kEEprom, b.eeprom);
        const bool tooLong = length > kEEprom;
        EXPECT_EQ(r.result, tooLong ? TLoadResult::lrTooLong : TLoadResult::lrLoaded);
        EXPECT_EQ(r.message, tooLong ? "EEPROM file too long" : "");
        EXPECT_TRUE(r.imageChanged);
        for (std::size_t j = 0; j < kEEprom; ++j)
            ASSERT_EQ(b.eeprom[j], j < length ? content[j] : 0xFF) << length << " at " << j;
        EXPECT_EQ(b.eeprom[kEEprom], 0x5C);
    }
}

TEST(MemoryImage, RefusalsLeaveTheBufferAlone) {
    TempDir dir;
    WriteFile(dir / "bad.hex", ":0200000001\r\n"); // cut short
    Buffers b;
    const Buffers untouched;

    auto r = LoadFlashImage(dir / "bad.hex", kFlash, b.flash);
    EXPECT_EQ(r.result, TLoadResult::lrHexError);
    EXPECT_EQ(r.message, "HEX file error or file too long");
    EXPECT_EQ(r.detail, "line 1: a record is cut short");
    EXPECT_TRUE(r.hexFormat);
    EXPECT_FALSE(r.imageChanged);
    EXPECT_FALSE(r.Accepted());

    r = LoadEEpromImage(dir / "bad.hex", kEEprom, b.eeprom);
    EXPECT_EQ(r.message, "HEX file error or file too long");
    r = LoadFlashImage(dir / "missing.bin", kFlash, b.flash);
    EXPECT_EQ(r.result, TLoadResult::lrOpenError);
    EXPECT_EQ(r.message, "Flash file Error.");
    EXPECT_FALSE(r.imageChanged);
    r = LoadEEpromImage(dir / "missing.bin", kEEprom, b.eeprom);
    EXPECT_EQ(r.message, "EEPROM file Error.");
    EXPECT_FALSE(r.imageChanged);
    r = LoadFlashImage(dir / "missing.hex", kFlash, b.flash);
    EXPECT_EQ(r.result, TLoadResult::lrHexError);

    EXPECT_EQ(b.flash, untouched.flash);
    EXPECT_EQ(b.eeprom, untouched.eeprom);
}

TEST(MemoryImage, ReadFailureAfterTheOpenShowsTheImageErased) {
    TempDir dir;
    Buffers b;
    // A folder opens for reading but gives no bytes.
    const auto r = LoadEEpromImage(dir.path(), kEEprom, b.eeprom);
    EXPECT_EQ(r.result, TLoadResult::lrReadError);
    EXPECT_EQ(r.message, "EEPROM file Error.");
    EXPECT_TRUE(r.imageChanged);
    EXPECT_FALSE(r.Accepted());
    for (std::size_t j = 0; j < kEEprom; ++j)
        ASSERT_EQ(b.eeprom[j], 0xFF);
}

TEST(MemoryImage, HexIsChosenByTheNameInAnyCase) {
    TempDir dir;
    const std::string text = ":0400000001020304F2\r\n:00000001FF\r\n";
    WriteFile(dir / "FIRMWARE.HEX", text);
    WriteFile(dir / "firmware.txt", text);
    Buffers b;
    auto r = LoadFlashImage(dir / "FIRMWARE.HEX", kFlash, b.flash);
    ASSERT_EQ(r.result, TLoadResult::lrLoaded);
    EXPECT_TRUE(r.hexFormat);
    EXPECT_EQ(r.highest, 3u);
    EXPECT_EQ(r.fileBytes, 4u);
    EXPECT_EQ(b.flash[0], 0x0201u);
    EXPECT_EQ(b.flash[1], 0x0403u);
    EXPECT_EQ(b.flash[2], 0xFFFFu);

    // Any other name is a binary image, text and all.
    r = LoadFlashImage(dir / "firmware.txt", kFlash, b.flash);
    ASSERT_EQ(r.result, TLoadResult::lrLoaded);
    EXPECT_FALSE(r.hexFormat);
    EXPECT_EQ(b.flash[0], static_cast<std::uint32_t>('0' << 8 | ':'));
}

TEST(MemoryImage, SavesAndLoadsBackUnchangedInBothFormats) {
    TempDir dir;
    Buffers b;
    const auto flashBytes = Pattern(kFlash, 11);
    for (std::size_t i = 0; i < kFlash / 2; ++i)
        b.flash[i] = Word(flashBytes, i) | 0xABCD0000u;
    const auto eeBytes = Pattern(kEEprom, 5);
    std::copy(eeBytes.begin(), eeBytes.end(), b.eeprom.begin());

    for (const char* name : {"image.bin", "image.hex", "IMAGE.HEX", "image"}) {
        auto s = SaveFlashImage(dir / name, kFlash, b.flash);
        ASSERT_TRUE(s.saved) << name;
        EXPECT_TRUE(s.fileCreated);
        EXPECT_TRUE(s.message.empty());
        EXPECT_EQ(s.hexFormat, IsHexFileName(name));
        const auto saved = ReadBytes(dir / name);
        if (s.hexFormat) {
            EXPECT_EQ(saved.front(), ':');
        } else {
            // Only the low 16 bits of each entry, low byte first.
            EXPECT_EQ(saved, flashBytes);
        }
        Buffers back;
        const auto r = LoadFlashImage(dir / name, kFlash, back.flash);
        ASSERT_EQ(r.result, TLoadResult::lrLoaded) << name << ": " << r.detail;
        for (std::size_t i = 0; i < kFlash / 2; ++i)
            ASSERT_EQ(back.flash[i], Word(flashBytes, i));

        const std::string eeName = std::string("ee-") + name;
        s = SaveEEpromImage(dir / eeName, kEEprom, b.eeprom);
        ASSERT_TRUE(s.saved);
        if (!s.hexFormat) {
            EXPECT_EQ(ReadBytes(dir / eeName), eeBytes);
        }
        ASSERT_EQ(LoadEEpromImage(dir / eeName, kEEprom, back.eeprom).result,
                  TLoadResult::lrLoaded);
        EXPECT_TRUE(std::equal(eeBytes.begin(), eeBytes.end(), back.eeprom.begin()));
    }
}

TEST(MemoryImage, ErasedImageSavesAsFullLengthOfFF) {
    TempDir dir;
    Buffers b;
    std::fill(b.flash.begin(), b.flash.end(), 0xFFFFu);
    ASSERT_TRUE(SaveFlashImage(dir / "e.bin", 16384, b.flash).saved);
    EXPECT_EQ(ReadBytes(dir / "e.bin"), std::vector<std::uint8_t>(16384, 0xFF));
    // As HEX it still loads back: every byte is written.
    ASSERT_TRUE(SaveFlashImage(dir / "e.hex", 16384, b.flash).saved);
    b.flash[0] = 0;
    EXPECT_EQ(LoadFlashImage(dir / "e.hex", 16384, b.flash).highest, 16383u);
    EXPECT_EQ(b.flash[0], 0xFFFFu);
}

TEST(MemoryImage, SaveFailures) {
    TempDir dir;
    Buffers b;
    auto s = SaveFlashImage(dir / "nope" / "f.bin", kFlash, b.flash);
    EXPECT_FALSE(s.saved);
    EXPECT_FALSE(s.fileCreated);
    EXPECT_EQ(s.message, "Flash file Error.");
    s = SaveEEpromImage(dir / "nope" / "e.hex", kEEprom, b.eeprom);
    EXPECT_EQ(s.message, "EEPROM file Error.");
    EXPECT_TRUE(s.hexFormat);

    ASSERT_TRUE(std::filesystem::exists("/dev/full")); // Linux's always-full device
    s = SaveEEpromImage("/dev/full", kEEprom, b.eeprom);
    EXPECT_FALSE(s.saved);
    EXPECT_TRUE(s.fileCreated); // the caption names the file
    EXPECT_EQ(s.message, "EEPROM file Error.");
}

TEST(MemoryImage, PartOutsideTheCatalogueHasNoMemory) {
    TempDir dir;
    Buffers b;
    WriteFile(dir / "two.bin", Pattern(2));
    WriteFile(dir / "one.bin", Pattern(1));
    WriteFile(dir / "a.hex", ":0100000055AA\r\n");

    EXPECT_EQ(LoadFlashImage(dir / "a.hex", 0, b.flash).result, TLoadResult::lrHexError);
    EXPECT_EQ(LoadEEpromImage(dir / "a.hex", 0, b.eeprom).result, TLoadResult::lrHexError);
    auto r = LoadFlashImage(dir / "two.bin", 0, b.flash);
    EXPECT_EQ(r.result, TLoadResult::lrTooLong);
    EXPECT_TRUE(r.imageChanged);
    // A single byte has no word of the Flash to go to either.
    EXPECT_EQ(LoadFlashImage(dir / "one.bin", 0, b.flash).result, TLoadResult::lrTooLong);
    EXPECT_EQ(LoadEEpromImage(dir / "one.bin", 0, b.eeprom).result, TLoadResult::lrTooLong);
    EXPECT_EQ(b.flash[0], 0x0000ABCDu);

    ASSERT_TRUE(SaveFlashImage(dir / "empty.bin", 0, b.flash).saved);
    EXPECT_EQ(std::filesystem::file_size(dir / "empty.bin"), 0u);
}

TEST(MemoryImage, SizesBeyondTheBuffersAreClipped) {
    TempDir dir;
    std::array<std::uint32_t, 4> flash{};
    std::array<std::uint8_t, 4> eeprom{};
    WriteFile(dir / "f.bin", Pattern(20));
    EXPECT_EQ(LoadFlashImage(dir / "f.bin", 1000, flash).result, TLoadResult::lrTooLong);
    EXPECT_EQ(LoadEEpromImage(dir / "f.bin", 1000, eeprom).result, TLoadResult::lrTooLong);
    ASSERT_TRUE(SaveFlashImage(dir / "o.bin", 1000, flash).saved);
    EXPECT_EQ(std::filesystem::file_size(dir / "o.bin"), 8u);
    ASSERT_TRUE(SaveEEpromImage(dir / "o.hex", 1000, eeprom).saved);
    EXPECT_EQ(ReadText(dir / "o.hex").substr(0, 9), ":04000000");
}

namespace {

// Peak resident memory of this process so far, in kilobytes.
long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

TEST(MemoryImage, FilesLargerThanAnyImageAreReadWithBoundedMemory) {
    TempDir dir;
    Buffers b;
    constexpr std::uintmax_t kHuge = 3ull << 30; // sparse: costs no disk
    const std::string record = ":0100000055AA\r\n";
    WriteFile(dir / "refused.hex", record);
    std::filesystem::resize_file(dir / "refused.hex", kHuge);
    WriteFile(dir / "ended.hex", record + ":00000001FF\r\n");
    std::filesystem::resize_file(dir / "ended.hex", kHuge);
    WriteFile(dir / "huge.bin", Pattern(10));
    std::filesystem::resize_file(dir / "huge.bin", kHuge);

    const long before = PeakKilobytes();
    auto r = LoadFlashImage(dir / "refused.hex", kFlash, b.flash);
    EXPECT_EQ(r.result, TLoadResult::lrHexError);
    EXPECT_EQ(r.detail, "line 2: a record does not begin with ':'");
    EXPECT_EQ(b.flash[0], 0x0000ABCDu);
    // Nothing after the end-of-file record is read.
    r = LoadEEpromImage(dir / "ended.hex", kEEprom, b.eeprom);
    EXPECT_TRUE(r.Accepted()) << r.detail;
    EXPECT_EQ(b.eeprom[0], 0x55);
    r = LoadFlashImage(dir / "huge.bin", kFlash, b.flash);
    EXPECT_EQ(r.result, TLoadResult::lrTooLong);
    EXPECT_EQ(r.fileBytes, kFlash);
    EXPECT_EQ(b.flash[0], Word(Pattern(10), 0));
    EXPECT_LT(PeakKilobytes() - before, 64 * 1024) << "a load took memory by the file's length";
}
