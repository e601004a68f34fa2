// Intel HEX reader: line ends, record types, checksums, truncation, limits.
#include "HexReader.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

using namespace imagefile;

namespace {

// One record with a correct checksum, without a line end.
std::string Rec(std::uint8_t type, std::uint16_t address, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> all = {static_cast<std::uint8_t>(data.size()),
                                     static_cast<std::uint8_t>(address >> 8),
                                     static_cast<std::uint8_t>(address), type};
    all.insert(all.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string s = ":";
    char buf[3];
    for (auto b : all) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        s += buf;
        sum += b;
    }
    std::snprintf(buf, sizeof buf, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return s + buf;
}

const std::string kEof = ":00000001FF";

struct Image {
    explicit Image(std::size_t capacity = 256) : bytes(capacity, 0xA5) {}
    THexReadResult Read(std::string_view text, std::size_t size) {
        return ReadHexText(text, size, bytes);
    }
    std::vector<std::uint8_t> bytes;
};

} // namespace

TEST(HexReader, EveryLineEndAndEmptyLinesReadTheSameImage) {
    const std::string a = Rec(0, 0x0000, {0x0C, 0x94, 0x2A, 0x00});
    const std::string b = Rec(0, 0x0010, {0x11, 0x22});
    const std::vector<std::string> texts = {
        a + "\r\n" + b + "\r\n" + kEof + "\r\n",
        a + "\n" + b + "\n" + kEof + "\n",
        a + "\r" + b + "\r" + kEof + "\r",
        "\r\n\n" + a + "\n\n\r\n" + b + "\r\r" + kEof,
        a + "\n" + b + "\n\n\n\r\n", // no end-of-file record, empty lines at the end
        a + b + kEof,                // records back to back
    };
    for (const auto& text : texts) {
        Image img;
        const auto r = img.Read(text, 32);
        ASSERT_TRUE(r.Accepted()) << text << " -> " << r.Describe();
        EXPECT_EQ(r.highest, 0x11u);
        EXPECT_EQ(r.dataBytes, 6u);
        const std::vector<std::uint8_t> expected = {0x0C, 0x94, 0x2A, 0x00, 0xFF, 0xFF,
                                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                    0xFF, 0xFF, 0xFF, 0xFF, 0x11, 0x22};
        for (std::size_t i = 0; i < 32; ++i)
            EXPECT_EQ(img.bytes[i], i < expected.size() ? expected[i] : 0xFF) << "position " << i;
        // Beyond the memory size nothing is touched.
        EXPECT_EQ(img.bytes[32], 0xA5);
    }
}

TEST(HexReader, EndOfFileRecordEndsTheReading) {
    Image img;
    const std::string text = Rec(0, 0, {0x01, 0x02}) + "\r\n" + kEof + "\r\n" + Rec(0, 0, {0x99}) +
                             "\r\nnot hex at all\x01\x02";
    const auto r = img.Read(text, 16);
    ASSERT_TRUE(r.Accepted());
    EXPECT_EQ(img.bytes[0], 0x01);
    EXPECT_EQ(img.bytes[1], 0x02);
    // The end-of-file record is checked like any other.
    EXPECT_EQ(img.Read(Rec(0, 0, {1, 2}) + "\n:00000001FE\n", 16).error, THexError::heChecksum);
}

TEST(HexReader, AddressRecordsMoveTheDataThatFollows) {
    Image img(0x2000);
    const std::string text = Rec(4, 0, {0x00, 0x00}) + "\n" +             // linear base 0
                             Rec(3, 0, {0x00, 0x00, 0x38, 0x00}) + "\n" + // start address
                             Rec(5, 0, {0x00, 0x00, 0x38, 0x00}) + "\n" + Rec(0, 0x0004, {0xAA}) +
                             "\n" + Rec(2, 0, {0x01, 0x00}) + "\n" + // segment 0x100: base 0x1000
                             Rec(0, 0x0010, {0xBB, 0xCC}) + "\n" + Rec(2, 0, {0x00, 0x00}) + "\n" +
                             Rec(0, 0x0005, {0xDD}) + "\n" + kEof + "\n";
    const auto r = img.Read(text, 0x2000);
    ASSERT_TRUE(r.Accepted()) << r.Describe();
    // Address records store nothing: the first bytes stay erased.
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(img.bytes[i], 0xFF) << i;
    EXPECT_EQ(img.bytes[4], 0xAA);
    EXPECT_EQ(img.bytes[5], 0xDD);
    EXPECT_EQ(img.bytes[0x1010], 0xBB);
    EXPECT_EQ(img.bytes[0x1011], 0xCC);
    EXPECT_EQ(r.highest, 0x1011u);
    EXPECT_EQ(r.dataBytes, 4u);
}

TEST(HexReader, LinearAddressAboveTheMemoryRefuses) {
    std::vector<std::uint8_t> big(0x20000, 0);
    const std::string text = Rec(4, 0, {0x00, 0x01}) + "\n" + Rec(0, 0x0002, {0x42}) + "\n";
    EXPECT_EQ(ReadHexText(text, 0x10000, big).error, THexError::heBeyondSize);
    // With a memory that large the byte lands at 0x10002.
    const auto r = ReadHexText(text, big.size(), big);
    ASSERT_TRUE(r.Accepted());
    EXPECT_EQ(big[0x10002], 0x42);
    EXPECT_EQ(r.highest, 0x10002u);
}

TEST(HexReader, MalformedRecordsRefuseTheFile) {
    const std::string good = Rec(0, 0, {0x10, 0x20, 0x30}) + "\r\n";
    struct Case {
        std::string text;
        THexError error;
    };
    const std::vector<Case> cases = {
        {good + ":0300100011", THexError::heTruncated}, // ends inside the data
        {good + ":03", THexError::heTruncated},         // ends after the count
        {good + ":", THexError::heTruncated},
        {good + ":0", THexError::heTruncated},                            // half a field
        {good + Rec(0, 0x10, {1}).substr(0, 11), THexError::heTruncated}, // checksum missing
        {good + Rec(0, 0x10, {1}).substr(0, 12), THexError::heTruncated}, // half a checksum
        {good + ":0100100\x1A"
                "01EE",
         THexError::heTruncated},                                    // Ctrl-Z inside a record
        {good + ":03001000AABB\r\n" + kEof, THexError::heTruncated}, // line ends inside a record
        {good + ":01001000G1EE", THexError::heBadField},             // not a digit in the data
        {good + ":01 0100001EE", THexError::heBadField},             // blank in the address
        {good + ":0100-00001EE", THexError::heBadField},
        {good + ":0x00100001EE", THexError::heBadField},
        {good + Rec(0, 0x10, {1}) + "junk", THexError::heNoColon},
        {"\xEF\xBB\xBF" + good, THexError::heNoColon}, // byte order mark
        {" " + good, THexError::heNoColon},
        {good + Rec(6, 0, {}), THexError::heRecordType},
        {good + Rec(0xFF, 0, {1}), THexError::heRecordType},
        {good + Rec(4, 0, {0x00}), THexError::heRecordLength},
        {good + Rec(2, 0, {0x00, 0x00, 0x00}), THexError::heRecordLength},
        {good + Rec(3, 0, {0x00, 0x00}), THexError::heRecordLength},
        {good + ":0300000010203040\r\n", THexError::heChecksum},
        {good + ":00000001", THexError::heTruncated}, // end record cut short
        {"", THexError::heNoData},
        {"\r\n\r\n", THexError::heNoData},
        {kEof + "\r\n", THexError::heNoData},
        {Rec(0, 0x0008, {}) + "\n" + kEof, THexError::heNoData}, // a data record with no bytes
        {"\x1A" + good, THexError::heNoData},                    // Ctrl-Z ends the text at once
    };
    for (const auto& c : cases) {
        Image img;
        const auto r = img.Read(c.text, 64);
        EXPECT_EQ(r.error, c.error) << "text: " << c.text << " -> " << r.Describe();
        EXPECT_FALSE(r.highest.has_value());
        EXPECT_FALSE(r.Accepted());
    }
}

TEST(HexReader, CtrlZAfterARecordEndsTheText) {
    Image img;
    const auto r = img.Read(Rec(0, 0, {0x01, 0x02}) + "\r\n\x1A:garbage", 16);
    ASSERT_TRUE(r.Accepted());
    EXPECT_EQ(r.highest, 1u);
}

TEST(HexReader, LowerCaseDigitsAreRead) {
    Image img;
    const auto r = img.Read(":02000000abcd86\n", 16);
    ASSERT_TRUE(r.Accepted()) << r.Describe();
    EXPECT_EQ(img.bytes[0], 0xAB);
    EXPECT_EQ(img.bytes[1], 0xCD);
}

TEST(HexReader, MemorySizeLimits) {
    const std::size_t size = 0x40;
    {
        Image img;
        const auto r = img.Read(Rec(0, size - 1, {0x5A}), size);
        ASSERT_TRUE(r.Accepted());
        EXPECT_EQ(r.highest, size - 1);
        EXPECT_EQ(img.bytes[size - 1], 0x5A);
    }
    {
        Image img;
        const auto r = img.Read(Rec(0, size, {0x5A}), size);
        EXPECT_EQ(r.error, THexError::heBeyondSize);
        EXPECT_EQ(img.bytes[size], 0xA5); // the byte is not stored
    }
    {
        // A record that runs over the end: the bytes inside are not enough.
        Image img;
        EXPECT_EQ(img.Read(Rec(0, size - 2, {1, 2, 3}), size).error, THexError::heBeyondSize);
        EXPECT_EQ(img.bytes[size], 0xA5);
    }
    {
        // A record near the top of the 16-bit address range does not wrap to 0.
        Image img(0x10000);
        EXPECT_EQ(img.Read(Rec(0, 0xFFFF, {1, 2}), 0x10000).error, THexError::heBeyondSize);
        EXPECT_EQ(img.bytes[0], 0xFF);
    }
    {
        Image img;
        EXPECT_EQ(img.Read(Rec(0, 0, {1}), 0).error, THexError::heBeyondSize);
        EXPECT_EQ(img.bytes[0], 0xA5);
    }
    {
        // The size is clipped to the image: a larger size writes nothing past it.
        std::vector<std::uint8_t> small(8, 0);
        EXPECT_EQ(ReadHexText(Rec(0, 8, {1}), 1000, small).error, THexError::heBeyondSize);
        const auto r = ReadHexText(Rec(0, 7, {1}), 1000, small);
        ASSERT_TRUE(r.Accepted());
        EXPECT_EQ(small[7], 1);
    }
}

TEST(HexReader, OnlyByteAtPositionZeroIsAccepted) {
    Image img;
    const auto r = img.Read(Rec(0, 0, {0x12}) + "\r\n" + kEof + "\r\n", 16);
    ASSERT_TRUE(r.Accepted());
    EXPECT_EQ(r.highest, 0u);
    EXPECT_EQ(img.bytes[0], 0x12);
}

TEST(HexReader, LaterRecordsOverwriteEarlierOnes) {
    Image img;
    const auto r = img.Read(Rec(0, 0, {1, 2, 3, 4}) + "\n" + Rec(0, 1, {9, 8}) + "\n", 16);
    ASSERT_TRUE(r.Accepted());
    EXPECT_EQ(img.bytes[0], 1);
    EXPECT_EQ(img.bytes[1], 9);
    EXPECT_EQ(img.bytes[2], 8);
    EXPECT_EQ(img.bytes[3], 4);
    EXPECT_EQ(r.highest, 3u);
    EXPECT_EQ(r.dataBytes, 6u);
}

TEST(HexReader, DescribeNamesTheLine) {
    Image img;
    const auto r =
        img.Read(Rec(0, 0, {1}) + "\r\n\r\n" + Rec(0, 1, {2}) + "\r\n:01000200FF00\r\n", 16);
    EXPECT_EQ(r.error, THexError::heChecksum);
    EXPECT_EQ(r.line, 4u);
    EXPECT_EQ(r.Describe(), "line 4: wrong checksum");
    EXPECT_EQ(img.Read(Rec(0, 0, {1}) + "\r\r" + "x", 16).line, 3u);
}

TEST(HexReader, ReadsFilesAndRefusesWhatCannotBeRead) {
    imagefile_test::TempDir dir;
    const auto file = dir / "a.hex";
    imagefile_test::WriteFile(file, Rec(0, 2, {0x77, 0x66}) + "\n" + kEof + "\n");
    Image img;
    auto r = ReadHexFile(file, 16, img.bytes);
    ASSERT_TRUE(r.Accepted());
    EXPECT_EQ(img.bytes[2], 0x77);
    EXPECT_EQ(img.bytes[3], 0x66);
    EXPECT_EQ(img.bytes[0], 0xFF);

    EXPECT_EQ(ReadHexFile(dir / "missing.hex", 16, img.bytes).error, THexError::heOpen);
    EXPECT_EQ(ReadHexFile(dir.path(), 16, img.bytes).error, THexError::heOpen);
    EXPECT_EQ(ReadHexFile(dir / "missing.hex", 16, img.bytes).Describe(),
              "the file cannot be read");
}
