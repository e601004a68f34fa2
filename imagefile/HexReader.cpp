#include "HexReader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
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

// The characters of the text: a string in memory, or a file read in pieces
// of a fixed size, so that a file of any length costs the same memory and a
// refused record ends the reading there.
class TextSource {
public:
    explicit TextSource(std::string_view text) : view_(text) {}
    explicit TextSource(std::FILE* file)
        : file_(file), chunk_(std::make_unique<char[]>(kChunk)) {}

    // How many of the next `want` characters (at most 2) exist: fewer only
    // at the end of the text.
    std::size_t Have(std::size_t want) {
        if (view_.size() - pos_ < want) Refill();
        return std::min(want, view_.size() - pos_);
    }
    // The character k places after the current one; k < Have(k + 1).
    char At(std::size_t k) const { return view_[pos_ + k]; }
    void Skip(std::size_t n) { pos_ += n; }
    // A read of the file failed.
    bool Failed() const { return failed_; }

private:
    static constexpr std::size_t kChunk = 65536;

    void Refill() {
        if (file_ == nullptr || ended_) return;
        const std::size_t left = view_.size() - pos_;
        if (left > 0) std::memmove(chunk_.get(), view_.data() + pos_, left);
        const std::size_t got = std::fread(chunk_.get() + left, 1, kChunk - left, file_);
        if (got < kChunk - left) {
            ended_ = true;
            failed_ = std::ferror(file_) != 0;
        }
        view_ = std::string_view(chunk_.get(), left + got);
        pos_ = 0;
    }

    std::string_view view_;
    std::size_t pos_ = 0;
    std::FILE* file_ = nullptr;
    std::unique_ptr<char[]> chunk_;
    bool ended_ = false;
    bool failed_ = false;
};

// Walks the text one record at a time.
class HexParser {
public:
    HexParser(TextSource& text, std::size_t limit, std::span<std::uint8_t> image)
        : text_(text), limit_(limit), image_(image) {}

    THexReadResult Run() {
        for (;;) {
            SkipLineEnds();
            if (text_.Have(1) == 0 || text_.At(0) == kCtrlZ) return Finish();
            if (text_.At(0) != ':') return Fail(THexError::heNoColon);
            text_.Skip(1);

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
        while (text_.Have(1) == 1) {
            const char c = text_.At(0);
            if (c == '\n') {
                ++line_;
            } else if (c == '\r') {
                if (text_.Have(2) < 2 || text_.At(1) != '\n') ++line_;
            } else {
                return;
            }
            text_.Skip(1);
        }
    }

    // Two hexadecimal digits; on failure error_ says why.
    bool ReadByte(std::uint8_t& value) {
        if (text_.Have(2) < 2) {
            error_ = THexError::heTruncated;
            return false;
        }
        const std::uint8_t hi = kDigit[static_cast<unsigned char>(text_.At(0))];
        const std::uint8_t lo = kDigit[static_cast<unsigned char>(text_.At(1))];
        if ((hi | lo) > 0x0F) {
            const bool cut = hi == kCut || (hi <= 0x0F && lo == kCut);
            error_ = cut ? THexError::heTruncated : THexError::heBadField;
            return false;
        }
        value = static_cast<std::uint8_t>(hi << 4 | lo);
        text_.Skip(2);
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

    TextSource& text_;
    std::size_t limit_;
    std::span<std::uint8_t> image_;
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
    TextSource source(text);
    return HexParser(source, limit, image).Run();
}

THexReadResult ReadHexFile(const std::filesystem::path& fileName, std::size_t size,
                           std::span<std::uint8_t> image) {
    const std::size_t limit = std::min(size, image.size());
    std::fill_n(image.begin(), limit, std::uint8_t{0xFF});

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName.c_str(), "rb"));
    THexReadResult refused;
    refused.error = THexError::heOpen;
    if (!file) return refused;
    TextSource source(file.get());
    const THexReadResult result = HexParser(source, limit, image).Run();
    return source.Failed() ? refused : result;
}

} // namespace imagefile
