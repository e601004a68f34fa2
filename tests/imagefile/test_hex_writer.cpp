// Intel HEX writer: record layout, address records, and reading back.
#include "HexReader.h"
#include "HexWriter.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <random>

using namespace imagefile;

TEST(HexWriter, WritesSixteenByteRecordsWithCrLfAndAnEndRecord) {
    std::vector<std::uint8_t> image(20);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(FormatHexImage(image), ":10000000000102030405060708090A0B0C0D0E0F78\r\n"
                                     ":0400100010111213A6\r\n"
                                     ":00000001FF\r\n");
    EXPECT_EQ(FormatHexImage({}), ":00000001FF\r\n");
}

TEST(HexWriter, LinearAddressRecordsWhereAddressesPass64K) {
    std::vector<std::uint8_t> image(0x20010);
    std::mt19937 rng(7);
    for (auto& b : image)
        b = static_cast<std::uint8_t>(rng());
    const std::string text = FormatHexImage(image);

    const auto first = text.find(":020000040001F9\r\n");
    ASSERT_NE(first, std::string::npos);
    // It stands right before the record for 0x10000, after the one for 0xFFF0.
    EXPECT_EQ(text.rfind(":10FFF000", first), first - 45);
    EXPECT_EQ(text.compare(first + 17, 9, ":10000000"), 0);
    EXPECT_NE(text.find(":020000040002F8\r\n"), std::string::npos);
    EXPECT_EQ(text.find(":02000004"), first); // none for the first 64 KB

    std::vector<std::uint8_t> back(image.size(), 0);
    const auto r = ReadHexText(text, back.size(), back);
    ASSERT_TRUE(r.Accepted()) << r.Describe();
    EXPECT_EQ(r.highest, image.size() - 1);
    EXPECT_EQ(back, image);
}

TEST(HexWriter, ErasedImageReadsBackWhole) {
    // Erased bytes are written too: an erased image is not an empty file.
    const std::vector<std::uint8_t> image(100, 0xFF);
    std::vector<std::uint8_t> back(100, 0);
    const auto r = ReadHexText(FormatHexImage(image), 100, back);
    ASSERT_TRUE(r.Accepted());
    EXPECT_EQ(r.highest, 99u);
    EXPECT_EQ(back, image);
}

TEST(HexWriter, WriteHexFileReportsCreationAndWriteFailures) {
    imagefile_test::TempDir dir;
    const std::vector<std::uint8_t> image = {0xDE, 0xAD};
    const auto file = dir / "out.hex";
    imagefile_test::WriteFile(file, std::string(5000, 'x'));
    auto w = WriteHexFile(file, image);
    EXPECT_TRUE(w.Saved());
    EXPECT_EQ(imagefile_test::ReadText(file), ":02000000DEAD73\r\n:00000001FF\r\n");

    w = WriteHexFile(dir / "no-such-folder" / "out.hex", image);
    EXPECT_FALSE(w.created);
    EXPECT_FALSE(w.Saved());
}
