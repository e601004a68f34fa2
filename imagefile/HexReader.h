// Intel HEX reader: fills a byte image of a memory from HEX text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace imagefile {

// Capacity of the scratch image that a HEX load reads into.
inline constexpr std::size_t HexBufferSize = 65536;
using THexBuffer = std::array<std::uint8_t, HexBufferSize>;

// Why a HEX file was refused.
enum class THexError {
    heNone,         // read whole: the image holds the file's data
    heOpen,         // the file cannot be opened or read
    heNoColon,      // a record does not begin with ':'
    heBadField,     // a field holds something other than hexadecimal digits
    heTruncated,    // a record cut short by the end of the text or of its line
    heChecksum,     // the record's checksum does not match its bytes
    heRecordType,   // a record type this reader does not know
    heRecordLength, // an address record with the wrong byte count
    heBeyondSize,   // a data byte at or beyond the memory size
    heNoData,       // no data byte in the whole file
};

struct THexReadResult {
    THexError error = THexError::heNone;
    // Highest image position a data record filled; set only when the file
    // was accepted (a file whose only byte is at position 0 gives 0).
    std::optional<std::size_t> highest;
    // Number of data bytes stored (a byte written twice counts twice).
    std::size_t dataBytes = 0;
    // Line of the text where the reading stopped (1 for the first line).
    std::size_t line = 0;

    bool Accepted() const { return error == THexError::heNone; }
    // One line for a person: what was wrong and where; "" when accepted.
    std::string Describe() const;
};

// Reads Intel HEX text into image[0, size). The positions 0 to size - 1 are
// first set to 0xFF, the erased value; positions at or beyond size are never
// written. size is clipped to image.size().
//
// Records may end in CR LF, LF or CR; empty lines are passed over. Types:
// 00 data, 01 end of file (nothing after it is read), 02 extended segment
// address (base = value x 16), 04 extended linear address (base = value x
// 65536), 03 and 05 start addresses (checked, then passed over). Each record's
// checksum is verified. A character 0x1A ends the text as the real end does.
// Text that ends after a whole record is accepted without an end-of-file
// record. On refusal the image may hold part of the file: callers must not
// use it.
THexReadResult ReadHexText(std::string_view text, std::size_t size, std::span<std::uint8_t> image);

// Reads the file fileName as ReadHexText does, a piece at a time: memory stays
// bounded whatever the file's length, and the reading stops at the first
// refused record. heOpen when the file cannot be opened or read.
THexReadResult ReadHexFile(const std::filesystem::path& fileName, std::size_t size,
                           std::span<std::uint8_t> image);

} // namespace imagefile
