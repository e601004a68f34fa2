// Raw binary image files: the memory's bytes in order, nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

namespace imagefile {

struct TBinaryReadResult {
    bool opened = false;    // false: the file could not be opened; nothing was changed
    bool readError = false; // a read failed after the open
    bool tooLong = false;   // the file holds more bytes than the destination
    std::size_t length = 0; // bytes taken into the destination
};

// Opens fileName for reading only and copies its first bytes into dest, after
// setting all of dest to the erased value 0xFF. Reads one byte beyond dest's
// size to tell a file that fits from one that is too long; never more. dest is
// left untouched when the file cannot be opened.
TBinaryReadResult ReadBinaryFile(const std::filesystem::path& fileName,
                                 std::span<std::uint8_t> dest);

struct TFileWriteResult {
    bool created = false; // the file was created or emptied
    bool written = false; // every byte was written and the file closed cleanly
    bool Saved() const { return created && written; }
};

// Creates fileName, or empties it when it exists, and writes bytes to it.
TFileWriteResult WriteBinaryFile(const std::filesystem::path& fileName,
                                 std::span<const std::uint8_t> bytes);

} // namespace imagefile
