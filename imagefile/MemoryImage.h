// Loading and saving the Flash and EEPROM images of the programming engine.
//
// The engine keeps Flash as program words, each in the low 16 bits of a
// 32-bit entry, and EEPROM as bytes. Files hold the byte image: byte 2i is
// the low byte of word i, byte 2i + 1 its high byte. A name ending in ".hex"
// (any letter case) is Intel HEX text, every other name a raw binary image.
//
// Each function returns what happened as a value; the caller shows it:
//
//   auto r = imagefile::LoadFlashImage(name, FlashSize, FlashBuffer);
//   if (r.imageChanged) {
//       caption := "Flash Memory (" + name + ")";
//       view byte 2i := word i & 0xFF, byte 2i + 1 := word i >> 8
//           for every word i < FlashSize / 2, then redraw;
//   }
//   if (!r.message.empty()) show r.message as an error message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace imagefile {

enum class TMemoryKind { mkFlash, mkEEprom };

// The messages of the loads and saves, exactly as the user sees them.
inline constexpr std::string_view HexErrorMessage = "HEX file error or file too long";
std::string_view FileErrorMessage(TMemoryKind memory); // "Flash file Error." ...
std::string_view TooLongMessage(TMemoryKind memory);   // "Flash file too long" ...

enum class TLoadResult {
    lrLoaded,    // the file's image is in the buffer
    lrTooLong,   // binary file longer than the memory: its first part is loaded (a warning)
    lrHexError,  // HEX file refused: buffer unchanged
    lrOpenError, // binary file cannot be opened: buffer unchanged
    lrReadError, // binary read failed after the open: erased image with the bytes read so far
};

struct TLoadOutcome {
    TLoadResult result = TLoadResult::lrLoaded;
    bool hexFormat = false; // the name asked for Intel HEX
    // The whole image range of the buffer was rewritten (erased, then filled
    // from the file): the group caption names the file and the view must be
    // refreshed from the buffer. False: buffer, view and caption stay.
    bool imageChanged = false;
    // Text of the error message to show; empty when there is none.
    std::string message;
    // HEX: the highest image position a data record filled.
    std::optional<std::size_t> highest;
    // Bytes taken from the file: data bytes of a HEX file, or the length of
    // the binary image loaded.
    std::size_t fileBytes = 0;
    // HEX refusals: what was wrong and on which line, for the command line.
    std::string detail;

    // The image is loaded, possibly with the "too long" warning.
    bool Accepted() const {
        return result == TLoadResult::lrLoaded || result == TLoadResult::lrTooLong;
    }
};

// The loads use memory bounded by the memory size whatever the file: a binary
// file is read no further than one byte past the memory size, a HEX file a
// piece at a time up to its first refused record. A load that cannot get that
// memory is refused like an unreadable file.
//
// Loads fileName into the first flashSize / 2 words of flashBuffer (clipped
// to its size). Every word of that range is first set to 0xFFFF, the erased
// value; a binary image of odd length gives its last byte as the low byte of
// one more word with the high byte 0xFF.
TLoadOutcome LoadFlashImage(const std::filesystem::path& fileName, std::size_t flashSize,
                            std::span<std::uint32_t> flashBuffer);

// Loads fileName into the first eepromSize bytes of eepromBuffer (clipped to
// its size), erased to 0xFF first.
TLoadOutcome LoadEEpromImage(const std::filesystem::path& fileName, std::size_t eepromSize,
                             std::span<std::uint8_t> eepromBuffer);

struct TSaveOutcome {
    bool saved = false;
    bool hexFormat = false;
    // The file was created or emptied: the group caption names it, even when
    // a later write failed.
    bool fileCreated = false;
    // Text of the error message to show; empty when saved.
    std::string message;
};

// Writes the first flashSize / 2 words of flashBuffer (their low 16 bits, low
// byte first) as a binary image, or as Intel HEX when the name ends in ".hex".
TSaveOutcome SaveFlashImage(const std::filesystem::path& fileName, std::size_t flashSize,
                            std::span<const std::uint32_t> flashBuffer);

// Writes the first eepromSize bytes of eepromBuffer, binary or Intel HEX.
TSaveOutcome SaveEEpromImage(const std::filesystem::path& fileName, std::size_t eepromSize,
                             std::span<const std::uint8_t> eepromBuffer);

// The byte image of the first flashSize / 2 words (clipped to the buffer).
std::vector<std::uint8_t> FlashImageBytes(std::span<const std::uint32_t> flashBuffer,
                                          std::size_t flashSize);

} // namespace imagefile
