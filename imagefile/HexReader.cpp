#include "HexReader.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace imagefile {

namespace {

constexpr std::uint8_t kNotDigit = 0xFF;
constexpr std::uint8_t kCut = 0xFE; // a line end or Ctrl-Z (end of text) inside a record
constexpr char kCtrlZ = 0x1A;

// Value of each character as a hexadecimal digit, or one of the markers.
constexpr std::array<std::uint8_t, 256> MakeDigitTable() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t)
        v = kNotDigit;
    for (int c = '0'; c <= '9'; ++c)
        t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c)
        t[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c - 'a' + 10);
    t[static_cast<std::size_t>(kCtrlZ)] = kCut;
    t['\r'] = kCut;
    t['\n'] = kCut;
    return t;
}
constexpr auto kDigit = MakeDigitTable();

enum RecordType : std::uint8_t {
    rtData = 0x00,
    rtEndOfFile = 0x01,
    rtSegmentAddress = 0x02,
    rtStartSegment = 0x03,
    rtLinearAddress = 0x04,
    rtStartLinear = 0x05,
};

// Walks the text one record at a time.
class HexParser {
public:
    HexParser(std::string_view text, std::size_t limit, std::span<std::uint8_t> image)
        : text_(text), limit_(limit), image_(image) {}

    THexReadResult Run() {
        for (;;) {
            SkipLineEnds();
            if (pos_ == text_.size() || text_[pos_] == kCtrlZ) return Finish();
            if (text_[pos_] != ':') return Fail(THexError::heNoColon);
            ++pos_;

            std::uint8_t count = 0, addrHi = 0, addrLo = 0, type = 0;
            if (!ReadByte(count) || !ReadByte(addrHi) || !ReadByte(addrLo) || !ReadByte(type))
                return Fail(error_);
            sum_ = static_cast<std::uint8_t>(count + addrHi + addrLo + type);

            switch (type) {
            case rtData:
                if (!ReadData(count, static_cast<std::size_t>(addrHi) << 8 | addrLo))
                    return Fail(error_);
                break;
            case rtEndOfFile:
                if (!SkipBytes(count) || !CheckSum()) return Fail(error_);
                return Finish();
            case rtSegmentAddress:
            case rtLinearAddress: {
                if (count != 2) return Fail(THexError::heRecordLength);
                std::uint8_t hi = 0, lo = 0;
                if (!ReadByte(hi) || !ReadByte(lo)) return Fail(error_);
                sum_ = static_cast<std::uint8_t>(sum_ + hi + lo);
                if (!CheckSum()) return Fail(error_);
                const std::size_t value = static_cast<std::size_t>(hi) << 8 | lo;
                base_ = type == rtSegmentAddress ? value << 4 : value << 16;
                break;
            }
            case rtStartSegment:
            case rtStartLinear:
                if (count != 4) return Fail(THexError::heRecordLength);
                if (!SkipBytes(count) || !CheckSum()) return Fail(error_);
                break;
            default:
                return Fail(THexError::heRecordType);
            }
        }
    }

private:
    void SkipLineEnds() {
        while (pos_ < text_.size()) {
            const char c = text_[pos_];
            if (c == '\n') {
                ++line_;
            } else if (c == '\r') {
                if (pos_ + 1 >= text_.size() || text_[pos_ + 1] != '\n') ++line_;
            } else {
                return;
            }
            ++pos_;
        }
    }

    // Two hexadecimal digits; on failure error_ says why.
    bool ReadByte(std::uint8_t& value) {
        if (text_.size() - pos_ < 2) {
            error_ = THexError::heTruncated;
            return false;
        }
        const std::uint8_t hi = kDigit[static_cast<unsigned char>(text_[pos_])];
        const std::uint8_t lo = kDigit[static_cast<unsigned char>(text_[pos_ + 1])];
        if ((hi | lo) > 0x0F) {
            const bool cut = hi == kCut || (hi <= 0x0F && lo == kCut);
            error_ = cut ? THexError::heTruncated : THexError::heBadField;
            return false;
        }
        value = static_cast<std::uint8_t>(hi << 4 | lo);
        pos_ += 2;
        return true;
    }

    bool ReadData(std::uint8_t count, std::size_t address) {
        const std::size_t first = base_ + address;
        for (std::size_t k = 0; k < count; ++k) {
            std::uint8_t value = 0;
            if (!ReadByte(value)) return false;
            const std::size_t p = first + k;
            if (p >= limit_) {
                error_ = THexError::heBeyondSize;
                return false;
            }
            image_[p] = value;
            sum_ = static_cast<std::uint8_t>(sum_ + value);
            if (!highest_ || p > *highest_) highest_ = p;
            ++dataBytes_;
        }
        return CheckSum();
    }

    bool SkipBytes(std::size_t count) {
        for (std::size_t k = 0; k < count; ++k) {
            std::uint8_t value = 0;
            if (!ReadByte(value)) return false;
            sum_ = static_cast<std::uint8_t>(sum_ + value);
        }
        return true;
    }

    // Reads the checksum field: all bytes of a record add up to 0 modulo 256.
    bool CheckSum() {
        std::uint8_t checksum = 0;
        if (!ReadByte(checksum)) return false;
        if (static_cast<std::uint8_t>(sum_ + checksum) != 0) {
            error_ = THexError::heChecksum;
            return false;
        }
        return true;
    }

    THexReadResult Finish() {
        if (!highest_) return Fail(THexError::heNoData);
        THexReadResult r;
        r.highest = highest_;
        r.dataBytes = dataBytes_;
        r.line = line_;
        return r;
    }

    THexReadResult Fail(THexError error) const {
        THexReadResult r;
        r.error = error;
        r.dataBytes = dataBytes_;
        r.line = line_;
        return r;
    }

    std::string_view text_;
    std::size_t limit_;
    std::span<std::uint8_t> image_;
    std::size_t pos_ = 0;
    std::size_t line_ = 1;
    std::size_t base_ = 0;
    std::uint8_t sum_ = 0;
    std::optional<std::size_t> highest_;
    std::size_t dataBytes_ = 0;
    THexError error_ = THexError::heNone;
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

std::string THexReadResult::Describe() const {
    const std::string where = "line " + std::to_string(line) + ": ";
    switch (error) {
    case THexError::heNone:
        return {};
    case THexError::heOpen:
        return "the file cannot be read";
    case THexError::heNoColon:
        return where + "a record does not begin with ':'";
    case THexError::heBadField:
        return where + "a field holds a character that is not a hex digit";
    case THexError::heTruncated:
        return where + "a record is cut short";
    case THexError::heChecksum:
        return where + "wrong checksum";
    case THexError::heRecordType:
        return where + "unknown record type";
    case THexError::heRecordLength:
        return where + "address record of the wrong length";
    case THexError::heBeyondSize:
        return where + "data beyond the end of the memory";
    case THexError::heNoData:
        return "no data in the file";
    }
    return {};
}

THexReadResult ReadHexText(std::string_view text, std::size_t size, std::span<std::uint8_t> image) {
    const std::size_t limit = std::min(size, image.size());
    std::fill_n(image.begin(), limit, std::uint8_t{0xFF});
    return HexParser(text, limit, image).Run();
}

THexReadResult ReadHexFile(const std::filesystem::path& fileName, std::size_t size,
                           std::span<std::uint8_t> image) {
    const std::size_t limit = std::min(size, image.size());
    std::fill_n(image.begin(), limit, std::uint8_t{0xFF});

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName.c_str(), "rb"));
    THexReadResult refused;
    refused.error = THexError::heOpen;
    if (!file) return refused;

    std::string text;
    std::error_code ec;
    const auto length = std::filesystem::file_size(fileName, ec);
    if (!ec) text.reserve(static_cast<std::size_t>(length));
    char chunk[65536];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        text.append(chunk, got);
        if (got < sizeof chunk) break;
    }
    if (std::ferror(file.get())) return refused;
    return HexParser(text, limit, image).Run();
}

} // namespace imagefile
