#include "HexWriter.h"

#include <algorithm>

namespace imagefile {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

// Appends one record: count, address, type, data, checksum, CR LF.
void AppendRecord(std::string& out, std::uint16_t address, std::uint8_t type,
                  std::span<const std::uint8_t> data) {
    std::uint8_t sum = 0;
    auto put = [&](std::uint8_t b) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
        sum = static_cast<std::uint8_t>(sum + b);
    };
    out.push_back(':');
    put(static_cast<std::uint8_t>(data.size()));
    put(static_cast<std::uint8_t>(address >> 8));
    put(static_cast<std::uint8_t>(address & 0xFF));
    put(type);
    for (const std::uint8_t b : data)
        put(b);
    const auto checksum = static_cast<std::uint8_t>(0x100 - sum);
    out.push_back(kDigits[checksum >> 4]);
    out.push_back(kDigits[checksum & 0x0F]);
    out += "\r\n";
}

} // namespace

std::string FormatHexImage(std::span<const std::uint8_t> image) {
    std::string out;
    // 11 characters of fields and 2 of line end around each record's data.
    out.reserve(image.size() * 2 + (image.size() / HexRecordBytes + 2) * 13 + 32);
    std::size_t segment = 0; // the upper 16 bits of the address in force
    for (std::size_t at = 0; at < image.size(); at += HexRecordBytes) {
        // Records never straddle a 64 KB boundary, because 65536 is a
        // multiple of the record length.
        if ((at >> 16) != segment) {
            segment = at >> 16;
            const std::uint8_t value[2] = {static_cast<std::uint8_t>(segment >> 8),
                                           static_cast<std::uint8_t>(segment & 0xFF)};
            AppendRecord(out, 0, 0x04, value);
        }
        const std::size_t n = std::min(HexRecordBytes, image.size() - at);
        AppendRecord(out, static_cast<std::uint16_t>(at & 0xFFFF), 0x00, image.subspan(at, n));
    }
    AppendRecord(out, 0, 0x01, {});
    return out;
}

TFileWriteResult WriteHexFile(const std::filesystem::path& fileName,
                              std::span<const std::uint8_t> image) {
    const std::string text = FormatHexImage(image);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    return WriteBinaryFile(fileName, std::span(bytes, text.size()));
}

} // namespace imagefile
