// The fuzz target's properties as an ordinary test: the committed corpus,
// then seeded random mutations of the real images.
#include "HexReader.h"
#include "HexReaderCheck.h"

#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>

using imagefile_test::CheckHexReaderOnText;

namespace {

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& dir, std::string_view ext) {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.is_regular_file() && (ext.empty() || e.path().extension() == ext))
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

char HexDigit(unsigned v) {
    return "0123456789ABCDEF"[v & 0x0F];
}

// Sets the checksum of the record that starts at 'colon' to the right value,
// so that a mutation reaches the code behind the checksum test.
void FixChecksum(std::string& text, std::size_t colon) {
    std::size_t end = colon + 1;
    while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end])))
        ++end;
    if ((end - colon - 1) % 2 != 0 || end - colon < 11) return;
    unsigned sum = 0;
    for (std::size_t i = colon + 1; i + 2 < end; i += 2)
        sum += std::stoul(text.substr(i, 2), nullptr, 16);
    const unsigned checksum = (0x100 - (sum & 0xFF)) & 0xFF;
    text[end - 2] = HexDigit(checksum >> 4);
    text[end - 1] = HexDigit(checksum);
}

std::string Mutate(std::string text, std::mt19937& rng) {
    auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    static const std::string alphabet = ":0123456789ABCDEFabcdef\r\n\x1A G";
    const int edits = 1 + static_cast<int>(pick(4));
    for (int e = 0; e < edits && !text.empty(); ++e) {
        const std::size_t at = pick(text.size());
        switch (pick(7)) {
        case 0:
            text[at] = alphabet[pick(alphabet.size())];
            break;
        case 1:
            text.insert(at, 1, static_cast<char>(pick(256)));
            break;
        case 2:
            text.erase(at, 1 + pick(8));
            break;
        case 3:
            text.resize(at);
            break; // cut short
        case 4: {  // repeat a line
            const auto start = text.rfind(':', at);
            const auto end = text.find('\n', at);
            if (start != std::string::npos && end != std::string::npos)
                text.insert(end + 1, text.substr(start, end + 1 - start));
            break;
        }
        default: { // change a field, keep the checksum right
            const auto colon = text.rfind(':', at);
            if (colon == std::string::npos || colon + 9 >= text.size()) break;
            // Count, address or type digits, or a data digit.
            const std::size_t digit = colon + 1 + pick(12);
            if (digit < text.size() && std::isxdigit(static_cast<unsigned char>(text[digit])))
                text[digit] = HexDigit(static_cast<unsigned>(pick(16)));
            FixChecksum(text, colon);
            break;
        }
        }
    }
    return text;
}

} // namespace

TEST(HexReaderFuzz, CorpusHoldsTheProperties) {
    const auto files = FilesIn(imagefile_test::DataFile("hex-corpus"), "");
    ASSERT_GE(files.size(), 10u);
    for (const auto& f : files)
        EXPECT_EQ(CheckHexReaderOnText(imagefile_test::ReadText(f)), "") << f;
}

TEST(HexReaderFuzz, RandomMutationsOfRealImagesHoldTheProperties) {
    const auto images = FilesIn(QUILLON_TEST_DATA, ".hex");
    ASSERT_GE(images.size(), 5u);
    std::mt19937 rng(20240607);
    int accepted = 0;
    constexpr int kPerImage = 600;
    for (const auto& image : images) {
        const std::string original = imagefile_test::ReadText(image);
        ASSERT_EQ(CheckHexReaderOnText(original), "") << image;
        for (int i = 0; i < kPerImage; ++i) {
            const std::string text = Mutate(original, rng);
            const std::string failure = CheckHexReaderOnText(text);
            ASSERT_EQ(failure, "") << image << " mutation " << i << ":\n" << text;
            std::vector<std::uint8_t> probe(16384);
            accepted += imagefile::ReadHexText(text, probe.size(), probe).Accepted();
        }
    }
    // The mutations must reach both sides of the reader, not only refusals.
    EXPECT_GT(accepted, static_cast<int>(images.size()) * kPerImage / 20);
    EXPECT_LT(accepted, static_cast<int>(images.size()) * kPerImage);
}
