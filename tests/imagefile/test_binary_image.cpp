// Raw binary image files: reading into a bounded destination and writing.
#include "BinaryImage.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace imagefile;
using imagefile_test::TempDir;

namespace {
std::vector<std::uint8_t> Counting(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return v;
}
} // namespace

TEST(BinaryImage, ReadsUpToTheDestinationAndTellsWhenMoreFollows) {
    TempDir dir;
    const std::size_t cap = 16;
    for (const std::size_t length :
         {std::size_t{0}, std::size_t{1}, cap - 1, cap, cap + 1, 3 * cap}) {
        const auto file = dir / ("f" + std::to_string(length));
        const auto content = Counting(length);
        imagefile_test::WriteFile(file, content);
        std::vector<std::uint8_t> dest(cap + 4, 0x00);
        const auto r = ReadBinaryFile(file, std::span(dest).first(cap));
        ASSERT_TRUE(r.opened);
        EXPECT_FALSE(r.readError);
        EXPECT_EQ(r.tooLong, length > cap) << length;
        EXPECT_EQ(r.length, std::min(length, cap));
        for (std::size_t i = 0; i < cap; ++i)
            EXPECT_EQ(dest[i], i < length ? content[i] : 0xFF)
                << "length " << length << " at " << i;
        for (std::size_t i = cap; i < dest.size(); ++i)
            EXPECT_EQ(dest[i], 0x00);
    }
}

TEST(BinaryImage, FailuresToOpenOrRead) {
    TempDir dir;
    std::vector<std::uint8_t> dest(8, 0x33);
    auto r = ReadBinaryFile(dir / "missing.bin", dest);
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(dest, std::vector<std::uint8_t>(8, 0x33)); // untouched

    // A folder opens but cannot be read: the destination is erased.
    r = ReadBinaryFile(dir.path(), dest);
    EXPECT_TRUE(r.opened);
    EXPECT_TRUE(r.readError);
    EXPECT_EQ(r.length, 0u);
    EXPECT_EQ(dest, std::vector<std::uint8_t>(8, 0xFF));
}

TEST(BinaryImage, ReadOnlyFilesLoad) {
    TempDir dir;
    const auto file = dir / "ro.bin";
    imagefile_test::WriteFile(file, Counting(4));
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    std::vector<std::uint8_t> dest(4);
    const auto r = ReadBinaryFile(file, dest);
    EXPECT_TRUE(r.opened);
    EXPECT_EQ(dest, Counting(4));
}

TEST(BinaryImage, WriteReplacesALongerFile) {
    TempDir dir;
    const auto file = dir / "out.bin";
    imagefile_test::WriteFile(file, Counting(1000));
    const auto w = WriteBinaryFile(file, Counting(10));
    EXPECT_TRUE(w.Saved());
    EXPECT_EQ(imagefile_test::ReadBytes(file), Counting(10));

    EXPECT_TRUE(WriteBinaryFile(file, {}).Saved());
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
}

TEST(BinaryImage, WriteFailures) {
    TempDir dir;
    auto w = WriteBinaryFile(dir / "missing-folder" / "out.bin", Counting(4));
    EXPECT_FALSE(w.created);
    EXPECT_FALSE(w.written);

    ASSERT_TRUE(std::filesystem::exists("/dev/full")); // Linux's always-full device
    // Created, but the data cannot be written out.
    w = WriteBinaryFile("/dev/full", Counting(100));
    EXPECT_TRUE(w.created);
    EXPECT_FALSE(w.written);
    EXPECT_FALSE(w.Saved());
}
