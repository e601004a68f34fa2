// Intel HEX writer: the text form of a memory's byte image.
#pragma once

#include "BinaryImage.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace imagefile {

// Data bytes in each data record the writer emits.
inline constexpr std::size_t HexRecordBytes = 16;

// The Intel HEX text of image, byte 0 at address 0: data records of 16 bytes
// (the last one shorter), an extended linear address record before the first
// record at or above each 64 KB boundary, an end-of-file record, every line
// ending in CR LF. Every byte is written, erased ones included, so that the
// text reads back into exactly the same image.
std::string FormatHexImage(std::span<const std::uint8_t> image);

// Writes FormatHexImage(image) to fileName, creating or emptying the file;
// whatever was written before a failure stays in the file.
TFileWriteResult WriteHexFile(const std::filesystem::path& fileName,
                              std::span<const std::uint8_t> image);

} // namespace imagefile
